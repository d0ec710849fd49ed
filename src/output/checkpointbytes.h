#pragma once

// The checkpoint file's encoding, shared by its parts (checkpointfile.cpp,
// jobrecord.cpp): little-endian integers, IEEE doubles by their bits, texts as
// UTF-8 with a u32 length, and sections of a tag and a u64 length.

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <cstring>

namespace velloran::checkpointbytes {

// Generous bound that keeps a damaged length from asking for absurd memory.
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
    // Fails, saying why: a value no render writes, named for the message.
    void refuse(const QString &why) {
        if (m_ok) {
            m_why = why;
        }
        fail();
    }
    const QString &why() const { return m_why; }

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
    QString m_why;
};

} // namespace velloran::checkpointbytes
