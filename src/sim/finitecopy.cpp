#include "finitecopy.h"

#include <cstdint>
#include <cstring>

namespace {

// A double is infinite or NaN exactly when its eleven exponent bits are all
// set. Adding one unit of the exponent's lowest bit to the exponent field then
// carries into the sign position, and only then; the carries of all values are
// collected with OR and looked at once at the end.
constexpr std::uint64_t kExponent = 0x7ff0000000000000ull;
constexpr std::uint64_t kExponentOne = 1ull << 52;

// Two lanes: every x86-64 processor has them, and the loop is bound by memory,
// not by the width of the arithmetic.
typedef std::uint64_t Pair __attribute__((vector_size(16)));

} // namespace

bool copyCheckingFinite(const Grid &from, Grid &to) {
    if (to.NumRows() != from.NumRows() || to.NumCols() != from.NumCols()) {
        to = Grid(from.NumRows(), from.NumCols());
    }
    const std::size_t count = static_cast<std::size_t>(from.NumRows()) * from.NumCols();
    const double *source = from.data();
    double *target = to.data();

    const Pair exponent = {kExponent, kExponent};
    const Pair one = {kExponentOne, kExponentOne};
    Pair carry0 = {0, 0}, carry1 = carry0, carry2 = carry0, carry3 = carry0;
    std::size_t k = 0;
    for (; k + 8 <= count; k += 8) {
        Pair a, b, c, d;
        std::memcpy(&a, source + k, sizeof a);
        std::memcpy(&b, source + k + 2, sizeof b);
        std::memcpy(&c, source + k + 4, sizeof c);
        std::memcpy(&d, source + k + 6, sizeof d);
        std::memcpy(target + k, &a, sizeof a);
        std::memcpy(target + k + 2, &b, sizeof b);
        std::memcpy(target + k + 4, &c, sizeof c);
        std::memcpy(target + k + 6, &d, sizeof d);
        carry0 |= (a & exponent) + one;
        carry1 |= (b & exponent) + one;
        carry2 |= (c & exponent) + one;
        carry3 |= (d & exponent) + one;
    }
    const Pair carries = carry0 | carry1 | carry2 | carry3;
    std::uint64_t carry = carries[0] | carries[1];
    for (; k < count; ++k) {
        std::uint64_t bits;
        std::memcpy(&bits, source + k, sizeof bits);
        target[k] = source[k];
        carry |= (bits & kExponent) + kExponentOne;
    }
    return (carry >> 63) == 0;
}
