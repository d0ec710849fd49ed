#include "checkpointfile.h"

#include "checkpointbytes.h"
#include "crc32.h"
#include "jobrecord.h"
#include "runsetup.h"

#include <QIODevice>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace velloran {

namespace {

using checkpointbytes::Reader;
using checkpointbytes::Writer;

constexpr char kMagic[8] = {'\x89', 'V', 'L', 'C', 'K', '\r', '\n', '\x1a'};
constexpr std::size_t kHeaderSize = kCheckpointHeaderSize;
static_assert(kHeaderSize == 8 + 4 + 4 + 8 + 4);
constexpr std::size_t kTrailerSize = 4;
// The largest grid of a run the programs accept: a face grid of the largest
// image (N + 3 along its faces).
constexpr std::uint32_t kMaxGridSide = static_cast<std::uint32_t>(kMaxImageSide) + 3;

void writeMetrics(Writer &w, const StepMetrics &m) {
    w.integer<std::int32_t>(m.step);
    w.f64(m.distance);
    w.f64(m.mass);
    w.f64(m.maxSpeed);
    w.f64(m.seconds);
    w.u8(m.finite);
    w.integer<std::int32_t>(m.substeps);
    w.integer<std::int32_t>(m.target);
}

StepMetrics readMetrics(Reader &r) {
    StepMetrics m;
    m.step = r.integer<std::int32_t>();
    m.distance = r.f64();
    m.mass = r.f64();
    m.maxSpeed = r.f64();
    m.seconds = r.f64();
    m.finite = r.u8();
    m.substeps = r.integer<std::int32_t>();
    m.target = r.integer<std::int32_t>();
    return m;
}
constexpr std::size_t kMetricsSize = 4 + 4 * 8 + 1 + 4 + 4;

void writeGrid(Writer &w, const CheckpointGrid &grid) {
    w.text(grid.name);
    w.integer(grid.grid.NumRows());
    w.integer(grid.grid.NumCols());
    const std::size_t count = static_cast<std::size_t>(grid.grid.NumRows()) * grid.grid.NumCols();
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        w.raw(grid.grid.data(), count * sizeof(double));
    } else {
        for (std::size_t k = 0; k < count; ++k) {
            w.f64(grid.grid.data()[k]);
        }
    }
}

bool readGrid(Reader &r, std::vector<CheckpointGrid> *grids) {
    const QString name = r.text();
    const auto rows = r.integer<std::uint32_t>();
    const auto cols = r.integer<std::uint32_t>();
    if (!r.ok() || rows == 0 || cols == 0 || rows > kMaxGridSide || cols > kMaxGridSide) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(rows) * cols;
    const char *values = r.take(count * sizeof(double));
    if (!values) {
        return false;
    }
    for (const CheckpointGrid &other : *grids) {
        if (other.name == name) {
            return false;
        }
    }
    CheckpointGrid grid{name, Grid(rows, cols)};
    double *out = grid.grid.data();
    for (std::size_t k = 0; k < count; ++k) {
        const auto bits = qFromLittleEndian<std::uint64_t>(values + k * 8);
        std::memcpy(&out[k], &bits, 8);
    }
    grids->push_back(std::move(grid));
    return true;
}

void writeHistory(Writer &w, const MetricsHistory::State &history) {
    w.integer<std::int32_t>(history.stride);
    w.u8(history.hasBest);
    writeMetrics(w, history.first);
    writeMetrics(w, history.latest);
    writeMetrics(w, history.best);
    w.integer(static_cast<std::uint32_t>(history.points.size()));
    for (const StepMetrics &point : history.points) {
        writeMetrics(w, point);
    }
}

void readHistory(Reader &r, MetricsHistory::State *history) {
    history->stride = r.integer<std::int32_t>();
    history->hasBest = r.u8();
    history->first = readMetrics(r);
    history->latest = readMetrics(r);
    history->best = readMetrics(r);
    const auto count = r.integer<std::uint32_t>();
    if (history->stride <= 0 || count > MetricsHistory::kMaxPoints + 1 ||
        count > r.left() / kMetricsSize) {
        r.fail();
        return;
    }
    history->points.reserve(count);
    for (std::uint32_t k = 0; k < count; ++k) {
        history->points.push_back(readMetrics(r));
    }
}

CheckpointReadResult corrupted(const QString &detail) {
    return {CheckpointStatus::Corrupted, detail};
}

} // namespace

const Grid *Checkpoint::grid(const QString &name) const {
    for (const CheckpointGrid &g : grids) {
        if (g.name == name) {
            return &g.grid;
        }
    }
    return nullptr;
}

