// The Python module `velloran`: runs of the smoke solver driven from Python,
// NumPy arrays in and out. Only glue lives here; every computation is the
// shell's and the core's own.

#include "arrays.h"
#include "errors.h"
#include "picturefile.h"
#include "pythonrun.h"
#include "runcheckpoint.h"
#include "runinputs.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace py = pybind11;
using namespace py::literals;
using velloran::binding::PythonRun;

namespace velloran::binding {
namespace {

PyObject *g_parameterWarning = nullptr;

void warnAll(const std::vector<std::string> &notes) {
    for (const std::string &note : notes) {
        if (PyErr_WarnEx(g_parameterWarning, note.c_str(), 1) != 0) {
            throw py::error_already_set(); // warnings turned into errors
        }
    }
}

// The caller's choices on top of what the inputs say: parameters, a scheme
// (empty: the inputs' own), a thread count.
std::unique_ptr<PythonRun> startRun(RunInputs inputs, const ParameterValues &values,
                                    const std::optional<std::string> &scheme,
                                    std::optional<int> threads) {
    applyParameters(values, &inputs.parameters, &inputs.notes);
    if (scheme) {
        inputs.scheme = schemeFromWord(*scheme);
    }
    warnAll(inputs.notes);
    return std::make_unique<PythonRun>(inputs, threads);
}

// Run() and from_images(): a sound run takes the sound scheme's default for
// a parameter not given (with a ParameterWarning, as the renderer notes it);
// the literal scheme has no such set, so there every parameter is required.
ParameterValues withSoundDefaults(ParameterValues values, const std::string &scheme,
                                  RunInputs *inputs) {
    const bool sound = schemeFromWord(scheme) == Scheme::Sound;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (values[k]) {
            continue;
        }
        const char *key = kParameterRanges[k].key;
        if (!sound) {
            throw py::type_error(std::string("missing keyword argument '") + key +
                                 "' (only scheme=\"sound\" has defaults)");
        }
        values[k] = soundDefaultValue(k);
        std::ostringstream note;
        note << "no " << key << " given; using " << soundDefaultValue(k)
             << ", the sound scheme's default";
        inputs->notes.push_back(note.str());
    }
    return values;
}

py::list keyframeTuples(const std::vector<Keyframe> &keyframes) {
    py::list list;
    for (const Keyframe &keyframe : keyframes) {
        list.append(py::make_tuple(keyframe.step, keyframe.blend));
    }
    return list;
}

py::dict parameterDict(const SimParameters &parameters) {
    py::dict values;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        values[kParameterRanges[k].key] = parameters[k];
    }
    return values;
}

// A live view of one of the solver's grids, keeping the run alive.
template <std::unique_ptr<Grid> Solver::*grid> py::array gridView(py::object self) {
    return readOnlyView(*(self.cast<const PythonRun &>().solver().*grid), self);
}

std::string describe(const PythonRun &run) {
    std::ostringstream text;
    const SimParameters &p = run.parameters();
    text << "<velloran.Run " << run.side() << " x " << run.side() << ", step " << run.steps()
         << ", vf " << p.vf() << ", vd " << p.vd() << ", vg " << p.vg() << ", sigma " << p.sigma()
         << ", dt " << p.dt() << ">";
    return text.str();
}

void translateExceptions(std::exception_ptr thrown) {
    try {
        if (thrown) {
            std::rethrow_exception(thrown);
        }
    } catch (const FileError &error) {
        if (error.errnum != 0) {
            // OSError(errno, ...) makes the subclass the errno names.
            const py::object instance =
                py::module_::import("builtins")
                    .attr("OSError")(error.errnum, error.what(), error.path);
            PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(instance.ptr())), instance.ptr());
        } else {
            const std::string message = error.path.empty()
                                            ? std::string(error.what())
                                            : std::string(error.what()) + " ('" + error.path + "')";
            PyErr_SetString(PyExc_OSError, message.c_str());
        }
    } catch (const InputError &error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const UsageError &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
}

constexpr const char *kRunDoc =
    R"doc(One run of target-driven smoke: a source density that gathers into a target.

Three ways to make one, each giving the run the desktop program and
velloran-render would make from the same input:

    Run(source, target, *, vf, vd, vg, sigma, dt, scheme="literal", keyframes=None, threads=None)
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
        cut), as a configuration's <keyframes> do.
    Run.from_images(source, target, *, vf, vd, vg, sigma, dt, scheme="literal", reverse=False, threads=None)
        two image files, converted as the run set-up converts them (blue / 255,
        the grid size from the square source image, the target at least as
        large); reverse exchanges their roles.
    Run.from_config(path, *, reverse=False, threads=None, scheme=None, vf=None, vd=None, vg=None, sigma=None, dt=None)
        a configuration file read exactly as the programs read it: image paths
        relative to the current folder, values outside their range bounded
        (with a ParameterWarning), its scheme and keyframes taken (a run with
        keyframes cannot be reversed); keyword values replace the file's.

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
    set_target(a)   a new N x N target from the next step on, scaled to the
                    smoke's mass now; density and velocity untouched (a later
                    keyframe replaces it)
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

