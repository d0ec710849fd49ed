#pragma once

// PNG files as Qt's own writer makes them, byte for byte, only quicker.
//
// libpng chooses each row's filter by trying all five and keeping the one
// whose bytes, read as signed, have the least absolute sum; for the 800 x 500
// convergence plot that search is half the encoding time. Here the sums are
// computed in a vector pass and the chosen filter handed to libpng for the
// row, so that libpng and zlib write exactly the stream they would have
// written after their own search. Pictures of other formats go through Qt.

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

namespace velloran {

// The picture as a PNG file: RGB32 pictures (the plot) as 8-bit RGB and
// Grayscale8 pictures (the frames) as 8-bit grey, as QImage::save writes
// them; other formats through QImage::save. False if encoding fails.
bool pngBytes(const QImage &image, QByteArray *bytes);

// libpng's choice of filter for a row of `count` bytes, `stride` bytes a pixel,
// below the row `previous` (zeros above the first): 0 none, 1 sub, 2 up,
// 3 average, 4 Paeth; the earliest of the least sums wins. The second is the
// plain loop the first must agree with.
int pngRowFilter(const std::uint8_t *row, const std::uint8_t *previous, std::size_t count,
                 std::size_t stride);
int pngRowFilterPlain(const std::uint8_t *row, const std::uint8_t *previous, std::size_t count,
                      std::size_t stride);

} // namespace velloran
