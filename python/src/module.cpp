// The Python module `velloran`: runs of the smoke solver driven from Python,
// NumPy arrays in and out. Only glue lives here; every computation is the
// shell's and the core's own.

#include "arrays.h"
#include "errors.h"
#include "parameters.h"
#include "picturefile.h"
#include "pythonrun.h"
#include "runbinding.h"
#include "runinputs.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl/filesystem.h>

#include <dlfcn.h>

#include <filesystem>
#include <string>

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace py = pybind11;
using namespace py::literals;

namespace velloran::binding {
namespace {

// By value: pybind11 registers translators of exactly this type.
void translateExceptions(std::exception_ptr thrown) { // NOLINT(performance-unnecessary-value-param)
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

    py::dict ranges;
    for (const ParameterRange &range : kParameterRanges) {
        ranges[range.key] = py::make_tuple(range.minimum, range.maximum, range.decimals);
    }
    m.attr("parameter_ranges") = ranges;

    bindRun(m);

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
        "so the picture comes out upright. The file is replaced only once complete; a device, "
        "FIFO or folder at `path` (or a link to one) raises OSError and is left as it is.");
}
