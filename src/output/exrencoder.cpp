// The OpenEXR module: channels laid out by exrframe.cpp, written with ZIP
// compression into bytes the caller puts on disk.

#include "exrmodule.h"

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfOutputFile.h>

#include <cstring>
#include <exception>
#include <type_traits>
#include <vector>

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

QByteArray encode(int side, const velloran::ExrChannel *channels, int count) {
    const auto pixels = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    Imf::Header header(side, side);
    header.compression() = Imf::ZIP_COMPRESSION;
    Imf::FrameBuffer frame;
    std::vector<std::vector<Imath::half>> halves;
    halves.reserve(static_cast<std::size_t>(count));
    for (int c = 0; c < count; ++c) {
        const velloran::ExrChannel &channel = channels[c];
        char *base = nullptr;
        std::size_t stride = sizeof(float);
        if (channel.half) {
            std::vector<Imath::half> &values = halves.emplace_back(pixels);
            for (std::size_t k = 0; k < pixels; ++k) {
                values[k] = Imath::half(channel.values[k]);
            }
            base = reinterpret_cast<char *>(values.data());
            stride = sizeof(Imath::half);
        } else {
            base = const_cast<char *>(reinterpret_cast<const char *>(channel.values));
        }
        const Imf::PixelType type = channel.half ? Imf::HALF : Imf::FLOAT;
        header.channels().insert(channel.name, Imf::Channel(type));
        frame.insert(channel.name,
                     Imf::Slice(type, base, stride, stride * static_cast<std::size_t>(side)));
    }
    ByteArrayStream stream;
    {
        Imf::OutputFile file(stream, header);
        file.setFrameBuffer(frame);
        file.writePixels(side);
    } // the destructor completes the file
    return stream.take();
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool
velloran_exr_encode(int side, const velloran::ExrChannel *channels, int count, QByteArray *bytes,
                    QString *error) {
    // The library reports failures (memory, mostly) by throwing.
    try {
        *bytes = encode(side, channels, count);
        return true;
    } catch (const std::exception &e) {
        *error = QString::fromLocal8Bit(e.what());
        *bytes = QByteArray();
        return false;
    }
}

static_assert(std::is_same_v<decltype(&velloran_exr_encode), velloran::ExrEncodeFunction>);
