#include "options.h"

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
    EXPECT_EQ(o.source, QString("a.png"));
    EXPECT_EQ(o.target, QString("b.png"));
    EXPECT_TRUE(o.reverse);
    EXPECT_EQ(o.values[kVf], 2.5);
    EXPECT_EQ(o.values[kVd], 10.0);
    EXPECT_EQ(o.values[kVg], 0.0);
    EXPECT_EQ(o.values[kSigma], 1.5);
    EXPECT_EQ(o.values[kDt], 0.001);
    EXPECT_EQ(o.steps, 50);
    EXPECT_EQ(o.every, 5);
    EXPECT_EQ(o.outDir, "o");
    EXPECT_TRUE(o.png);
    EXPECT_TRUE(o.npy);
    EXPECT_EQ(o.video, "v.mp4");
    EXPECT_TRUE(o.quiet);

    // Defaults, "--" and a file name that looks like an option.
    ASSERT_TRUE(parse({"--", "--odd.xml"}, &o, &error));
    EXPECT_EQ(o.configPath, "--odd.xml");
    EXPECT_TRUE(o.png);
    EXPECT_FALSE(o.npy);
    EXPECT_FALSE(o.values[kVf]);
    ASSERT_TRUE(parse({"--format", "none", "-h"}, &o, &error));
    EXPECT_FALSE(o.png);
    EXPECT_TRUE(o.help);
    // A negative value is a value, not an option (it is bounded later).
    ASSERT_TRUE(parse({"--vf", "-3"}, &o, &error));
    EXPECT_EQ(o.values[kVf], -3.0);
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
              "--format takes png, npy, png,npy or none, not 'jpg'");
    EXPECT_EQ(parseError({"--quiet=yes"}), "--quiet takes no value");
    EXPECT_EQ(parseError({"a.xml", "b.xml"}),
              "only one configuration file can be given ('a.xml' and 'b.xml')");
    EXPECT_EQ(parseError({""}), "the configuration file name is empty");
    EXPECT_EQ(parseError({"--video="}), "--video needs a file name");
}
