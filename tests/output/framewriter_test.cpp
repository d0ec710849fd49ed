// The per-frame writers under a name pattern: which files they make, which
// names they take for an earlier render's, and what the RGBA PNG holds.

#include "frameformats.h"
#include "framewriter.h"
#include "metrics.h"
#include "npy.h"
#include "smokeimage.h"

#include "runsetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

std::unique_ptr<Solver> smallRun() {
    Grid source(6, 6);
    Grid target(6, 6);
    for (std::uint32_t k = 0; k < 6; ++k) {
        source(k, k) = 0.9;
        target(k, 5 - k) = 0.5;
    }
    SimParameters p;
    p[kVf] = 1.0;
    p[kSigma] = 1.0;
    p[kDt] = 0.001;
    std::unique_ptr<Solver> solver = makeSolver(source, target, p);
    solver->step();
    return solver;
}

FrameNamePattern names(const char *pattern) {
    QString error;
    return FrameNamePattern::parse(QString::fromLatin1(pattern), &error).value();
}

} // namespace

TEST(FrameWriters, EveryFormatUnderThePatternsNames) {
    QTemporaryDir dir;
    const std::unique_ptr<Solver> solver = smallRun();
    const SmokeColour red = *parseSmokeColour("ff0000");
    PngFrameWriter png(dir.path(), names("smoke.%04d"), red);
    ExrFrameWriter exr(dir.path(), names("smoke.%04d"), red);
    NpyFrameWriter npy(dir.path(), names("smoke.%04d"));
    const QImage grey = densityImage(*solver->m_density);
    const Frame frame{7, solver->fields(), grey};
    QString error;
    for (FrameWriter *writer : std::initializer_list<FrameWriter *>{&png, &exr, &npy}) {
        ASSERT_TRUE(writer->write(frame, &error)) << error.toStdString();
    }
    const QStringList expected = {"density_0007.npy", "smoke.0007.exr", "smoke.0007.png",
                                  "u_0007.npy", "v_0007.npy"};
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), expected);

    QImage rgba(dir.filePath("smoke.0007.png"));
    EXPECT_TRUE(rgba.hasAlphaChannel());
    EXPECT_EQ(rgba.convertToFormat(QImage::Format_RGBA8888), smokeImage(*solver->m_density, red));
    EXPECT_EQ(png.summary("out", 3), QStringList{"  frames:  out/smoke.%04d.png (3, RGBA)"});
    EXPECT_EQ(npy.summary("out", 3), QStringList{"  fields:  out/{density,u,v}_%04d.npy (3 each)"});
    // A frame made of copies carries only some grids: a writer that needs
    // another fails, naming it, and writes nothing.
    const Frame densityOnly{8, {{"density", solver->m_density.get(), false}}, grey};
    EXPECT_FALSE(exr.write(densityOnly, &error));
    EXPECT_TRUE(error.contains("needs the grid 'uCentre'")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("smoke.0008.exr")));

    // An earlier render's files: this run's names and the default ones.
    EXPECT_TRUE(png.isOwnOutput("smoke.0100.png"));
    EXPECT_TRUE(png.isOwnOutput("frame_000100.png"));
    EXPECT_FALSE(png.isOwnOutput("smoke.100.png"));
    EXPECT_TRUE(exr.isOwnOutput("frame_000100.exr"));
    EXPECT_TRUE(npy.isOwnOutput("u_0100.npy"));
    EXPECT_TRUE(npy.isOwnOutput("u_000100.npy"));
    EXPECT_FALSE(npy.isOwnOutput("w_0100.npy"));
}

// A run with obstacles hands its writers the solid cells: the npy writer of
// such a run adds them as a fourth array; one that does not know of them, and
// a run without, write the three as before.
TEST(FrameWriters, NpyFramesOfARunWithObstaclesCarryItsSolidCells) {
    QTemporaryDir dir;
    Grid source(6, 6);
    Grid target(6, 6);
    Grid mask(6, 6);
    for (std::uint32_t k = 0; k < 6; ++k) {
        source(k, k) = 0.9;
        target(k, 5 - k) = 0.5;
    }
    mask(0, 3) = 1.0;
    SimParameters p;
    p[kSigma] = 1.0;
    p[kDt] = 0.001;
    const std::unique_ptr<Solver> solver = makeSolver({{&source, &target}}, p, mask);
    const QImage grey = densityImage(*solver->m_density);
    NpyFrameWriter npy(dir.path(), names("frame_%06d"), true);
    QString error;
    ASSERT_TRUE(npy.write(Frame{3, solver->fields(), grey}, &error)) << error.toStdString();
    QFile file(dir.filePath("solid_000003.npy"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::optional<Grid> solid = parseNpy(file.readAll());
    ASSERT_TRUE(solid.has_value());
    EXPECT_EQ(solid->NumCols(), 8u);
    EXPECT_EQ((*solid)(1, 4), 1.0);
    EXPECT_EQ((*solid)(2, 4), 0.0);
    EXPECT_EQ(npy.fileNames(3).size(), 4);
    EXPECT_TRUE(npy.summary("out", 2).join("").contains("out/{density,u,v,solid}_"));
    EXPECT_TRUE(NpyFrameWriter(dir.path(), names("frame_%06d")).isOwnOutput("solid_000003.npy"));

    const std::unique_ptr<Solver> open = smallRun();
    EXPECT_FALSE(npy.write(Frame{4, open->fields(), grey}, &error));
    EXPECT_TRUE(error.contains("needs the grid 'solid'")) << error.toStdString();
}

TEST(FrameWriters, FrameFilesOfAnyFormatAndTheirSteps) {
    const FrameNamePattern smoke = names("smoke.%04d");
    EXPECT_EQ(frameFileStep("smoke.0042.exr", smoke), 42);
    EXPECT_EQ(frameFileStep("smoke.0042.png", smoke), 42);
    EXPECT_EQ(frameFileStep("density_0042.npy", smoke), 42);
    EXPECT_FALSE(frameFileStep("frame_000042.png", smoke).has_value());
    EXPECT_FALSE(frameFileStep("smoke.0042.jpg", smoke).has_value());
    // Cleaning up before a run takes the default names too, whatever the format.
    EXPECT_TRUE(isFrameFileName("frame_000042.exr", smoke));
    EXPECT_TRUE(isFrameFileName("v_000042.npy", smoke));
    for (const char *other :
         {"notes.txt", "metrics.csv", "smoke.42.exr", "frame_42.png", "density_0042.npy.bak"}) {
        EXPECT_FALSE(isFrameFileName(other, smoke)) << other;
    }
}

TEST(FrameWriters, SummaryShowsPatternsWithPercentSigns) {
    const ExrFrameWriter exr("out%1", names("%03d%%"), SmokeColour());
    EXPECT_EQ(exr.summary("out%1", 12), QStringList{"  frames:  out%1/%03d%%.exr (12)"});
}
