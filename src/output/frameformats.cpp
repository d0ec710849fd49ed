#include "frameformats.h"

#include <optional>

namespace velloran {

namespace {

std::unique_ptr<FrameWriter> makePng(const QString &folder, const FrameSettings &settings) {
    return std::make_unique<PngFrameWriter>(
        folder, settings.names,
        settings.alpha ? std::optional<SmokeColour>(settings.colour) : std::nullopt,
        settings.picture);
}

std::unique_ptr<FrameWriter> makeExr(const QString &folder, const FrameSettings &settings) {
    return std::make_unique<ExrFrameWriter>(folder, settings.names, settings.colour,
                                            settings.picture);
}

std::unique_ptr<FrameWriter> makeVdb(const QString &folder, const FrameSettings &settings) {
    return std::make_unique<VdbFrameWriter>(folder, settings.names, volumeSettings(settings));
}

std::unique_ptr<FrameWriter> makeNpy(const QString &folder, const FrameSettings &settings) {
    return std::make_unique<NpyFrameWriter>(folder, settings.names, settings.obstacles,
                                            settings.picture ? settings.picture->colours
                                                             : std::vector<SmokeColour>{});
}

} // namespace

VdbSettings volumeSettings(const FrameSettings &settings) {
    VdbSettings vdb = settings.vdb;
    if (settings.picture) {
        for (const SmokeColour &colour : settings.picture->colours) {
            vdb.fields.push_back(VdbField{QStringLiteral("density.") + colour.hex(),
                                          {linearFromSrgb(colour.red), linearFromSrgb(colour.green),
                                           linearFromSrgb(colour.blue)}});
        }
    }
    return vdb;
}

const std::vector<FrameFormat> &frameFormats() {
    // The order is the order of the writers: the summary lists them so, and a
    // failing frame stops the run at the first of them.
    static const std::vector<FrameFormat> formats = {
        {"png", "png: frame_NNNNNN.png, 8-bit grey, upright\n", makePng},
        {"exr",
         "exr: frame_NNNNNN.exr, premultiplied RGBA (half) and the\n"
         "     float layers density, velocity.u, velocity.v\n",
         makeExr},
        {"vdb",
         "vdb: frame_NNNNNN.vdb, OpenVDB grids density (fog volume,\n"
         "     half floats) and velocity, N x N x 1 voxels of 1/N\n"
         "     (a colour run: density the fields' sum, density.RRGGBB\n"
         "     per field and their colour, color)\n",
         makeVdb},
        {"npy",
         "npy: density_/u_/v_NNNNNN.npy, float64 (N+2) x (N+2)\n"
         "     (and solid_NNNNNN.npy, 1 in obstacles, with --obstacles;\n"
         "     a colour run: density.RRGGBB_NNNNNN.npy per field)\n",
         makeNpy},
    };
    return formats;
}

const FrameFormat *findFrameFormat(const QString &name) {
    for (const FrameFormat &format : frameFormats()) {
        if (name == QLatin1String(format.name)) {
            return &format;
        }
    }
    return nullptr;
}

QString frameFormatNames() {
    QStringList names;
    for (const FrameFormat &format : frameFormats()) {
        names << QLatin1String(format.name);
    }
    return names.join(QStringLiteral(", "));
}

QString frameFormatHelp(int indent) {
    QString help;
    for (const FrameFormat &format : frameFormats()) {
        for (const QString &line : QString::fromLatin1(format.help).split(QLatin1Char('\n'))) {
            if (!line.isEmpty()) {
                help += QString(indent, QLatin1Char(' ')) + line + QLatin1Char('\n');
            }
        }
    }
    return help;
}

QStringList orderedFrameFormats(const QStringList &names) {
    QStringList ordered;
    for (const FrameFormat &format : frameFormats()) {
        if (names.contains(QLatin1String(format.name))) {
            ordered << QLatin1String(format.name);
        }
    }
    return ordered;
}

std::optional<int> frameFileStep(const QString &name, const FrameNamePattern &names) {
    FrameSettings settings;
    settings.names = names;
    for (const FrameFormat &format : frameFormats()) {
        if (const std::optional<int> step =
                format.makeWriter(QString(), settings)->frameStep(name)) {
            return step;
        }
    }
    return std::nullopt;
}

bool isFrameFileName(const QString &name, const FrameNamePattern &names) {
    return frameFileStep(name, names).has_value() ||
           frameFileStep(name, FrameNamePattern()).has_value();
}

std::vector<std::unique_ptr<FrameWriter>>
makeFrameWriters(const QStringList &formats, const QString &folder, const FrameSettings &settings) {
    std::vector<std::unique_ptr<FrameWriter>> writers;
    for (const FrameFormat &format : frameFormats()) {
        if (formats.contains(QLatin1String(format.name))) {
            writers.push_back(format.makeWriter(folder, settings));
        }
    }
    return writers;
}

} // namespace velloran
