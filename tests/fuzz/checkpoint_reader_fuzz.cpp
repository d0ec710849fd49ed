// Fuzz target: the checkpoint reader, from the file's bytes, and the checks a
// resumed run puts its values through.

#include "checkpointcheck.h"
#include "checkpointfile.h"
#include "jobrecord.h"

#include <QBuffer>
#include <QtEndian>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    velloran::Checkpoint checkpoint;
    const velloran::CheckpointReadResult result = velloran::decodeCheckpoint(bytes, &checkpoint);
    // Read as a file (header, then the checksum a piece at a time, then the
    // whole), the same bytes get the same verdict.
    QByteArray file = bytes;
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);
    velloran::Checkpoint fromFile;
    if (velloran::readCheckpoint(&device, &fromFile).status != result.status) {
        __builtin_trap();
    }
    if (result.status != velloran::CheckpointStatus::Ok) {
        return 0;
    }
    // A checkpoint that reads back must write the same bytes again; one of an
    // older job record (still read) is written in the current record, and
    // those bytes must read back and write the same again.
    const QByteArray again = velloran::encodeCheckpoint(checkpoint);
    // The JOB section comes first: its record version follows the header
    // and the section's tag and length.
    const auto recordAt = static_cast<qsizetype>(velloran::kCheckpointHeaderSize + 4 + 8);
    if (qFromLittleEndian<std::uint32_t>(bytes.constData() + recordAt) ==
        velloran::kJobRecordVersion) {
        if (again != bytes) {
            __builtin_trap();
        }
    } else {
        velloran::Checkpoint reread;
        if (velloran::decodeCheckpoint(again, &reread).status != velloran::CheckpointStatus::Ok ||
            velloran::encodeCheckpoint(reread) != again) {
            __builtin_trap();
        }
    }
    QString detail;
    if (!velloran::checkCheckpointValues(checkpoint, &detail)) {
        return 0;
    }
    // What passes the checks makes a job a run can take: every parameter as a
    // spin box holds it (so sigma is positive), steps and frame interval
    // positive.
    const velloran::RenderJob job = velloran::jobOfRecord(checkpoint.run, QStringLiteral("out"));
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        if (!(velloran::clampParameter(k, job.parameters[k]) == job.parameters[k])) {
            __builtin_trap();
        }
    }
    if (!(job.parameters.sigma() > 0.0) || job.steps <= 0 || job.every <= 0) {
        __builtin_trap();
    }
    return 0;
}
