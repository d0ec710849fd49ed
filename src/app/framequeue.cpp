#include "framequeue.h"

#include <utility>

FrameQueue::FrameQueue(int buffers)
    : m_spare(static_cast<std::size_t>(buffers)) {}

bool FrameQueue::claim(std::int64_t step, PendingFrame *buffer) {
    if (m_spare.empty()) {
        ++m_skipped;
        return false;
    }
    *buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer->step = step;
    return true;
}

void FrameQueue::fill(PendingFrame buffer) {
    m_ready.push_back(std::move(buffer));
}

bool FrameQueue::next(PendingFrame *frame) {
    if (m_ready.empty()) {
        return false;
    }
    *frame = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

void FrameQueue::giveBack(PendingFrame buffer) {
    m_spare.push_back(std::move(buffer));
}

void FrameQueue::dropQueued() {
    while (!m_ready.empty()) {
        m_spare.push_back(std::move(m_ready.front()));
        m_ready.pop_front();
    }
}
