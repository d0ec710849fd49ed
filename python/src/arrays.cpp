#include "arrays.h"

#include "errors.h"
#include "runsetup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace py = pybind11;

namespace velloran::binding {

namespace {

std::string shapeText(const py::array &array) {
    return py::str(array.attr("shape")).cast<std::string>();
}

// `object` as a C-ordered float64 array, or InputError when it does not hold
// real numbers. Conversions NumPy would make with a loss of meaning (complex
// to real, text to number) are refused rather than made.
py::array_t<double, py::array::c_style> realArray(py::handle object, const std::string &name) {
    const py::module_ numpy = py::module_::import("numpy");
    py::array raw;
    try {
        raw = numpy.attr("asarray")(object);
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_ValueError) || error.matches(PyExc_TypeError)) {
            throw InputError(name + " cannot be read as an array: " + error.what());
        }
        throw;
    }
    const std::string kind = raw.dtype().attr("kind").cast<std::string>();
    if (kind != "b" && kind != "i" && kind != "u" && kind != "f" && kind != "O") {
        throw InputError(name + " must hold real numbers, not " +
                         py::str(raw.dtype()).cast<std::string>());
    }
    try {
        return numpy.attr("ascontiguousarray")(raw, py::arg("dtype") = numpy.attr("float64"));
    } catch (py::error_already_set &error) {
        // Object arrays convert element by element and may hold anything.
        if (error.matches(PyExc_ValueError) || error.matches(PyExc_TypeError)) {
            throw InputError(name + " must hold real numbers: " + error.what());
        }
        throw;
    }
}

Grid copyToGrid(const py::array_t<double, py::array::c_style> &array, std::uint32_t frame) {
    const auto rows = static_cast<std::uint32_t>(array.shape(0));
    const auto cols = static_cast<std::uint32_t>(array.shape(1));
    Grid grid(rows + 2 * frame, cols + 2 * frame);
    const double *source = array.data();
    for (std::uint32_t j = 0; j < rows; ++j) {
        std::memcpy(&grid(frame, j + frame), source + static_cast<std::size_t>(j) * cols,
                    cols * sizeof(double));
    }
    return grid;
}

std::int64_t wholeNumber(py::handle value, const std::string &what) {
    if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value)) {
        throw InputError(what + " must be a whole number, not " +
                         py::repr(value).cast<std::string>());
    }
    try {
        return value.cast<std::int64_t>();
    } catch (const py::cast_error &) {
        throw InputError(what + " " + py::str(value).cast<std::string>() + " is too large");
    }
}

} // namespace

Grid densityGrid(py::handle object, const char *name) {
    const py::array_t<double, py::array::c_style> array = realArray(object, name);
    if (array.ndim() != 2) {
        throw InputError(std::string(name) + " must be a 2-D array, not of shape " +
                         shapeText(array));
    }
    if (array.shape(0) != array.shape(1)) {
        throw InputError(std::string(name) + " must be square, not of shape " + shapeText(array));
    }
    if (array.shape(0) == 0) {
        throw InputError(std::string(name) + " must not be empty");
    }
    if (array.shape(0) > kMaxImageSide) {
        throw InputError(std::string(name) + " is too large (at most " +
                         std::to_string(kMaxImageSide) + " x " + std::to_string(kMaxImageSide) +
                         ", not of shape " + shapeText(array) + ")");
    }
    const double *values = array.data();
    for (py::ssize_t k = 0; k < array.size(); ++k) {
        if (!std::isfinite(values[k])) {
            throw InputError(std::string(name) + " holds a value that is not finite");
        }
        if (values[k] < 0.0) {
            throw InputError(std::string(name) + " holds a negative value (a density is never "
                                                 "negative)");
        }
    }
    return copyToGrid(array, 0);
}

Grid obstacleGrid(py::handle object, std::uint32_t n) {
    const py::array_t<double, py::array::c_style> array = realArray(object, "obstacles");
    if (array.ndim() != 2 || array.shape(0) != n || array.shape(1) != n) {
        throw InputError("obstacles must be " + std::to_string(n) + " x " + std::to_string(n) +
                         " like the source, not of shape " + shapeText(array));
    }
    Grid mask = copyToGrid(array, 0);
    double *values = mask.data();
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) * n; ++k) {
        if (!std::isfinite(values[k])) {
            throw InputError("obstacles hold a value that is not finite");
        }
        values[k] = values[k] > 0.5 ? 1.0 : 0.0;
    }
    return mask;
}

