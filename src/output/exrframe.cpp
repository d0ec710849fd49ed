#include "exrframe.h"

#include "colourpicture.h"
#include "exrmodule.h"
#include "outputmodule.h"

#include <string>
#include <vector>

namespace velloran {

namespace {

// The frame's channels, upright (image row y is grid row N - y), one value
// per pixel.
struct ExrPlanes {
    std::vector<float> rgba[4]; // stored as halves
    std::vector<float> density;
    std::vector<float> u;
    std::vector<float> v;
    std::vector<float> solid;               // empty without obstacles
    std::vector<std::vector<float>> fields; // a colour run's densities
    std::vector<std::string> fieldNames;
};

// A colour run's RGBA: its picture, the colour in linear light.
void colourPixel(const FrameFields &fields, std::uint32_t i, std::uint32_t j, std::size_t k,
                 ExrPlanes &planes) {
    const CellColour cell = cellColour(fields.fields, i, j, *fields.picture);
    for (int c = 0; c < 3; ++c) {
        const double straight = cell.alpha > 0.0 ? cell.premultiplied[c] / cell.alpha : 0.0;
        planes.rgba[c][k] = static_cast<float>(cell.alpha * linearLight(straight));
    }
    planes.rgba[3][k] = static_cast<float>(cell.alpha);
    for (std::size_t f = 0; f < fields.fields.size(); ++f) {
        planes.fields[f][k] = static_cast<float>((*fields.fields[f])(i, j));
    }
}

ExrPlanes planesOf(const FrameFields &fields, const SmokeColour &colour, int n) {
    const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    const float linear[3] = {linearFromSrgb(colour.red), linearFromSrgb(colour.green),
                             linearFromSrgb(colour.blue)};
    ExrPlanes planes;
    for (auto &channel : planes.rgba) {
        channel.resize(count);
    }
    if (fields.picture) {
        for (const SmokeColour &c : fields.picture->colours) {
            planes.fields.emplace_back(count);
            planes.fieldNames.push_back("density." + c.hex().toStdString());
        }
    } else {
        planes.density.resize(count);
    }
    planes.u.resize(count);
    planes.v.resize(count);
    if (fields.solid) {
        planes.solid.resize(count);
    }
    for (int y = 0; y < n; ++y) {
        const auto j = static_cast<std::uint32_t>(n - y);
        for (int x = 0; x < n; ++x) {
            const auto i = static_cast<std::uint32_t>(x + 1);
            const std::size_t k = static_cast<std::size_t>(y) * static_cast<std::size_t>(n) +
                                  static_cast<std::size_t>(x);
            if (fields.picture) {
                colourPixel(fields, i, j, k, planes);
            } else {
                const double rho = fields.density(i, j);
                const auto alpha = static_cast<float>(smokeCoverage(rho));
                for (int c = 0; c < 3; ++c) {
                    planes.rgba[c][k] = alpha * linear[c];
                }
                planes.rgba[3][k] = alpha;
                planes.density[k] = static_cast<float>(rho);
            }
            planes.u[k] = static_cast<float>(fields.uCentre(i, j));
            planes.v[k] = static_cast<float>(fields.vCentre(i, j));
            if (fields.solid) {
                planes.solid[k] = static_cast<float>((*fields.solid)(i, j));
            }
        }
    }
    return planes;
}

} // namespace

QByteArray exrBytes(const FrameFields &fields, const SmokeColour &colour, QString *error) {
    static const WriterModule<ExrEncodeFunction> encoder(
        {VELLORAN_EXR_FROM_PROGRAM, VELLORAN_EXR_INSTALLED, VELLORAN_EXR_BUILT}, kExrEncodeSymbol,
        QStringLiteral("OpenEXR writer"));
    if (!encoder.function) {
        *error = encoder.error;
        return QByteArray();
    }
    const int n = static_cast<int>(fields.density.NumCols()) - 2;
    const ExrPlanes planes = planesOf(fields, colour, n);
    // Sorted by name as the file keeps them; the fields' names sort after
    // "density" and before "solid".
    std::vector<ExrChannel> channels;
    const char *const colourNames[4] = {"R", "G", "B", "A"};
    for (const int c : {3, 2, 1, 0}) {
        channels.push_back({colourNames[c], true, planes.rgba[c].data()});
    }
    const auto addFloats = [&](const char *name, const std::vector<float> &values) {
        if (!values.empty()) {
            channels.push_back({name, false, values.data()});
        }
    };
    addFloats("density", planes.density);
    for (std::size_t f = 0; f < planes.fields.size(); ++f) {
        addFloats(planes.fieldNames[f].c_str(), planes.fields[f]);
    }
    addFloats("solid", planes.solid);
    addFloats("velocity.u", planes.u);
    addFloats("velocity.v", planes.v);
    QByteArray bytes;
    encoder.function(n, channels.data(), static_cast<int>(channels.size()), &bytes, error);
    return bytes;
}

} // namespace velloran
