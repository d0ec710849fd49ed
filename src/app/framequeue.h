#pragma once

// FrameQueue: frames on their way from the worker to the recording's writer,
// in a fixed number of buffers. A frame offered when every buffer is still
// waiting for the writer is skipped and counted, so the worker never waits.
// Not thread-safe: the recorder calls it under its own lock (the copy into a
// buffer happens outside, between claim() and fill()).

#include "grid.h"

#include <cstdint>
#include <deque>
#include <vector>

struct PendingFrame {
    Grid density{1, 1};
    Grid u{1, 1}; // the cell-centred velocity, for the raw frame formats only
    Grid v{1, 1};
    std::vector<Grid> fields; // a colour run's further densities (density is the first)
    std::int64_t step = 0;
};

class FrameQueue {
public:
    explicit FrameQueue(int buffers);

    // A free buffer for the frame of `step`, taken out of the queue's hands;
    // false (and the frame counted as skipped) when there is none.
    bool claim(std::int64_t step, PendingFrame *buffer);
    // The claimed buffer, now holding its frame, queued for the writer.
    void fill(PendingFrame buffer);

    // The oldest queued frame, for the writer; false when none waits.
    bool next(PendingFrame *frame);
    // A buffer the writer is done with.
    void giveBack(PendingFrame buffer);
    // Drops every queued frame (the recording failed).
    void dropQueued();

    bool empty() const { return m_ready.empty(); }
    bool hasSpare() const { return !m_spare.empty(); }
    int skipped() const { return m_skipped; }

private:
    std::vector<PendingFrame> m_spare;
    std::deque<PendingFrame> m_ready;
    int m_skipped = 0;
};
