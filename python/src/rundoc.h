#pragma once

// The docstring of velloran.Run: how to make one, step it, measure it and read
// its fields.

namespace velloran::binding {

inline constexpr const char *kRunDoc =
    R"doc(One run of target-driven smoke: a source density that gathers into a target.

Four ways to make one, each giving the run the desktop program and
velloran-render would make from the same input:

    Run(source, target, *, vf, vd, vg, sigma, dt, scheme="literal", keyframes=None, obstacles=None, threads=None)
        vf ... dt may be left out when scheme="sound": the sound scheme's
        default set (vf 2, vd 30, vg 0.15, sigma 1, dt 0.001) fills them in,
        each with a ParameterWarning; the literal scheme needs all five.
        source, target: N x N arrays of densities (anything NumPy converts to
        float64: booleans, integers, floats), a[j, i] = cell (i, j), row 0 at
        the bottom of the picture; finite, not negative, at most 2048 a side.
        Both are copied; the heavier is scaled down so that both hold the same
        total smoke. keyframes: further targets, a list of (step, target) or
        (step, target, blend), steps above 0 and increasing: the target takes
        over once `step` steps are done, blended in over `blend` steps (0: a
        cut), as a configuration's <keyframes> do. obstacles: walls the smoke
        flows around (the sound scheme only), an N x N array in the
        densities' layout, solid where above one half, or an image file of
        any size, scaled to the grid (a cell is solid where at least half of
        it is light, or opaque in an image with alpha). A target that lies
        inside them, or smoke that cannot reach its target, raises ValueError.
    Run.from_images(source, target, *, vf, vd, vg, sigma, dt, scheme="literal", reverse=False, obstacles=None, threads=None)
        two image files, converted as the run set-up converts them (blue / 255,
        the grid size from the square source image, the target at least as
        large); reverse exchanges their roles.
    Run.from_fields(fields, *, vf, vd, vg, sigma, dt, scheme="literal", colour_mode="light", obstacles=None, threads=None)
        a colour run: 1 to 8 smoke fields on one flow, each a (colour, source,
        target) triple, colour "#rrggbb" (each once), source and target
        arrays as Run() takes them, all of one shape; each field's pair is
        balanced on its own as Run() balances its two. colour_mode "light" or
        "dark" is how picture() draws them.
    Run.from_config(path, *, reverse=False, threads=None, scheme=None, vf=None, vd=None, vg=None, sigma=None, dt=None)
        a configuration file read exactly as the programs read it: image paths
        relative to the current folder, values outside their range bounded
        (with a ParameterWarning), its scheme, keyframes and obstacles taken (a
        run with keyframes cannot be reversed); keyword values replace the
        file's.

Parameters (vf driving force, vd momentum attenuation, vg smoke gathering,
sigma blur width in cells, dt time step) are rounded to the programs'
decimals (a ParameterWarning says when that changed one); values outside
velloran.parameter_ranges raise ValueError. scheme is "literal" (the method
as first built) or "sound" (mass-exact, sub-cycled). threads=None takes the
core's default; any count gives the same results bit for bit.

Stepping and measures:
    step(count=1)   takes count steps; releases the GIL meanwhile; Ctrl-C
                    stops it between two steps (KeyboardInterrupt, steps kept).
                    Raises UnstableError at the step that left the density or
                    velocity non-finite (and on any later call).
    steps           steps done (may be read while another thread steps)
    distance()      sum |rho - rho*| / sum rho* over the interior, to the
                    target the run holds: the renderer's metrics.csv distance
    mass()          sum rho over the interior
    max_speed()     largest |(u, v)| at the interior cell centres
    save_checkpoint(path), Run.load_checkpoint(path, *, threads=None)
                    the whole run in one checksummed file, and back: the
                    loaded run goes on bit for bit as the saved one would
                    (a colour run with every field, its colours and mode)
    set_target(a)   a new N x N target from the next step on, scaled to the
                    smoke's mass now; density and velocity untouched (a later
                    keyframe replaces it); a colour run's: one per field, or
                    a colour picture split by the run's colours
    target_index    the target that drove the last step: 0 for the first, k
                    once keyframe k has taken over
    keyframes       the further targets as (step, blend) pairs
    parameters      dict of vf, vd, vg, sigma, dt as the run uses them
    scheme, threads, size   "literal" or "sound", thread count, interior side N

Fields: density, u, v (cell-centred velocity) and target (as scaled by the
run) are read-only float64 views of the solver's own (N + 2) x (N + 2)
grids, one frame cell around the interior, a[j, i] = cell (i, j), row 0 at
the bottom: the layout of the renderer's .npy files. They are not copies:
they follow the run as it steps and keep it alive; take .copy() for a
snapshot.

Threads: while step() runs, any other use of the run from another thread
raises RuntimeError (only steps may be read). Reading a view obtained
earlier while another thread steps shows a step half done. A run made
before a fork cannot be used in the child (RuntimeError); make runs in the
process that steps them.)doc";

} // namespace velloran::binding
