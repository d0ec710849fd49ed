#include "palette.h"

#include <QHash>

#include <algorithm>
#include <cstdint>

namespace velloran {

namespace {

struct Rgb {
    std::int64_t r = 0;
    std::int64_t g = 0;
    std::int64_t b = 0;
};

Rgb rgbOf(QRgb pixel) {
    return {qRed(pixel), qGreen(pixel), qBlue(pixel)};
}

Rgb rgbOf(const SmokeColour &c) {
    return {c.red, c.green, c.blue};
}

SmokeColour colourOf(const Rgb &c) {
    SmokeColour colour;
    colour.red = static_cast<std::uint8_t>(c.r);
    colour.green = static_cast<std::uint8_t>(c.g);
    colour.blue = static_cast<std::uint8_t>(c.b);
    return colour;
}

std::uint32_t keyOf(const Rgb &c) {
    return static_cast<std::uint32_t>((c.r << 16) | (c.g << 8) | c.b);
}

std::int64_t dot(const Rgb &a, const Rgb &b) {
    return a.r * b.r + a.g * b.g + a.b * b.b;
}

Rgb minus(const Rgb &a, const Rgb &b) {
    return {a.r - b.r, a.g - b.g, a.b - b.b};
}

// Where p's foot lies on the segment from..to (0 at from, 1 at to) and its
// squared distance from it.
struct Foot {
    double t = 0.0;
    double squaredDistance = 0.0;
};

Foot footOn(const Rgb &p, const Rgb &from, const Rgb &to) {
    const Rgb d = minus(to, from);
    const Rgb q = minus(p, from);
    const std::int64_t length = dot(d, d);
    Foot foot;
    if (length > 0) {
        foot.t = std::clamp(static_cast<double>(dot(q, d)) / static_cast<double>(length), 0.0, 1.0);
    }
    const double dr = static_cast<double>(q.r) - foot.t * static_cast<double>(d.r);
    const double dg = static_cast<double>(q.g) - foot.t * static_cast<double>(d.g);
    const double db = static_cast<double>(q.b) - foot.t * static_cast<double>(d.b);
    foot.squaredDistance = dr * dr + dg * dg + db * db;
    return foot;
}

struct ColourCount {
    Rgb colour;
    std::int64_t count = 0;
};

// Every colour of the image with its pixel count, most common first.
std::vector<ColourCount> colourCounts(const QImage &image) {
    QHash<std::uint32_t, std::int64_t> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y) & 0xffffffu];
        }
    }
    std::vector<ColourCount> list;
    list.reserve(static_cast<std::size_t>(counts.size()));
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        list.push_back({rgbOf(it.key()), it.value()});
    }
    std::sort(list.begin(), list.end(), [](const ColourCount &a, const ColourCount &b) {
        return a.count != b.count ? a.count > b.count : keyOf(a.colour) < keyOf(b.colour);
    });
    return list;
}

constexpr double kSeparationSquared = double(kPaletteSeparation) * kPaletteSeparation;

// Whether `c` is the background, an edge of a colour taken, or a blend of two.
bool explainedBy(const Rgb &c, const Rgb &background, const std::vector<Rgb> &taken) {
    if (footOn(c, background, background).squaredDistance < kSeparationSquared) {
        return true;
    }
    for (std::size_t i = 0; i < taken.size(); ++i) {
        if (footOn(c, background, taken[i]).squaredDistance < kSeparationSquared) {
            return true;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (footOn(c, taken[j], taken[i]).squaredDistance < kSeparationSquared) {
                return true;
            }
        }
    }
    return false;
}

// The count-weighted mean of the colours near `centre`, rounded to integers.
Rgb refined(const Rgb &centre, const std::vector<ColourCount> &counts) {
    const double radius = kPaletteSeparation / 2.0;
    Rgb sum;
    std::int64_t total = 0;
    for (const ColourCount &entry : counts) {
        if (footOn(entry.colour, centre, centre).squaredDistance < radius * radius) {
            sum.r += entry.colour.r * entry.count;
            sum.g += entry.colour.g * entry.count;
            sum.b += entry.colour.b * entry.count;
            total += entry.count;
        }
    }
    return {(sum.r + total / 2) / total, (sum.g + total / 2) / total, (sum.b + total / 2) / total};
}

