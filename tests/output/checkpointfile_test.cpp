#include "checkpointcheck.h"
#include "checkpointfile.h"
#include "jobrecord.h"

#include <QBuffer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace velloran;

namespace {

StepMetrics metricsAt(int step) {
    StepMetrics m;
    m.step = step;
    m.distance = 1.0 / (step + 3);
    m.mass = 12.5 + step;
    m.maxSpeed = 0.1 * step;
    m.seconds = 0.25 * step;
    m.finite = step != 7;
    m.substeps = 3 + step % 4;
    m.target = step / 4;
    return m;
}

Checkpoint sample() {
    Checkpoint c;
    c.run.source = {"src.png", "/data/src.png", QByteArray(32, '\x11')};
    c.run.target = {"tgt.png", "/data/tgt.png", QByteArray(32, '\x22')};
    c.run.keyframeImages = {{"b.png", "/data/b.png", QByteArray(32, '\x33')},
                            {"c.png", "/data/c\u00e9.png", QByteArray(32, '\x44')}};
    c.run.side = 3;
    RenderJob &job = c.run.job;
    job.sourcePath = "/data/src.png";
    job.targetPath = "/data/tgt.png";
    job.reverse = true;
    job.parameters[kVf] = 0.5;
    job.parameters[kDt] = 0.001;
    job.scheme = Scheme::Sound;
    job.keyframes = {{800, "/data/b.png", 0}, {1600, "/data/c\u00e9.png", 200}};
    job.steps = 600;
    job.every = 7;
    job.formats = {"png", "exr", "vdb"};
    job.alpha = true;
    job.vdbVelocityName = QStringLiteral("vel");
    job.colour = {1, 2, 3};
    job.names = *FrameNamePattern::parse("smoke.%04d", nullptr);
    job.title = "blob-to-s";
    job.video = "/data/v.mp4";
    job.checkpointEvery = 50;
    c.step = 300;
    c.activeTarget = 1;
    c.frames = 44;
    c.extraFrame = true;
    const std::pair<const char *, std::pair<std::uint32_t, std::uint32_t>> shapes[] = {
        {"density", {5, 5}}, {"u", {5, 6}}, {"v", {6, 5}}};
    double value = -2.0;
    for (const auto &[name, shape] : shapes) {
        CheckpointGrid grid{name, Grid(shape.first, shape.second)};
        for (std::uint32_t k = 0; k < shape.first * shape.second; ++k) {
            grid.grid.data()[k] = value += 0.37;
        }
        c.grids.push_back(std::move(grid));
    }
    c.grids[0].grid(1, 1) = -0.0;
    c.grids[0].grid(2, 1) = std::numeric_limits<double>::quiet_NaN();
    c.grids[1].grid(0, 0) = std::numeric_limits<double>::infinity();
    c.grids[2].grid(4, 5) = std::numeric_limits<double>::denorm_min();
    for (int step = 0; step <= 300; step += 2) {
        c.history.points.push_back(metricsAt(step));
    }
    c.history.first = metricsAt(0);
    c.history.latest = metricsAt(300);
    c.history.best = metricsAt(7);
    c.history.hasBest = true;
    c.history.stride = 2;
    c.metricsBytes = 123456789012ull;
    c.metricsCrc = 0xdeadbeef;
    return c;
}

bool sameBits(const Grid &a, const Grid &b) {
    return a.NumRows() == b.NumRows() && a.NumCols() == b.NumCols() &&
           std::memcmp(a.data(), b.data(), sizeof(double) * a.NumRows() * a.NumCols()) == 0;
}

bool sameMetrics(const StepMetrics &a, const StepMetrics &b) {
    return a.step == b.step && std::memcmp(&a.distance, &b.distance, 8) == 0 &&
           std::memcmp(&a.mass, &b.mass, 8) == 0 && std::memcmp(&a.maxSpeed, &b.maxSpeed, 8) == 0 &&
           std::memcmp(&a.seconds, &b.seconds, 8) == 0 && a.finite == b.finite &&
           a.substeps == b.substeps && a.target == b.target;
}

CheckpointStatus statusOf(const QByteArray &bytes, QString *detail = nullptr) {
    Checkpoint out;
    const CheckpointReadResult result = decodeCheckpoint(bytes, &out);
    if (detail) {
        *detail = result.detail;
    }
    return result.status;
}

// Replaces the CRCs after a deliberate edit, so that only the content is wrong.
void reseal(QByteArray *bytes) {
    qToLittleEndian(static_cast<std::uint64_t>(bytes->size()), bytes->data() + 16);
    qToLittleEndian(crc32Of(bytes->constData(), 24), bytes->data() + 24);
    const auto body = static_cast<std::size_t>(bytes->size()) - 4;
    qToLittleEndian(crc32Of(bytes->constData(), body), bytes->data() + body);
}

// The bytes of an earlier job record: the grey sample's record with its last
// `cut` bytes (what later versions appended) taken off.
QByteArray asEarlierRecord(QByteArray bytes, qsizetype cut, std::uint32_t version) {
    const qsizetype job = bytes.indexOf("JOB ");
    const auto length = qFromLittleEndian<std::uint64_t>(bytes.constData() + job + 4);
    bytes.remove(job + 12 + static_cast<qsizetype>(length) - cut, cut);
    qToLittleEndian<std::uint64_t>(length - static_cast<std::uint64_t>(cut),
                                   bytes.data() + job + 4);
    qToLittleEndian<std::uint32_t>(version, bytes.data() + job + 12);
    reseal(&bytes);
    return bytes;
}

// A grey run's colour part: mode, no palette, no fields.
constexpr qsizetype kGreyColourBytes = 1 + 1 + 4;

} // namespace

