#include "runbinding.h"

#include "arrays.h"
#include "colourpicture.h"
#include "colourtarget.h"
#include "errors.h"
#include "fieldgrids.h"
#include "pythonrun.h"
#include "runcheckpoint.h"
#include "rundoc.h"
#include "runinputs.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

namespace py = pybind11;
using namespace py::literals;

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

// A live view of one of the solver's grids (Solver::fields), keeping the run alive.
template <const char *name> py::array gridView(const py::object &self) {
    return readOnlyView(self.cast<const PythonRun &>().solver().field(name), self);
}

constexpr char kDensity[] = "density";
constexpr char kUCentre[] = "uCentre";
constexpr char kVCentre[] = "vCentre";
constexpr char kTarget[] = "target";

std::string describe(const PythonRun &run) {
    std::ostringstream text;
    const SimParameters &p = run.parameters();
    text << "<velloran.Run " << run.side() << " x " << run.side() << ", step " << run.steps()
         << ", vf " << p.vf() << ", vd " << p.vd() << ", vg " << p.vg() << ", sigma " << p.sigma()
         << ", dt " << p.dt() << ">";
    return text.str();
}

using RunClass = py::class_<PythonRun>;

// obstacles=: an image file's path or an N x N array (None: none).
void addObstacles(py::handle obstacles, RunInputs *inputs) {
    if (obstacles.is_none()) {
        return;
    }
    if (py::isinstance<py::str>(obstacles) ||
        py::isinstance(obstacles, py::module_::import("os").attr("PathLike"))) {
        loadObstacleImage(obstacles.cast<std::filesystem::path>().string(), inputs);
    } else {
        inputs->obstacles = obstacleGrid(obstacles, inputs->source.NumCols());
    }
}

