// The screenshot settings' text rules and the names of the files written.
#include "shell/screenshot_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "shell/file_names.h"

namespace kelvora {
namespace {

TEST(JpegQualityFromSetting, HeldInOneByteThenLimitedToTheEncodersRange) {
    struct Case {
        const char* compress;
        std::optional<int> quality;
    };
    const Case cases[] = {
        {"", 80},  // empty: the default
        {"80", 80},
        {"1", 1},
        {"100", 100},
        {"101", 100},  // the encoder's upper limit
        {"0", 1},      // the encoder's lower limit
        {"300", 44},   // one byte: 300 - 256
        {"256", 1},    // one byte: 0, then the limit
        {"355", 99},
        {"+12", 12},   // a sign is part of an integer
        {"-5", 100},   // one byte of -5 is 251
        {"-200", 56},  // one byte of -200 is 56
        {"007", 7},
        {"2147483647", 100},           // the largest 32-bit value: one byte 255
        {"-2147483648", 1},            // the smallest: one byte 0
        {"2147483648", std::nullopt},  // beyond 32 bits: not an integer
        {"99999999999999999999", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {" 12", std::nullopt},
        {"12 ", std::nullopt},
        {"1 2", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"0x50", std::nullopt},
        {"8.5", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JpegQualityFromSetting(c.compress), c.quality) << '"' << c.compress << '"';
    }
}

TEST(ScreenshotFormatFromSetting, ExactUpperCaseNamesOnly) {
    EXPECT_EQ(ScreenshotFormatFromSetting("BMP"), ScreenshotFormat::Bmp);
    EXPECT_EQ(ScreenshotFormatFromSetting("JPG"), ScreenshotFormat::Jpeg);
    EXPECT_EQ(ScreenshotFormatFromSetting("PNG"), ScreenshotFormat::Png);
    for (const char* other : {"", "jpg", "Jpg", "png", "bmp", "JPEG", "JPG ", " PNG", "GIF"}) {
        EXPECT_EQ(ScreenshotFormatFromSetting(other), std::nullopt) << '"' << other << '"';
    }
    EXPECT_STREQ(ScreenshotExtension(ScreenshotFormat::Bmp), ".bmp");
    EXPECT_STREQ(ScreenshotExtension(ScreenshotFormat::Jpeg), ".jpg");
    EXPECT_STREQ(ScreenshotExtension(ScreenshotFormat::Png), ".png");
}

TEST(OutputFileName, FolderTextThenZeroPaddedTimeThenExtension) {
    const LocalTime morning{2026, 12, 6, 9, 3, 4};
    EXPECT_EQ(OutputFileName("C:\\Shots\\", morning, ".png"), "C:\\Shots\\2026.12.06_09-03-04.png");
    // Nothing is inserted after a folder without its backslash.
    EXPECT_EQ(OutputFileName("C:\\Video", morning, ".avi"), "C:\\Video2026.12.06_09-03-04.avi");
    EXPECT_EQ(OutputFileName("", LocalTime{1999, 1, 31, 23, 59, 58}, ".bmp"),
              "1999.01.31_23-59-58.bmp");
    EXPECT_EQ(TimeStamp(LocalTime{2030, 10, 11, 12, 13, 14}), "2030.10.11_12-13-14");
}

}  // namespace
}  // namespace kelvora
