#pragma once

// Live progress of a render on stderr: a bar redrawn in place on a terminal,
// a plain line every five seconds otherwise, nothing with --quiet.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

namespace velloran {

class Progress {
public:
    Progress(FILE *stream, bool quiet, int total);
    ~Progress() { close(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // A resumed run: the rate counts the steps from `step` on.
    void startAt(int step) { m_first = step; }

    // Redraws (at most every 100 ms on a terminal, 5 s otherwise, or now if
    // forced) with the steps done and the latest distance.
    void update(int step, double distance, bool force = false);

    // Ends the live line so that later messages start on a fresh one.
    void close();

private:
    FILE *m_stream;
    bool m_enabled;
    bool m_terminal;
    int m_total;
    int m_first = 0;
    QElapsedTimer m_clock;
    qint64 m_last = -1000000;
    bool m_open = false;
};

// "m:ss" or "h:mm:ss"; "--:--" for an unknown duration.
QString formatDuration(double seconds);

} // namespace velloran
