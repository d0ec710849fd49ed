#include "plotfonts.h"

#include "metrics.h"

namespace velloran {

PlotFontsAhead::PlotFontsAhead()
    : m_thread(preparePlotFonts) {}

PlotFontsAhead::~PlotFontsAhead() {
    m_thread.join();
}

} // namespace velloran