TEST(CheckpointFile, RoundTripKeepsEveryBit) {
    const Checkpoint original = sample();
    Checkpoint back;
    const CheckpointReadResult result = decodeCheckpoint(encodeCheckpoint(original), &back);
    ASSERT_EQ(result.status, CheckpointStatus::Ok) << result.detail.toStdString();

    const CheckpointRun &a = original.run;
    const CheckpointRun &b = back.run;
    EXPECT_EQ(b.source, a.source);
    EXPECT_EQ(b.target, a.target);
    EXPECT_EQ(b.keyframeImages, a.keyframeImages);
    EXPECT_EQ(b.side, a.side);
    EXPECT_EQ(std::tie(b.job.sourcePath, b.job.targetPath, b.job.reverse, b.job.scheme),
              std::tie(a.job.sourcePath, a.job.targetPath, a.job.reverse, a.job.scheme));
    EXPECT_EQ(b.job.parameters.values, a.job.parameters.values);
    EXPECT_EQ(b.job.keyframes, a.job.keyframes);
    EXPECT_EQ(std::tie(b.job.steps, b.job.every, b.job.checkpointEvery),
              std::tie(a.job.steps, a.job.every, a.job.checkpointEvery));
    EXPECT_EQ(std::tie(b.job.formats, b.job.alpha, b.job.colour),
              std::tie(a.job.formats, a.job.alpha, a.job.colour));
    EXPECT_EQ(b.job.names.text(), a.job.names.text());
    EXPECT_EQ(std::tie(b.job.title, b.job.video), std::tie(a.job.title, a.job.video));
    EXPECT_EQ(std::tie(b.job.vdbFloat, b.job.vdbVelocityName),
              std::tie(a.job.vdbFloat, a.job.vdbVelocityName));

    EXPECT_EQ(back.step, 300);
    EXPECT_EQ(back.activeTarget, 1);
    EXPECT_EQ(back.frames, 44);
    EXPECT_TRUE(back.extraFrame);
    ASSERT_EQ(back.grids.size(), 3u);
    for (const CheckpointGrid &grid : original.grids) {
        ASSERT_NE(back.grid(grid.name), nullptr);
        EXPECT_TRUE(sameBits(*back.grid(grid.name), grid.grid)) << grid.name.toStdString();
    }
    EXPECT_EQ(back.grid("pressure"), nullptr);

    ASSERT_EQ(back.history.points.size(), original.history.points.size());
    for (std::size_t k = 0; k < original.history.points.size(); ++k) {
        EXPECT_TRUE(sameMetrics(back.history.points[k], original.history.points[k])) << k;
    }
    EXPECT_TRUE(sameMetrics(back.history.first, original.history.first));
    EXPECT_TRUE(sameMetrics(back.history.latest, original.history.latest));
    EXPECT_TRUE(sameMetrics(back.history.best, original.history.best));
    EXPECT_EQ(back.history.hasBest, true);
    EXPECT_EQ(back.history.stride, 2);
    EXPECT_EQ(back.metricsBytes, original.metricsBytes);
    EXPECT_EQ(back.metricsCrc, original.metricsCrc);
}