// The module's pure-Python parts (velloran.sweep) lie in a folder named
// velloran beside the compiled module, in the build tree as where it is
// installed; a __path__ makes the module their package.
py::list packagePath() {
    py::list path;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&packagePath), &info) != 0 && info.dli_fname) {
        path.append((std::filesystem::path(info.dli_fname).parent_path() / "velloran").string());
    }
    return path;
}

} // namespace
} // namespace velloran::binding

PYBIND11_MODULE(velloran, m) {
    using namespace velloran;
    using namespace velloran::binding;

    m.doc() = R"doc(Target-driven smoke from Python: the solver, run set-up and configuration
reader of the Velloran programs, with NumPy arrays in and out.

    import velloran
    run = velloran.Run.from_config("examples/blob-to-s.xml")
    run.step(500)
    print(run.distance(), run.density.shape)

Arrays use the layout of the renderer's .npy files: a[j, i] is cell (i, j),
row 0 at the bottom of the picture. See help(velloran.Run); parameter sweeps
on this machine, on Dask or on Slurm: help(velloran.sweep) after
`import velloran.sweep`.)doc";
    m.attr("__version__") = VELLORAN_VERSION;
    m.attr("__path__") = packagePath();

    rememberMainThread();
    py::register_exception_translator(&translateExceptions);
    py::register_exception<velloran::binding::UnstableError>(m, "UnstableError", PyExc_RuntimeError)
        .doc() = "A step left the density or the velocity non-finite; the run cannot go on.";
    g_parameterWarning = PyErr_NewExceptionWithDoc(
        "velloran.ParameterWarning",
        "A parameter was rounded or bounded as the programs do, so the run uses another value "
        "than the one given.",
        PyExc_UserWarning, nullptr);
    m.attr("ParameterWarning") = py::handle(g_parameterWarning);

    py::dict ranges;
    for (const ParameterRange &range : kParameterRanges) {
        ranges[range.key] = py::make_tuple(range.minimum, range.maximum, range.decimals);
    }
    m.attr("parameter_ranges") = ranges;

    py::class_<PythonRun>(m, "Run", kRunDoc)
        .def(py::init([](py::handle source, py::handle target, std::optional<double> vf,
                         std::optional<double> vd, std::optional<double> vg,
                         std::optional<double> sigma, std::optional<double> dt,
                         const std::string &scheme, py::handle keyframes,
                         std::optional<int> threads) {
                 RunInputs inputs;
                 inputs.source = densityGrid(source, "source");
                 inputs.target = densityGrid(target, "target");
                 const std::uint32_t n = inputs.source.NumCols();
                 if (inputs.target.NumCols() != n) {
                     throw InputError("source and target must have the same shape, not " +
                                      std::to_string(n) + " and " +
                                      std::to_string(inputs.target.NumCols()) + " a side");
                 }
                 requireSmoke(inputs.source, "source");
                 requireSmoke(inputs.target, "target");
                 if (!keyframes.is_none()) {
                     inputs.keyframes = keyframeList(keyframes, n);
                 }
                 const ParameterValues values =
                     withSoundDefaults({vf, vd, vg, sigma, dt}, scheme, &inputs);
                 return startRun(std::move(inputs), values, scheme, threads);
             }),
             "source"_a, "target"_a, py::kw_only(), "vf"_a = py::none(), "vd"_a = py::none(),
             "vg"_a = py::none(), "sigma"_a = py::none(), "dt"_a = py::none(),
             "scheme"_a = "literal", "keyframes"_a = py::none(), "threads"_a = py::none())
        .def_static(
            "from_images",
            [](const std::filesystem::path &source, const std::filesystem::path &target,
               std::optional<double> vf, std::optional<double> vd, std::optional<double> vg,
               std::optional<double> sigma, std::optional<double> dt, const std::string &scheme,
               bool reverse, std::optional<int> threads) {
                RunInputs inputs = inputsFromImages(source.string(), target.string(), reverse);
                const ParameterValues values =
                    withSoundDefaults({vf, vd, vg, sigma, dt}, scheme, &inputs);
                return startRun(std::move(inputs), values, scheme, threads);
            },
            "source"_a, "target"_a, py::kw_only(), "vf"_a = py::none(), "vd"_a = py::none(),
            "vg"_a = py::none(), "sigma"_a = py::none(), "dt"_a = py::none(),
            "scheme"_a = "literal", "reverse"_a = false, "threads"_a = py::none(),
            "A run from two image files, as the programs' run set-up makes it.")
        .def_static(
            "from_config",
            [](const std::filesystem::path &path, bool reverse, std::optional<int> threads,
               std::optional<std::string> scheme, std::optional<double> vf,
               std::optional<double> vd, std::optional<double> vg, std::optional<double> sigma,
               std::optional<double> dt) {
                return startRun(inputsFromConfiguration(path.string(), reverse),
                                {vf, vd, vg, sigma, dt}, scheme, threads);
            },
            "path"_a, py::kw_only(), "reverse"_a = false, "threads"_a = py::none(),
            "scheme"_a = py::none(), "vf"_a = py::none(), "vd"_a = py::none(), "vg"_a = py::none(),
            "sigma"_a = py::none(), "dt"_a = py::none(),
            "A run from a configuration file, read as the programs read it (its scheme and "
            "keyframes included); keyword values replace the file's.")
        .def_static(
            "load_checkpoint",
            [](const std::filesystem::path &path, std::optional<int> threads) {
                return loadRunCheckpoint(path.string(), threads);
            },
            "path"_a, py::kw_only(), "threads"_a = py::none(),
            "The run a save_checkpoint file holds, ready to go on from its step; it gives the "
            "same results bit for bit as the run that was saved.")
        .def(
            "save_checkpoint",
            [](const PythonRun &run, const std::filesystem::path &path) {
                saveRunCheckpoint(run, path.string());
            },
            "path"_a,
            "Writes everything the run needs to go on (state, parameters, scheme, targets and "
            "keyframes) to one checksummed file, replaced only once complete.")
        .def("step", &PythonRun::step, "count"_a = 1,
             "Takes `count` steps with the GIL released. Raises UnstableError when a step "
             "leaves non-finite values; Ctrl-C stops between two steps.")
        .def_property_readonly("steps", &PythonRun::steps, "Steps done so far.")
        .def(
            "distance", [](const PythonRun &run) { return run.metrics().distance; },
            "sum |rho - rho*| / sum rho* over the interior, as in the renderer's metrics.csv.")
        .def(
            "mass", [](const PythonRun &run) { return run.metrics().mass; },
            "Total smoke: sum rho over the interior.")
        .def(
            "max_speed", [](const PythonRun &run) { return run.metrics().maxSpeed; },
            "Largest speed |(u, v)| at the interior cell centres.")
        .def_property_readonly(
            "parameters", [](const PythonRun &run) { return parameterDict(run.parameters()); },
            "vf, vd, vg, sigma and dt as the run uses them (bounded and rounded).")
        .def_property_readonly(
            "scheme", [](const PythonRun &run) { return std::string(schemeName(run.scheme())); },
            "\"literal\" or \"sound\".")
        .def(
            "set_target",
            [](PythonRun &run, py::handle target) {
                Grid grid = densityGrid(target, "target");
                if (grid.NumCols() != run.side()) {
                    throw InputError("target must be " + std::to_string(run.side()) + " x " +
                                     std::to_string(run.side()) + " like the run, not " +
                                     std::to_string(grid.NumCols()) + " a side");
                }
                requireSmoke(grid, "target");
                run.setTarget(grid);
            },
            "target"_a,
            "Gives the run a new N x N target from the next step on: scaled to the smoke's "
            "mass now, blurred, driving field recomputed; density and velocity untouched. A "
            "later keyframe replaces it.")
        .def_property_readonly("target_index", &PythonRun::targetIndex,
                               "Index of the target that drove the last step: 0 for the first, "
                               "k once keyframe k has taken over (its blend included).")
        .def_property_readonly(
            "keyframes", [](const PythonRun &run) { return keyframeTuples(run.keyframes()); },
            "The run's further targets as (step, blend) pairs.")
        .def_property_readonly("threads", &PythonRun::threads, "Threads that share a step.")
        .def_property_readonly("size", &PythonRun::side, "Interior side N of the N x N grid.")
        .def_property_readonly(
            "density", &gridView<&Solver::m_density>,
            "Read-only view of the density, (N + 2) x (N + 2), a[j, i] = cell (i, j).")
        .def_property_readonly(
            "u", &gridView<&Solver::m_uCentre>,
            "Read-only view of the x-velocity at the cell centres, (N + 2) x (N + 2).")
        .def_property_readonly(
            "v", &gridView<&Solver::m_vCentre>,
            "Read-only view of the y-velocity at the cell centres, (N + 2) x (N + 2).")
        .def_property_readonly(
            "target", &gridView<&Solver::m_target>,
            "Read-only view of the target density as the run holds it (scaled to the smoke's "
            "mass), (N + 2) x (N + 2).")
        .def("__repr__", &describe);

    m.def(
        "density_from_image",
        [](const std::filesystem::path &path) { return arrayCopy(densityFromImageFile(path)); },
        "path"_a,
        "The density the run set-up makes from an image file: blue / 255 for every pixel, "
        "a[j, i] = pixel column i, row 0 at the bottom (the picture flipped). Shape "
        "(height, width).");
    m.def(
        "write_png",
        [](const std::filesystem::path &path, py::handle picture) {
            writeDensityPng(path.string(), framedPicture(picture));
        },
        "path"_a, "picture"_a,
        "Writes a 2-D array as the renderer writes its frames: 8-bit grey PNG, values "
        "clamped to [0, 1] (NaN as 0), a[j, i] = pixel column i with row 0 at the bottom, "
        "so the picture comes out upright. The file is replaced only once complete.");
}
