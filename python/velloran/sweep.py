"""Parameter sweeps (wedges): one shot over a grid of parameters, run on this
machine, on a Dask cluster or as a Slurm job array, compared side by side.

    from velloran import sweep
    setups = sweep.grid("examples/blob-to-s.xml", scheme="sound", steps=500,
                       vf=[1, 2, 4], vg=[0.03, 1])
    table = sweep.run(setups, out="wedge")              # or client=Client(...)

Every run is velloran-render's own render of one setup, into its own folder
under `out` (frames, metrics.csv, convergence.png, a checkpoint and run.json),
so a run gives the same files wherever it runs: in a local process, on a Dask
worker or in a Slurm array task started with

    velloran-render --sweep wedge/sweep.json --index K --out wedge

The renderer is looked for in $VELLORAN_RENDER, beside the module in a build
tree (src/render/velloran-render), in the installation's bin folder, then on
the PATH; run(renderer=...) names it outright.
"""

import concurrent.futures
import csv
import itertools
import json
import math
import numbers
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

# The renderer's options a setup may set, as sweep files name them.
OPTION_KEYS = (
    "config", "example", "source", "target", "reverse", "scheme", "keyframes",
    "vf", "vd", "vg", "sigma", "dt", "steps", "every", "format", "alpha",
    "smoke_colour", "frame_name", "checkpoint_every", "field", "palette", "colour_mode",
)
_PATH_KEYS = ("config", "source", "target", "keyframes", "field")
_DONE = ("ok", "unstable")  # statuses a restarted sweep leaves alone
_DASK_MISSING = ("a Dask client needs dask and distributed: on Debian 12 "
                 "`apt-get install python3-dask python3-distributed` "
                 "(tools/setup.sh installs them); without a client, run() uses "
                 "a local pool")


