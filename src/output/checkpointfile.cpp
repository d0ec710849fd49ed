#include "checkpointfile.h"

#include <QRegularExpression>
#include <QtEndian>

#include <zlib.h>

#include <cstring>
#include <limits>

namespace velloran {

namespace {

constexpr char kMagic[8] = {'\x89', 'V', 'L', 'C', 'K', '\r', '\n', '\x1a'};
constexpr std::size_t kHeaderSize = 8 + 4 + 4 + 8 + 4;
constexpr std::size_t kTrailerSize = 4;
// Generous bounds that keep a damaged length from asking for absurd memory.
constexpr std::uint32_t kMaxGridSide = 1u << 14;
constexpr std::uint32_t kMaxTextBytes = 1u << 20;

class Writer {
public:
    explicit Writer(std::size_t expectedSize) {
        m_bytes.reserve(static_cast<qsizetype>(expectedSize));
    }

    void raw(const void *data, std::size_t size) {
        m_bytes.append(static_cast<const char *>(data), static_cast<qsizetype>(size));
    }
    template <class T> void integer(T value) {
        char out[sizeof(T)];
        qToLittleEndian(value, out);
        raw(out, sizeof(T));
    }
    void u8(bool value) { integer<std::uint8_t>(value ? 1 : 0); }
    void f64(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, 8);
        integer(bits);
    }
    void bytes(const QByteArray &data) {
        integer(static_cast<std::uint32_t>(data.size()));
        raw(data.constData(), static_cast<std::size_t>(data.size()));
    }
    void text(const QString &value) { bytes(value.toUtf8()); }

    // A section: tag, length, then whatever `body` writes.
    template <class Body> void section(const char (&tag)[5], Body &&body) {
        raw(tag, 4);
        const qsizetype lengthAt = m_bytes.size();
        integer<std::uint64_t>(0);
        body();
        const auto length = static_cast<std::uint64_t>(m_bytes.size() - lengthAt - 8);
        qToLittleEndian(length, m_bytes.data() + lengthAt);
    }

