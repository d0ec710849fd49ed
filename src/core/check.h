#pragma once

// An invariant check that stays active in every build type, Release included.
// The numerical core has no recoverable error path: a broken invariant (an index
// out of range, grids of different shapes, a non-positive blur width) prints the
// condition as written, the source file and the line, then ends the program.

#include <cstdio>
#include <cstdlib>

namespace velloran::detail {

[[noreturn]] inline void checkFailed(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

} // namespace velloran::detail

#define VELLORAN_CHECK(condition)                                                                  \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::velloran::detail::checkFailed(#condition, __FILE__, __LINE__))
