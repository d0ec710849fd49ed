#pragma once

// How velloran-render speaks: one line per message, flushed at once so that
// the lines of the progress display and of a refusal never interleave.

#include <QString>

#include <cstdio>

namespace velloran {

void printLine(FILE *stream, const QString &text);

// 'path', as messages quote names.
QString quoted(const QString &path);

// The program's messages on stderr, each one line starting with its name.
class Messages {
public:
    explicit Messages(FILE *stream)
        : m_stream(stream) {}

    void say(const QString &message) const;
    int fail(const QString &message, int code) const {
        say(message);
        return code;
    }
    FILE *stream() const { return m_stream; }

private:
    FILE *m_stream;
};

} // namespace velloran
