#include "colourrun.h"

#include "solver.h"

#include <QStringList>

#include <algorithm>

namespace velloran {

static_assert(kMaxColourFields == Solver::kMaxSmokeFields);

std::optional<ColourMode> parseColourMode(const QString &text) {
    if (text == QLatin1String("light")) {
        return ColourMode::Light;
    }
    if (text == QLatin1String("dark")) {
        return ColourMode::Dark;
    }
    return std::nullopt;
}

QString colourModeName(ColourMode mode) {
    return mode == ColourMode::Dark ? QStringLiteral("dark") : QStringLiteral("light");
}

bool parsePaletteRequest(const QString &text, PaletteRequest *request, QString *error) {
    const QString value = text.trimmed();
    const int most = kMaxColourFields;
    PaletteRequest result;
    if (value == QLatin1String("auto")) {
        *request = result;
        return true;
    }
    bool isCount = false;
    const int count = value.toInt(&isCount);
    if (isCount) {
        if (count < 1 || count > most) {
            *error = QStringLiteral("a palette has 1 to %1 colours, not %2").arg(most).arg(count);
            return false;
        }
        result.count = count;
        *request = result;
        return true;
    }
    const QStringList parts = value.split(QLatin1Char(','));
    if (parts.size() > most) {
        *error =
            QStringLiteral("a palette has 1 to %1 colours, not %2").arg(most).arg(parts.size());
        return false;
    }
    for (const QString &part : parts) {
        const std::optional<SmokeColour> colour = parseSmokeColour(part.trimmed());
        if (!colour) {
            *error = QStringLiteral("'%1' is not a colour (#rrggbb or rrggbb); a palette is auto, "
                                    "a count 1 to %2 or a comma list of colours")
                         .arg(part.trimmed())
                         .arg(most);
            return false;
        }
        if (std::find(result.colours.begin(), result.colours.end(), *colour) !=
            result.colours.end()) {
            *error = QStringLiteral("the palette has #%1 twice").arg(colour->hex());
            return false;
        }
        result.colours.push_back(*colour);
    }
    *request = result;
    return true;
}

std::vector<SmokeColour> fieldColours(const std::vector<ColourField> &fields) {
    std::vector<SmokeColour> colours;
    colours.reserve(fields.size());
    for (const ColourField &field : fields) {
        colours.push_back(field.colour);
    }
    return colours;
}

QString paletteRequestText(const PaletteRequest &request) {
    if (request.colours.empty()) {
        return request.count == 0 ? QStringLiteral("auto") : QString::number(request.count);
    }
    QStringList names;
    for (const SmokeColour &c : request.colours) {
        names << QStringLiteral("#") + c.hex();
    }
    return names.join(QLatin1Char(','));
}

} // namespace velloran
