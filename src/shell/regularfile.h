#pragma once

// Opening an input file (configuration, image) the same careful way in both
// programs.

#include <QFile>
#include <QString>

namespace velloran {

// Opens `path` for reading into *file, but only if it is a regular file: a
// FIFO, a terminal or a device is refused at once instead of being read until
// someone writes to it (or forever). On failure returns false with *reason in
// a few words: the system's text ("No such file or directory"), "not a regular
// file", or, for a name whose bytes were not valid UTF-8 and so could not be
// kept, a sentence saying exactly that. With `followLinks` false a symbolic
// link at `path` is refused too ("a symbolic link"): for a file the program
// itself wrote there, a link means someone else put it in its place.
bool openRegularFile(const QString &path, QFile *file, QString *reason, bool followLinks = true);

} // namespace velloran
