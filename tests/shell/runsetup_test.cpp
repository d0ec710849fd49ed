#include "runsetup.h"

#include <QColor>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velloran;

namespace {

QImage filled(int w, int h, QRgb colour, QImage::Format format = QImage::Format_ARGB32) {
    QImage image(w, h, format);
    image.fill(colour);
    return image;
}

} // namespace

TEST(RunSetup, PixelToDensity) {
    QImage grey(3, 3, QImage::Format_Grayscale8);
    grey.fill(128);
    Grid g = densityFromImage(grey, 3, 3);
    for (std::uint32_t i = 0; i < 3; ++i) {
        for (std::uint32_t j = 0; j < 3; ++j) {
            EXPECT_EQ(g(i, j), 128 / 255.0);
        }
    }
    EXPECT_EQ(pixelDensity(qRgb(255, 0, 0)), 0.0);
    EXPECT_EQ(pixelDensity(qRgb(0, 0, 255)), 1.0);
    EXPECT_EQ(pixelDensity(qRgb(255, 255, 255)), 1.0);
    EXPECT_EQ(pixelDensity(qRgba(0, 0, 51, 0)), 0.2); // alpha ignored
    // A transparent premultiplied-free pixel keeps its blue.
    const QImage transparent = filled(1, 1, qRgba(10, 20, 30, 0));
    EXPECT_EQ(densityFromImage(transparent, 1, 1)(0, 0), 30 / 255.0);

    // A palette image: the palette colour counts.
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 17), qRgb(255, 255, 34)});
    indexed.setPixel(0, 0, 1);
    indexed.setPixel(1, 0, 0);
    const Grid p = densityFromImage(indexed, 1, 1);
    EXPECT_EQ(p(0, 0), 34 / 255.0);
}

// Whatever format a picture is read in, a cell is its pixel's blue, taken
// from the top-left region asked for.
TEST(RunSetup, EveryFormatGivesItsPixelsBlue) {
    QImage picture(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            picture.setPixel(x, y, qRgba(x * 30, y * 50, (x * 37 + y * 91) % 256, 40 + y * 40));
        }
    }
    for (const QImage::Format format :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
          QImage::Format_Grayscale8, QImage::Format_RGB888, QImage::Format_RGBA64}) {
        const QImage image = picture.convertToFormat(format);
        const Grid g = densityFromImage(image, 6, 4);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 6; ++x) {
                EXPECT_EQ(g(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(3 - y)),
                          pixelDensity(image.pixel(x, y)))
                    << "format " << format << " pixel " << x << ", " << y;
            }
        }
    }
}

TEST(RunSetup, OrientationFlipsRowsOnly) {
    QImage image = filled(3, 2, qRgb(0, 0, 0));
    image.setPixel(0, 0, qRgb(0, 0, 10)); // top-left
    image.setPixel(0, 1, qRgb(0, 0, 20)); // bottom-left
    image.setPixel(2, 0, qRgb(0, 0, 30)); // top-right
    const Grid g = densityFromImage(image, 3, 2);
    EXPECT_EQ(g.NumRows(), 2u);
    EXPECT_EQ(g.NumCols(), 3u);
    EXPECT_EQ(g(0, 1), 10 / 255.0);
    EXPECT_EQ(g(0, 0), 20 / 255.0);
    EXPECT_EQ(g(2, 1), 30 / 255.0);
    EXPECT_EQ(g(1, 1), 0.0);
}

TEST(RunSetup, ReverseExchangesRolesAndLargerTargetsAreCropped) {
    const QImage source = filled(2, 2, qRgb(0, 0, 51));
    QImage target = filled(4, 3, qRgb(0, 0, 0));
    target.setPixel(0, 0, qRgb(0, 0, 255)); // top-left of the larger target
    target.setPixel(3, 2, qRgb(0, 0, 255)); // outside the source's region

    RunDensities forward;
    ASSERT_EQ(prepareRunFromImages(source, target, false, &forward), RunSetupError::None);
    EXPECT_EQ(forward.srcDensity.NumRows(), 2u);
    EXPECT_EQ(forward.tgtDensity.NumCols(), 2u);
    EXPECT_EQ(forward.srcDensity(0, 0), 0.2);
    EXPECT_EQ(forward.tgtDensity(0, 1), 1.0);
    EXPECT_EQ(forward.tgtDensity(1, 1) + forward.tgtDensity(0, 0) + forward.tgtDensity(1, 0), 0.0);

    RunDensities reverse;
    ASSERT_EQ(prepareRunFromImages(source, target, true, &reverse), RunSetupError::None);
    EXPECT_EQ(reverse.srcDensity.NumRows(), 2u); // size from the source image
    EXPECT_EQ(reverse.srcDensity(0, 1), 1.0);
    EXPECT_EQ(reverse.tgtDensity(1, 1), 0.2);
}