QByteArray encodeCheckpoint(const Checkpoint &checkpoint) {
    // The grids are nearly all of it; reserving them saves the copies of a
    // growing buffer (17 MB at 512 x 512).
    std::size_t expected = 64 * 1024 + checkpoint.history.points.size() * kMetricsSize;
    for (const CheckpointGrid &grid : checkpoint.grids) {
        expected += 64 + sizeof(double) * grid.grid.NumRows() * grid.grid.NumCols();
    }
    Writer w(expected);
    w.raw(kMagic, sizeof kMagic);
    w.integer(kCheckpointVersion);
    w.integer<std::uint32_t>(0);
    w.integer<std::uint64_t>(0); // the file length, filled in below
    w.integer<std::uint32_t>(0); // the header's CRC, likewise

    w.section("JOB ", [&] {
        w.integer(kJobRecordVersion);
        checkpointbytes::writeJobRecord(w, checkpoint.run);
    });
    w.section("STEP", [&] {
        w.integer<std::int32_t>(checkpoint.step);
        w.integer<std::int32_t>(checkpoint.activeTarget);
        w.integer<std::int64_t>(checkpoint.frames);
        w.u8(checkpoint.extraFrame);
    });
    for (const CheckpointGrid &grid : checkpoint.grids) {
        w.section("GRID", [&] { writeGrid(w, grid); });
    }
    w.section("HIST", [&] { writeHistory(w, checkpoint.history); });
    w.section("MCSV", [&] {
        w.integer<std::uint64_t>(checkpoint.metricsBytes);
        w.integer<std::uint32_t>(checkpoint.metricsCrc);
    });

    QByteArray &bytes = w.result();
    const auto length = static_cast<std::uint64_t>(bytes.size()) + kTrailerSize;
    qToLittleEndian(length, bytes.data() + 16);
    qToLittleEndian(crc32Of(bytes.constData(), 24), bytes.data() + 24);
    w.integer(crc32Of(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return std::move(bytes);
}

CheckpointReadResult checkCheckpointHeader(const char *data, std::size_t size,
                                           std::uint64_t fileSize) {
    if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        return {CheckpointStatus::NotACheckpoint, QStringLiteral("it is not a checkpoint file")};
    }
    if (size < 12) {
        return {CheckpointStatus::Truncated,
                QStringLiteral("it is truncated (%1 bytes, not even a header)").arg(size)};
    }
    const auto version = qFromLittleEndian<std::uint32_t>(data + 8);
    if (version != kCheckpointVersion) {
        return {CheckpointStatus::OtherVersion,
                QStringLiteral("it has format version %1; this velloran-render reads version %2%3")
                    .arg(version)
                    .arg(kCheckpointVersion)
                    .arg(version < kCheckpointVersion
                             ? QStringLiteral(" (resume it with the velloran-render that "
                                              "wrote it, or start the render again)")
                             : QString())};
    }
    if (size < kHeaderSize) {
        return {CheckpointStatus::Truncated,
                QStringLiteral("it is truncated (%1 bytes, not even a header)").arg(size)};
    }
    if (crc32Of(data, 24) != qFromLittleEndian<std::uint32_t>(data + 24)) {
        return corrupted(QStringLiteral("its header is damaged"));
    }
    const auto length = qFromLittleEndian<std::uint64_t>(data + 16);
    if (length < kHeaderSize + kTrailerSize || length > kMaxCheckpointBytes) {
        return corrupted(
            QStringLiteral("its header gives an impossible length (%1 bytes)").arg(length));
    }
    if (fileSize < length) {
        return {CheckpointStatus::Truncated,
                QStringLiteral("it is truncated (%1 of %2 bytes)").arg(fileSize).arg(length)};
    }
    if (fileSize > length) {
        return corrupted(QStringLiteral("it has %1 bytes after its end").arg(fileSize - length));
    }
    return {};
}

namespace {

// The header and the trailer: what the file is, its version, its length and
// its checksums. Ok when the sections may be read.
CheckpointReadResult checkFrame(const char *data, std::size_t size) {
    CheckpointReadResult header = checkCheckpointHeader(data, size, size);
    if (header.status != CheckpointStatus::Ok) {
        return header;
    }
    const std::size_t body = size - kTrailerSize;
    if (crc32Of(data, body) != qFromLittleEndian<std::uint32_t>(data + body)) {
        return corrupted(QStringLiteral("its checksum does not match its content"));
    }
    return {};
}

// One section's payload into *out. Ok, OtherVersion for a job record of
// another version, or Corrupted saying what is wrong.
CheckpointReadResult readSection(const QByteArray &tag, Reader &r, Checkpoint *out) {
    if (tag == "JOB ") {
        const auto version = r.integer<std::uint32_t>();
        if (r.ok() && (version < kOldestJobRecordVersion || version > kJobRecordVersion)) {
            return {CheckpointStatus::OtherVersion,
                    QStringLiteral("its job record has version %1; this velloran-render reads "
                                   "versions %2 to %3")
                        .arg(version)
                        .arg(kOldestJobRecordVersion)
                        .arg(kJobRecordVersion)};
        }
        checkpointbytes::readJobRecord(r, version, &out->run);
    } else if (tag == "STEP") {
        out->step = r.integer<std::int32_t>();
        out->activeTarget = r.integer<std::int32_t>();
        out->frames = r.integer<std::int64_t>();
        out->extraFrame = r.u8();
        if (out->step < 0 || out->activeTarget < 0 || out->frames < 0) {
            r.fail();
        }
    } else if (tag == "GRID") {
        if (!readGrid(r, &out->grids)) {
            r.fail();
        }
    } else if (tag == "HIST") {
        readHistory(r, &out->history);
    } else if (tag == "MCSV") {
        out->metricsBytes = r.integer<std::uint64_t>();
        out->metricsCrc = r.integer<std::uint32_t>();
    } else {
        return corrupted(QStringLiteral("it has an unknown section '%1'")
                             .arg(QString::fromLatin1(tag.toPercentEncoding())));
    }
    if (!r.ok() || !r.atEnd()) {
        return corrupted(!r.why().isEmpty() ? r.why()
                                            : QStringLiteral("its section '%1' is malformed")
                                                  .arg(QString::fromLatin1(tag).trimmed()));
    }
    return {};
}

} // namespace

CheckpointReadResult decodeCheckpoint(const QByteArray &bytes, Checkpoint *out) {
    const auto size = static_cast<std::size_t>(bytes.size());
    const char *data = bytes.constData();
    CheckpointReadResult frame = checkFrame(data, size);
    if (frame.status != CheckpointStatus::Ok) {
        return frame;
    }
    // The checksum matched, so what follows was written as it is; a malformed
    // section still means damage (or another writer), never a crash.
    Checkpoint result;
    Reader sections(data + kHeaderSize, size - kTrailerSize - kHeaderSize);
    QString order; // the first letter of each section's tag, as met
    while (!sections.atEnd()) {
        const char *tagAt = sections.take(4);
        const auto payloadSize = sections.integer<std::uint64_t>();
        if (!sections.ok() || payloadSize > sections.left()) {
            return corrupted(QStringLiteral("a section runs past the end"));
        }
        const QByteArray tag(tagAt, 4);
        Reader r(sections.take(static_cast<std::size_t>(payloadSize)),
                 static_cast<std::size_t>(payloadSize));
        CheckpointReadResult section = readSection(tag, r, &result);
        if (section.status != CheckpointStatus::Ok) {
            return section;
        }
        order += QLatin1Char(tag[0]);
    }
    static const QRegularExpression kSectionOrder(QStringLiteral("^JSG+HM$"));
    if (!kSectionOrder.match(order).hasMatch()) {
        return corrupted(QStringLiteral("its sections are missing or out of order"));
    }
    *out = std::move(result);
    return {};
}

namespace {

// Reads up to `size` bytes into `data`; fewer only at the end of the file or
// on an error.
std::size_t readFully(QIODevice *device, char *data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const qint64 got = device->read(data + done, static_cast<qint64>(size - done));
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

CheckpointReadResult shorterThanSaid(std::uint64_t read, std::uint64_t length) {
    return {CheckpointStatus::Truncated,
            QStringLiteral("it is truncated (%1 of %2 bytes)").arg(read).arg(length)};
}

} // namespace

CheckpointReadResult readCheckpoint(QIODevice *device, Checkpoint *out) {
    const auto fileSize = static_cast<std::uint64_t>(device->size());
    char header[kHeaderSize];
    const std::size_t headerRead = readFully(device, header, sizeof header);
    CheckpointReadResult frame = checkCheckpointHeader(header, headerRead, fileSize);
    if (frame.status != CheckpointStatus::Ok) {
        return frame;
    }
    // The checksum first, a piece at a time: whatever a damaged or foreign
    // file says its length is, refusing it costs one small buffer.
    const auto length = qFromLittleEndian<std::uint64_t>(header + 16);
    const std::uint64_t body = length - kTrailerSize;
    std::uint32_t sum = crc32Of(header, sizeof header);
    std::uint64_t done = sizeof header;
    QByteArray piece(1 << 20, Qt::Uninitialized);
    while (done < body) {
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(body - done, piece.size()));
        const std::size_t got = readFully(device, piece.data(), want);
        sum = crc32Of(piece.constData(), got, sum);
        done += got;
        if (got < want) {
            return shorterThanSaid(done, length);
        }
    }
    char trailer[kTrailerSize];
    if (readFully(device, trailer, sizeof trailer) != sizeof trailer) {
        return shorterThanSaid(done, length);
    }
    if (sum != qFromLittleEndian<std::uint32_t>(trailer)) {
        return corrupted(QStringLiteral("its checksum does not match its content"));
    }
    // Only now is the whole file held in memory, and decoded (which checks it
    // again: the file may have changed in between).
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (!device->seek(0)) {
        return shorterThanSaid(0, length);
    }
    const std::size_t read = readFully(device, bytes.data(), static_cast<std::size_t>(length));
    if (read < length) {
        return shorterThanSaid(read, length);
    }
    return decodeCheckpoint(bytes, out);
}

} // namespace velloran
