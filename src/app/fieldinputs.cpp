#include "fieldinputs.h"

#include <QCoreApplication>
#include <QDir>

bool readFieldInputs(const std::vector<velloran::ColourField> &configured, bool reverse,
                     std::vector<velloran::RunDensities> *fields,
                     std::vector<velloran::SmokeColour> *colours, FieldInputsProblem *problem) {
    fields->clear();
    colours->clear();
    for (const velloran::ColourField &field : configured) {
        velloran::RunDensities densities;
        QString reason;
        const velloran::RunSetupError error =
            velloran::prepareRun(field.sourcePath, field.targetPath, reverse, &densities, &reason);
        const QString label = QStringLiteral("#") + field.colour.hex();
        if (error != velloran::RunSetupError::None) {
            const QString path =
                velloran::isSourceProblem(error) ? field.sourcePath : field.targetPath;
            problem->text = velloran::runSetupMessage(error);
            problem->details = QStringLiteral("%1: %2 %3")
                                   .arg(label, QDir::toNativeSeparators(path), reason)
                                   .trimmed();
            return false;
        }
        if (!fields->empty() && densities.sourceSize != fields->front().sourceSize) {
            problem->text = QCoreApplication::translate(
                "MainWindow", "Every field of a colour run needs images of one size.");
            problem->details =
                QStringLiteral("%1: %2").arg(label, QDir::toNativeSeparators(field.sourcePath));
            return false;
        }
        fields->push_back(std::move(densities));
        colours->push_back(field.colour);
    }
    return true;
}
