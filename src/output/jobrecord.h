#pragma once

// A render's job as its checkpoint records it, and back: one record, written
// and read field by field in one place and versioned on its own
// (kJobRecordVersion), so that a change to the job is a change here and a new
// record version, not a change to the checkpoint's other sections.

#include "checkpointfile.h"

#include <QString>

#include <cstdint>

namespace velloran {

// Version 2 added the obstacle image at the record's end, version 3 a colour
// run's fields after it; earlier records (grey runs, version 1 also without
// obstacles) are still read.
constexpr std::uint32_t kJobRecordVersion = 3;
constexpr std::uint32_t kOldestJobRecordVersion = 1;

// Fingerprints the job's images (source, target, keyframes, obstacles, each
// colour field's) and records the rest; a palette job comes with the fields
// its palette made. False, with *error, if an image cannot be read.
bool recordRun(const RenderJob &job, int side, CheckpointRun *run, QString *error);

// The job a resumed run continues: everything from the record (the images at
// the places they had when the run started), the output in `folder`.
RenderJob jobOfRecord(const CheckpointRun &run, const QString &folder);

namespace checkpointbytes {
class Writer;
class Reader;

// The record after its version. The reader checks the shape of what it reads
// (a pattern that does not parse, a length that cannot be, refused with
// Reader::refuse); checkCheckpointValues checks the values.
void writeJobRecord(Writer &w, const CheckpointRun &run);
void readJobRecord(Reader &r, std::uint32_t version, CheckpointRun *run);
} // namespace checkpointbytes

} // namespace velloran
