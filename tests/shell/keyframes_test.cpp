// The configuration's <scheme>, <keyframes> and <obstacles>: read, written,
// refused, and keyframe images turned into target densities.

#include "configfile.h"
#include "keyframes.h"

#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velloran;

namespace {

ConfigReadResult parse(const QString &body) {
    return readConfigurationData(
        QStringLiteral("<?xml version=\"1.0\"?>\n<configuration>%1</configuration>")
            .arg(body)
            .toUtf8());
}

QString saveImage(const QTemporaryDir &dir, const QString &name, int side, int blue) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(qRgb(0, 0, blue));
    const QString path = dir.filePath(name);
    EXPECT_TRUE(image.save(path));
    return path;
}

} // namespace

// A file of a plain literal run is exactly what the writer has always
// written; the extra elements appear only when they say something, and what
// is written reads back the same.
TEST(SchemeAndKeyframes, WrittenOnlyWhenTheySaySomethingAndReadBack) {
    SimParameters p;
    const QByteArray plain = configurationXml(p, "a.png", "b.png");
    EXPECT_EQ(plain, configurationXml(p, "a.png", "b.png", SchemeAndKeyframes{}));
    EXPECT_FALSE(plain.contains("scheme"));
    EXPECT_FALSE(plain.contains("keyframes"));
    EXPECT_FALSE(plain.contains("obstacles"));

    SchemeAndKeyframes extras;
    extras.scheme = Scheme::Sound;
    extras.keyframes = {{800, "examples/letter-b.png", 0}, {1600, "dir/c & d.png", 200}};
    extras.obstacles = "walls/a <b>.png";
    const QByteArray written = configurationXml(p, "a.png", "b.png", extras);
    EXPECT_TRUE(written.contains("    <obstacles>walls/a &lt;b&gt;.png</obstacles>\n"));
    EXPECT_TRUE(written.contains("    <scheme>sound</scheme>\n"));
    EXPECT_TRUE(written.contains("        <target step=\"800\">examples/letter-b.png</target>\n"));
    EXPECT_TRUE(written.contains("<target step=\"1600\" blend=\"200\">dir/c &amp; d.png</target>"));

    const ConfigReadResult read = readConfigurationData(written);
    ASSERT_EQ(read.status, ConfigStatus::Parsed);
    ASSERT_TRUE(read.configuration.scheme.has_value());
    EXPECT_EQ(*read.configuration.scheme, Scheme::Sound);
    EXPECT_EQ(read.configuration.keyframes, extras.keyframes);
    EXPECT_EQ(read.configuration.obstacles.value_or(""), extras.obstacles);

    const ConfigReadResult literal = parse("<scheme> literal </scheme>");
    ASSERT_EQ(literal.status, ConfigStatus::Parsed);
    EXPECT_EQ(*literal.configuration.scheme, Scheme::Literal);
    const ConfigReadResult none = parse("<parameters><vf>1</vf></parameters>");
    EXPECT_FALSE(none.configuration.scheme.has_value());
    EXPECT_TRUE(none.configuration.keyframes.empty());
    EXPECT_FALSE(none.configuration.obstacles.has_value());
    // An obstacle path alone is something the file says.
    EXPECT_FALSE(parse("<obstacles>w.png</obstacles>").configuration.isEmpty());
}

// Every refusal names what is wrong, and the file as a whole is refused.
TEST(SchemeAndKeyframes, Refusals) {
    const struct {
        const char *body;
        const char *says;
    } cases[] = {
        {"<scheme>Sound</scheme>", "unknown scheme \"Sound\""},
        {"<scheme></scheme>", "unknown scheme \"\""},
        {"<keyframes><target>x.png</target></keyframes>", "no step attribute"},
        {"<keyframes><target step=\"ten\">x.png</target></keyframes>", "\"ten\" is not a whole"},
        {"<keyframes><target step=\"1.5\">x.png</target></keyframes>", "\"1.5\" is not a whole"},
        {"<keyframes><target step=\"-4\">x.png</target></keyframes>", "\"-4\" is not a whole"},
        {"<keyframes><target step=\"0\">x.png</target></keyframes>", "must be after step 0"},
        {"<keyframes><target step=\"99999999999999999999\">x.png</target></keyframes>",
         "is not a whole"},
        {"<keyframes><target step=\"5\">a.png</target><target "
         "step=\"5\">b.png</target></keyframes>",
         "step 5 does not come after step 5"},
        {"<keyframes><target step=\"9\">a.png</target><target "
         "step=\"3\">b.png</target></keyframes>",
         "step 3 does not come after step 9"},
        {"<keyframes><target step=\"5\" blend=\"-1\">a.png</target></keyframes>",
         "blend \"-1\" is not a whole"},
        {"<keyframes><target step=\"5\" blend=\"\">a.png</target></keyframes>",
         "blend \"\" is not a whole"},
        {"<keyframes><target step=\"5\"> </target></keyframes>", "names no image"},
    };
    for (const auto &c : cases) {
        const ConfigReadResult result = parse(QString::fromUtf8(c.body));
        EXPECT_EQ(result.status, ConfigStatus::NotWellFormed) << c.body;
        EXPECT_TRUE(result.detail.contains(QString::fromUtf8(c.says)))
            << c.body << " -> " << result.detail.toStdString();
    }
}

// Images become densities like the first target's; a missing image, a
// different size, a corrupt file or one without smoke is refused with the
// keyframe named.
TEST(SchemeAndKeyframes, ImagesBecomeTargetsOrAreRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = saveImage(dir, "good.png", 8, 51);
    const QString small = saveImage(dir, "small.png", 6, 51);
    const QString black = saveImage(dir, "black.png", 8, 0);
    const QString bad = dir.filePath("bad.png");
    {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not an image");
    }

    std::vector<Keyframe> keyframes;
    QString error;
    ASSERT_TRUE(loadKeyframeTargets({{10, "good.png", 3}}, QSize(8, 8), 4, &keyframes, &error,
                                    [&](const QString &path) { return dir.filePath(path); }))
        << error.toStdString();
    ASSERT_EQ(keyframes.size(), 1u);
    EXPECT_EQ(keyframes[0].step, 10);
    EXPECT_EQ(keyframes[0].blend, 3);
    EXPECT_EQ(keyframes[0].target.NumRows(), 4u);
    EXPECT_DOUBLE_EQ(keyframes[0].target(3, 3), 0.2);

    const struct {
        QString path;
        const char *says;
    } refusals[] = {
        {dir.filePath("missing.png"), "Could not load the keyframe image"},
        {bad, "Could not load the keyframe image"},
        {small, "is 6 x 6 pixels; the target image is 8 x 8"},
        {black, "has no smoke"},
    };
    for (const auto &r : refusals) {
        std::vector<Keyframe> untouched(2);
        error.clear();
        EXPECT_FALSE(loadKeyframeTargets({{10, good, 0}, {20, r.path, 0}}, QSize(8, 8), 8,
                                         &untouched, &error));
        EXPECT_TRUE(error.contains(QString::fromUtf8(r.says))) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("(step 20)"))) << error.toStdString();
        EXPECT_EQ(untouched.size(), 2u);
    }
}