// Which palette colour a pixel belongs to, and how much of it it covers.
struct Share {
    std::size_t field = 0;
    double coverage = 0.0;
};

Share shareOf(const Rgb &p, const Rgb &background, const std::vector<Rgb> &colours) {
    Share share;
    double nearest = 0.0;
    for (std::size_t k = 0; k < colours.size(); ++k) {
        const Foot foot = footOn(p, background, colours[k]);
        if (k == 0 || foot.squaredDistance < nearest) {
            nearest = foot.squaredDistance;
            share = {k, foot.t};
        }
    }
    return share;
}

std::vector<Rgb> rgbsOf(const std::vector<SmokeColour> &colours) {
    std::vector<Rgb> rgbs;
    rgbs.reserve(colours.size());
    for (const SmokeColour &c : colours) {
        rgbs.push_back(rgbOf(c));
    }
    return rgbs;
}

// A given palette: no colour may be the background, and each must occur in
// the image, within kPaletteSeparation of some pixel.
bool checkGiven(const std::vector<ColourCount> &counts, const Palette &palette, QString *error) {
    for (const SmokeColour &c : palette.colours) {
        if (c == palette.background) {
            *error =
                QStringLiteral("the palette colour #%1 is the target's background").arg(c.hex());
            return false;
        }
        const Rgb wanted = rgbOf(c);
        const bool present =
            std::any_of(counts.begin(), counts.end(), [&wanted](const ColourCount &entry) {
                return footOn(entry.colour, wanted, wanted).squaredDistance < kSeparationSquared;
            });
        if (!present) {
            *error = QStringLiteral("the palette colour #%1 is not in the target (no pixel lies "
                                    "within %2 of it in 8-bit RGB)")
                         .arg(c.hex())
                         .arg(kPaletteSeparation);
            return false;
        }
    }
    return true;
}

} // namespace

SmokeColour backgroundOf(const QImage &image) {
    return colourOf(colourCounts(image).front().colour);
}

bool findPalette(const QImage &image, const PaletteRequest &request, Palette *palette,
                 QString *error) {
    const std::vector<ColourCount> counts = colourCounts(image);
    Palette result;
    result.background = colourOf(counts.front().colour);
    if (!request.colours.empty()) {
        result.colours = request.colours;
        if (!checkGiven(counts, result, error)) {
            return false;
        }
        *palette = result;
        return true;
    }
    const Rgb background = counts.front().colour;
    const std::int64_t smokePixels =
        static_cast<std::int64_t>(image.width()) * image.height() - counts.front().count;
    const std::size_t wanted =
        static_cast<std::size_t>(request.count > 0 ? request.count : kMaxColourFields);
    std::vector<Rgb> taken;
    for (std::size_t n = 1; n < counts.size() && taken.size() < wanted; ++n) {
        // "auto" stops at colours too rare to be more than noise or edges.
        if (request.count == 0 && counts[n].count * 100 < smokePixels) {
            break;
        }
        if (!explainedBy(counts[n].colour, background, taken)) {
            taken.push_back(counts[n].colour);
        }
    }
    if (taken.empty() || (request.count > 0 && taken.size() < wanted)) {
        *error = QStringLiteral("the target has %1 colour%2 besides its background #%3, not %4")
                     .arg(taken.size())
                     .arg(taken.size() == 1 ? "" : "s")
                     .arg(result.background.hex())
                     .arg(request.count > 0 ? QString::number(request.count)
                                            : QStringLiteral("one or more"));
        return false;
    }
    for (const Rgb &centre : taken) {
        result.colours.push_back(colourOf(refined(centre, counts)));
    }
    *palette = result;
    return true;
}

std::vector<Grid> paletteDensities(const QImage &image, const Palette &palette, int side) {
    const auto n = static_cast<std::uint32_t>(side);
    std::vector<Grid> fields(palette.colours.size(), Grid(n, n));
    const Rgb background = rgbOf(palette.background);
    const std::vector<Rgb> colours = rgbsOf(palette.colours);
    for (int i = 0; i < side; ++i) {
        for (int y = 0; y < side; ++y) {
            const Share share = shareOf(rgbOf(image.pixel(i, y)), background, colours);
            fields[share.field](static_cast<std::uint32_t>(i),
                                static_cast<std::uint32_t>(side - 1 - y)) = share.coverage;
        }
    }
    return fields;
}

} // namespace velloran
