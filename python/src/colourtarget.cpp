#include "colourtarget.h"

#include "arrays.h"
#include "errors.h"

#include "palette.h"
#include "runsetup.h"

#include <pybind11/numpy.h>
#include <pybind11/stl/filesystem.h>

#include <QFile>

#include <filesystem>

namespace py = pybind11;

namespace velloran::binding {

namespace {

bool isPath(py::handle value) {
    return py::isinstance<py::str>(value) ||
           py::isinstance(value, py::module_::import("os").attr("PathLike"));
}

bool isPictureArray(py::handle value) {
    if (!py::isinstance<py::array>(value)) {
        return false;
    }
    const auto array = py::reinterpret_borrow<py::array>(value);
    return array.ndim() == 3;
}

QImage imageFile(const std::string &path) {
    if (const int errnum = readFailureErrno(path)) {
        throw FileError(errnum, "Could not load the target image.", path);
    }
    bool tooLarge = false;
    QString reason;
    QImage image =
        loadImage(QFile::decodeName(QByteArray::fromStdString(path)), &tooLarge, &reason);
    if (image.isNull()) {
        throw InputError("could not read the target image '" + path + "': " + reason.toStdString());
    }
    return image;
}

QImage imageArray(py::handle value) {
    const auto array = py::reinterpret_borrow<py::array>(value);
    const py::ssize_t channels = array.shape(2);
    if (!array.dtype().is(py::dtype::of<std::uint8_t>()) || (channels != 3 && channels != 4)) {
        throw InputError("a colour target array is N x N x 3 or N x N x 4 of uint8 (RGB or RGBA, "
                         "row 0 on top)");
    }
    const auto pixels = py::array_t<std::uint8_t, py::array::c_style | py::array::forcecast>(array);
    const auto rows = static_cast<int>(pixels.shape(0));
    const auto columns = static_cast<int>(pixels.shape(1));
    QImage image(columns, rows, QImage::Format_RGB32);
    const auto at = pixels.unchecked<3>();
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            image.setPixel(x, y, qRgb(at(y, x, 0), at(y, x, 1), at(y, x, 2)));
        }
    }
    return image;
}

std::string fieldName(const SmokeColour &colour) {
    return "field #" + colour.hex().toStdString();
}

} // namespace

std::vector<Grid> colourTargets(py::handle target, const ColourPicture &picture,
                                const std::optional<SmokeColour> &background, std::uint32_t n) {
    const std::size_t fields = picture.colours.size();
    std::vector<Grid> targets;
    if (isPath(target) || isPictureArray(target)) {
        const QImage image = isPath(target)
                                 ? imageFile(target.cast<std::filesystem::path>().string())
                                 : imageArray(target);
        if (image.width() != static_cast<int>(n) || image.height() != static_cast<int>(n)) {
            throw InputError("the colour target must be " + std::to_string(n) + " x " +
                             std::to_string(n) + " pixels like the run, not " +
                             std::to_string(image.width()) + " x " +
                             std::to_string(image.height()));
        }
        const Palette palette{background.value_or(backgroundOf(image)), picture.colours};
        targets = paletteDensities(image, palette, static_cast<int>(n));
    } else {
        if (!py::isinstance<py::sequence>(target) || py::len(target) != fields) {
            throw InputError("a colour run's target is a colour picture (a path, or an N x N x 3 "
                             "uint8 array) or a list of " +
                             std::to_string(fields) + " densities, one per field");
        }
        const auto list = py::reinterpret_borrow<py::sequence>(target);
        for (std::size_t k = 0; k < fields; ++k) {
            const std::string name = fieldName(picture.colours[k]) + " target";
            targets.push_back(densityGrid(list[k], name.c_str()));
            if (targets.back().NumCols() != n) {
                throw InputError(name + " must be " + std::to_string(n) + " x " +
                                 std::to_string(n) + " like the run, not " +
                                 std::to_string(targets.back().NumCols()) + " a side");
            }
        }
    }
    for (std::size_t k = 0; k < fields; ++k) {
        requireSmoke(targets[k], fieldName(picture.colours[k]) + " target");
    }
    return targets;
}

} // namespace velloran::binding
