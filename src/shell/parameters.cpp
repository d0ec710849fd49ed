#include "parameters.h"

#include <QString>

#include <cmath>
#include <cstring>

namespace velloran {

const std::array<ParameterRange, kParameterCount> kParameterRanges = {{
    {"vf", 0.0, 1000.0, 1, 1.0, "driving force"},
    {"vd", 0.0, 1000.0, 1, 1.0, "momentum attenuation"},
    {"vg", 0.0, 1.0, 4, 0.0005, "smoke gathering"},
    {"sigma", 0.1, 10.0, 1, 0.3, "blur width in cells"},
    {"dt", 0.0, 1.0, 5, 0.00005, "time step"},
}};

std::size_t parameterIndex(const char *key) {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        if (std::strcmp(kParameterRanges[k].key, key) == 0) {
            return k;
        }
    }
    return kParameterCount;
}

double spinBoxValue(double value, double minimum, double maximum, int decimals) {
    if (std::isnan(value)) {
        value = 0.0;
    }
    if (std::isinf(value)) {
        return value > 0 ? maximum : minimum;
    }
    // Rounding through the decimal text is what the spin box does; it rounds
    // half away from zero on the decimal digits of the shortest representation
    // (2.25 -> 2.3), which std::round(value * 10) / 10 would not always match.
    double rounded = QString::number(value, 'f', decimals).toDouble();
    if (rounded < minimum) {
        rounded = minimum;
    } else if (rounded > maximum) {
        rounded = maximum;
    }
    return rounded + 0.0; // -0.0 + 0.0 == +0.0
}

double clampParameter(std::size_t index, double value) {
    const ParameterRange &range = kParameterRanges[index];
    return spinBoxValue(value, range.minimum, range.maximum, range.decimals);
}

double parameterStartValue(std::size_t index) {
    return kParameterRanges[index].minimum;
}

double soundDefaultValue(std::size_t index) {
    static const std::array<double, kParameterCount> values = {2.0, 30.0, 0.15, 1.0, 0.001};
    return values[index];
}

SimParameters::SimParameters() {
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        values[k] = parameterStartValue(k);
    }
}

} // namespace velloran
