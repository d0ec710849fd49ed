#include "npy.h"

#include "atomicfile.h"

#include <QRegularExpression>
#include <QtEndian>

#include <cstring>

namespace velloran {

namespace {

const char kMagic[] = "\x93NUMPY";
constexpr int kMagicLength = 6;
constexpr int kPreambleLength = kMagicLength + 2 + 2; // magic, version, header length
// Total header size is padded to a multiple of this, so the data is aligned.
constexpr int kAlignment = 64;

} // namespace

QByteArray npyBytes(const Grid &grid) {
    QByteArray header =
        QStringLiteral("{'descr': '<f8', 'fortran_order': False, 'shape': (%1, %2), }")
            .arg(grid.NumRows())
            .arg(grid.NumCols())
            .toLatin1();
    const qsizetype unpadded = kPreambleLength + header.size() + 1; // + '\n'
    const qsizetype padding = (kAlignment - unpadded % kAlignment) % kAlignment;
    header += QByteArray(padding, ' ');
    header += '\n';

    const qsizetype count = static_cast<qsizetype>(grid.NumRows()) * grid.NumCols();
    QByteArray bytes;
    bytes.reserve(kPreambleLength + header.size() + count * 8);
    bytes.append(kMagic, kMagicLength);
    bytes.append(char(1));
    bytes.append(char(0));
    const quint16 headerLength = static_cast<quint16>(header.size());
    bytes.append(static_cast<char>(headerLength & 0xff));
    bytes.append(static_cast<char>(headerLength >> 8));
    bytes.append(header);

    const qsizetype start = bytes.size();
    bytes.resize(start + count * 8);
    char *out = bytes.data() + start;
    const double *values = grid.data();
    for (qsizetype k = 0; k < count; ++k) {
        quint64 bits = 0;
        std::memcpy(&bits, &values[k], 8);
        qToLittleEndian(bits, out + k * 8);
    }
    return bytes;
}

bool writeNpy(const QString &path, const Grid &grid, QString *error) {
    return writeFileAtomically(path, npyBytes(grid), error);
}

std::optional<Grid> parseNpy(const QByteArray &bytes) {
    if (bytes.size() < kPreambleLength || !bytes.startsWith(QByteArray(kMagic, kMagicLength)) ||
        bytes[6] != 1 || bytes[7] != 0) {
        return std::nullopt;
    }
    const int headerLength =
        static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
    if (bytes.size() < kPreambleLength + headerLength) {
        return std::nullopt;
    }
    const QString header = QString::fromLatin1(bytes.mid(kPreambleLength, headerLength));
    static const QRegularExpression pattern(
        QStringLiteral("^\\{'descr': '<f8', 'fortran_order': False, 'shape': \\((\\d+), "
                       "(\\d+)\\), \\} *\\n$"));
    const QRegularExpressionMatch match = pattern.match(header);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const quint32 rows = match.captured(1).toUInt();
    const quint32 cols = match.captured(2).toUInt();
    const qsizetype count = static_cast<qsizetype>(rows) * cols;
    if (bytes.size() != kPreambleLength + headerLength + count * 8) {
        return std::nullopt;
    }
    Grid grid(rows, cols);
    const char *in = bytes.constData() + kPreambleLength + headerLength;
    double *values = grid.data();
    for (qsizetype k = 0; k < count; ++k) {
        const quint64 bits = qFromLittleEndian<quint64>(in + k * 8);
        std::memcpy(&values[k], &bits, 8);
    }
    return grid;
}

} // namespace velloran
