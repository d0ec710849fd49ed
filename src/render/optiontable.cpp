#include "optiontable.h"

#include "frameformats.h"
#include "optionvalues.h"

namespace velloran {

namespace {

using Store = OptionStore;

// ---------------------------------------------------------------- the table

OptionEntry option(const char *name, const char *argument, OptionSection section,
                   unsigned companions, const char *help, Store store) {
    return OptionEntry{QLatin1String(name), QLatin1String(argument), section,         companions,
                       QString(),           QString::fromUtf8(help), std::move(store)};
}

// An option whose --help line is `label`, not its name and value.
OptionEntry shownAs(const char *label, OptionEntry entry) {
    entry.label = QLatin1String(label);
    return entry;
}

// The formats' names and lines come from their own table.
OptionEntry formatOption() {
    OptionEntry entry = option("--format", "LIST", OptionSection::Output, kAlone, "", storeFormats);
    entry.help =
        QStringLiteral("comma list of %1 or none (default: png)\n").arg(frameFormatNames()) +
        frameFormatHelp(2) + QStringLiteral("metrics.csv and convergence.png are always written");
    return entry;
}

// "  --vf X              driving force           0 .. 1000, 1 decimal", from
// the table the desktop program's spin boxes use.
std::vector<OptionEntry> parameterOptions() {
    std::vector<OptionEntry> options;
    for (std::size_t k = 0; k < kParameterCount; ++k) {
        const ParameterRange &range = kParameterRanges[k];
        OptionEntry entry = option("", "X", OptionSection::Input, kAlone, "", parameter(k));
        entry.name = QStringLiteral("--") + QLatin1String(range.key);
        entry.help = QString::fromLatin1(range.meaning).leftJustified(24) +
                     QStringLiteral("%1 .. %2, %3 decimal%4")
                         .arg(range.minimum)
                         .arg(range.maximum)
                         .arg(range.decimals)
                         .arg(range.decimals == 1 ? "" : "s");
        options.push_back(entry);
    }
    return options;
}

std::vector<OptionEntry> makeTable() {
    using S = OptionSection;
    const unsigned both = kWithResume | kWithSweep;
    std::vector<OptionEntry> table = {
        option("CONFIG.xml", "", S::Input, kAlone,
               "configuration file saved by the desktop program", storeConfigFile),
        option("--example", "NAME", S::Input, kAlone, "a bundled example (see --list-examples)",
               programText(&RenderOptions::example)),
        option("--source", "IMG", S::Input, kAlone, "source image (where the smoke starts)",
               jobText(&JobOverrides::source)),
        option("--target", "IMG", S::Input, kAlone, "target image (the shape to form)",
               jobText(&JobOverrides::target)),
        option("--reverse", "", S::Input, kAlone, "exchange the roles of the two images",
               jobFlag(&JobOverrides::reverse)),
        option("--scheme", "WORD", S::Input, kAlone, "literal (default) or sound", storeScheme),
        option("--field", "COLOUR:SRC:TGT", S::Input, kAlone,
               "\na smoke field of that colour (#rrggbb or rrggbb) from the\n"
               "grey image SRC to the grey image TGT; repeatable, 2 to 8\n"
               "fields share one flow in place of --source and --target",
               storeField),
        option("--palette", "auto|N|COLOURS", S::Input, kAlone,
               "\nsplit the colour --target into smoke fields of its colours:\n"
               "auto (its most common, up to 8), the N most common, or a\n"
               "comma list #rrggbb,#rrggbb,...; the source is split the\n"
               "same way, or if grey shared among the fields",
               storePalette),
        option("--colour-mode", "MODE", S::Input, kAlone,
               "light: the fields glow on black; dark: they absorb light\n"
               "over white (transmittance exp(-3 sum of densities)); with\n"
               "--field or --palette",
               storeColourMode),
        option("--obstacles", "IMG", S::Input, kAlone,
               "obstacle image, scaled to the grid: a cell is solid where\n"
               "at least half of it is light (or opaque, if the image has\n"
               "alpha); the sound scheme only",
               nonEmpty("an image", jobText(&JobOverrides::obstacles))),
        option("--keyframe", "[#RRGGBB:]STEP:IMAGE[:BLEND]", S::Input, kAlone,
               "\na further target from STEP on, blended in over BLEND steps\n"
               "(default 0: a cut); repeatable, adds to the configuration's\n"
               "keyframes; a step beyond the run's last is never reached;\n"
               "a palette run splits IMAGE by its palette; a run of --field\n"
               "gives each field its own, #RRGGBB: naming the field, every\n"
               "field at every keyframe step",
               storeKeyframe),
    };
    for (OptionEntry &entry : parameterOptions()) {
        table.push_back(std::move(entry));
    }
    const std::vector<OptionEntry> rest = {
        option("--steps", "N", S::Output, kWithResume,
               "number of steps (default: the example's, else 1000)",
               jobCount(&JobOverrides::steps)),
        option("--every", "K", S::Output, kAlone,
               "write a frame every K steps (default: the example's, else 10);\n"
               "step 0 and the last step are always written",
               jobCount(&JobOverrides::every)),
        option("--out", "DIR", S::Output, kWithSweep, "output folder (default: render-out)",
               nonEmpty("a folder name", jobText(&JobOverrides::outDir))),
        formatOption(),
        option("--vdb-float", "", S::Output, kAlone, "density in 32-bit floats in the vdb frames",
               jobFlag(&JobOverrides::vdbFloat)),
        option("--vdb-velocity-name", "NAME", S::Output, kAlone,
               "velocity (default) or vel, as the host expects", storeVdbVelocityName),
        option("--alpha", "", S::Output, kAlone,
               "PNG frames in 8-bit RGBA: straight alpha = the density,\n"
               "colour = the smoke colour (a colour run: its picture's)",
               jobFlag(&JobOverrides::alpha)),
        option("--smoke-colour", "RRGGBB", S::Output, kAlone,
               "the smoke's colour in exr and --alpha frames\n(default: ffffff)", storeSmokeColour),
        option("--name", "PATTERN", S::Output, kAlone,
               "frame file names, printf-like with one integer field\n"
               "(default: frame_%06d; smoke.%04d gives smoke.0010.exr)",
               storeNames),
        option("--video", "FILE.mp4", S::Output, kAlone, "also encode the frames with ffmpeg",
               nonEmpty("a file name", jobText(&JobOverrides::video))),
        option("--quiet", "", S::Output, both, "no progress display",
               jobFlag(&JobOverrides::quiet)),
        option("--list-examples", "", S::Output, kAlone, "list the bundled examples and exit",
               programFlag(&RenderOptions::listExamples)),
        shownAs("--help, --version",
                option("--help", "", S::Output, both, "", programFlag(&RenderOptions::help))),
        option("--version", "", S::Elsewhere, both, "", programFlag(&RenderOptions::version)),

        option("--checkpoint-every", "K", S::Checkpoint, kWithResume,
               "write checkpoint.vlck into the output folder every K\n"
               "steps, when interrupted and at the end of the run",
               jobCount(&JobOverrides::checkpointEvery)),
        option("--resume", "DIR", S::Checkpoint, kWithResume,
               "continue the run in DIR from its checkpoint, up to its\n"
               "planned last step or to --steps N (which may lie beyond\n"
               "it); frames, fields, metrics and plot come out as those of\n"
               "an uninterrupted run",
               nonEmpty("the folder of the run", programText(&RenderOptions::resumeDir))),

        option("--sweep", "FILE", S::Elsewhere, kWithSweep, "",
               nonEmpty("the sweep file", programText(&RenderOptions::sweepPath))),
        shownAs("--sweep FILE --index K",
                option("--index", "K", S::Sweep, kWithSweep,
                       "render run K of the sweep into OUT/NAME (OUT: --out,\n"
                       "default the sweep file's folder) with checkpoints; a\n"
                       "finished run is kept, an interrupted one continued",
                       storeSweepIndex)),
        shownAs("--sweep FILE --summary",
                option("--summary", "", S::Sweep, kWithSweep,
                       "write OUT/sweep.csv and the contact sheet OUT/sweep.png",
                       programFlag(&RenderOptions::summary))),
    };
    table.insert(table.end(), rest.begin(), rest.end());
    return table;
}

} // namespace

const std::vector<OptionEntry> &optionTable() {
    static const std::vector<OptionEntry> table = makeTable();
    return table;
}

const OptionEntry &configFileOption() {
    return optionTable().front();
}

const OptionEntry *findOption(const QString &name) {
    for (const OptionEntry &entry : optionTable()) {
        if (entry.name == name && entry.name.startsWith(QLatin1String("--"))) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace velloran
