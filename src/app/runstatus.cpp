#include "runstatus.h"

#include <QApplication>

#include <cmath>

QString runStatusText(std::int64_t step, double distance, int target, int targets) {
    if (std::isnan(distance)) {
        return QString();
    }
    QString text = QApplication::translate("MainWindow", "step %1 · distance %2")
                       .arg(step)
                       .arg(distance, 0, 'f', 3);
    if (targets > 1) {
        text +=
            QApplication::translate("MainWindow", " · target %1/%2").arg(target + 1).arg(targets);
    }
    return text;
}
