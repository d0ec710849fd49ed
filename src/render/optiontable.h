#pragma once

// The options of velloran-render, one entry each. The parser (options.cpp)
// finds an option here by its name and lets the entry check and store the
// value; --help lists the entries in table order under their sections, so an
// option cannot be taken without being shown, nor shown without being taken.

#include "options.h"

#include <QString>

#include <functional>
#include <vector>

namespace velloran {

// Where --help lists an option. Elsewhere: named in another option's line
// ("--help, --version"), so it has no line of its own.
enum class OptionSection { Input, Output, Checkpoint, Sweep, Elsewhere };

// Which of --resume and --sweep an option may accompany: those take the run
// from elsewhere, so any option that would change it is refused.
enum OptionCompanion : unsigned { kAlone = 0, kWithResume = 1, kWithSweep = 2 };

// Checks an option's value (empty for a flag) and stores it; on a refusal,
// false with a one-line *error. `name` is the option's.
using OptionStore = std::function<bool(const QString &name, const QString &value,
                                       RenderOptions *options, QString *error)>;

struct OptionEntry {
    // "--steps"; for the positional configuration file, "CONFIG.xml".
    QString name;
    // How --help shows the value ("N"); empty for a flag, which takes none.
    QString argument;
    OptionSection section;
    unsigned companions;
    // --help's left column when it is not "NAME ARGUMENT".
    QString label;
    // The --help text; its later lines are indented like its first, and a
    // text that starts with a line break begins below the option.
    QString help;
    OptionStore store;

    bool isFlag() const { return argument.isEmpty(); }
};

// Every option, in the order --help lists them.
const std::vector<OptionEntry> &optionTable();

// The entry of option `name` ("--steps"), or null.
const OptionEntry *findOption(const QString &name);

// The entry of the positional configuration file.
const OptionEntry &configFileOption();

} // namespace velloran
