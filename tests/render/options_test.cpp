#include "options.h"
#include "optiontable.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

bool parse(const QStringList &arguments, RenderOptions *options, QString *error) {
    return parseRenderOptions(arguments, options, error);
}

QString parseError(const QStringList &arguments) {
    RenderOptions options;
    QString error;
    EXPECT_FALSE(parse(arguments, &options, &error)) << arguments.join(' ').toStdString();
    return error;
}

} // namespace

TEST(RenderOptions, EverythingParses) {
    RenderOptions o;
    QString error;
    ASSERT_TRUE(parse(
        {"run.xml", "--source", "a.png",     "--target=b.png", "--reverse", "--vf",     "2.5",
         "--vd",    "1e1",      "--vg=0",    "--sigma",        " 1.5 ",     "--dt",     "0.001",
         "--steps", "50",       "--every=5", "--out",          "o",         "--format", "npy, PNG",
         "--video", "v.mp4",    "--quiet"},
        &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.configPath, "run.xml");
    EXPECT_EQ(o.job.source, QString("a.png"));
    EXPECT_EQ(o.job.target, QString("b.png"));
    EXPECT_EQ(o.job.reverse, true);
    EXPECT_EQ(o.job.values[kVf], 2.5);
    EXPECT_EQ(o.job.values[kVd], 10.0);
    EXPECT_EQ(o.job.values[kVg], 0.0);
    EXPECT_EQ(o.job.values[kSigma], 1.5);
    EXPECT_EQ(o.job.values[kDt], 0.001);
    EXPECT_EQ(o.job.steps, 50);
    EXPECT_EQ(o.job.every, 5);
    EXPECT_EQ(o.job.outDir, QString("o"));
    EXPECT_EQ(o.job.formats, QStringList({"png", "npy"})); // in the order the run writes them
    EXPECT_EQ(o.job.video, QString("v.mp4"));
    EXPECT_EQ(o.job.quiet, true);

    // Nothing given overrides nothing; "--" and a file name that looks like
    // an option.
    ASSERT_TRUE(parse({"--", "--odd.xml"}, &o, &error));
    EXPECT_EQ(o.configPath, "--odd.xml");
    EXPECT_FALSE(o.job.formats);
    EXPECT_FALSE(o.job.values[kVf]);
    EXPECT_FALSE(o.job.reverse);
    EXPECT_FALSE(o.job.quiet);
    ASSERT_TRUE(parse({"--format", "none", "-h"}, &o, &error));
    EXPECT_EQ(o.job.formats, QStringList());
    EXPECT_TRUE(o.help);
    // A repeated format counts once; a later --format replaces an earlier one.
    ASSERT_TRUE(parse({"--format", "exr", "--format", "vdb,png,VDB"}, &o, &error));
    EXPECT_EQ(o.job.formats, QStringList({"png", "vdb"}));
    // A negative value is a value, not an option (it is bounded later).
    ASSERT_TRUE(parse({"--vf", "-3"}, &o, &error));
    EXPECT_EQ(o.job.values[kVf], -3.0);
}

TEST(RenderOptions, BadInputIsRefusedWithOneClearLine) {
    EXPECT_EQ(parseError({"--frobnicate"}), "unknown option '--frobnicate'");
    EXPECT_EQ(parseError({"-x"}), "unknown option '-x'");
    EXPECT_EQ(parseError({"--vf"}), "--vf needs a value");
    EXPECT_EQ(parseError({"--out"}), "--out needs a value");
    EXPECT_EQ(parseError({"--steps", "--out", "x"}), "--steps needs a value");
    EXPECT_EQ(parseError({"--vf", "abc"}), "--vf needs a finite number, not 'abc'");
    EXPECT_EQ(parseError({"--dt", "nan"}), "--dt needs a finite number, not 'nan'");
    EXPECT_EQ(parseError({"--dt", "inf"}), "--dt needs a finite number, not 'inf'");
    EXPECT_EQ(parseError({"--sigma", "1e400"}), "--sigma needs a finite number, not '1e400'");
    EXPECT_EQ(parseError({"--vg", "1,5"}), "--vg needs a finite number, not '1,5'");
    for (const char *bad : {"0", "-5", "1.5", "abc", "", "99999999999"}) {
        EXPECT_TRUE(
            parseError({"--steps", bad}).startsWith("--steps needs a positive whole number"))
            << bad;
        EXPECT_TRUE(
            parseError({"--every", bad}).startsWith("--every needs a positive whole number"))
            << bad;
    }
    EXPECT_EQ(parseError({"--format", "jpg"}),
              "--format takes a list of png, exr, vdb, npy or none (e.g. png,exr), not 'jpg'");
    EXPECT_TRUE(parseError({"--format", "png,"}).startsWith("--format takes a list"));
    EXPECT_EQ(parseError({"--quiet=yes"}), "--quiet takes no value");
    EXPECT_EQ(parseError({"a.xml", "b.xml"}),
              "only one configuration file can be given ('a.xml' and 'b.xml')");
    EXPECT_EQ(parseError({""}), "the configuration file name is empty");
    EXPECT_EQ(parseError({"--video="}), "--video needs a file name");
    EXPECT_EQ(parseError({"--format", "vdb", "--vdb-velocity-name", "v"}),
              "--vdb-velocity-name takes velocity or vel, not 'v'");
    EXPECT_EQ(parseError({"--format", "png", "--vdb-velocity-name", "vel"}),
              "--vdb-velocity-name shapes the .vdb frames, but --format has no vdb");
}

TEST(RenderOptions, CompositingOutputs) {
    RenderOptions o;
    QString error;
    ASSERT_TRUE(parse(
        {"--format", "exr, png", "--alpha", "--smoke-colour", "#FF8000", "--name", "smoke.%04d"},
        &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.job.formats, QStringList({"png", "exr"}));
    EXPECT_EQ(o.job.alpha, true);
    EXPECT_EQ(o.job.colour->hex(), "ff8000");
    EXPECT_EQ(o.job.names->frameName(10, "exr"), "smoke.0010.exr");
    // png is the default format, so --alpha alone is fine.
    ASSERT_TRUE(parse({"--alpha"}, &o, &error));
    EXPECT_EQ(o.job.alpha, true);
    ASSERT_TRUE(parse({}, &o, &error));
    EXPECT_FALSE(o.job.colour);
    EXPECT_FALSE(o.job.names);

    EXPECT_EQ(parseError({"--format", "exr", "--alpha"}),
              "--alpha adds an alpha channel to the PNG frames, but --format has no png");
    EXPECT_EQ(parseError({"--smoke-colour", "orange"}),
              "--smoke-colour needs six hex digits RRGGBB (e.g. ff8000), not 'orange'");
    EXPECT_TRUE(parseError({"--name", "smoke"}).contains("has no field"));
    EXPECT_TRUE(parseError({"--name", "a/%d"}).contains("slash"));
    EXPECT_EQ(parseError({"--name", "%s"}),
              "--name '%s' has the field '%s', which is not an integer field (%d, %i or %u) (a "
              "pattern needs exactly one integer field, e.g. smoke.%04d)");
    EXPECT_EQ(parseError({"--name"}), "--name needs a value");
    EXPECT_EQ(parseError({"--alpha=1"}), "--alpha takes no value");
}

TEST(RenderOptions, CheckpointAndResume) {
    RenderOptions o;
    QString error;
    ASSERT_TRUE(parse({"--checkpoint-every", "50"}, &o, &error)) << error.toStdString();
    EXPECT_EQ(o.job.checkpointEvery, 50);
    EXPECT_TRUE(o.resumeDir.isEmpty());
    ASSERT_TRUE(
        parse({"--resume", "out/run", "--steps", "2000", "--quiet", "--checkpoint-every", "100"},
              &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.resumeDir, "out/run");
    EXPECT_EQ(o.job.steps, 2000);

    EXPECT_TRUE(parseError({"--checkpoint-every", "0"})
                    .startsWith("--checkpoint-every needs a positive whole number"));
    EXPECT_EQ(parseError({"--resume="}), "--resume needs the folder of the run");
    // Whatever would change the run or its output is refused, not ignored.
    const QStringList changing[] = {{"--vf", "2"},
                                    {"--source", "a.png"},
                                    {"--target", "b.png"},
                                    {"--reverse"},
                                    {"--format", "exr"},
                                    {"--every", "5"},
                                    {"--out", "x"},
                                    {"--alpha"},
                                    {"--name", "s%d"},
                                    {"--smoke-colour", "ff0000"},
                                    {"--example", "blob-to-s"},
                                    {"--video", "v.mp4"},
                                    {"run.xml"}};
    for (const QStringList &extra : changing) {
        const QString message = parseError(QStringList{"--resume", "dir"} + extra);
        EXPECT_TRUE(message.startsWith("--resume continues the run as it was started; "))
            << message.toStdString();
        EXPECT_TRUE(message.contains(extra.front().startsWith("--") ? extra.front()
                                                                    : "a configuration file"))
            << message.toStdString();
    }
}

TEST(RenderOptions, SchemeAndKeyframes) {
    RenderOptions o;
    QString error;
    ASSERT_TRUE(parse({"--scheme", "sound", "--keyframe", "800:b.png", "--keyframe",
                       "1600:dir:with:colons/c.png:200", "--keyframe=900:d.png:0"},
                      &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.job.scheme, Scheme::Sound);
    const std::vector<KeyframeEntry> expected = {
        {800, "b.png", 0}, {1600, "dir:with:colons/c.png", 200}, {900, "d.png", 0}};
    EXPECT_EQ(o.job.keyframes, expected); // in the order given; the job sorts them
    ASSERT_TRUE(parse({"--scheme=literal"}, &o, &error));
    EXPECT_EQ(o.job.scheme, Scheme::Literal);
    ASSERT_TRUE(parse({}, &o, &error));
    EXPECT_FALSE(o.job.scheme.has_value());
    EXPECT_TRUE(o.job.keyframes.empty());

    EXPECT_EQ(parseError({"--scheme", "Sound"}), "--scheme takes literal or sound, not 'Sound'");
    EXPECT_EQ(parseError({"--scheme", ""}), "--scheme takes literal or sound, not ''");
    const std::pair<const char *, const char *> bad[] = {
        {"b.png", "no step"},
        {"0:b.png", "the step must be a whole number from 1"},
        {"-5:b.png", "the step must be a whole number from 1"},
        {"1.5:b.png", "the step must be a whole number from 1"},
        {"x:b.png", "the step must be a whole number from 1"},
        {"800:", "no image"},
        {"800::20", "no image"},
        {"800:b.png:-3", "the blend must be a whole number from 0"},
        {"800:b.png:99999999999", "the blend must be a whole number from 0"},
    };
    for (const auto &[text, why] : bad) {
        const QString message = parseError({"--keyframe", text});
        EXPECT_TRUE(message.startsWith(QStringLiteral("--keyframe '%1': ").arg(text)))
            << message.toStdString();
        EXPECT_TRUE(message.contains(why)) << message.toStdString();
    }
    EXPECT_TRUE(parseError({"--resume", "d", "--scheme", "sound"}).contains("--scheme"));
    EXPECT_TRUE(parseError({"--resume", "d", "--keyframe", "5:a.png"}).contains("--keyframe"));
}

TEST(RenderOptions, SweepAsksForAnIndexOrTheSummaryAndNothingThatChangesARun) {
    RenderOptions o;
    QString error;
    ASSERT_TRUE(
        parseRenderOptions({"--sweep", "s.json", "--index", "3", "--out", "runs"}, &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.sweepPath, "s.json");
    EXPECT_EQ(o.sweepIndex, 3);
    ASSERT_TRUE(parseRenderOptions({"--sweep=s.json", "--summary"}, &o, &error));
    EXPECT_TRUE(o.summary);

    const QList<QPair<QStringList, QString>> refused = {
        {{"--sweep", "s.json"}, "--sweep needs either --index K or --summary"},
        {{"--sweep", "s.json", "--index", "0", "--summary"},
         "--sweep needs either --index K or --summary"},
        {{"--index", "0"}, "--index and --summary need --sweep SWEEP.json"},
        {{"--sweep", "s.json", "--index", "-1"}, "--index needs a run number from 0 on, not '-1'"},
        {{"--sweep", "s.json", "--index", "0", "--vf", "2"},
         "--sweep takes the run from the sweep file; --vf cannot change it"}};
    for (const auto &[arguments, message] : refused) {
        EXPECT_FALSE(parseRenderOptions(arguments, &o, &error))
            << arguments.join(' ').toStdString();
        EXPECT_EQ(error, message);
    }
}

// Whatever the parser takes, --help (and so the man page) names: in a line
// of its own or in another option's.
TEST(RenderOptions, HelpNamesEveryOption) {
    const QString usage = renderUsage();
    for (const OptionEntry &entry : optionTable()) {
        const QRegularExpression named(QRegularExpression::escape(entry.name) + "(?![a-z-])");
        EXPECT_TRUE(named.match(usage).hasMatch()) << entry.name.toStdString();
    }
}
