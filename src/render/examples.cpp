#include "examples.h"

namespace velloran {

const std::vector<Example> &bundledExamples() {
    // Lengths sit near the lowest distance to the target: past it the smoke
    // keeps concentrating into strokes denser than the target.
    static const std::vector<Example> examples = {
        {QStringLiteral("blob-to-s"),
         QStringLiteral("a soft blob of smoke gathers into the letter S"), 500, 10},
        {QStringLiteral("ring-to-star"), QStringLiteral("a ring of smoke reshapes into a star"),
         1500, 20},
    };
    return examples;
}

const Example *findExample(const QString &name) {
    for (const Example &example : bundledExamples()) {
        if (example.name == name) {
            return &example;
        }
    }
    return nullptr;
}

QString exampleConfigPath(const Example &example) {
    return QStringLiteral(":/examples/%1.xml").arg(example.name);
}

QString exampleResourcePath(const QString &repositoryRelativePath) {
    return QStringLiteral(":/") + repositoryRelativePath;
}

} // namespace velloran
