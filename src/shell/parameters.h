#pragma once

// The five simulation parameters, their ranges and their rounding.
//
// Both programs hold every parameter the way the desktop window's spin boxes
// hold it: bounded to a range and rounded to a fixed number of decimals. A value
// that comes from a file or a command line goes through clampParameter, so a
// configuration gives the same run everywhere.

#include <array>
#include <cstddef>

namespace velloran {

enum ParameterIndex : std::size_t { kVf = 0, kVd = 1, kVg = 2, kSigma = 3, kDt = 4 };
constexpr std::size_t kParameterCount = 5;

struct ParameterRange {
    const char *key; // element name in a configuration file, option name without "--"
    double minimum;
    double maximum;
    int decimals;
    double singleStep;
    const char *meaning; // a few words for option help, e.g. "driving force"
};

// In the order in which the parameters travel everywhere: vf, vd, vg, sigma, dt.
extern const std::array<ParameterRange, kParameterCount> kParameterRanges;

// Index of a parameter key ("vf" ... "dt"), or kParameterCount if unknown.
std::size_t parameterIndex(const char *key);

// What a spin box with the given range and decimals holds after setValue(value):
// the value is rounded to `decimals` decimal places (through the same decimal
// text a spin box uses, so 2.25 with one decimal gives 2.3) and then bounded to
// [minimum, maximum]. Values a spin box would mishandle are defined here:
// NaN counts as text that is not a number, i.e. 0.0 before bounding;
// +inf and -inf go to the nearer bound; -0.0 becomes +0.0.
double spinBoxValue(double value, double minimum, double maximum, int decimals);

// spinBoxValue with the range and decimals of parameter `index`.
double clampParameter(std::size_t index, double value);

// The value a freshly started desktop window shows for parameter `index` (its
// spin box starts at the minimum): what a run takes for a parameter that no
// file or option gives.
double parameterStartValue(std::size_t index);

// The sound scheme's documented default set (docs/method.md): what a sound
// run of the renderer or the Python module takes for a parameter that no file
// or option gives. vf 2, vd 30, vg 0.15, sigma 1, dt 0.001.
double soundDefaultValue(std::size_t index);

// A full parameter set, indexed like kParameterRanges. Starts at every start
// value, as the spin boxes do.
struct SimParameters {
    std::array<double, kParameterCount> values{};

    SimParameters();
    double &operator[](std::size_t index) { return values[index]; }
    double operator[](std::size_t index) const { return values[index]; }
    double vf() const { return values[kVf]; }
    double vd() const { return values[kVd]; }
    double vg() const { return values[kVg]; }
    double sigma() const { return values[kSigma]; }
    double dt() const { return values[kDt]; }
};

} // namespace velloran
