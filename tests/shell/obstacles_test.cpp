// Obstacle images made into a run's mask: which pixels are solid, and the
// picture scaled to the grid by area.

#include "obstacleimage.h"
#include "obstaclemask.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

// The mask's rows from the top, '#' solid and '.' open, for readable checks.
std::vector<std::string> rows(const Grid &mask) {
    std::vector<std::string> out;
    for (std::uint32_t j = mask.NumRows(); j-- > 0;) {
        std::string row;
        for (std::uint32_t i = 0; i < mask.NumCols(); ++i) {
            row += mask(i, j) > 0.5 ? '#' : '.';
        }
        out.push_back(row);
    }
    return out;
}

using Pixels = std::vector<std::uint8_t>;

} // namespace

// The picture is stretched over the grid whatever its shape; pixels that
// straddle a cell border count with their part inside, and a cell exactly
// half covered is solid.
TEST(ObstacleMask, AreaCoverageOfAnySizeAndAspect) {
    // 6 x 3 onto 3 x 3, upright: the top-left 2 x 1 pixels are the top-left cell.
    Pixels wide(18, 0);
    wide[0] = wide[1] = 1;
    EXPECT_EQ(rows(resampleObstacles(wide, 6, 3, 3)),
              (std::vector<std::string>{"#..", "...", "..."}));
    // 3 x 1 onto 2 x 2: each cell spans a pixel and a half.
    EXPECT_EQ(rows(resampleObstacles({1, 0, 0}, 3, 1, 2)), (std::vector<std::string>{"#.", "#."}));
    EXPECT_EQ(rows(resampleObstacles({0, 1, 0}, 3, 1, 2)), (std::vector<std::string>{"..", ".."}));
    // 5 x 5 onto 2 x 2: the middle row and column straddle all four cells.
    Pixels cross(25, 0);
    for (int k = 0; k < 5; ++k) {
        cross[static_cast<std::size_t>(2 * 5 + k)] = 1;
        cross[static_cast<std::size_t>(k * 5 + 2)] = 1;
    }
    EXPECT_EQ(rows(resampleObstacles(cross, 5, 5, 2)), (std::vector<std::string>{"..", ".."}));
    // 4 x 4 onto 2 x 2: two of a cell's four pixels make it solid, one does not.
    Pixels half(16, 0);
    half[0] = half[1] = 1; // top-left cell: half
    half[15] = 1;          // bottom-right cell: a quarter
    EXPECT_EQ(rows(resampleObstacles(half, 4, 4, 2)), (std::vector<std::string>{"#.", ".."}));
    // Upscaling: a pixel of a 2 x 2 picture spans 2.5 x 2.5 cells of a 5 x 5
    // grid; the cells it half covers are solid, the corner it quarters is not.
    EXPECT_EQ(rows(resampleObstacles({1, 0, 0, 0}, 2, 2, 5)),
              (std::vector<std::string>{"###..", "###..", "##...", ".....", "....."}));
}

// A one-pixel line is a closed wall where it covers half a cell (image twice
// the grid) and vanishes where it covers a quarter (four times the grid),
// wherever it lies.
TEST(ObstacleMask, ThinLinesCountWithTheAreaTheyCover) {
    const int side = 16;
    for (const int scale : {2, 4}) {
        const int size = side * scale;
        for (const int x : {size / 2, size / 2 + 1}) {
            Pixels line(static_cast<std::size_t>(size * size), 0);
            for (int y = 0; y < size; ++y) {
                line[static_cast<std::size_t>(y * size + x)] = 1;
            }
            const Grid mask = resampleObstacles(line, size, size, side);
            const auto column = static_cast<std::uint32_t>(x / scale);
            int wall = 0;
            for (std::uint32_t j = 0; j < mask.NumRows(); ++j) {
                wall += mask(column, j) > 0.5 ? 1 : 0;
            }
            EXPECT_EQ(wall, scale == 2 ? side : 0) << "scale " << scale << ", x " << x;
            EXPECT_EQ(solidCellCount(mask), wall);
        }
    }
}

// Alpha decides in images that have it, luminance in the others; one half is
// the edge either way.
TEST(ObstacleImage, AlphaOrLuminanceAboveOneHalfIsSolid) {
    EXPECT_TRUE(obstaclePixelSolid(qRgb(255, 255, 255), false));
    EXPECT_TRUE(obstaclePixelSolid(qRgb(128, 128, 128), false));
    EXPECT_FALSE(obstaclePixelSolid(qRgb(127, 127, 127), false));
    EXPECT_TRUE(obstaclePixelSolid(qRgb(0, 255, 0), false));  // luminance 0.72
    EXPECT_FALSE(obstaclePixelSolid(qRgb(0, 0, 255), false)); // 0.07: blue is not bright
    EXPECT_TRUE(obstaclePixelSolid(qRgba(0, 0, 0, 128), true));
    EXPECT_FALSE(obstaclePixelSolid(qRgba(255, 255, 255, 127), true));

    QImage rgba(2, 1, QImage::Format_ARGB32);
    rgba.setPixel(0, 0, qRgba(0, 0, 0, 255));     // black, opaque: solid
    rgba.setPixel(1, 0, qRgba(255, 255, 255, 0)); // white, transparent: open
    EXPECT_EQ(rows(obstaclesFromImage(rgba, 2)), (std::vector<std::string>{"#.", "#."}));
    QImage grey(2, 1, QImage::Format_Grayscale8);
    grey.setPixel(0, 0, qRgb(0, 0, 0));
    grey.setPixel(1, 0, qRgb(255, 255, 255));
    EXPECT_EQ(rows(obstaclesFromImage(grey, 2)), (std::vector<std::string>{".#", ".#"}));
}

TEST(ObstacleImage, LoadsFilesOrSaysWhyNot) {
    QTemporaryDir dir;
    QImage image(8, 4, QImage::Format_RGB32);
    image.fill(Qt::black);
    image.setPixel(7, 0, qRgb(255, 255, 255));
    image.setPixel(6, 0, qRgb(255, 255, 255));
    const QString path = dir.filePath("wall.png");
    ASSERT_TRUE(image.save(path));
    Grid mask(1, 1);
    QString reason;
    ASSERT_TRUE(loadObstacles(path, 4, &mask, &reason));
    EXPECT_EQ(rows(mask), (std::vector<std::string>{"...#", "....", "....", "...."}));
    EXPECT_FALSE(loadObstacles(dir.filePath("missing.png"), 4, &mask, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_FALSE(loadObstacles(dir.path(), 4, &mask, &reason)); // a folder
}
