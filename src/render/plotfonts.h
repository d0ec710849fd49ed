#pragma once

// The convergence plot's font looked up on a thread of its own while a render
// reads its inputs and steps: most renders leave a core idle while they are
// set up, and the lookup would otherwise hold up the plot at the end.

#include <thread>

namespace velloran {

class PlotFontsAhead {
public:
    PlotFontsAhead();
    ~PlotFontsAhead(); // waits for the lookup
    PlotFontsAhead(const PlotFontsAhead &) = delete;
    PlotFontsAhead &operator=(const PlotFontsAhead &) = delete;

private:
    std::thread m_thread;
};

} // namespace velloran