void requireSmoke(const Grid &grid, const std::string &name) {
    const double *values = grid.data();
    const std::size_t count = static_cast<std::size_t>(grid.NumRows()) * grid.NumCols();
    if (std::all_of(values, values + count, [](double value) { return value == 0.0; })) {
        throw InputError(name + " holds no smoke: every value is 0");
    }
}

std::vector<Keyframe> keyframeList(py::handle sequence, std::uint32_t n) {
    if (!py::isinstance<py::sequence>(sequence) || py::isinstance<py::str>(sequence)) {
        throw InputError("keyframes must be a list of (step, target) or (step, target, blend)");
    }
    std::vector<Keyframe> keyframes;
    for (const py::handle item : sequence) {
        if (!py::isinstance<py::sequence>(item) || py::isinstance<py::str>(item) ||
            (py::len(item) != 2 && py::len(item) != 3)) {
            throw InputError("a keyframe must be (step, target) or (step, target, blend), not " +
                             py::repr(item).cast<std::string>().substr(0, 80));
        }
        const py::sequence fields = py::reinterpret_borrow<py::sequence>(item);
        Keyframe keyframe;
        keyframe.step = wholeNumber(fields[0], "a keyframe step");
        if (keyframe.step <= 0) {
            throw InputError("keyframe step " + std::to_string(keyframe.step) +
                             " must be after step 0, where the first target holds");
        }
        if (!keyframes.empty() && keyframe.step <= keyframes.back().step) {
            throw InputError("keyframe step " + std::to_string(keyframe.step) +
                             " does not come after step " + std::to_string(keyframes.back().step) +
                             "; steps must increase");
        }
        const std::string name = "the keyframe target at step " + std::to_string(keyframe.step);
        keyframe.target = densityGrid(fields[1], name.c_str());
        if (keyframe.target.NumCols() != n) {
            throw InputError(name + " must be " + std::to_string(n) + " x " + std::to_string(n) +
                             " like the source, not " + std::to_string(keyframe.target.NumCols()) +
                             " a side");
        }
        requireSmoke(keyframe.target, name);
        if (py::len(item) == 3) {
            keyframe.blend = wholeNumber(fields[2], "a keyframe blend");
            if (keyframe.blend < 0) {
                throw InputError("keyframe blend " + std::to_string(keyframe.blend) +
                                 " must not be negative");
            }
        }
        keyframes.push_back(std::move(keyframe));
    }
    return keyframes;
}

py::array readOnlyView(const Grid &grid, py::handle owner) {
    const auto rows = static_cast<py::ssize_t>(grid.NumRows());
    const auto cols = static_cast<py::ssize_t>(grid.NumCols());
    const auto item = static_cast<py::ssize_t>(sizeof(double));
    py::array view(py::dtype::of<double>(), {rows, cols}, {cols * item, item}, grid.data(), owner);
    view.attr("flags").attr("writeable") = false;
    return view;
}

py::array arrayCopy(const Grid &grid) {
    py::array_t<double> copy(
        {static_cast<py::ssize_t>(grid.NumRows()), static_cast<py::ssize_t>(grid.NumCols())});
    std::memcpy(copy.mutable_data(), grid.data(),
                sizeof(double) * grid.NumRows() * static_cast<std::size_t>(grid.NumCols()));
    return std::move(copy);
}

Grid framedPicture(py::handle object) {
    const py::array_t<double, py::array::c_style> array = realArray(object, "picture");
    if (array.ndim() != 2 || array.size() == 0) {
        throw InputError("picture must be a non-empty 2-D array, not of shape " + shapeText(array));
    }
    if (array.shape(0) > 65535 || array.shape(1) > 65535) {
        throw InputError("picture is too large (at most 65535 pixels a side), not of shape " +
                         shapeText(array));
    }
    return copyToGrid(array, 1);
}

} // namespace velloran::binding
