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
//   </configuration>
//
// The reader never touches a window or a solver: it returns what the file says
// (last occurrence wins, missing values stay unset) and the caller applies it,
// numbers through clampParameter (parameters.h).

#include "parameters.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <array>
#include <optional>

namespace velloran {

// Files larger than this are refused as invalid before parsing: a real
// configuration is a few hundred bytes.
constexpr qint64 kMaxConfigurationBytes = 1024 * 1024;

struct Configuration {
    std::array<std::optional<double>, kParameterCount> values; // raw numbers, not clamped
    std::array<QString, kParameterCount> texts;                // the text each value came from
    std::optional<QString> source;
    std::optional<QString> target;

    bool isEmpty() const;
};

enum class ConfigStatus {
    OpenFailed,    // the file could not be opened for reading
    NotWellFormed, // not well-formed XML (also: empty, too large, entity tricks)
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
                        const QString &target);
QByteArray configurationXml(const SimParameters &parameters, const QString &source,
                            const QString &target);

// Writes the document through a temporary file that replaces `path` only when
// everything was written, so a failed save never leaves a truncated file. A
// path that names something other than a regular file is refused.
// Returns false (and an explanation in *error) on any failure.
bool writeConfigurationFile(const QString &path, const SimParameters &parameters,
                            const QString &source, const QString &target, QString *error = nullptr);

} // namespace velloran
