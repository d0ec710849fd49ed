#pragma once

// The configuration file: five parameters and two image paths in a small XML
// document.
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <configuration>
//       <parameters>
//           <vf>0.5</vf> <vd>10</vd> <vg>0</vg> <sigma>2.2</sigma> <dt>0.001</dt>
//       </parameters>
//       <images>
//           <source>examples/blob.png</source>
//           <target>examples/letter.png</target>
//       </images>
//       <scheme>sound</scheme>                                      (optional)
//       <keyframes>                                                 (optional)
//           <target step="800">examples/letter-b.png</target>
//           <target step="1600" blend="200">examples/letter-c.png</target>
//       </keyframes>
//       <obstacles>examples/wall.png</obstacles>                    (optional)
//       <colour mode="dark" fields="auto"/>                         (optional)
//   </configuration>
//
// Without <scheme> a run uses the literal scheme; without <keyframes> its one
// target holds for the whole run; without <obstacles> (or with it empty) only
// the domain's sides are walls. The writer writes each of these elements only
// when it says something, so files of plain literal runs are as they always
// were. The obstacle path is taken like the source and target paths.
//
// <colour> makes the run a colour run (colourrun.h); without it the run is
// grey. Its mode is light (the default) or dark. Its fields come from one of
//   fields="auto" or fields="N"      the target image's palette, found
//   <palette><colour>#e03020</colour>...</palette>
//                                    the target image's palette, given
//   <field colour="#e03020"><source>a.png</source><target>b.png</target></field>
//                                    one per field, in place of <images>
// (nothing: fields="auto"). With <palette> or <field> entries, fields= may
// still say "auto" or their number.
//
// A palette run's keyframe images are colour targets, split by the palette the
// run found in its first target. A run of <field> entries gives each keyframe
// step one <target> per field, naming the field by its colour:
//   <target step="800" field="#e03020">yang.png</target>
//   <target step="800" field="#20a0e0">yin.png</target>
// (the same step and blend for all of them; keyframes.h checks the set).
//
// The reader never touches a window or a solver: it returns what the file says
// (last occurrence wins, missing values stay unset) and the caller applies it,
// numbers through clampParameter (parameters.h).

#include "colourrun.h"
#include "parameters.h"
#include "scheme.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace velloran {

// Files larger than this are refused as invalid before parsing: a real
// configuration is a few hundred bytes.
constexpr qint64 kMaxConfigurationBytes = 1024 * 1024;

// A further target of a run: its image, the step from which it applies and
// the steps over which it is blended in (0: a cut). In a run of fields given
// one by one, the field whose target it is, named by its colour; such a
// run's keyframe steps each name every field once (keyframes.h).
struct KeyframeEntry {
    KeyframeEntry() = default;
    KeyframeEntry(qint64 at, QString path, qint64 over = 0,
                  std::optional<SmokeColour> fieldColour = std::nullopt)
        : step(at)
        , image(std::move(path))
        , blend(over)
        , field(fieldColour) {}

    qint64 step = 0;
    QString image;
    qint64 blend = 0;
    std::optional<SmokeColour> field;

    bool operator==(const KeyframeEntry &other) const {
        return step == other.step && image == other.image && blend == other.blend &&
               field == other.field;
    }
};

// What a configuration says beyond the parameters and the two images.
struct SchemeAndKeyframes {
    Scheme scheme = Scheme::Literal;
    std::vector<KeyframeEntry> keyframes;      // steps positive and strictly increasing
    QString obstacles;                         // the obstacle image; empty: none
    std::optional<ColourConfiguration> colour; // absent: a grey run
};

struct Configuration {
    std::array<std::optional<double>, kParameterCount> values; // raw numbers, not clamped
    std::array<QString, kParameterCount> texts;                // the text each value came from
    std::optional<QString> source;
    std::optional<QString> target;
    std::optional<Scheme> scheme;              // absent: the literal scheme
    std::vector<KeyframeEntry> keyframes;      // checked: steps positive, increasing (a field
                                               // run's: one entry per field at a step)
    std::optional<QString> obstacles;          // the obstacle image's path; empty: none
    std::optional<ColourConfiguration> colour; // checked; absent: a grey run

    bool isEmpty() const;
};

enum class ConfigStatus {
    OpenFailed,    // the file could not be opened for reading
    NotWellFormed, // not well-formed XML (also: empty, too large, entity tricks), or a
                   // scheme, keyframe or colour run that cannot be used; detail says which
    Parsed,        // well-formed; see rootRecognised
};

struct ConfigReadResult {
    ConfigStatus status = ConfigStatus::OpenFailed;
    // False when the document's root element is not `configuration`: the file
    // parsed, but nothing in it applies.
    bool rootRecognised = false;
    Configuration configuration;
    QString detail; // parser message with line and column, for diagnostics
};

ConfigReadResult readConfigurationFile(const QString &path);
ConfigReadResult readConfigurationData(const QByteArray &data);

// Number text to value: surrounding white space is allowed; text that is not a
// number, and "nan", read as 0.0; "inf" and numbers too large for a double keep
// their infinity, which clampParameter turns into the nearer bound.
double configNumber(const QString &text);

// Appends ".xml" unless the name already ends in it (compared without regard to
// case): "run" -> "run.xml", "run.XML" stays, "run.xm" -> "run.xm.xml".
QString withXmlSuffix(const QString &fileName);

// The document as written: XML declaration, four-space indentation, numbers in
// the general format with six significant digits ("1e-05", "1.23457e+06").
bool writeConfiguration(QIODevice *device, const SimParameters &parameters, const QString &source,
                        const QString &target, const SchemeAndKeyframes &extras = {});
QByteArray configurationXml(const SimParameters &parameters, const QString &source,
                            const QString &target, const SchemeAndKeyframes &extras = {});

// Writes the document through a temporary file that replaces `path` only when
// everything was written, so a failed save never leaves a truncated file. A
// path that names something other than a regular file is refused.
// Returns false (and an explanation in *error) on any failure.
bool writeConfigurationFile(const QString &path, const SimParameters &parameters,
                            const QString &source, const QString &target, QString *error = nullptr,
                            const SchemeAndKeyframes &extras = {});

} // namespace velloran
