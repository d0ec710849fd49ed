// The configuration's <colour> element: written, read back, and every value
// that cannot be used refused.

#include "configfile.h"

#include <gtest/gtest.h>

namespace velloran {
namespace {

SmokeColour colour(const char *hex) {
    return *parseSmokeColour(QLatin1String(hex));
}

TEST(ColourConfiguration, WrittenAndReadBack) {
    const SimParameters p;
    SchemeAndKeyframes extras;
    const ColourConfiguration runs[] = {
        {ColourMode::Light, PaletteRequest{}, {}},
        {ColourMode::Dark, PaletteRequest{{}, 3}, {}},
        {ColourMode::Light, PaletteRequest{{colour("e03020"), colour("20a0e0")}, 0}, {}},
        {ColourMode::Dark,
         std::nullopt,
         {{colour("e03020"), "a & b.png", "c.png"}, {colour("20a0e0"), "c.png", "a & b.png"}}},
    };
    for (const ColourConfiguration &run : runs) {
        extras.colour = run;
        const bool fields = !run.fields.empty();
        const QByteArray xml =
            configurationXml(p, fields ? "" : "s.png", fields ? "" : "t.png", extras);
        const ConfigReadResult read = readConfigurationData(xml);
        ASSERT_EQ(read.status, ConfigStatus::Parsed) << read.detail.toStdString() << xml.data();
        ASSERT_TRUE(read.configuration.colour) << xml.data();
        EXPECT_EQ(*read.configuration.colour, run) << xml.data();
        EXPECT_EQ(read.configuration.source.has_value(), !fields) << xml.data();
    }
    // A bare element is a palette found in the target, in light.
    const ConfigReadResult bare = readConfigurationData("<configuration><colour/></configuration>");
    ASSERT_TRUE(bare.configuration.colour);
    EXPECT_EQ(*bare.configuration.colour,
              (ColourConfiguration{ColourMode::Light, PaletteRequest{}, {}}));
    EXPECT_EQ(readConfigurationData("<configuration/>").configuration.colour, std::nullopt);
}

// A palette run's keyframes are plain; a field run's name their fields, one
// per field at each step, in any order within the step.
TEST(ColourConfiguration, KeyframesOfColourRunsAreReadBackOrRefused) {
    const SimParameters p;
    SchemeAndKeyframes extras;
    extras.colour = ColourConfiguration{
        ColourMode::Light,
        std::nullopt,
        {{colour("e03020"), "a.png", "b.png"}, {colour("20a0e0"), "b.png", "a.png"}}};
    extras.keyframes = {{400, "c.png", 50, colour("20a0e0")},
                        {400, "d.png", 50, colour("e03020")},
                        {900, "a.png", 0, colour("e03020")},
                        {900, "b.png", 0, colour("20a0e0")}};
    const QByteArray xml = configurationXml(p, "", "", extras);
    const ConfigReadResult read = readConfigurationData(xml);
    ASSERT_EQ(read.status, ConfigStatus::Parsed) << read.detail.toStdString() << xml.data();
    EXPECT_EQ(read.configuration.keyframes, extras.keyframes);
    EXPECT_TRUE(xml.contains("<target step=\"400\" blend=\"50\" field=\"#20a0e0\">c.png"));

    const QString fields = QStringLiteral("<colour><field colour=\"#e03020\"><source>a</source>"
                                          "<target>b</target></field><field colour=\"#20a0e0\">"
                                          "<source>b</source><target>a</target></field></colour>");
    const QString red = QStringLiteral("<target step=\"%1\" field=\"#e03020\"%2>c</target>");
    const QString blue = QStringLiteral("<target step=\"%1\" field=\"#20a0e0\">c</target>");
    const struct {
        QString body;
        const char *message;
    } cases[] = {
        {fields + "<keyframes><target step=\"5\" field=\"red\">c</target></keyframes>",
         "keyframe: field \"red\" is not a colour"},
        {fields + "<keyframes>" + red.arg(5).arg("") + "</keyframes>",
         "keyframes at step 5 give field #20a0e0 no target"},
        {fields + "<keyframes>" + red.arg(5).arg("") + red.arg(5).arg("") + "</keyframes>",
         "name field #e03020 twice"},
        {fields + "<keyframes>" + red.arg(5).arg(" blend=\"3\"") + blue.arg(5) + "</keyframes>",
         "blend over 3 and 0 steps"},
        {fields + "<keyframes><target step=\"5\">c</target></keyframes>",
         "the keyframe at step 5 names no field"},
        {fields + "<keyframes>" + red.arg(5).arg("") + blue.arg(5) + red.arg(4).arg("") +
             "</keyframes>",
         "step 4 does not come after step 5"},
        {fields + "<keyframes>" + red.arg(5).arg("") + blue.arg(5) +
             "<target step=\"5\" field=\"#00ff00\">c</target></keyframes>",
         "names field #00ff00, which the run does not have"},
        {"<colour/><keyframes>" + red.arg(5).arg("") + "</keyframes>",
         "only a run of fields given one by one has keyframes per field"},
    };
    for (const auto &c : cases) {
        const ConfigReadResult bad = readConfigurationData(
            (QStringLiteral("<configuration>") + c.body + "</configuration>").toUtf8());
        EXPECT_EQ(bad.status, ConfigStatus::NotWellFormed) << c.message;
        EXPECT_TRUE(bad.detail.contains(QLatin1String(c.message))) << bad.detail.toStdString();
    }
}

TEST(ColourConfiguration, EveryBadValueIsRefused) {
    const QString field = QStringLiteral("<field colour=\"#%1\"><source>a.png</source>"
                                         "<target>b.png</target></field>");
    QString nine;
    for (int k = 0; k < 9; ++k) {
        nine += field.arg(k * 11, 6, 10, QLatin1Char('0'));
    }
    const struct {
        QString colour;
        const char *message;
    } cases[] = {
        {"<colour mode=\"grey\"/>", "line 1: colour: mode \"grey\" is neither light nor dark"},
        {"<colour fields=\"9\"/>", "fields \"9\" is neither auto nor a count 1 to 8"},
        {"<colour fields=\"#e03020\"/>", "fields \"#e03020\" is neither auto"},
        {"<colour><palette><colour>red</colour></palette></colour>", "\"red\" is not a colour"},
        {"<colour><palette/></colour>", "<palette> lists no <colour>"},
        {"<colour><palette><colour>#e03020</colour><colour>E03020</colour></palette></colour>",
         "the palette has #e03020 twice"},
        {"<colour fields=\"3\"><palette><colour>#e03020</colour></palette></colour>",
         "fields=\"3\" but 1 are given"},
        {"<colour><palette><colour>#e03020</colour></palette>" + field.arg("20a0e0") + "</colour>",
         "<field> entries beside a <palette>"},
        {"<colour>" + field.arg("e03020") + field.arg("e03020") + "</colour>",
         "two fields of colour #e03020"},
        {"<colour><field colour=\"#e03020\"><source>a.png</source></field></colour>",
         "the field #e03020 needs a <source> and a <target>"},
        {"<colour>" + nine + "</colour>", "more than 8 fields"},
        {"<images><source>s.png</source></images><colour>" + field.arg("e03020") + "</colour>",
         "colour: <field> entries take the place of <images>"},
    };
    for (const auto &c : cases) {
        const ConfigReadResult read = readConfigurationData(
            (QStringLiteral("<configuration>") + c.colour + "</configuration>").toUtf8());
        EXPECT_EQ(read.status, ConfigStatus::NotWellFormed) << c.message;
        EXPECT_TRUE(read.detail.contains(QLatin1String(c.message))) << read.detail.toStdString();
    }
}

} // namespace
} // namespace velloran
