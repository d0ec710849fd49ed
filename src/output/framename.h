#pragma once

// How the renderer names its per-frame files.
//
// A pattern is printf-like with exactly one integer field: "frame_%06d" names
// step 10 "frame_000010", "smoke.%04d" names it "smoke.0010". The field takes
// the flags '-', '0', '+' and ' ', a width and a precision (each at most
// kMaxFieldWidth) and the conversions d, i and u; "%%" is a literal percent
// sign. The renderer adds the extension. Raw fields keep their own prefixes
// ("density_", "u_", "v_") and take the number exactly as the pattern formats it.

#include <QString>

#include <optional>

namespace velloran {

// Largest accepted --steps / --every and keyframe step or blend; frame names
// carry the step number. A checkpoint's values are held to the same bounds.
constexpr int kMaxSteps = 100000000;

class FrameNamePattern {
public:
    static constexpr int kMaxFieldWidth = 20;

    // "frame_%06d".
    FrameNamePattern();

    // Checks a pattern. Returns nothing, with a one-line *error, for a pattern
    // without a field or with two, a field that is not an integer, a slash, an
    // empty pattern, or a width or precision above kMaxFieldWidth.
    static std::optional<FrameNamePattern> parse(const QString &pattern, QString *error);

    // The pattern as written by the user.
    const QString &text() const { return m_text; }
    // How the summary shows the names: "frame_NNNNNN" for the default, the
    // pattern itself otherwise; fieldPlaceholder is the number part alone
    // ("NNNNNN", or the field as written, e.g. "%04d").
    QString placeholder() const;
    QString fieldPlaceholder() const;
    bool isDefault() const;

    // The field alone, formatted as printf would ("%06d", 10 -> "000010").
    QString number(int step) const;
    // prefix + number + suffix + "." + extension.
    QString frameName(int step, const QString &extension) const;
    // fieldPrefix + number + "." + extension, e.g. "density_000010.npy".
    QString fieldName(const QString &fieldPrefix, int step, const QString &extension) const;

    // True when `name` is exactly what frameName or fieldName gives for some
    // non-negative step; such files are taken as output of an earlier render.
    bool isFrameName(const QString &name, const QString &extension) const;
    bool isFieldName(const QString &name, const QString &fieldPrefix,
                     const QString &extension) const;

    // The step a name of this pattern carries, if it is one.
    std::optional<int> frameStep(const QString &name, const QString &extension) const;
    std::optional<int> fieldStep(const QString &name, const QString &fieldPrefix,
                                 const QString &extension) const;

private:
    bool readField(const QString &pattern, int *k, QString *error);
    std::optional<int> stepOfNumber(const QString &number) const;
    std::optional<int> stepBetween(const QString &name, const QString &head,
                                   const QString &tail) const;

    QString m_text;
    QString m_field; // the field as written, e.g. "%04d"
    QString m_prefix;
    QString m_suffix;
    bool m_leftAlign = false;
    bool m_zeroPad = false;
    QChar m_sign; // '+', ' ' or none (null)
    int m_width = 0;
    int m_precision = -1; // -1: none given
};

} // namespace velloran