TEST(CheckpointFile, OtherVersionsAndOtherFilesAreNamedAsSuch) {
    QByteArray bytes = encodeCheckpoint(sample());
    QString detail;
    QByteArray newer = bytes;
    qToLittleEndian<std::uint32_t>(kCheckpointVersion + 1, newer.data() + 8);
    EXPECT_EQ(statusOf(newer, &detail), CheckpointStatus::OtherVersion);
    EXPECT_TRUE(detail.contains(QStringLiteral("format version %1").arg(kCheckpointVersion + 1)))
        << detail.toStdString();
    EXPECT_TRUE(detail.contains(QStringLiteral("reads version %1").arg(kCheckpointVersion)))
        << detail.toStdString();
    // Version 2 recorded the job field by field: refused, saying what to do.
    QByteArray older = bytes;
    qToLittleEndian<std::uint32_t>(2, older.data() + 8);
    EXPECT_EQ(statusOf(older, &detail), CheckpointStatus::OtherVersion);
    EXPECT_TRUE(detail.contains("resume it with the velloran-render that wrote it, or start the "
                                "render again"))
        << detail.toStdString();
    // The job record has a version of its own.
    QByteArray laterJob = bytes;
    qToLittleEndian<std::uint32_t>(kJobRecordVersion + 1,
                                   laterJob.data() + laterJob.indexOf("JOB ") + 12);
    reseal(&laterJob);
    EXPECT_EQ(statusOf(laterJob, &detail), CheckpointStatus::OtherVersion);
    EXPECT_TRUE(
        detail.contains(QStringLiteral("its job record has version %1").arg(kJobRecordVersion + 1)))
        << detail.toStdString();

    EXPECT_EQ(statusOf(QByteArray("<configuration/>")), CheckpointStatus::NotACheckpoint);
    EXPECT_EQ(statusOf(QByteArray()), CheckpointStatus::NotACheckpoint);
    EXPECT_EQ(statusOf(bytes.left(10)), CheckpointStatus::Truncated);
}

// The obstacle image is recorded like the others; a record of the version
// before obstacles (the same bytes without the obstacles' flag) still reads,
// as a run without them.
TEST(CheckpointFile, ObstaclesAreRecordedAndEarlierRecordsReadWithout) {
    Checkpoint original = sample();
    original.run.obstacles = ImageFingerprint{"wall.png", "/data/wall.png", QByteArray(32, 'w')};
    original.run.job.obstaclesPath = "/data/wall.png";
    Checkpoint back;
    ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(original), &back).status, CheckpointStatus::Ok);
    EXPECT_EQ(back.run.obstacles, original.run.obstacles);
    EXPECT_EQ(back.run.job.obstaclesPath, QStringLiteral("/data/wall.png"));

    QByteArray bytes = asEarlierRecord(encodeCheckpoint(sample()), 1 + kGreyColourBytes, 1);
    const qsizetype job = bytes.indexOf("JOB ");
    Checkpoint old;
    const CheckpointReadResult result = decodeCheckpoint(bytes, &old);
    ASSERT_EQ(result.status, CheckpointStatus::Ok) << result.detail.toStdString();
    EXPECT_FALSE(old.run.obstacles.has_value());
    EXPECT_TRUE(old.run.job.obstaclesPath.isEmpty());
    EXPECT_EQ(old.run.job.checkpointEvery, 50);
    qToLittleEndian<std::uint32_t>(0, bytes.data() + job + 12);
    reseal(&bytes);
    EXPECT_EQ(statusOf(bytes), CheckpointStatus::OtherVersion);
}

