#include "framename.h"

#include <limits>

namespace velloran {

namespace {

QString defaultPattern() {
    return QStringLiteral("frame_%06d");
}

// Put together by concatenation: QString::arg has no escape for '%', so an
// example field in the text would either print doubled or be taken for a marker.
QString badPattern(const QString &pattern, const QString &why) {
    return QStringLiteral("--name '") + pattern + QStringLiteral("' ") + why +
           QStringLiteral(" (a pattern needs exactly one integer field, e.g. smoke.%04d)");
}

// Reads the decimal digits at `k` (saturating); -1 if there are none.
int readNumber(const QString &text, int *k) {
    int value = -1;
    while (*k < text.size() && text[*k].isDigit()) {
        const int digit = text[*k].digitValue();
        value = value < 0 ? digit : value * 10 + digit;
        if (value > 1000) {
            value = 1000; // far above any accepted width; keeps the count bounded
        }
        ++*k;
    }
    return value;
}

} // namespace

FrameNamePattern::FrameNamePattern()
    : m_text(defaultPattern())
    , m_field(QStringLiteral("%06d"))
    , m_prefix(QStringLiteral("frame_"))
    , m_zeroPad(true)
    , m_width(6) {}

bool FrameNamePattern::isDefault() const {
    return m_text == defaultPattern();
}

QString FrameNamePattern::placeholder() const {
    return isDefault() ? QStringLiteral("frame_NNNNNN") : m_text;
}

QString FrameNamePattern::fieldPlaceholder() const {
    return isDefault() ? QStringLiteral("NNNNNN") : m_field;
}

namespace {

// What no pattern may hold, whatever its field: nothing at all, a slash, a
// control character.
bool checkPatternText(const QString &pattern, QString *error) {
    if (pattern.isEmpty()) {
        *error = QStringLiteral("--name needs a pattern, e.g. smoke.%04d");
        return false;
    }
    if (pattern.contains(QLatin1Char('/'))) {
        *error = badPattern(pattern, QStringLiteral("contains a slash; frames go into the "
                                                    "output folder, choose it with --out"));
        return false;
    }
    for (const QChar c : pattern) {
        if (c.category() == QChar::Other_Control) {
            *error = badPattern(pattern, QStringLiteral("contains a control character"));
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<FrameNamePattern> FrameNamePattern::parse(const QString &pattern, QString *error) {
    if (!checkPatternText(pattern, error)) {
        return std::nullopt;
    }
    FrameNamePattern result;
    result.m_text = pattern;
    result.m_prefix.clear();
    result.m_zeroPad = false;
    result.m_width = 0;
    bool haveField = false;
    for (int k = 0; k < pattern.size();) {
        const QChar c = pattern[k];
        QString &literal = haveField ? result.m_suffix : result.m_prefix;
        if (c != QLatin1Char('%')) {
            literal += c;
            ++k;
            continue;
        }
        if (k + 1 < pattern.size() && pattern[k + 1] == QLatin1Char('%')) {
            literal += c;
            k += 2;
            continue;
        }
        if (haveField) {
            *error = badPattern(pattern, QStringLiteral("has more than one field"));
            return std::nullopt;
        }
        if (!result.readField(pattern, &k, error)) {
            return std::nullopt;
        }
        haveField = true;
    }
    if (!haveField) {
        *error = badPattern(pattern, QStringLiteral("has no field for the step number"));
        return std::nullopt;
    }
    return result;
}

// The field at *k ("%" flags width .precision conversion); *k moves past it.
bool FrameNamePattern::readField(const QString &pattern, int *k, QString *error) {
    const int start = (*k)++;
    for (; *k < pattern.size(); ++*k) {
        const QChar flag = pattern[*k];
        if (flag == QLatin1Char('-')) {
            m_leftAlign = true;
        } else if (flag == QLatin1Char('0')) {
            m_zeroPad = true;
        } else if (flag == QLatin1Char('+') || flag == QLatin1Char(' ')) {
            if (m_sign != QLatin1Char('+')) {
                m_sign = flag;
            }
        } else {
            break;
        }
    }
    const int width = readNumber(pattern, k);
    int precision = -1;
    if (*k < pattern.size() && pattern[*k] == QLatin1Char('.')) {
        ++*k;
        precision = std::max(0, readNumber(pattern, k));
    }
    if (width > kMaxFieldWidth || precision > kMaxFieldWidth) {
        *error = badPattern(
            pattern,
            QStringLiteral("asks for a field wider than %1 characters").arg(kMaxFieldWidth));
        return false;
    }
    const QChar conversion = *k < pattern.size() ? pattern[*k] : QChar();
    if (conversion != QLatin1Char('d') && conversion != QLatin1Char('i') &&
        conversion != QLatin1Char('u')) {
        const QString field = pattern.mid(start, *k + 1 - start);
        *error = badPattern(pattern, QStringLiteral("has the field '%1', which is not an "
                                                    "integer field (%d, %i or %u)")
                                         .arg(field));
        return false;
    }
    if (conversion == QLatin1Char('u')) {
        m_sign = QChar(); // printf ignores '+' and ' ' for unsigned
    }
    m_field = pattern.mid(start, *k + 1 - start);
    m_width = std::max(0, width);
    m_precision = precision;
    ++*k;
    return true;
}

QString FrameNamePattern::number(int step) const {
    QString digits = QString::number(step < 0 ? -static_cast<qint64>(step) : step);
    if (m_precision >= 0) {
        if (m_precision == 0 && step == 0) {
            digits.clear();
        }
        digits = digits.rightJustified(m_precision, QLatin1Char('0'));
    }
    const QString sign = step < 0 ? QStringLiteral("-") : m_sign.isNull() ? QString() : m_sign;
    const int padding = m_width - static_cast<int>(sign.size() + digits.size());
    if (padding <= 0) {
        return sign + digits;
    }
    if (m_leftAlign) {
        return sign + digits + QString(padding, QLatin1Char(' '));
    }
    // printf drops the '0' flag when a precision is given.
    if (m_zeroPad && m_precision < 0) {
        return sign + QString(padding, QLatin1Char('0')) + digits;
    }
    return QString(padding, QLatin1Char(' ')) + sign + digits;
}

QString FrameNamePattern::frameName(int step, const QString &extension) const {
    return m_prefix + number(step) + m_suffix + QLatin1Char('.') + extension;
}

QString FrameNamePattern::fieldName(const QString &fieldPrefix, int step,
                                    const QString &extension) const {
    return fieldPrefix + number(step) + QLatin1Char('.') + extension;
}

std::optional<int> FrameNamePattern::stepOfNumber(const QString &number) const {
    const QString digits = number.trimmed();
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok);
    if (digits.isEmpty()) {
        // Precision 0 formats step 0 as no digits at all.
        return this->number(0) == number ? std::optional<int>(0) : std::nullopt;
    }
    if (!ok || value < 0 || value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    const int step = static_cast<int>(value);
    return this->number(step) == number ? std::optional<int>(step) : std::nullopt;
}

std::optional<int> FrameNamePattern::stepBetween(const QString &name, const QString &head,
                                                 const QString &tail) const {
    if (name.size() < head.size() + tail.size() || !name.startsWith(head) || !name.endsWith(tail)) {
        return std::nullopt;
    }
    return stepOfNumber(name.mid(head.size(), name.size() - head.size() - tail.size()));
}

std::optional<int> FrameNamePattern::frameStep(const QString &name,
                                               const QString &extension) const {
    return stepBetween(name, m_prefix, m_suffix + QLatin1Char('.') + extension);
}

std::optional<int> FrameNamePattern::fieldStep(const QString &name, const QString &fieldPrefix,
                                               const QString &extension) const {
    return stepBetween(name, fieldPrefix, QLatin1Char('.') + extension);
}

bool FrameNamePattern::isFrameName(const QString &name, const QString &extension) const {
    return frameStep(name, extension).has_value();
}

bool FrameNamePattern::isFieldName(const QString &name, const QString &fieldPrefix,
                                   const QString &extension) const {
    return fieldStep(name, fieldPrefix, extension).has_value();
}

} // namespace velloran
