#pragma once

// Opening an input file (configuration, image) the same careful way in both
// programs, and the check every writer makes before it puts a file in place.

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

// True when a file written whole may be renamed to `path`: nothing is there
// (a dangling link included) or a regular file is. A device, a FIFO, a socket
// or a folder at `path`, or a link to one, gives false with *reason "not a
// regular file": renaming over it would put a file in the place of, say, a
// device node (as root, destroying it) where the caller meant the device.
// Links are followed because that is what the caller named; the rename itself
// only ever replaces the link. A failure to look (no permission) gives true:
// the write that follows reports it in its own words.
bool replaceableByRegularFile(const QString &path, QString *reason);

} // namespace velloran