// Run(), from_images() and from_config(): a run from arrays, from image files
// or from a configuration file.
void defineMaking(RunClass &runClass) {
    runClass
        .def(py::init([](py::handle source, py::handle target, std::optional<double> vf,
                         std::optional<double> vd, std::optional<double> vg,
                         std::optional<double> sigma, std::optional<double> dt,
                         const std::string &scheme, py::handle keyframes, py::handle obstacles,
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
                 addObstacles(obstacles, &inputs);
                 const ParameterValues values =
                     withSoundDefaults({vf, vd, vg, sigma, dt}, scheme, &inputs);
                 return startRun(std::move(inputs), values, scheme, threads);
             }),
             "source"_a, "target"_a, py::kw_only(), "vf"_a = py::none(), "vd"_a = py::none(),
             "vg"_a = py::none(), "sigma"_a = py::none(), "dt"_a = py::none(),
             "scheme"_a = "literal", "keyframes"_a = py::none(), "obstacles"_a = py::none(),
             "threads"_a = py::none())
        .def_static(
            "from_images",
            [](const std::filesystem::path &source, const std::filesystem::path &target,
               std::optional<double> vf, std::optional<double> vd, std::optional<double> vg,
               std::optional<double> sigma, std::optional<double> dt, const std::string &scheme,
               bool reverse, py::handle obstacles, std::optional<int> threads,
               const std::optional<std::string> &palette, const std::string &colourMode) {
                RunInputs inputs =
                    palette ? colourInputsFromImages(source.string(), target.string(), reverse,
                                                     *palette, colourMode)
                            : inputsFromImages(source.string(), target.string(), reverse);
                addObstacles(obstacles, &inputs);
                const ParameterValues values =
                    withSoundDefaults({vf, vd, vg, sigma, dt}, scheme, &inputs);
                return startRun(std::move(inputs), values, scheme, threads);
            },
            "source"_a, "target"_a, py::kw_only(), "vf"_a = py::none(), "vd"_a = py::none(),
            "vg"_a = py::none(), "sigma"_a = py::none(), "dt"_a = py::none(),
            "scheme"_a = "literal", "reverse"_a = false, "obstacles"_a = py::none(),
            "threads"_a = py::none(), "palette"_a = py::none(), "colour_mode"_a = "light",
            "A run from two image files, as the programs' run set-up makes it; obstacles= an "
            "image file or an N x N array, solid where above one half (the sound scheme only). "
            "palette= \"auto\", \"N\" or \"#rrggbb,#rrggbb,...\" makes a colour run: the "
            "target split into fields of its colours, the source split alike or, if grey, "
            "shared among them; colour_mode= \"light\" or \"dark\" draws its picture().")
        .def_static(
            "from_fields",
            [](const py::sequence &fields, std::optional<double> vf, std::optional<double> vd,
               std::optional<double> vg, std::optional<double> sigma, std::optional<double> dt,
               const std::string &scheme, const std::string &colourMode, py::handle obstacles,
               std::optional<int> threads) {
                std::vector<ArrayField> arrays;
                for (const py::handle item : fields) {
                    const auto field = py::reinterpret_borrow<py::sequence>(item);
                    if (!py::isinstance<py::sequence>(item) || py::isinstance<py::str>(item) ||
                        py::len(field) != 3) {
                        throw InputError("each field is a (colour, source, target) triple");
                    }
                    arrays.push_back({field[0].cast<std::string>(), densityGrid(field[1], "source"),
                                      densityGrid(field[2], "target")});
                }
                RunInputs inputs = colourInputsFromArrays(std::move(arrays), colourMode);
                addObstacles(obstacles, &inputs);
                const ParameterValues values =
                    withSoundDefaults({vf, vd, vg, sigma, dt}, scheme, &inputs);
                return startRun(std::move(inputs), values, scheme, threads);
            },
            "fields"_a, py::kw_only(), "vf"_a = py::none(), "vd"_a = py::none(),
            "vg"_a = py::none(), "sigma"_a = py::none(), "dt"_a = py::none(),
            "scheme"_a = "literal", "colour_mode"_a = "light", "obstacles"_a = py::none(),
            "threads"_a = py::none(),
            "A colour run of 1 to 8 smoke fields on one flow, each a (colour, source, target) "
            "triple: a colour \"#rrggbb\" given once, and two N x N density arrays of one "
            "shape for all fields, each pair balanced on its own as Run() balances its two. "
            "colour_mode= \"light\" or \"dark\" draws its picture().")
        .def_static(
            "from_config",
            [](const std::filesystem::path &path, bool reverse, std::optional<int> threads,
               const std::optional<std::string> &scheme, std::optional<double> vf,
               std::optional<double> vd, std::optional<double> vg, std::optional<double> sigma,
               std::optional<double> dt) {
                return startRun(inputsFromConfiguration(path.string(), reverse),
                                {vf, vd, vg, sigma, dt}, scheme, threads);
            },
            "path"_a, py::kw_only(), "reverse"_a = false, "threads"_a = py::none(),
            "scheme"_a = py::none(), "vf"_a = py::none(), "vd"_a = py::none(), "vg"_a = py::none(),
            "sigma"_a = py::none(), "dt"_a = py::none(),
            "A run from a configuration file, read as the programs read it (its scheme and "
            "keyframes included); keyword values replace the file's.");
}

// The whole run in one file, and back.
void defineCheckpoints(RunClass &runClass) {
    runClass
        .def_static(
            "load_checkpoint",
            [](const std::filesystem::path &path, std::optional<int> threads) {
                return loadRunCheckpoint(path.string(), threads);
            },
            "path"_a, py::kw_only(), "threads"_a = py::none(),
            "The run a save_checkpoint file holds, ready to go on from its step; it gives the "
            "same results bit for bit as the run that was saved. Only a regular file is read "
            "(OSError for a FIFO or a device); a file whose length is not what its header says, "
            "or whose checksum fails, raises ValueError before it is held in memory.")
        .def(
            "save_checkpoint",
            [](const PythonRun &run, const std::filesystem::path &path) {
                saveRunCheckpoint(run, path.string());
            },
            "path"_a,
            "Writes everything the run needs to go on (state, parameters, scheme, targets and "
            "keyframes) to one checksummed file, replaced only once complete; a device, FIFO "
            "or folder at `path` (or a link to one) raises OSError and is left as it is.");
}

