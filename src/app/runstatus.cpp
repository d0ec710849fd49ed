#include "runstatus.h"

#include <QApplication>

#include <cmath>

QString runStatusText(std::int64_t step, double distance, int target, int targets) {
    if (std::isnan(distance)) {
        return QString();
    }
    // A run that blew up can leave a finite picture whose distance overflowed
    // or is astronomically large: a word, or a number that still fits.
    const QString shown = std::isinf(distance) ? QApplication::translate("MainWindow", "unstable")
                          : std::fabs(distance) < 1e4 ? QString::number(distance, 'f', 3)
                                                      : QString::number(distance, 'e', 3);
    QString text =
        QApplication::translate("MainWindow", "step %1 · distance %2").arg(step).arg(shown);
    if (targets > 1) {
        text +=
            QApplication::translate("MainWindow", " · target %1/%2").arg(target + 1).arg(targets);
    }
    return text;
}
