#pragma once

// checkpoint.vlck: everything a render needs to continue exactly where it
// stopped, as one versioned, checksummed file.
//
// Layout (little-endian):
//   header   magic "\x89VLCK\r\n\x1a", u32 format version, u32 0, u64 file length,
//            u32 CRC-32 of the preceding 24 bytes
//   sections tag (4 ASCII), u64 payload length, payload; in this order:
//            "RUN " what defines the run and shapes its output
//            "STEP" the step reached, the active target, the frames written,
//                   whether this step's frame is off the run's schedule
//            "GRID" (one per grid) name, rows, columns, the values as f64
//            "HIST" the metrics history behind the plot and the summary
//            "MCSV" length and CRC-32 of metrics.csv up to this step
//   trailer  u32 CRC-32 of everything before it
// A reader refuses another version, a file shorter than it says (truncated)
// and any mismatch or malformed content (corrupted), saying which.

#include "imagefingerprint.h"
#include "metrics.h"
#include "parameters.h"
#include "smokecolour.h"

#include "grid.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace velloran {

constexpr std::uint32_t kCheckpointVersion = 2;

struct CheckpointKeyframe {
    std::int64_t step = 0;
    ImageFingerprint image;
    std::int64_t blend = 0;

    bool operator==(const CheckpointKeyframe &other) const {
        return step == other.step && image == other.image && blend == other.blend;
    }
};

// The inputs and the options that decide what the run writes. A resumed run
// takes all of these from here.
struct CheckpointRun {
    ImageFingerprint source;
    ImageFingerprint target;
    bool reverse = false;
    SimParameters parameters;
    std::int32_t scheme = 0; // 0 literal, 1 sound
    std::vector<CheckpointKeyframe> keyframes;
    std::int32_t side = 0; // N of the N x N grid

    std::int32_t steps = 0; // where the run is meant to end
    std::int32_t every = 0;
    bool png = false;
    bool npy = false;
    bool exr = false;
    bool alpha = false;
    bool vdb = false;
    bool vdbFloat = false;
    QString vdbVelocityName;
    SmokeColour colour;
    QString namePattern;
    QString title;
    QString video; // absolute path, empty for none
    std::int32_t checkpointEvery = 0;
};

struct CheckpointGrid {
    QString name;
    Grid grid;
};

struct Checkpoint {
    CheckpointRun run;
    std::int32_t step = 0;
    std::int32_t activeTarget = 0;
    std::int64_t frames = 0; // frames written up to this step, its own included
    // A frame was written at this step although the run's schedule has none
    // there (the step a signal stopped the run at, or the end of a run that
    // may yet be extended): a run resumed beyond it removes that frame.
    bool extraFrame = false;
    std::vector<CheckpointGrid> grids;
    MetricsHistory::State history;
    std::uint64_t metricsBytes = 0; // metrics.csv length at this step
    std::uint32_t metricsCrc = 0;   // CRC-32 of those bytes

    // The grid of that name, or null.
    const Grid *grid(const QString &name) const;
};

QByteArray encodeCheckpoint(const Checkpoint &checkpoint);

enum class CheckpointStatus { Ok, NotACheckpoint, OtherVersion, Truncated, Corrupted };

struct CheckpointReadResult {
    CheckpointStatus status = CheckpointStatus::Ok;
    QString detail; // what exactly is wrong, for the message
};

// Fills *out only when the status is Ok.
CheckpointReadResult decodeCheckpoint(const QByteArray &bytes, Checkpoint *out);

// CRC-32 (the one of zip and PNG), continuing from `crc` (0 to start).
std::uint32_t crc32Of(const char *data, std::size_t size, std::uint32_t crc = 0);

} // namespace velloran
