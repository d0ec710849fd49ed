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
