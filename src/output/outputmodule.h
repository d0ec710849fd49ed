#pragma once

// Writers whose libraries most renders never need are modules of their own,
// loaded with the first file they write: each such library costs every
// process that links it thousands of symbol relocations at start-up, more than
// the steps of a short render.

#include <QString>

namespace velloran {

// Where one module lies: seen from an installed program (so that an installed
// tree may move), as installed, and as built in this build tree.
struct ModulePlaces {
    const char *fromProgram;
    const char *installed;
    const char *built;
};

// The module's function `symbol`, the module kept loaded for the rest of the
// process; null, with *error naming the `writer` ("OpenEXR writer") and where
// it was looked for, when there is none. Code running from this build tree
// (a program, or the Python module loaded from it) finds the module built
// beside it; an installed program never loads a build tree's module.
void *moduleFunction(const ModulePlaces &places, const char *symbol, const QString &writer,
                     QString *error);

// The same, typed, with the reason kept beside it: what a writer looks up once
// and holds for the rest of the process.
template <typename Function> struct WriterModule {
    QString error; // why there is no function (set up before the lookup fills it)
    Function function = nullptr;

    WriterModule(const ModulePlaces &places, const char *symbol, const QString &writer)
        : function(reinterpret_cast<Function>(moduleFunction(places, symbol, writer, &error))) {}
};

} // namespace velloran
