#include "pngencoder.h"

#include <QBuffer>
#include <QColorSpace>

#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velloran {

namespace {

// A filtered byte's weight in libpng's search: its magnitude read as signed.
inline std::size_t weight(unsigned v) {
    v &= 0xffu;
    return v < 128 ? v : 256 - v;
}

// libpng's Paeth predictor, ties broken its way.
inline unsigned paeth(int a, int b, int c) {
    const int p = b - c;
    const int q = a - c;
    int pa = std::abs(p);
    const int pb = std::abs(q);
    const int pc = std::abs(p + q);
    int predicted = a;
    if (pb < pa) {
        pa = pb;
        predicted = b;
    }
    if (pc < pa) {
        predicted = c;
    }
    return static_cast<unsigned>(predicted);
}

// Adds the weights of byte i under each filter to sums[0..4].
inline void addWeights(const std::uint8_t *row, const std::uint8_t *previous, std::size_t i,
                       std::size_t stride, std::size_t sums[5]) {
    const unsigned x = row[i];
    const int a = i >= stride ? row[i - stride] : 0;
    const int b = previous[i];
    const int c = i >= stride ? previous[i - stride] : 0;
    sums[0] += weight(x);
    sums[1] += weight(x - static_cast<unsigned>(a));
    sums[2] += weight(x - static_cast<unsigned>(b));
    sums[3] += weight(x - static_cast<unsigned>((a + b) >> 1));
    sums[4] += weight(x - paeth(a, b, c));
}

int leastSum(const std::size_t sums[5]) {
    int best = 0;
    for (int f = 1; f < 5; ++f) {
        if (sums[f] < sums[best]) {
            best = f;
        }
    }
    return best;
}

#ifdef __SSE2__
// The weights of 16 filtered bytes, summed into two 64-bit lanes.
inline __m128i weights(__m128i filtered) {
    const __m128i negated = _mm_sub_epi8(_mm_setzero_si128(), filtered);
    return _mm_sad_epu8(_mm_min_epu8(filtered, negated), _mm_setzero_si128());
}

inline __m128i absolute16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// Eight Paeth predictions from 16-bit lanes.
inline __m128i paeth16(__m128i a, __m128i b, __m128i c) {
    const __m128i p = _mm_sub_epi16(b, c);
    const __m128i q = _mm_sub_epi16(a, c);
    __m128i pa = absolute16(p);
    const __m128i pb = absolute16(q);
    const __m128i pc = absolute16(_mm_add_epi16(p, q));
    const __m128i takeB = _mm_cmplt_epi16(pb, pa);
    __m128i predicted = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, a));
    pa = _mm_or_si128(_mm_and_si128(takeB, pb), _mm_andnot_si128(takeB, pa));
    const __m128i takeC = _mm_cmplt_epi16(pc, pa);
    return _mm_or_si128(_mm_and_si128(takeC, c), _mm_andnot_si128(takeC, predicted));
}

std::size_t total(__m128i sums) {
    alignas(16) std::uint64_t parts[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(parts), sums);
    return static_cast<std::size_t>(parts[0] + parts[1]);
}
#endif

} // namespace

int pngRowFilterPlain(const std::uint8_t *row, const std::uint8_t *previous, std::size_t count,
                      std::size_t stride) {
    std::size_t sums[5] = {};
    for (std::size_t i = 0; i < count; ++i) {
        addWeights(row, previous, i, stride, sums);
    }
    return leastSum(sums);
}

