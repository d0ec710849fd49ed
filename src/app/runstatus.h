#pragma once

// The text of the status bar's run widget: where the frame shown stands.

#include <QString>

#include <cstdint>

// "step 1234 · distance 0.412", followed by " · target 2/3" when the run has
// more than one target (`target` counts from 0). An infinite distance reads
// "unstable", one of 10000 or more is written with an exponent ("1.235e+07").
// Empty while there is no distance to show (no frame yet).
QString runStatusText(std::int64_t step, double distance, int target, int targets);