// A colour run records its mode, palette and every field with its images; a
// record from before colour runs reads as a grey run. Fields the options
// could not make are refused.
TEST(CheckpointFile, ColourRunsAreRecordedAndEarlierRecordsReadGrey) {
    Checkpoint original = sample();
    original.run.job.keyframes.clear();
    original.run.keyframeImages.clear();
    original.activeTarget = 0;
    original.grids[0].grid(2, 1) = 0.0; // values a run can hold
    original.grids[1].grid(0, 0) = 0.0;
    original.run.job.colourMode = ColourMode::Dark;
    original.run.job.palette = PaletteRequest{{}, 2};
    original.run.fields = {
        {{255, 0, 0}, original.run.source, original.run.target},
        {{0, 0, 255}, original.run.source, {"b.png", "/data/b.png", QByteArray(32, 'b')}}};
    Checkpoint back;
    ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(original), &back).status, CheckpointStatus::Ok);
    EXPECT_EQ(back.run.job.colourMode, ColourMode::Dark);
    EXPECT_EQ(back.run.job.palette, original.run.job.palette);
    ASSERT_EQ(back.run.fields.size(), 2u);
    EXPECT_EQ(back.run.fields[1].colour, (SmokeColour{0, 0, 255}));
    EXPECT_EQ(back.run.fields[1].target, original.run.fields[1].target);
    EXPECT_TRUE(back.run.job.fields.empty()); // a palette splits its target again
    QString detail;
    EXPECT_TRUE(checkCheckpointValues(back, &detail)) << detail.toStdString();
    // Given field by field, the fields are the job's, and the run has no
    // source and target of its own.
    original.run.job.palette.reset();
    ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(original), &back).status, CheckpointStatus::Ok);
    ASSERT_EQ(back.run.job.fields.size(), 2u);
    EXPECT_EQ(back.run.job.fields[1].targetPath, QStringLiteral("/data/b.png"));
    EXPECT_TRUE(back.run.job.sourcePath.isEmpty());
    // Their keyframes stand step by step in field order, which names their
    // fields; a record that cannot be read so is refused.
    Checkpoint keyed = original;
    keyed.run.job.reverse = false;
    keyed.run.job.keyframes = {{800, "/data/b.png", 5}, {800, "/data/c.png", 5}};
    keyed.run.keyframeImages = sample().run.keyframeImages;
    Checkpoint read;
    ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(keyed), &read).status, CheckpointStatus::Ok);
    ASSERT_EQ(read.run.job.keyframes.size(), 2u);
    EXPECT_EQ(read.run.job.keyframes[1].field, (SmokeColour{0, 0, 255}));
    EXPECT_TRUE(checkCheckpointValues(read, &detail)) << detail.toStdString();
    for (const auto &[blend, step] : {std::pair{5, 900}, std::pair{6, 800}}) {
        Checkpoint forged = keyed;
        forged.run.job.keyframes[1].blend = blend;
        forged.run.job.keyframes[1].step = step;
        ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(forged), &read).status, CheckpointStatus::Ok);
        EXPECT_FALSE(checkCheckpointValues(read, &detail)) << step;
    }
    keyed.run.job.keyframes.pop_back();
    keyed.run.keyframeImages.pop_back();
    ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(keyed), &read).status, CheckpointStatus::Ok);
    EXPECT_FALSE(checkCheckpointValues(read, &detail));
    EXPECT_TRUE(detail.contains("not a whole number of steps of 2 fields")) << detail.toStdString();

    Checkpoint twice = back;
    twice.run.fields[1].colour = twice.run.fields[0].colour;
    EXPECT_FALSE(checkCheckpointValues(twice, &detail));
    EXPECT_TRUE(detail.contains("the colour #ff0000 twice")) << detail.toStdString();
    Checkpoint unnamed = back;
    unnamed.run.fields[1].source.sha256.clear();
    EXPECT_FALSE(checkCheckpointValues(unnamed, &detail));
    EXPECT_TRUE(detail.contains("source image of field #0000ff")) << detail.toStdString();

    Checkpoint old;
    ASSERT_EQ(
        decodeCheckpoint(asEarlierRecord(encodeCheckpoint(sample()), kGreyColourBytes, 2), &old)
            .status,
        CheckpointStatus::Ok);
    EXPECT_TRUE(old.run.fields.empty());
    EXPECT_EQ(old.run.job.sourcePath, QStringLiteral("/data/src.png"));
    EXPECT_EQ(old.run.job.checkpointEvery, 50);
}

TEST(CheckpointFile, EveryTruncationIsReportedAsTruncation) {
    const QByteArray bytes = encodeCheckpoint(sample());
    for (qsizetype size = 8; size < bytes.size(); size += size < 64 ? 1 : 97) {
        QString detail;
        EXPECT_EQ(statusOf(bytes.left(size), &detail), CheckpointStatus::Truncated) << size;
        if (size >= 28) {
            EXPECT_TRUE(
                detail.contains(QStringLiteral("%1 of %2 bytes").arg(size).arg(bytes.size())))
                << detail.toStdString();
        }
    }
    EXPECT_EQ(statusOf(bytes.left(bytes.size() - 1)), CheckpointStatus::Truncated);
}