int pngRowFilter(const std::uint8_t *row, const std::uint8_t *previous, std::size_t count,
                 std::size_t stride) {
#ifdef __SSE2__
    std::size_t sums[5] = {};
    std::size_t i = 0;
    for (; i < stride && i < count; ++i) {
        addWeights(row, previous, i, stride, sums);
    }
    const __m128i zero = _mm_setzero_si128();
    __m128i totals[5] = {zero, zero, zero, zero, zero};
    const auto load = [](const std::uint8_t *p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    for (; i + 16 <= count; i += 16) {
        const __m128i x = load(row + i);
        const __m128i a = load(row + i - stride);
        const __m128i b = load(previous + i);
        const __m128i c = load(previous + i - stride);
        // The floor of (a + b) / 2: the rounded-up average less the odd bit.
        const __m128i average =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
        const __m128i predicted =
            _mm_packus_epi16(paeth16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                     _mm_unpacklo_epi8(c, zero)),
                             paeth16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                     _mm_unpackhi_epi8(c, zero)));
        totals[0] = _mm_add_epi64(totals[0], weights(x));
        totals[1] = _mm_add_epi64(totals[1], weights(_mm_sub_epi8(x, a)));
        totals[2] = _mm_add_epi64(totals[2], weights(_mm_sub_epi8(x, b)));
        totals[3] = _mm_add_epi64(totals[3], weights(_mm_sub_epi8(x, average)));
        totals[4] = _mm_add_epi64(totals[4], weights(_mm_sub_epi8(x, predicted)));
    }
    for (; i < count; ++i) {
        addWeights(row, previous, i, stride, sums);
    }
    for (int f = 0; f < 5; ++f) {
        sums[f] += total(totals[f]);
    }
    return leastSum(sums);
#else
    return pngRowFilterPlain(row, previous, count, stride);
#endif
}

namespace {

void append(png_structp png, png_bytep data, std::size_t length) {
    static_cast<QByteArray *>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(length));
}

void noFlush(png_structp) {}

[[noreturn]] void fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void quiet(png_structp, png_const_charp) {}

// The rows as libpng takes them: 3 bytes a pixel (red, green, blue) or 1.
void packRow(const QImage &image, int y, std::uint8_t *out) {
    if (image.format() == QImage::Format_Grayscale8) {
        const uchar *line = image.constScanLine(y);
        std::copy(line, line + image.width(), out);
        return;
    }
    const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
        out[3 * x] = static_cast<std::uint8_t>(qRed(line[x]));
        out[3 * x + 1] = static_cast<std::uint8_t>(qGreen(line[x]));
        out[3 * x + 2] = static_cast<std::uint8_t>(qBlue(line[x]));
    }
}

// Holds nothing that needs destroying: libpng's errors jump back here.
bool encode(const QImage &image, std::uint8_t *rows, std::size_t rowBytes, QByteArray *bytes) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, quiet);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, bytes, append, noFlush);
    const bool grey = image.format() == QImage::Format_Grayscale8;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8,
                 grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0) {
        png_set_pHYs(png, info, static_cast<png_uint_32>(image.dotsPerMeterX()),
                     static_cast<png_uint_32>(image.dotsPerMeterY()), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    // The first row goes through libpng's own search: it sets up the rows
    // kept for the filters and the compression as for every row after it.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    const std::size_t stride = grey ? 1 : 3;
    std::uint8_t *row = rows;
    std::uint8_t *previous = rows + rowBytes;
    for (int y = 0; y < image.height(); ++y) {
        packRow(image, y, row);
        if (y > 0) {
            const int filter = pngRowFilter(row, previous, rowBytes, stride);
            png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE << filter);
        }
        png_write_row(png, row);
        std::swap(row, previous);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool pngBytes(const QImage &image, QByteArray *bytes) {
    bytes->clear();
    // libpng narrows the filters of one-pixel-wide pictures; Qt writes text,
    // colour spaces and offsets as chunks of their own.
    const bool plain =
        (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_Grayscale8) &&
        image.width() >= 2 && image.textKeys().isEmpty() && !image.colorSpace().isValid() &&
        image.offset().isNull();
    if (plain) {
        const std::size_t rowBytes = static_cast<std::size_t>(image.width()) *
                                     (image.format() == QImage::Format_Grayscale8 ? 1 : 3);
        std::vector<std::uint8_t> rows(2 * rowBytes);
        if (encode(image, rows.data(), rowBytes, bytes)) {
            return true;
        }
        bytes->clear();
    }
    QBuffer buffer(bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG");
}

} // namespace velloran
