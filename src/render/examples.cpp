#include "examples.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace velloran {

const std::vector<Example> &bundledExamples() {
    // The literal scheme's lengths sit near the lowest distance to the target:
    // past it the smoke keeps concentrating into strokes denser than the
    // target. The sound scheme's runs keep closing in; theirs show the shape
    // settled.
    static const std::vector<Example> examples = {
        {QStringLiteral("blob-to-s"),
         QStringLiteral("a soft blob of smoke gathers into the letter S (literal scheme)"), 500,
         10},
        {QStringLiteral("ring-to-star"),
         QStringLiteral("a ring of smoke reshapes into a star (literal scheme)"), 1500, 20},
        {QStringLiteral("blob-to-s-sound"),
         QStringLiteral("the blob into the S with the sound scheme"), 2000, 20},
        {QStringLiteral("ring-to-star-sound"),
         QStringLiteral("the ring into the star with the sound scheme"), 3000, 30},
        {QStringLiteral("blob-to-word"),
         QStringLiteral("the blob into the word SMOKE (sound scheme)"), 4000, 40},
        {QStringLiteral("word-to-word"),
         QStringLiteral("SMOKE, then FORMS, then a star: keyframed targets (sound scheme)"), 4500,
         50},
        {QStringLiteral("through-the-gap"),
         QStringLiteral("a puff finds the gap in a wall to reach the other side (obstacles)"), 4000,
         40},
        {QStringLiteral("word-around-star"),
         QStringLiteral("the ring into SMOKE around a solid star (obstacles)"), 4000, 40},
        {QStringLiteral("emblem"),
         QStringLiteral("a grey disc sorts itself into four coloured petals (colour, sound)"), 4000,
         40, true},
        {QStringLiteral("ink"),
         QStringLiteral("ink over white: a navy ring round a crimson star (colour, dark, sound)"),
         4000, 40, true},
        {QStringLiteral("yin-yang"),
         QStringLiteral("two coloured halves of a yin-yang exchange places (colour, sound)"), 4000,
         40, true},
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

QString examplesFolder() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString installed =
        QDir(programFolder).filePath(QStringLiteral(VELLORAN_EXAMPLES_FROM_PROGRAM));
    if (QFileInfo(installed).isDir()) {
        return QDir::cleanPath(installed);
    }
    // A program in the build tree reads the repository's files; an installed
    // one never looks there, even if the build tree still exists.
    const QString buildTree = QStringLiteral(VELLORAN_BUILD_TREE);
    if (programFolder == buildTree || programFolder.startsWith(buildTree + QLatin1Char('/'))) {
        QString repository = QStringLiteral(VELLORAN_REPOSITORY_EXAMPLES);
        if (QFileInfo(repository).isDir()) {
            return repository;
        }
    }
    return QString();
}

ConfigReadResult readExampleConfiguration(const Example &example, const QString &folder) {
    const QDir dir(folder);
    ConfigReadResult result =
        readConfigurationFile(dir.filePath(QStringLiteral("%1.xml").arg(example.name)));
    const QDir root(QDir::cleanPath(dir.filePath(QStringLiteral(".."))));
    const auto absolute = [&](const QString &path) {
        return QDir::cleanPath(root.absoluteFilePath(path));
    };
    Configuration &c = result.configuration;
    if (c.source) {
        c.source = absolute(*c.source);
    }
    if (c.target) {
        c.target = absolute(*c.target);
    }
    for (KeyframeEntry &keyframe : c.keyframes) {
        keyframe.image = absolute(keyframe.image);
    }
    if (c.obstacles && !c.obstacles->isEmpty()) {
        c.obstacles = absolute(*c.obstacles);
    }
    if (c.colour) {
        for (ColourField &field : c.colour->fields) {
            field.sourcePath = absolute(field.sourcePath);
            field.targetPath = absolute(field.targetPath);
        }
    }
    return result;
}

} // namespace velloran