TEST(CheckpointFile, AnyDamagedByteIsRefused) {
    const QByteArray bytes = encodeCheckpoint(sample());
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        QByteArray damaged = bytes;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x04);
        const CheckpointStatus status = statusOf(damaged);
        if (at < 8) {
            EXPECT_EQ(status, CheckpointStatus::NotACheckpoint) << at;
        } else if (at < 12) {
            EXPECT_EQ(status, CheckpointStatus::OtherVersion) << at;
        } else {
            EXPECT_EQ(status, CheckpointStatus::Corrupted) << at;
        }
    }
    QString detail;
    EXPECT_EQ(statusOf(bytes + QByteArray("x"), &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("1 bytes after its end")) << detail.toStdString();
}

TEST(CheckpointFile, MalformedContentUnderAValidChecksumIsRefused) {
    const QByteArray bytes = encodeCheckpoint(sample());
    const qsizetype firstGrid = bytes.indexOf("GRID");
    ASSERT_GT(firstGrid, 0);
    QString detail;

    // A grid that claims a huge shape.
    QByteArray huge = bytes;
    const qsizetype shapeAt = firstGrid + 4 + 8 + 4 + 7; // tag, length, name length, "density"
    qToLittleEndian<std::uint32_t>(0xffffffffu, huge.data() + shapeAt);
    reseal(&huge);
    EXPECT_EQ(statusOf(huge, &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("'GRID' is malformed")) << detail.toStdString();

    // A section whose length runs past the end.
    QByteArray overlong = bytes;
    qToLittleEndian<std::uint64_t>(1ull << 40, overlong.data() + firstGrid + 4);
    reseal(&overlong);
    EXPECT_EQ(statusOf(overlong, &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("runs past the end")) << detail.toStdString();

    // An unknown section.
    QByteArray unknown = bytes;
    unknown.replace(firstGrid, 4, "GRIT");
    reseal(&unknown);
    EXPECT_EQ(statusOf(unknown, &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("unknown section 'GRIT'")) << detail.toStdString();

    // No grids at all, and a grid named twice.
    Checkpoint gridless = sample();
    gridless.grids.clear();
    EXPECT_EQ(statusOf(encodeCheckpoint(gridless), &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("missing or out of order")) << detail.toStdString();
    Checkpoint twice = sample();
    twice.grids.push_back(twice.grids.front());
    EXPECT_EQ(statusOf(encodeCheckpoint(twice)), CheckpointStatus::Corrupted);

    // A name pattern no render takes (it would write outside the folder).
    QByteArray slash = bytes;
    slash.replace(slash.indexOf("smoke.%04d"), 6, "smoke/");
    reseal(&slash);
    EXPECT_EQ(statusOf(slash, &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("its frame names: --name 'smoke/%04d' contains a slash"))
        << detail.toStdString();

    // Values a run cannot have.
    Checkpoint negative = sample();
    negative.step = -1;
    EXPECT_EQ(statusOf(encodeCheckpoint(negative)), CheckpointStatus::Corrupted);
    Checkpoint noSteps = sample();
    noSteps.run.job.every = 0;
    EXPECT_EQ(statusOf(encodeCheckpoint(noSteps)), CheckpointStatus::Corrupted);
}

// From a file the header decides how much is read: what it says must be the
// file's size and within what any run writes, or nothing more is read; the
// rest is refused as decodeCheckpoint refuses it.
TEST(CheckpointFile, ReadFromAFileTheHeaderBoundsWhatIsRead) {
    const QByteArray bytes = encodeCheckpoint(sample());
    const auto readFrom = [](QByteArray content, QString *detail = nullptr) {
        QBuffer device(&content);
        device.open(QIODevice::ReadOnly);
        Checkpoint out;
        const CheckpointReadResult result = readCheckpoint(&device, &out);
        if (detail) {
            *detail = result.detail;
        }
        return result.status;
    };
    EXPECT_EQ(readFrom(bytes), CheckpointStatus::Ok);
    EXPECT_EQ(readFrom(bytes.left(bytes.size() - 1)), CheckpointStatus::Truncated);
    EXPECT_EQ(readFrom(bytes.left(20)), CheckpointStatus::Truncated);
    QString detail;
    EXPECT_EQ(readFrom(bytes + "x", &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("1 bytes after its end")) << detail.toStdString();
    QByteArray damaged = bytes;
    damaged[bytes.size() / 2] = static_cast<char>(damaged[bytes.size() / 2] ^ 0x10);
    EXPECT_EQ(readFrom(damaged, &detail), CheckpointStatus::Corrupted);
    EXPECT_TRUE(detail.contains("checksum")) << detail.toStdString();

    QByteArray header = bytes.left(kCheckpointHeaderSize);
    for (const std::uint64_t length : {kMaxCheckpointBytes, kMaxCheckpointBytes + 1}) {
        qToLittleEndian(length, header.data() + 16);
        qToLittleEndian(crc32Of(header.constData(), 24), header.data() + 24);
        EXPECT_EQ(checkCheckpointHeader(header.constData(), kCheckpointHeaderSize, length).status,
                  length == kMaxCheckpointBytes ? CheckpointStatus::Ok
                                                : CheckpointStatus::Corrupted);
    }
}

// A checkpoint is input: under a valid checksum, values no render writes are
// refused, and the refusal says which value.
TEST(CheckpointValues, ValuesNoRenderWritesAreRefused) {
    Checkpoint valid = sample();
    valid.run.job.reverse = false;
    for (CheckpointGrid &grid : valid.grids) {
        std::fill(grid.grid.data(), grid.grid.data() + grid.grid.NumRows() * grid.grid.NumCols(),
                  0.5);
    }
    QString detail;
    ASSERT_TRUE(checkCheckpointValues(valid, &detail)) << detail.toStdString();

    const std::pair<const char *, void (*)(Checkpoint &)> cases[] = {
        {"its sigma 0 is not a value the run can take (0.1 .. 10, 1 decimal(s))",
         [](Checkpoint &c) { c.run.job.parameters[kSigma] = 0.0; }},
        {"its vf nan", [](Checkpoint &c) { c.run.job.parameters[kVf] = std::nan(""); }},
        {"its dt 0.00123456", [](Checkpoint &c) { c.run.job.parameters[kDt] = 0.00123456; }},
        {"its scheme 2", [](Checkpoint &c) { c.run.job.scheme = static_cast<Scheme>(2); }},
        {"its keyframe 2 has step 800", [](Checkpoint &c) { c.run.job.keyframes[1].step = 800; }},
        {"keyframes in a reverse run", [](Checkpoint &c) { c.run.job.reverse = true; }},
        {"its steps 100000001", [](Checkpoint &c) { c.run.job.steps = 100000001; }},
        {"without PNG frames", [](Checkpoint &c) { c.run.job.formats = {"exr"}; }},
        {"its frame formats 'vdb,png'",
         [](Checkpoint &c) {
             c.run.job.formats = {"vdb", "png"};
         }},
        {"its frame formats 'png,gif'",
         [](Checkpoint &c) {
             c.run.job.formats = {"png", "gif"};
         }},
        {"its velocity grid name 'v' is neither",
         [](Checkpoint &c) { c.run.job.vdbVelocityName = "v"; }},
        {"its video file 'v.mp4' is not an absolute path",
         [](Checkpoint &c) { c.run.job.video = "v.mp4"; }},
        {"its target image is not recorded properly",
         [](Checkpoint &c) { c.run.target.absolutePath = "tgt.png"; }},
        {"its obstacle image is not recorded properly",
         [](Checkpoint &c) {
             c.run.obstacles = ImageFingerprint{"w.png", "/w.png", "short"};
         }},
        {"it has obstacles in a literal run",
         [](Checkpoint &c) {
             c.run.obstacles = ImageFingerprint{"w.png", "/w.png", QByteArray(32, 'w')};
             c.run.job.scheme = Scheme::Literal;
         }},
        {"its grid 'u' holds a value that is not finite",
         [](Checkpoint &c) { c.grids[1].grid(2, 2) = std::numeric_limits<double>::infinity(); }},
        {"its metrics history is malformed", [](Checkpoint &c) { c.history.stride = 3; }},
    };
    for (const auto &[expected, forge] : cases) {
        Checkpoint forged = valid;
        forge(forged);
        // Each reads back as written: only the checks stop it.
        Checkpoint read;
        ASSERT_EQ(decodeCheckpoint(encodeCheckpoint(forged), &read).status, CheckpointStatus::Ok);
        EXPECT_FALSE(checkCheckpointValues(read, &detail)) << expected;
        EXPECT_TRUE(detail.contains(QLatin1String(expected)))
            << expected << " / " << detail.toStdString();
    }
}
