#include "exrframe.h"

#include "colourpicture.h"

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfOutputFile.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace velloran {

namespace {

// OpenEXR writes through a seekable stream (it goes back to fill in the line
// offsets); this one grows a byte array, so the caller decides how the bytes
// reach the disk.
class ByteArrayStream : public Imf::OStream {
public:
    ByteArrayStream()
        : Imf::OStream("frame.exr") {}

    void write(const char c[], int n) override {
        const auto end = static_cast<qsizetype>(m_position) + n;
        if (end > m_bytes.size()) {
            m_bytes.resize(end);
        }
        std::memcpy(m_bytes.data() + m_position, c, static_cast<std::size_t>(n));
        m_position = static_cast<std::uint64_t>(end);
    }
    std::uint64_t tellp() override { return m_position; }
    void seekp(std::uint64_t position) override { m_position = position; }

    QByteArray take() { return std::move(m_bytes); }

private:
    QByteArray m_bytes;
    std::uint64_t m_position = 0;
};

// The frame's channels, upright (image row y is grid row N - y), one value
// per pixel.
struct ExrPlanes {
    std::vector<Imath::half> rgba[4];
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
        planes.rgba[c][k] = Imath::half(static_cast<float>(cell.alpha * linearLight(straight)));
    }
    planes.rgba[3][k] = Imath::half(static_cast<float>(cell.alpha));
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
                    planes.rgba[c][k] = Imath::half(alpha * linear[c]);
                }
                planes.rgba[3][k] = Imath::half(alpha);
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
    const int n = static_cast<int>(fields.density.NumCols()) - 2;
    ExrPlanes planes = planesOf(fields, colour, n);
    auto &rgba = planes.rgba;

    Imf::Header header(n, n);
    header.compression() = Imf::ZIP_COMPRESSION;
    const char *const colourNames[4] = {"R", "G", "B", "A"};
    Imf::FrameBuffer frame;
    const std::size_t halfStride = sizeof(Imath::half);
    const std::size_t floatStride = sizeof(float);
    for (int c = 0; c < 4; ++c) {
        header.channels().insert(colourNames[c], Imf::Channel(Imf::HALF));
        frame.insert(colourNames[c],
                     Imf::Slice(Imf::HALF, reinterpret_cast<char *>(rgba[c].data()), halfStride,
                                halfStride * static_cast<std::size_t>(n)));
    }
    // Sorted by name as the file keeps them; the fields' names sort after
    // "density" and before "solid".
    std::vector<std::pair<const char *, std::vector<float> *>> floats = {
        {"density", &planes.density}};
    for (std::size_t f = 0; f < planes.fields.size(); ++f) {
        floats.emplace_back(planes.fieldNames[f].c_str(), &planes.fields[f]);
    }
    floats.insert(floats.end(),
                  {{"solid", &planes.solid}, {"velocity.u", &planes.u}, {"velocity.v", &planes.v}});
    for (const auto &[name, values] : floats) {
        if (values->empty()) {
            continue;
        }
        header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        frame.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(values->data()),
                                      floatStride, floatStride * static_cast<std::size_t>(n)));
    }

    // The library reports failures (memory, mostly) by throwing.
    try {
        ByteArrayStream stream;
        {
            Imf::OutputFile file(stream, header);
            file.setFrameBuffer(frame);
            file.writePixels(n);
        } // the destructor completes the file
        return stream.take();
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        return QByteArray();
    }
}

} // namespace velloran
