#include "framewriter.h"

#include "atomicfile.h"
#include "exrframe.h"
#include "npy.h"
#include "pngencoder.h"
#include "smokeimage.h"

#include <QDir>
#include <QRegularExpression>

#include <utility>

namespace velloran {

namespace {

const char *const kFieldPrefixes[] = {"density_", "u_", "v_", "solid_"};
// The solver's grids those files hold (Solver::fields); the last only in runs
// with obstacles.
const char *const kFieldNames[] = {"density", "uCentre", "vCentre", "solid"};

bool isFrameOf(const FrameNamePattern &names, const QString &name, const char *extension) {
    return names.isFrameName(name, QLatin1String(extension)) ||
           FrameNamePattern().isFrameName(name, QLatin1String(extension));
}

} // namespace

const Grid *Frame::grid(const char *name, const char *format, QString *error) const {
    for (const SolverField &field : grids) {
        if (qstrcmp(field.name, name) == 0) {
            return field.grid;
        }
    }
    if (!error) {
        return nullptr;
    }
    *error = QStringLiteral("the %1 frame of step %2 needs the grid '%3', which this run does not "
                            "hand its writers")
                 .arg(QLatin1String(format))
                 .arg(step)
                 .arg(QLatin1String(name));
    return nullptr;
}

const Grid *Frame::optionalGrid(const char *name) const {
    return grid(name, "", nullptr);
}

bool writePng(const QString &path, const QImage &image, QString *error) {
    QByteArray bytes;
    if (!pngBytes(image, &bytes)) {
        *error = QStringLiteral("could not encode '%1' as PNG").arg(path);
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

PngFrameWriter::PngFrameWriter(QString folder, FrameNamePattern names,
                               std::optional<SmokeColour> alpha,
                               std::optional<ColourPicture> picture)
    : m_folder(std::move(folder))
    , m_names(std::move(names))
    , m_alpha(alpha)
    , m_picture(std::move(picture)) {}

namespace {

// The fields' densities in order: "density", then "density.1", ...
bool fieldDensities(const Frame &frame, std::size_t count, std::vector<const Grid *> *densities,
                    QString *error) {
    for (std::size_t k = 0; k < count; ++k) {
        const QByteArray name = k == 0 ? QByteArray("density")
                                       : QByteArray("density.") + QByteArray::number(qulonglong(k));
        const Grid *grid = frame.grid(name.constData(), "PNG", error);
        if (!grid) {
            return false;
        }
        densities->push_back(grid);
    }
    return true;
}

} // namespace

bool PngFrameWriter::write(const Frame &frame, QString *error) {
    const QString path =
        QDir(m_folder).filePath(m_names.frameName(frame.step, QStringLiteral("png")));
    if (m_picture) {
        std::vector<const Grid *> densities;
        return fieldDensities(frame, m_picture->colours.size(), &densities, error) &&
               writePng(path,
                        m_alpha ? colourRgbaImage(densities, *m_picture)
                                : colourImage(densities, *m_picture),
                        error);
    }
    if (m_alpha) {
        const Grid *density = frame.grid("density", "PNG", error);
        return density && writePng(path, smokeImage(*density, *m_alpha), error);
    }
    return writePng(path, frame.grey, error);
}

bool PngFrameWriter::isOwnOutput(const QString &name) const {
    return isFrameOf(m_names, name, "png");
}

std::optional<int> PngFrameWriter::frameStep(const QString &name) const {
    return m_names.frameStep(name, QStringLiteral("png"));
}

QStringList PngFrameWriter::fileNames(int step) const {
    return {m_names.frameName(step, QStringLiteral("png"))};
}

QStringList PngFrameWriter::summary(const QString &folder, int frames) const {
    // One pass of arg(): a pattern's own "%04d" must not be taken for a marker.
    return {QStringLiteral("  frames:  %1/%2.png (%3%4)")
                .arg(folder, m_names.placeholder(), QString::number(frames),
                     m_picture
                         ? (m_alpha ? QStringLiteral(", colour RGBA") : QStringLiteral(", colour"))
                     : m_alpha ? QStringLiteral(", RGBA")
                               : QString())};
}

EncodedFrameWriter::EncodedFrameWriter(QString folder, FrameNamePattern names,
                                       const char *extension, const char *label, const char *format)
    : m_folder(std::move(folder))
    , m_names(std::move(names))
    , m_extension(extension)
    , m_label(label)
    , m_format(format) {}

bool EncodedFrameWriter::write(const Frame &frame, QString *error) {
    const QString path =
        QDir(m_folder).filePath(m_names.frameName(frame.step, QString::fromLatin1(m_extension)));
    const Grid *density = frame.grid("density", m_format, error);
    const Grid *u = density ? frame.grid("uCentre", m_format, error) : nullptr;
    const Grid *v = u ? frame.grid("vCentre", m_format, error) : nullptr;
    if (!v) {
        return false;
    }
    // A colour run's further fields, "density.1" on, as far as the frame has them.
    std::vector<const Grid *> fields = {density};
    while (
        const Grid *more = frame.optionalGrid(
            (QByteArray("density.") + QByteArray::number(qulonglong(fields.size()))).constData())) {
        fields.push_back(more);
    }
    QString reason;
    const QByteArray bytes =
        encode({*density, *u, *v, frame.optionalGrid("solid"), fields, nullptr}, &reason);
    if (bytes.isEmpty()) {
        *error = QStringLiteral("could not encode '%1' as %2: %3")
                     .arg(path, QLatin1String(m_format), reason);
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

bool EncodedFrameWriter::isOwnOutput(const QString &name) const {
    return isFrameOf(m_names, name, m_extension);
}

std::optional<int> EncodedFrameWriter::frameStep(const QString &name) const {
    return m_names.frameStep(name, QLatin1String(m_extension));
}

QStringList EncodedFrameWriter::fileNames(int step) const {
    return {m_names.frameName(step, QLatin1String(m_extension))};
}

QStringList EncodedFrameWriter::summary(const QString &folder, int frames) const {
    const QString note = summaryNote();
    return {QStringLiteral("  %1 %2/%3.%4 (%5%6)")
                .arg(QString::fromLatin1(m_label).leftJustified(8), folder, m_names.placeholder(),
                     QLatin1String(m_extension), QString::number(frames),
                     note.isEmpty() ? QString() : QStringLiteral(", ") + note)};
}

ExrFrameWriter::ExrFrameWriter(QString folder, FrameNamePattern names, SmokeColour colour,
                               std::optional<ColourPicture> picture)
    : EncodedFrameWriter(std::move(folder), std::move(names), "exr", "frames:", "EXR")
    , m_colour(colour)
    , m_picture(std::move(picture)) {}

QByteArray ExrFrameWriter::encode(const FrameFields &fields, QString *error) const {
    if (!m_picture) {
        return exrBytes(fields, m_colour, error);
    }
    if (fields.fields.size() != m_picture->colours.size()) {
        *error = QStringLiteral("the frame has %1 smoke fields, the picture %2 colours")
                     .arg(fields.fields.size())
                     .arg(m_picture->colours.size());
        return QByteArray();
    }
    FrameFields coloured = fields;
    coloured.picture = &*m_picture;
    return exrBytes(coloured, m_colour, error);
}

VdbFrameWriter::VdbFrameWriter(QString folder, FrameNamePattern names, VdbSettings settings)
    : EncodedFrameWriter(std::move(folder), std::move(names), "vdb", "volumes:", "OpenVDB")
    , m_settings(std::move(settings)) {}

QByteArray VdbFrameWriter::encode(const FrameFields &fields, QString *error) const {
    return vdbBytes(fields, m_settings, error);
}

QString VdbFrameWriter::summaryNote() const {
    return m_settings.fullFloat ? QStringLiteral("density in 32-bit floats")
                                : QStringLiteral("density in half floats");
}

NpyFrameWriter::NpyFrameWriter(QString folder, FrameNamePattern names, bool solid,
                               const std::vector<SmokeColour> &fieldColours)
    : m_folder(std::move(folder))
    , m_names(std::move(names))
    , m_solid(solid) {
    for (std::size_t k = 0; k < fieldColours.size(); ++k) {
        m_prefixes << QStringLiteral("density.%1_").arg(fieldColours[k].hex());
        m_gridNames.push_back(k == 0 ? QByteArray("density")
                                     : QByteArray("density.") + QByteArray::number(qulonglong(k)));
    }
    for (std::size_t k = fieldColours.empty() ? 0 : 1; k < (solid ? 4u : 3u); ++k) {
        m_prefixes << QLatin1String(kFieldPrefixes[k]);
        m_gridNames.emplace_back(kFieldNames[k]);
    }
}

bool NpyFrameWriter::write(const Frame &frame, QString *error) {
    for (qsizetype k = 0; k < m_prefixes.size(); ++k) {
        const QString path = QDir(m_folder).filePath(
            m_names.fieldName(m_prefixes[k], frame.step, QStringLiteral("npy")));
        const Grid *grid =
            frame.grid(m_gridNames[static_cast<std::size_t>(k)].constData(), "npy", error);
        if (!grid || !writeNpy(path, *grid, error)) {
            return false;
        }
    }
    return true;
}

namespace {

// "density.e03020_": the prefix of a colour run's field, whatever its colour.
QString colourFieldPrefix(const QString &name) {
    static const QRegularExpression prefix(QStringLiteral("^density\\.[0-9a-f]{6}_"));
    const QRegularExpressionMatch match = prefix.match(name);
    return match.hasMatch() ? match.captured(0) : QString();
}

} // namespace

bool NpyFrameWriter::isOwnOutput(const QString &name) const {
    QStringList prefixes = m_prefixes;
    for (const char *prefix : kFieldPrefixes) {
        prefixes << QLatin1String(prefix);
    }
    if (const QString colour = colourFieldPrefix(name); !colour.isEmpty()) {
        prefixes << colour;
    }
    for (const FrameNamePattern &names : {m_names, FrameNamePattern()}) {
        for (const QString &prefix : prefixes) {
            if (names.isFieldName(name, prefix, QStringLiteral("npy"))) {
                return true;
            }
        }
    }
    return false;
}

std::optional<int> NpyFrameWriter::frameStep(const QString &name) const {
    for (const QString &prefix : m_prefixes) {
        if (const std::optional<int> step =
                m_names.fieldStep(name, prefix, QStringLiteral("npy"))) {
            return step;
        }
    }
    return std::nullopt;
}

QStringList NpyFrameWriter::fileNames(int step) const {
    QStringList names;
    for (const QString &prefix : m_prefixes) {
        names << m_names.fieldName(prefix, step, QStringLiteral("npy"));
    }
    return names;
}

QStringList NpyFrameWriter::summary(const QString &folder, int frames) const {
    QStringList stems;
    for (const QString &prefix : m_prefixes) {
        stems << prefix.chopped(1);
    }
    return {QStringLiteral("  fields:  %1/{%2}_%3.npy (%4 each)")
                .arg(folder, stems.join(QLatin1Char(',')), m_names.fieldPlaceholder(),
                     QString::number(frames))};
}

} // namespace velloran