def _value_text(key, value):
    """A value as it appears in a run's name: 2, 0.03, star (for a path)."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        value = float(value)
        return str(int(value)) if value.is_integer() else repr(value)
    if isinstance(value, (list, tuple)):
        return "+".join(_value_text(key, part) for part in value)
    text = os.fspath(value)
    return pathlib.PurePath(text).stem if key in _PATH_KEYS else str(text)


def _plain(value):
    """NumPy scalars and paths as the JSON types they stand for."""
    if isinstance(value, bool) or value is None or isinstance(value, str):
        return value
    if isinstance(value, numbers.Integral):
        return int(value)
    if isinstance(value, numbers.Real):
        return float(value)
    if isinstance(value, os.PathLike):
        return os.fspath(value)
    if isinstance(value, (list, tuple)):
        return [_plain(part) for part in value]
    return value


def _check_keys(keys, what):
    unknown = [key for key in keys if key not in OPTION_KEYS]
    if unknown:
        raise ValueError(f"{what}: unknown option {', '.join(map(repr, unknown))} "
                         f"(known: {', '.join(OPTION_KEYS)})")


def _is_axis(key, value):
    """Lists (and other iterables but text) are axes; a keyframe list is an
    axis only as a list of keyframe lists."""
    if isinstance(value, (str, bytes, os.PathLike)) or not hasattr(value, "__iter__"):
        return False
    if key in ("keyframes", "field"):
        return all(isinstance(entry, (list, tuple)) and not _is_one(key, entry)
                   for entry in value)
    return True


def _is_one(key, entry):
    """One keyframe as a list: (step, image[, blend]), after a field's colour
    ("#e03020", step, image); one field: (colour, source, target)."""
    if not entry:
        return False
    if key == "field":
        return isinstance(entry[0], str) and ":" not in entry[0]
    if isinstance(entry[0], str) and entry[0].startswith("#"):
        entry = entry[1:]
    return bool(entry) and isinstance(entry[0], numbers.Real)


def grid(base, **options):
    """The runs of a wedge: every combination of the axes' values on top of `base`.

    base: a configuration file (path) or a dict of the renderer's options
        (OPTION_KEYS: config or example or source and target, scheme,
        keyframes, vf, vd, vg, sigma, dt, steps, every, format, ...; a
        colour run's field, palette and colour_mode).
    options: option=values. A list (tuple, range, array) is an axis:
        vf=[1, 2], vg=[0.03, 1], target=["a.png", "b.png"],
        colour_mode=["light", "dark"]; a single value is an option of every
        run (steps=500). Keyframes and fields are an axis as a list of
        keyframe or field lists: field=[("#e03020", "yin.png", "yang.png"),
        ...] is one run's fields. A keyframe of a field names it first:
        ("#e03020", 800, "yin.png").

    Returns a list of setups (dicts of options) in the order of the
    cartesian product, the first axis slowest, each with its "index", the
    names of the axes ("axes") and a stable "name" made of the axes' values
    ("vf=2_vg=0.03"; paths by their stem) that names its folder. Raises
    ValueError for unknown options or two runs that would share a name.
    """
    base = {"config": os.fspath(base)} if isinstance(base, (str, os.PathLike)) else dict(base)
    _check_keys(base, "base")
    _check_keys(options, "options")
    axes = {key: value for key, value in options.items() if _is_axis(key, value)}
    base.update({key: value for key, value in options.items() if key not in axes})
    values = []
    for key, axis in axes.items():
        values.append([_plain(value) for value in axis])
        if not values[-1]:
            raise ValueError(f"axis {key!r} has no values")
    setups, names = [], set()
    for index, combination in enumerate(itertools.product(*values)):
        chosen = dict(zip(axes, combination))
        name = "_".join(f"{key}={_value_text(key, value)}" for key, value in chosen.items())
        name = re.sub(r"[^A-Za-z0-9=+._-]", "-", name) or "run"
        if name in names:
            raise ValueError(f"two runs would be named {name!r}; give distinct values")
        names.add(name)
        setup = {"index": index, "name": name, "axes": list(axes)}
        setup.update({key: _plain(value) for key, value in base.items()})
        setup.update(chosen)
        setups.append(setup)
    return setups


def write(setups, path):
    """Writes the setups as a sweep file (JSON) for velloran-render --sweep.

    The file is replaced only once complete. Returns its path.
    """
    setups = list(setups)
    for position, setup in enumerate(setups):
        if setup.get("index") != position:
            raise ValueError(f"setup {position} has index {setup.get('index')!r}; setups must "
                             "be numbered 0, 1, ... in order (as grid() makes them)")
        _check_keys([key for key in setup if key not in ("index", "name", "axes")],
                    f"setup {position}")
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    text = json.dumps({"velloran_sweep": 1, "runs": [_plain_spec(s) for s in setups]}, indent=1)
    _refuse_non_regular(path)
    with tempfile.NamedTemporaryFile("w", dir=path.parent, prefix=f".{path.name}.",
                                     suffix=".part", delete=False) as f:
        f.write(text + "\n")
    try:
        _refuse_non_regular(path)  # again, as close to the rename as it gets
        os.replace(f.name, path)
    except OSError:
        os.unlink(f.name)
        raise
    return path


def _refuse_non_regular(path):
    """Raises OSError when something other than a regular file (a device, a FIFO,
    a folder, or a link to one) carries the name: replacing it would destroy it."""
    if os.path.exists(path) and not os.path.isfile(path):
        raise OSError(f"could not write '{path}': not a regular file")


def _plain_spec(setup):
    return {key: _plain(value) for key, value in setup.items()}


def find_renderer(renderer=None):
    """The velloran-render program to run: `renderer`, $VELLORAN_RENDER, the
    build tree's or the installation's beside this module, or the PATH."""
    if renderer:
        return os.fspath(renderer)
    if os.environ.get("VELLORAN_RENDER"):
        return os.environ["VELLORAN_RENDER"]
    here = pathlib.Path(__file__).resolve().parent.parent  # where velloran*.so lies
    candidates = [here.parent / "src" / "render" / "velloran-render"]
    candidates += [parent / "bin" / "velloran-render" for parent in here.parents]
    for candidate in candidates:
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which("velloran-render")
    if found:
        return found
    raise FileNotFoundError("velloran-render not found: put it on the PATH, set "
                            "$VELLORAN_RENDER or pass renderer=...")


def render_one(index, sweep_file, out, renderer=None, cwd=None, quiet=True):
    """Runs setup `index` of a sweep file with velloran-render into out/NAME
    (what each worker does). Returns (index, exit status, last message)."""
    command = [find_renderer(renderer), "--sweep", os.fspath(sweep_file), "--index",
               str(index), "--out", os.fspath(out)]
    if quiet:
        command.append("--quiet")
    if cwd and not os.path.isdir(cwd):
        cwd = None  # a worker without the caller's folder runs from its own
    done = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=False)
    lines = done.stderr.decode(errors="replace").strip().splitlines()
    return index, done.returncode, lines[-1].removeprefix("velloran-render: ") if lines else ""


class _Progress:
    """tqdm's bar when it is installed, else a line every few seconds."""

    def __init__(self, total, enabled, skipped=0):
        self.total, self.done, self.failed = total, skipped, 0
        self.bar = None
        self.started = self.shown = time.monotonic()
        self.enabled = enabled
        if enabled:
            try:
                from tqdm import tqdm
                self.bar = tqdm(total=total, initial=skipped, unit="run", desc="sweep")
            except ImportError:
                pass

    def update(self, ok):
        self.done += 1
        self.failed += 0 if ok else 1
        if self.bar is not None:
            self.bar.update(1)
            self.bar.set_postfix(failed=self.failed)
        elif self.enabled and (time.monotonic() - self.shown >= 5 or self.done == self.total):
            self.shown = time.monotonic()
            print(f"sweep: {self.done} of {self.total} runs done"
                  f"{f' ({self.failed} failed)' if self.failed else ''}, "
                  f"{self.shown - self.started:.0f} s", file=sys.stderr, flush=True)

    def close(self):
        if self.bar is not None:
            self.bar.close()


def _dask_client(client):
    try:
        import distributed
    except ImportError as error:
        raise ImportError(_DASK_MISSING) from error
    if isinstance(client, str):
        return distributed.Client(client), True
    return client, False


def _number(text):
    if text == "":
        return None
    try:
        value = float(text)
    except ValueError:
        return text
    return int(value) if re.fullmatch(r"-?\d+", text) else value


def read_table(path):
    """sweep.csv as a list of dicts, numbers as numbers, empty cells None."""
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    for row in rows:
        for key, value in row.items():
            if key not in ("name", "status", "error"):
                row[key] = _number(value)
    return rows


def run(setups, client=None, out="sweep-out", *, workers=None, renderer=None, quiet=True,
        progress=True):
    """Runs every setup into its own folder under `out` and returns the table.

    client: None for a local pool (`workers` renderer processes at a time, one
        per core by default); a dask.distributed Client, or a scheduler address
        ("tcp://host:8786"), to spread the runs over its workers with
        client.map (the renderer and this module must be installed there, and
        `out` and the inputs reachable at the same paths).
    out: the sweep's folder: sweep.json (the setups), one folder per run,
        sweep.csv and sweep.png (the contact sheet of the final frames,
        labelled with the parameters) when the sweep ends.

    A run that fails (unstable, bad input, a worker lost for good) is a row
    with its status and error, and the others go on. Started again with the
    same setups and `out`, finished runs are kept as they are and interrupted
    ones continue from their checkpoints: a run gives the same files however
    often it is interrupted and wherever it runs. A run folder that holds
    another setup's run is not touched (its row says so). Ctrl-C stops the
    renders under way with a checkpoint and starts no others.

    Returns a list of dicts, one per setup in order: index, name, the axes'
    values, status ("ok", "unstable", "bad input", "interrupted", ...),
    best_distance, best_step, last_distance, last_step, flow_share (None
    when the metrics lack it), steps_per_second, wall_seconds, error.
    Progress shows as a tqdm bar when tqdm is installed, else as a line
    every few seconds on stderr (progress=False: nothing).
    """
    setups = list(setups)
    out = pathlib.Path(out).resolve()
    sweep_file = write(setups, out / "sweep.json")
    renderer = find_renderer(renderer) if client is None else renderer
    cwd = os.getcwd()
    failures = {}
    bar = _Progress(len(setups), progress)
    try:
        if client is None:
            # Threads that each wait for a renderer process: the processes
            # are the pool.
            pool = concurrent.futures.ThreadPoolExecutor(workers or os.cpu_count() or 1)
            try:
                futures = [pool.submit(render_one, k, sweep_file, out, renderer, cwd, quiet)
                           for k in range(len(setups))]
                index = {id(future): k for k, future in enumerate(futures)}
                for future in concurrent.futures.as_completed(futures):
                    _collect(future, index[id(future)], failures, bar)
            finally:
                # On Ctrl-C (which stops the renders under way with a
                # checkpoint) no further run starts.
                pool.shutdown(wait=True, cancel_futures=True)
        else:
            client, owned = _dask_client(client)
            import distributed
            try:
                token = os.urandom(4).hex()
                futures = client.map(render_one, range(len(setups)), sweep_file=str(sweep_file),
                                     out=str(out), renderer=renderer, cwd=cwd, quiet=quiet,
                                     key=[f"velloran-{token}-{s['name']}" for s in setups],
                                     pure=False)
                index = {id(future): k for k, future in enumerate(futures)}
                for future in distributed.as_completed(futures):
                    _collect(future, index[id(future)], failures, bar)
            finally:
                if owned:
                    client.close()
    finally:
        bar.close()
    subprocess.run([find_renderer(renderer), "--sweep", str(sweep_file), "--summary",
                    "--out", str(out)], stdout=subprocess.DEVNULL, check=True)
    rows = read_table(out / "sweep.csv")
    for index, error in failures.items():
        # The renderer never recorded these (it could not start, or was killed).
        if rows[index]["status"] not in _DONE and not rows[index]["error"]:
            rows[index]["status"], rows[index]["error"] = "failed", error
    return rows


def _collect(future, index, failures, bar):
    try:
        code = future.result()[1]
    except Exception as error:  # the task itself failed: no renderer, a worker lost for good
        failures[index] = f"{type(error).__name__}: {error}"
        bar.update(False)
        return
    if code < 0:
        failures[index] = f"velloran-render ended by signal {-code}"
    bar.update(code == 0)


def format_table(rows):
    """The table as aligned text, for printing."""
    if not rows:
        return ""
    keys = [key for key in rows[0] if key not in ("index", "error")]
    text = [[key for key in keys]] + [["" if row[key] is None else
                                       f"{row[key]:.4f}" if isinstance(row[key], float)
                                       else str(row[key]) for key in keys] for row in rows]
    widths = [max(len(line[k]) for line in text) for k in range(len(keys))]
    return "\n".join("  ".join(cell.rjust(width) for cell, width in zip(line, widths))
                     for line in text)
