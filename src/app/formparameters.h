#pragma once

// The form's five parameter spin boxes and the shared parameter table.

#include <cstddef>

class QDoubleSpinBox;
class Ui_MainWindow;

// doubleSpinBox_1 .. doubleSpinBox_5 for the parameter indices 0 .. 4.
QDoubleSpinBox *parameterBox(const Ui_MainWindow &form, std::size_t index);

// Gives every box the decimals, range and step of its parameter, in the order
// a spin box needs them (decimals first, so the range is not rounded to the
// old decimals). The table rules: the form's own values in the .ui only make
// Qt Designer show sensible boxes.
void applyParameterRanges(const Ui_MainWindow &form);
