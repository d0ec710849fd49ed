// Fuzz target: the checkpoint reader, from the file's bytes.

#include "checkpointfile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    velloran::Checkpoint checkpoint;
    const velloran::CheckpointReadResult result = velloran::decodeCheckpoint(bytes, &checkpoint);
    if (result.status == velloran::CheckpointStatus::Ok) {
        // A checkpoint that reads back must write the same bytes again.
        if (velloran::encodeCheckpoint(checkpoint) != bytes) {
            __builtin_trap();
        }
    }
    return 0;
}