TEST(RunSetup, Refusals) {
    RunDensities out;
    const QImage square = filled(4, 4, qRgb(0, 0, 1));
    EXPECT_EQ(prepareRunFromImages(QImage(), QImage(), false, &out),
              RunSetupError::SourceUnreadable);
    EXPECT_EQ(prepareRunFromImages(square, QImage(), false, &out), RunSetupError::TargetUnreadable);
    EXPECT_EQ(prepareRunFromImages(filled(4, 3, 0), square, false, &out),
              RunSetupError::SourceNotSquare);
    EXPECT_EQ(prepareRunFromImages(square, filled(4, 3, 0), false, &out),
              RunSetupError::TargetTooSmall);
    EXPECT_EQ(prepareRunFromImages(square, filled(3, 8, 0), true, &out),
              RunSetupError::TargetTooSmall);
    EXPECT_EQ(out.srcDensity.NumRows(), 1u); // untouched on failure

    EXPECT_EQ(runSetupMessage(RunSetupError::SourceUnreadable), "Could not load source image.");
    EXPECT_EQ(runSetupMessage(RunSetupError::TargetUnreadable), "Could not load target image.");
    EXPECT_EQ(runSetupMessage(RunSetupError::SourceTooLarge),
              "The source image is too large (at most 2048 x 2048 pixels).");
}

TEST(RunSetup, FilesAreCheckedSourceFirstAndSizeBeforeDecoding) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString src = dir.filePath("src.png");
    const QString tgt = dir.filePath("tgt.png");
    const QString wide = dir.filePath("wide.png");
    const QString big = dir.filePath("big.png");
    const QString notImage = dir.filePath("text.png");
    ASSERT_TRUE(filled(8, 8, qRgb(0, 0, 100)).save(src));
    ASSERT_TRUE(filled(8, 8, qRgb(0, 0, 200)).save(tgt, "BMP")); // content decides the format
    ASSERT_TRUE(filled(9, 8, qRgb(0, 0, 100)).save(wide));
    ASSERT_TRUE(filled(kMaxImageSide + 1, 1, 0, QImage::Format_Mono).save(big));
    {
        QFile f(notImage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an image");
    }

    RunDensities out;
    EXPECT_EQ(prepareRun("", "", false, &out), RunSetupError::SourceUnreadable);
    EXPECT_EQ(prepareRun(notImage, "", false, &out), RunSetupError::SourceUnreadable);
    EXPECT_EQ(prepareRun(src, dir.filePath("missing.png"), false, &out),
              RunSetupError::TargetUnreadable);
    EXPECT_EQ(prepareRun(wide, tgt, false, &out), RunSetupError::SourceNotSquare);
    EXPECT_EQ(prepareRun(big, tgt, false, &out), RunSetupError::SourceTooLarge);
    EXPECT_EQ(prepareRun(src, big, false, &out), RunSetupError::TargetTooLarge);
    bool tooLarge = false;
    EXPECT_TRUE(loadImage(big, &tooLarge).isNull());
    EXPECT_TRUE(tooLarge);

    ASSERT_EQ(prepareRun(src, tgt, false, &out), RunSetupError::None);
    EXPECT_EQ(out.srcDensity(3, 3), 100 / 255.0);
    EXPECT_EQ(out.tgtDensity(3, 3), 200 / 255.0);

    // The reason adds what the message leaves out.
    const auto reasonFor = [&](const QString &source, const QString &target) {
        QString reason;
        RunDensities ignored;
        prepareRun(source, target, false, &ignored, &reason);
        return reason.toStdString();
    };
    EXPECT_EQ(reasonFor("", tgt), "no path given");
    EXPECT_EQ(reasonFor(src, dir.filePath("missing.png")), "No such file or directory");
    EXPECT_EQ(reasonFor(notImage, tgt), "Unsupported image format");
    EXPECT_EQ(reasonFor(wide, tgt), "9 x 8 pixels");
    EXPECT_EQ(reasonFor(big, tgt), "2049 x 1 pixels");
    EXPECT_EQ(reasonFor(tgt, dir.filePath("missing.png")), "No such file or directory");
    EXPECT_TRUE(isSourceProblem(RunSetupError::SourceEmpty));
    EXPECT_FALSE(isSourceProblem(RunSetupError::TargetTooSmall));
}

