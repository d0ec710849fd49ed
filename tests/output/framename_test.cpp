#include "framename.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using namespace velloran;

namespace {

FrameNamePattern pattern(const QString &text) {
    QString error;
    const auto parsed = FrameNamePattern::parse(text, &error);
    EXPECT_TRUE(parsed.has_value()) << text.toStdString() << ": " << error.toStdString();
    return parsed.value_or(FrameNamePattern());
}

QString refusal(const QString &text) {
    QString error;
    EXPECT_FALSE(FrameNamePattern::parse(text, &error).has_value()) << text.toStdString();
    return error;
}

} // namespace

TEST(FrameName, DefaultKeepsTodaysNames) {
    const FrameNamePattern names;
    EXPECT_TRUE(names.isDefault());
    EXPECT_EQ(names.frameName(10, "png"), "frame_000010.png");
    EXPECT_EQ(names.frameName(1234567, "exr"), "frame_1234567.exr");
    EXPECT_EQ(names.fieldName("density_", 10, "npy"), "density_000010.npy");
    EXPECT_EQ(pattern("frame_%06d").frameName(0, "png"), "frame_000000.png");
}

TEST(FrameName, FieldFormatsAsPrintfDoes) {
    const char *const conversions[] = {"%d",   "%i",   "%u",    "%04d",   "%-5d", "%+d",   "% d",
                                       "%+5d", "%.3d", "%6.3d", "%06.3d", "%.0d", "%-06d", "%020u"};
    const int steps[] = {0, 1, 9, 10, 999, 1000, 123456, 99999999};
    for (const char *conversion : conversions) {
        const FrameNamePattern names = pattern(QString::fromLatin1(conversion));
        for (const int step : steps) {
            char expected[64];
            // Every conversion above is a valid integer conversion for an int.
            const bool isUnsigned = conversion[std::strlen(conversion) - 1] == 'u';
            if (isUnsigned) {
                std::snprintf(expected, sizeof expected, conversion, static_cast<unsigned>(step));
            } else {
                std::snprintf(expected, sizeof expected, conversion, step);
            }
            EXPECT_EQ(names.number(step), QString::fromLatin1(expected))
                << conversion << " " << step;
        }
    }
}

TEST(FrameName, LiteralsAroundTheField) {
    EXPECT_EQ(pattern("smoke.%04d").frameName(10, "exr"), "smoke.0010.exr");
    EXPECT_EQ(pattern("smoke.%04d").fieldName("u_", 10, "npy"), "u_0010.npy");
    EXPECT_EQ(pattern("100%%_%d_done").frameName(7, "png"), "100%_7_done.png");
    EXPECT_EQ(pattern("%d").frameName(3, "png"), "3.png");
    EXPECT_EQ(pattern("r\u00e9sultat-%03d").frameName(5, "png"), "r\u00e9sultat-005.png");
}

TEST(FrameName, BadPatternsAreRefusedWithTheReason) {
    EXPECT_TRUE(refusal("").contains("needs a pattern"));
    EXPECT_TRUE(refusal("frame").contains("no field"));
    EXPECT_TRUE(refusal("100%%").contains("no field"));
    EXPECT_TRUE(refusal("a%db%d").contains("more than one field"));
    EXPECT_TRUE(refusal("%s").contains("'%s'"));
    EXPECT_TRUE(refusal("%f").contains("not an integer"));
    EXPECT_TRUE(refusal("%x").contains("not an integer"));
    EXPECT_TRUE(refusal("%ld").contains("not an integer"));
    EXPECT_TRUE(refusal("%n").contains("not an integer"));
    EXPECT_TRUE(refusal("%5").contains("not an integer"));
    EXPECT_TRUE(refusal("frame_%").contains("not an integer"));
    EXPECT_TRUE(refusal("%*d").contains("not an integer"));
    EXPECT_TRUE(refusal("out/%04d").contains("slash"));
    EXPECT_TRUE(refusal("/tmp/%d").contains("slash"));
    EXPECT_TRUE(refusal("%021d").contains("wider than 20"));
    EXPECT_TRUE(refusal("%.99999999999d").contains("wider than 20"));
    EXPECT_TRUE(refusal("a\nb%d").contains("control character"));
    EXPECT_TRUE(refusal("%d%s").contains("more than one field"));
    EXPECT_TRUE(refusal("smoke.%04s").startsWith("--name 'smoke.%04s'"));
}

TEST(FrameName, RecognisesExactlyItsOwnNames) {
    const FrameNamePattern fallback;
    const FrameNamePattern plain = pattern("%d");
    const FrameNamePattern padded = pattern("smoke.%-4d!");
    for (const int step : {0, 1, 10, 999, 1000, 123456, 2000000}) {
        for (const FrameNamePattern *names : {&fallback, &plain, &padded}) {
            EXPECT_EQ(names->frameStep(names->frameName(step, "png"), "png"), step);
            EXPECT_TRUE(names->isFieldName(names->fieldName("v_", step, "npy"), "v_", "npy"));
        }
    }
    EXPECT_FALSE(fallback.isFrameName("frame_10.png", "png"));     // not as the pattern writes
    EXPECT_FALSE(fallback.isFrameName("frame_000010.exr", "png")); // other extension
    EXPECT_FALSE(fallback.isFrameName("frame_000010.png.bak", "png"));
    EXPECT_FALSE(fallback.isFrameName("frame_-00010.png", "png"));
    EXPECT_FALSE(fallback.isFrameName("frame_.png", "png"));
    EXPECT_FALSE(fallback.isFieldName("density_00001x.npy", "density_", "npy"));
    EXPECT_FALSE(plain.isFrameName("01.png", "png"));
    EXPECT_FALSE(plain.isFrameName("+1.png", "png"));
    EXPECT_FALSE(plain.isFrameName("99999999999999999999.png", "png"));
    EXPECT_FALSE(padded.isFrameName("smoke.1!.png", "png")); // the pattern pads to four
    EXPECT_EQ(pattern("%.0d").frameStep(".png", "png"), 0);
}