    QByteArray &result() { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Reads what Writer writes. Every read is checked against the bytes left; the
// first failure makes all later reads fail too, so a caller checks ok() once.
class Reader {
public:
    Reader(const char *data, std::size_t size)
        : m_data(data)
        , m_left(size) {}

    bool ok() const { return m_ok; }
    bool atEnd() const { return m_left == 0; }
    std::size_t left() const { return m_left; }
    void fail() {
        m_ok = false;
        m_left = 0;
    }

    const char *take(std::size_t size) {
        if (!m_ok || size > m_left) {
            fail();
            return nullptr;
        }
        const char *at = m_data;
        m_data += size;
        m_left -= size;
        return at;
    }
    template <class T> T integer() {
        const char *at = take(sizeof(T));
        return at ? qFromLittleEndian<T>(at) : T(0);
    }
    bool u8() {
        const auto value = integer<std::uint8_t>();
        if (value > 1) {
            fail();
        }
        return value == 1;
    }
    double f64() {
        const auto bits = integer<std::uint64_t>();
        double value = 0.0;
        std::memcpy(&value, &bits, 8);
        return value;
    }
    QByteArray bytes() {
        const auto size = integer<std::uint32_t>();
        if (size > kMaxTextBytes) {
            fail();
            return QByteArray();
        }
        const char *at = take(size);
        return at ? QByteArray(at, static_cast<qsizetype>(size)) : QByteArray();
    }
    QString text() { return QString::fromUtf8(bytes()); }

private:
    const char *m_data;
    std::size_t m_left;
    bool m_ok = true;
};

void writeFingerprint(Writer &w, const ImageFingerprint &image) {
    w.text(image.path);
    w.text(image.absolutePath);
    w.bytes(image.sha256);
}

ImageFingerprint readFingerprint(Reader &r) {
    ImageFingerprint image;
    image.path = r.text();
    image.absolutePath = r.text();
    image.sha256 = r.bytes();
    return image;
}

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

void writeRun(Writer &w, const CheckpointRun &run) {
    writeFingerprint(w, run.source);
    writeFingerprint(w, run.target);
    w.u8(run.reverse);
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        w.f64(run.parameters[k]);
    }
    w.integer<std::int32_t>(run.scheme);
    w.integer(static_cast<std::uint32_t>(run.keyframes.size()));
    for (const CheckpointKeyframe &keyframe : run.keyframes) {
        w.integer<std::int64_t>(keyframe.step);
        writeFingerprint(w, keyframe.image);
        w.integer<std::int64_t>(keyframe.blend);
    }
    w.integer<std::int32_t>(run.side);
    w.integer<std::int32_t>(run.steps);
    w.integer<std::int32_t>(run.every);
    w.u8(run.png);
    w.u8(run.npy);
    w.u8(run.exr);
    w.u8(run.alpha);
    w.integer(run.colour.red);
    w.integer(run.colour.green);
    w.integer(run.colour.blue);
    w.text(run.namePattern);
    w.text(run.title);
    w.text(run.video);
    w.integer<std::int32_t>(run.checkpointEvery);
    w.u8(run.vdb);
    w.u8(run.vdbFloat);
    w.text(run.vdbVelocityName);
}

void readRun(Reader &r, CheckpointRun *run) {
    run->source = readFingerprint(r);
    run->target = readFingerprint(r);
    run->reverse = r.u8();
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        run->parameters[k] = r.f64();
    }
    run->scheme = r.integer<std::int32_t>();
    const auto keyframes = r.integer<std::uint32_t>();
    // Each keyframe takes at least 28 bytes; a larger count is damage.
    if (keyframes > r.left() / 28) {
        r.fail();
    }
    for (std::uint32_t k = 0; k < keyframes && r.ok(); ++k) {
        CheckpointKeyframe keyframe;
        keyframe.step = r.integer<std::int64_t>();
        keyframe.image = readFingerprint(r);
        keyframe.blend = r.integer<std::int64_t>();
        run->keyframes.push_back(keyframe);
    }
    run->side = r.integer<std::int32_t>();
    run->steps = r.integer<std::int32_t>();
    run->every = r.integer<std::int32_t>();
    run->png = r.u8();
    run->npy = r.u8();
    run->exr = r.u8();
    run->alpha = r.u8();
    run->colour.red = r.integer<std::uint8_t>();
    run->colour.green = r.integer<std::uint8_t>();
    run->colour.blue = r.integer<std::uint8_t>();
    run->namePattern = r.text();
    run->title = r.text();
    run->video = r.text();
    run->checkpointEvery = r.integer<std::int32_t>();
    run->vdb = r.u8();
    run->vdbFloat = r.u8();
    run->vdbVelocityName = r.text();
    if (run->side <= 0 || run->steps <= 0 || run->every <= 0 || run->checkpointEvery < 0) {
        r.fail();
    }
}

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

std::uint32_t crc32Of(const char *data, std::size_t size, std::uint32_t crc) {
    // zlib takes lengths as uInt: feed large buffers in pieces.
    while (size > 0) {
        const auto piece =
            static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
        crc =
            static_cast<std::uint32_t>(::crc32(crc, reinterpret_cast<const Bytef *>(data), piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

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

    w.section("RUN ", [&] { writeRun(w, checkpoint.run); });
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

CheckpointReadResult decodeCheckpoint(const QByteArray &bytes, Checkpoint *out) {
    const auto size = static_cast<std::size_t>(bytes.size());
    const char *data = bytes.constData();
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
                QStringLiteral("it has format version %1; this velloran-render reads version %2")
                    .arg(version)
                    .arg(kCheckpointVersion)};
    }
    if (size < kHeaderSize) {
        return {CheckpointStatus::Truncated,
                QStringLiteral("it is truncated (%1 bytes, not even a header)").arg(size)};
    }
    if (crc32Of(data, 24) != qFromLittleEndian<std::uint32_t>(data + 24)) {
        return corrupted(QStringLiteral("its header is damaged"));
    }
    const auto length = qFromLittleEndian<std::uint64_t>(data + 16);
    if (length < kHeaderSize + kTrailerSize) {
        return corrupted(QStringLiteral("its header gives an impossible length"));
    }
    if (size < length) {
        return {CheckpointStatus::Truncated,
                QStringLiteral("it is truncated (%1 of %2 bytes)").arg(size).arg(length)};
    }
    if (size > length) {
        return corrupted(QStringLiteral("it has %1 bytes after its end")
                             .arg(size - static_cast<std::size_t>(length)));
    }
    const std::size_t body = size - kTrailerSize;
    if (crc32Of(data, body) != qFromLittleEndian<std::uint32_t>(data + body)) {
        return corrupted(QStringLiteral("its checksum does not match its content"));
    }

    // The checksum matched, so what follows was written as it is; a malformed
    // section still means damage (or another writer), never a crash.
    Checkpoint result;
    Reader sections(data + kHeaderSize, body - kHeaderSize);
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
        if (tag == "RUN ") {
            readRun(r, &result.run);
        } else if (tag == "STEP") {
            result.step = r.integer<std::int32_t>();
            result.activeTarget = r.integer<std::int32_t>();
            result.frames = r.integer<std::int64_t>();
            result.extraFrame = r.u8();
            if (result.step < 0 || result.activeTarget < 0 || result.frames < 0) {
                r.fail();
            }
        } else if (tag == "GRID") {
            if (!readGrid(r, &result.grids)) {
                r.fail();
            }
        } else if (tag == "HIST") {
            readHistory(r, &result.history);
        } else if (tag == "MCSV") {
            result.metricsBytes = r.integer<std::uint64_t>();
            result.metricsCrc = r.integer<std::uint32_t>();
        } else {
            return corrupted(QStringLiteral("it has an unknown section '%1'")
                                 .arg(QString::fromLatin1(tag.toPercentEncoding())));
        }
        if (!r.ok() || !r.atEnd()) {
            return corrupted(QStringLiteral("its section '%1' is malformed")
                                 .arg(QString::fromLatin1(tag).trimmed()));
        }
        order += QLatin1Char(tag[0]);
    }
    static const QRegularExpression kSectionOrder(QStringLiteral("^RSG+HM$"));
    if (!kSectionOrder.match(order).hasMatch()) {
        return corrupted(QStringLiteral("its sections are missing or out of order"));
    }
    *out = std::move(result);
    return {};
}

} // namespace velloran
