#pragma once

// The folder a recording writes into, under the renderer's rules: created if
// missing, probed with a file of its own before anything else is written, and
// cleared of the files an earlier render or recording left there (frames in
// every format, raw fields, metrics and plot) so that frames of two runs never
// mix. Every other file stays.

#include <QString>

// Creates the folder if needed and checks that a file can be written into it.
// Touches nothing that is there. False, with the reason in *error, otherwise.
bool probeRecordFolder(const QString &folder, QString *error);

// Whether a file name is one a render or a recording writes.
bool isRenderOutputName(const QString &name);

// Removes those files from the folder; returns how many it removed.
int removeEarlierOutput(const QString &folder);