// Stepping, the measures and what the run is made of.
void defineStepping(RunClass &runClass) {
    runClass
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
                if (run.picture()) {
                    run.setTargets(
                        colourTargets(target, *run.picture(), run.background(), run.side()));
                    return;
                }
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
            "later keyframe replaces it. A colour run takes a list of one target per field, "
            "or a colour picture (an image file's path, or an N x N x 3 uint8 array with row "
            "0 on top) split by the run's colours, each field scaled to its own smoke.")
        .def_property_readonly("target_index", &PythonRun::targetIndex,
                               "Index of the target that drove the last step: 0 for the first, "
                               "k once keyframe k has taken over (its blend included).")
        .def_property_readonly(
            "keyframes", [](const PythonRun &run) { return keyframeTuples(run.keyframes()); },
            "The run's further targets as (step, blend) pairs.")
        .def_property_readonly("threads", &PythonRun::threads, "Threads that share a step.")
        .def_property_readonly("size", &PythonRun::side, "Interior side N of the N x N grid.");
}

// Live views of the solver's grids.
void defineFields(RunClass &runClass) {
    runClass
        .def_property_readonly(
            "density", &gridView<kDensity>,
            "Read-only view of the density, (N + 2) x (N + 2), a[j, i] = cell (i, j).")
        .def_property_readonly(
            "u", &gridView<kUCentre>,
            "Read-only view of the x-velocity at the cell centres, (N + 2) x (N + 2).")
        .def_property_readonly(
            "v", &gridView<kVCentre>,
            "Read-only view of the y-velocity at the cell centres, (N + 2) x (N + 2).")
        .def_property_readonly(
            "target", &gridView<kTarget>,
            "Read-only view of the target density as the run holds it (scaled to the smoke's "
            "mass), (N + 2) x (N + 2).")
        .def_property_readonly(
            "fields",
            [](const py::object &self) {
                const Solver &solver = self.cast<const PythonRun &>().solver();
                py::list views;
                for (int k = 0; k < solver.smokeCount(); ++k) {
                    views.append(readOnlyView(solver.smokeDensity(k), self));
                }
                return views;
            },
            "Read-only views of every smoke field's density, in field order ([density] for a "
            "grey run).")
        .def(
            "picture",
            [](const PythonRun &run) {
                if (!run.picture()) {
                    throw UsageError("a grey run has no colour picture; see density");
                }
                const QImage image = colourRgbaImage(fieldDensities(run.solver()), *run.picture());
                const auto n = static_cast<py::ssize_t>(image.width());
                py::array_t<std::uint8_t> rgba({n, n, py::ssize_t{4}});
                for (py::ssize_t y = 0; y < n; ++y) {
                    std::memcpy(rgba.mutable_data(y), image.constScanLine(static_cast<int>(y)),
                                static_cast<std::size_t>(4 * n));
                }
                return rgba;
            },
            "A colour run's picture as an N x N x 4 array of 8-bit RGBA, straight alpha, "
            "upright (row 0 is the top).")
        .def("__repr__", &describe);
}

} // namespace

void bindRun(py::module_ &module) {
    g_parameterWarning = PyErr_NewExceptionWithDoc(
        "velloran.ParameterWarning",
        "A parameter was rounded or bounded as the programs do, so the run uses another value "
        "than the one given.",
        PyExc_UserWarning, nullptr);
    module.attr("ParameterWarning") = py::handle(g_parameterWarning);
    RunClass runClass(module, "Run", kRunDoc);
    defineMaking(runClass);
    defineCheckpoints(runClass);
    defineStepping(runClass);
    defineFields(runClass);
}

} // namespace velloran::binding
