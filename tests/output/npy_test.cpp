#include "npy.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace velloran;

TEST(Npy, HeaderShapeAndByteOrder) {
    Grid grid(3, 4); // 3 rows, 4 columns
    for (std::uint32_t j = 0; j < 3; ++j) {
        for (std::uint32_t i = 0; i < 4; ++i) {
            grid(i, j) = i + 10.0 * j;
        }
    }
    grid(1, 0) = -0.0;
    grid(2, 0) = 1.0 / 3.0;
    const QByteArray bytes = npyBytes(grid);

    ASSERT_GE(bytes.size(), 10);
    EXPECT_EQ(bytes.left(6), QByteArray("\x93NUMPY"));
    EXPECT_EQ(bytes[6], 1);
    EXPECT_EQ(bytes[7], 0);
    const int headerLength =
        static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
    EXPECT_EQ((10 + headerLength) % 64, 0); // data aligned
    const QByteArray header = bytes.mid(10, headerLength);
    EXPECT_TRUE(header.startsWith("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 4), }"));
    EXPECT_TRUE(header.endsWith('\n'));
    EXPECT_EQ(bytes.size(), 10 + headerLength + 12 * 8);

    // Element [j][i] = grid(i, j), little-endian: [1][2] is grid(2, 1) = 12.
    const unsigned char *data =
        reinterpret_cast<const unsigned char *>(bytes.constData()) + 10 + headerLength;
    const unsigned char twelve[8] = {0, 0, 0, 0, 0, 0, 0x28, 0x40};
    EXPECT_EQ(std::memcmp(data + (1 * 4 + 2) * 8, twelve, 8), 0);

    // Round trip, bit for bit, including -0.0, NaN and infinity.
    grid(3, 2) = std::numeric_limits<double>::quiet_NaN();
    grid(0, 2) = -std::numeric_limits<double>::infinity();
    const auto back = parseNpy(npyBytes(grid));
    ASSERT_TRUE(back.has_value());
    ASSERT_EQ(back->NumRows(), 3u);
    ASSERT_EQ(back->NumCols(), 4u);
    EXPECT_EQ(std::memcmp(back->data(), grid.data(), 12 * sizeof(double)), 0);
}

TEST(Npy, LargeHeaderAndFileWriting) {
    Grid grid(130, 131);
    grid(130, 129) = 42.0;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("g.npy");
    QString error;
    ASSERT_TRUE(writeNpy(path, grid, &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto back = parseNpy(file.readAll());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->NumRows(), 130u);
    EXPECT_EQ(back->NumCols(), 131u);
    EXPECT_EQ((*back)(130, 129), 42.0);

    EXPECT_FALSE(writeNpy(dir.filePath("no/such/dir/g.npy"), grid, &error));
    EXPECT_FALSE(error.isEmpty());
    // Truncated or foreign data is rejected, not misread.
    const QByteArray bytes = npyBytes(grid);
    EXPECT_FALSE(parseNpy(bytes.left(bytes.size() - 1)).has_value());
    EXPECT_FALSE(parseNpy(QByteArray("\x93NUMPY\x02\x00", 8)).has_value());
    EXPECT_FALSE(parseNpy(QByteArray()).has_value());
}
