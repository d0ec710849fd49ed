#include "smokecolour.h"

#include <cmath>

namespace velloran {

QString SmokeColour::hex() const {
    return QStringLiteral("%1%2%3")
        .arg(red, 2, 16, QLatin1Char('0'))
        .arg(green, 2, 16, QLatin1Char('0'))
        .arg(blue, 2, 16, QLatin1Char('0'));
}

std::optional<SmokeColour> parseSmokeColour(const QString &text) {
    const QString digits = text.startsWith(QLatin1Char('#')) ? text.mid(1) : text;
    if (digits.size() != 6) {
        return std::nullopt;
    }
    // Digits only: toUInt alone would also take signs, spaces and "0x".
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        const bool hexDigit =
            (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hexDigit) {
            return std::nullopt;
        }
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok) {
        return std::nullopt;
    }
    SmokeColour colour;
    colour.red = static_cast<std::uint8_t>(value >> 16);
    colour.green = static_cast<std::uint8_t>((value >> 8) & 0xff);
    colour.blue = static_cast<std::uint8_t>(value & 0xff);
    return colour;
}

float linearFromSrgb(std::uint8_t component) {
    return static_cast<float>(linearLight(component / 255.0));
}

double linearLight(double component) {
    const double c = component;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

} // namespace velloran
