#include "formparameters.h"

#include "parameters.h"
#include "ui_mainwindow.h"

QDoubleSpinBox *parameterBox(const Ui_MainWindow &form, std::size_t index) {
    QDoubleSpinBox *const boxes[velloran::kParameterCount] = {
        form.doubleSpinBox_1, form.doubleSpinBox_2, form.doubleSpinBox_3, form.doubleSpinBox_4,
        form.doubleSpinBox_5};
    return boxes[index];
}

void applyParameterRanges(const Ui_MainWindow &form) {
    for (std::size_t k = 0; k < velloran::kParameterCount; ++k) {
        const velloran::ParameterRange &range = velloran::kParameterRanges[k];
        QDoubleSpinBox *box = parameterBox(form, k);
        box->setDecimals(range.decimals);
        box->setMinimum(range.minimum);
        box->setMaximum(range.maximum);
        box->setSingleStep(range.singleStep);
    }
}
