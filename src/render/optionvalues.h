#pragma once

// How the entries of the option table (optiontable.h) check and store their
// values: stores made for a field, and one store for each option whose value
// needs its own check.

#include "optiontable.h"

namespace velloran {

// A flag of the program's own: --help, --list-examples.
OptionStore programFlag(bool RenderOptions::*flag);
// A text of the program's own: --example.
OptionStore programText(QString RenderOptions::*field);
// A flag that changes the job: --reverse, --alpha.
OptionStore jobFlag(std::optional<bool> JobOverrides::*flag);
// A text the job takes as it is: --source, --target.
OptionStore jobText(std::optional<QString> JobOverrides::*field);
// A whole number from 1 to kMaxSteps: --steps, --every.
OptionStore jobCount(std::optional<int> JobOverrides::*field);
// A finite number for parameter k (bounded and rounded later, by the job).
OptionStore parameter(std::size_t k);
// `store`, for a value that must not be empty: "NAME needs `what`".
OptionStore nonEmpty(const char *what, OptionStore store);

bool storeConfigFile(const QString &name, const QString &path, RenderOptions *options,
                     QString *error);
bool storeScheme(const QString &name, const QString &value, RenderOptions *options, QString *error);
// "STEP:IMAGE" or "STEP:IMAGE:BLEND".
bool storeKeyframe(const QString &name, const QString &value, RenderOptions *options,
                   QString *error);
// A comma list of the frame formats (frameformats.h) or none.
bool storeFormats(const QString &name, const QString &value, RenderOptions *options,
                  QString *error);
bool storeVdbVelocityName(const QString &name, const QString &value, RenderOptions *options,
                          QString *error);
bool storeSmokeColour(const QString &name, const QString &value, RenderOptions *options,
                      QString *error);
// "COLOUR:SOURCE:TARGET", COLOUR as #rrggbb or rrggbb.
bool storeField(const QString &name, const QString &value, RenderOptions *options, QString *error);
bool storePalette(const QString &name, const QString &value, RenderOptions *options,
                  QString *error);
bool storeColourMode(const QString &name, const QString &value, RenderOptions *options,
                     QString *error);
bool storeNames(const QString &name, const QString &value, RenderOptions *options, QString *error);
bool storeSweepIndex(const QString &name, const QString &value, RenderOptions *options,
                     QString *error);

} // namespace velloran
