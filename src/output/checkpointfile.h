#pragma once

// checkpoint.vlck: everything a render needs to continue exactly where it
// stopped, as one versioned, checksummed file.
//
// Layout (little-endian):
//   header   magic "\x89VLCK\r\n\x1a", u32 format version, u32 0, u64 file length,
//            u32 CRC-32 of the preceding 24 bytes
//   sections tag (4 ASCII), u64 payload length, payload; in this order:
//            "JOB " the job record: u32 record version, then the job and its
//                   images' fingerprints (jobrecord.cpp)
//            "STEP" the step reached, the active target, the frames written,
//                   whether this step's frame is off the run's schedule
//            "GRID" (one per grid) name, rows, columns, the values as f64
//            "HIST" the metrics history behind the plot and the summary
//            "MCSV" length and CRC-32 of metrics.csv up to this step
//   trailer  u32 CRC-32 of everything before it
// A reader refuses another version of the file or of its job record, a file
// shorter than it says (truncated) and any mismatch or malformed content
// (corrupted), saying which. Version 2 recorded the job field by field; a
// checkpoint of that version is refused, not converted.

#include "crc32.h"
#include "imagefingerprint.h"
#include "job.h"
#include "metrics.h"
#include "parameters.h"
#include "runsetup.h"
#include "smokecolour.h"

#include "grid.h"

#include <QByteArray>
#include <QString>

class QIODevice;

#include <cstdint>
#include <optional>
#include <vector>

namespace velloran {

constexpr std::uint32_t kCheckpointVersion = 3;

// The run as the checkpoint records it: its job, and the images it was made
// from by content. A resumed run takes all of it from here (jobrecord.h).
struct RecordedField {
    SmokeColour colour;
    ImageFingerprint source;
    ImageFingerprint target;
};

struct CheckpointRun {
    // Its image paths are the fingerprints' absolute paths; the output folder,
    // quiet and the note of defaulted sound parameters are not recorded.
    RenderJob job;
    ImageFingerprint source;
    ImageFingerprint target;
    std::vector<ImageFingerprint> keyframeImages; // one per job.keyframes
    std::optional<ImageFingerprint> obstacles;    // when job.obstaclesPath is set
    std::int32_t side = 0;                        // N of the N x N grid
    // A colour run's fields in order, each colour with its two images; a
    // palette run's are the colours it found, each with the run's source and
    // target. Empty: a grey run.
    std::vector<RecordedField> fields;
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

// The header's bytes: magic, versions, length and the header's own CRC.
constexpr std::size_t kCheckpointHeaderSize = 28;

// The longest checkpoint written or read: 256 grids of the largest run the
// programs accept (a grey run holds eight, one of eight colour fields 43,
// plus the obstacles, its targets and keyframes), about 8.6 GB. A header that
// says more is damaged, not a run.
constexpr std::uint64_t kMaxCheckpointBytes =
    std::uint64_t{256} * (kMaxImageSide + 3) * (kMaxImageSide + 3) * sizeof(double);

// The header of a file of `fileSize` bytes, of which `size` are at `data`:
// Ok when it is a checkpoint of this version whose length is the file's size
// and at most kMaxCheckpointBytes, so that the rest may be read.
CheckpointReadResult checkCheckpointHeader(const char *data, std::size_t size,
                                           std::uint64_t fileSize);

// Reads a checkpoint from an open file: the header first, then the checksum
// over the rest a piece at a time, and only when both hold the whole file
// into memory to decode it. A file that is refused never costs more than a
// megabyte however long it is or says it is. Fills *out only when Ok.
CheckpointReadResult readCheckpoint(QIODevice *device, Checkpoint *out);

} // namespace velloran