// A FIFO or a device is refused at once instead of being read until someone
// writes to it; an image compiled into the program still loads.
TEST(RunSetup, OnlyRegularFilesAreRead) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("source.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
        bool tooLarge = true;
        QString reason;
        EXPECT_TRUE(loadImage(path, &tooLarge, &reason).isNull());
        EXPECT_FALSE(tooLarge);
        EXPECT_EQ(reason, "not a regular file") << path.toStdString();
    }
    RunDensities out;
    EXPECT_EQ(prepareRun(fifo, fifo, false, &out), RunSetupError::SourceUnreadable);
}

// With no smoke in the source there is nothing to move; with none in the part
// of the target a run uses there is nowhere to move it (the solver would scale
// the smoke to nothing and report a perfect match).
TEST(RunSetup, ImagesWithoutSmokeAreRefused) {
    RunDensities out;
    const QImage smoke = filled(4, 4, qRgb(0, 0, 90));
    // Red and green count for nothing.
    const QImage noBlue = filled(4, 4, qRgb(255, 255, 0));
    EXPECT_EQ(prepareRunFromImages(noBlue, smoke, false, &out), RunSetupError::SourceEmpty);
    EXPECT_EQ(prepareRunFromImages(smoke, noBlue, false, &out), RunSetupError::TargetEmpty);
    // The roles follow the files, not the reversed run.
    EXPECT_EQ(prepareRunFromImages(noBlue, smoke, true, &out), RunSetupError::SourceEmpty);
    // Smoke only outside the 4 x 4 corner a run takes from a larger target.
    QImage outside = filled(6, 5, qRgb(0, 0, 0));
    outside.setPixel(5, 4, qRgb(0, 0, 255));
    EXPECT_EQ(prepareRunFromImages(smoke, outside, false, &out), RunSetupError::TargetEmpty);
    EXPECT_EQ(out.srcDensity.NumRows(), 1u); // untouched on refusal
    // One smoky pixel in the corner is enough.
    outside.setPixel(0, 0, qRgb(0, 0, 1));
    ASSERT_EQ(prepareRunFromImages(smoke, outside, false, &out), RunSetupError::None);
    EXPECT_EQ(out.sourceSize, QSize(4, 4));
    EXPECT_EQ(out.targetSize, QSize(6, 5));

    EXPECT_EQ(runSetupMessage(RunSetupError::SourceEmpty),
              "The source image has no smoke: its blue channel is zero everywhere.");
    EXPECT_EQ(runSetupMessage(RunSetupError::TargetEmpty),
              "The target image has no smoke: its blue channel is zero in the part a run uses.");
}

TEST(RunSetup, MakeSolverConfiguresInRunOrder) {
    Grid src(4, 4);
    Grid tgt(4, 4);
    src(1, 1) = 1.0;
    tgt(2, 2) = 0.5;
    SimParameters p;
    p[kVf] = 2;
    p[kVd] = 3;
    p[kVg] = 0.0001;
    p[kSigma] = 1.0;
    p[kDt] = 0.001;
    const auto solver = makeSolver(src, tgt, p);
    EXPECT_EQ(solver->m_vf, 2.0);
    EXPECT_EQ(solver->m_vd, 3.0);
    EXPECT_EQ(solver->m_vg, 0.0001);
    EXPECT_EQ(solver->m_dt, 0.001);
    EXPECT_EQ(solver->m_dtOverH, 0.001 / 0.25);
    EXPECT_GT(solver->m_blur->radius(), 0);
    EXPECT_EQ((*solver->m_density)(2, 2), 0.5); // mass equalised: 1.0 scaled to 0.5
    solver->step();
    EXPECT_TRUE(std::isfinite((*solver->m_density)(2, 2)));
}
