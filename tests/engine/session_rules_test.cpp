#include "engine/session_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/file_naming.h"
#include "engine/screen_camera.h"

namespace {

// The number goes before the extension of the file, never into a folder's
// name; names are offered in order until one is taken, and a folder that
// fails once is not tried further.
TEST(FreeFileName, NumbersTheNameBeforeItsExtension) {
    EXPECT_EQ(NumberedFileName("C:\\Video\\2026.12.06_18-05-09.avi", 1),
              "C:\\Video\\2026.12.06_18-05-09.avi");
    EXPECT_EQ(NumberedFileName("C:\\Video\\2026.12.06_18-05-09.avi", 2),
              "C:\\Video\\2026.12.06_18-05-09 (2).avi");
    EXPECT_EQ(NumberedFileName("C:\\v.1\\shot", 12), "C:\\v.1\\shot (12)");
    EXPECT_EQ(NumberedFileName("/tmp/a.b/c.png", 3), "/tmp/a.b/c (3).png");

    std::vector<std::string> offered;
    const auto takeThird = [&](const std::string& name) {
        offered.push_back(name);
        return offered.size() < 3 ? NameTry::Exists : NameTry::Taken;
    };
    EXPECT_EQ(TakeFreeFileName("d\\x.avi", takeThird), "d\\x (3).avi");
    EXPECT_EQ(offered, (std::vector<std::string>{"d\\x.avi", "d\\x (2).avi", "d\\x (3).avi"}));
    offered.clear();
    EXPECT_EQ(TakeFreeFileName("d\\x.avi",
                               [&](const std::string& name) {
                                   offered.push_back(name);
                                   return offered.size() < 2 ? NameTry::Exists : NameTry::Failed;
                               }),
              "");
    EXPECT_EQ(offered.size(), 2u);
    EXPECT_EQ(TakeFreeFileName("x", [](const std::string&) { return NameTry::Exists; }), "");
}

TEST(FrameSlot, RoundsToTheNearestSlotWithHalvesToEven) {
    EXPECT_EQ(FrameSlot(0, 25), 0);
    EXPECT_EQ(FrameSlot(12, 25), 0);
    EXPECT_EQ(FrameSlot(13, 25), 1);
    EXPECT_EQ(FrameSlot(75, 25), 3);
    // Exact halves go to the even neighbour.
    EXPECT_EQ(FrameSlot(5, 10), 0);
    EXPECT_EQ(FrameSlot(15, 10), 2);
    EXPECT_EQ(FrameSlot(25, 10), 2);
    EXPECT_EQ(FrameSlot(35, 10), 4);
    // A slot length below 1 cannot divide by zero.
    EXPECT_EQ(FrameSlot(7, 0), 7);
    EXPECT_EQ(FrameSlot(7, -5), 7);
    // The largest elapsed time still gives a position.
    EXPECT_EQ(FrameSlot(0xFFFFFFFFu, 1000), 4294967);
    // The recording loop rests until the next slot's first millisecond.
    for (const std::int32_t ms : {1, 2, 5, 10, 16, 25, 1000}) {
        for (std::int32_t slot = 1; slot < 300; ++slot) {
            const std::uint32_t first = SlotStart(slot, ms);
            ASSERT_EQ(FrameSlot(first, ms), slot) << ms << " ms, slot " << slot;
            ASSERT_EQ(FrameSlot(first - 1, ms), slot - 1) << ms << " ms, slot " << slot;
        }
    }
    EXPECT_EQ(SlotStart(0, 25), 0u);
    EXPECT_EQ(SlotStart(3, 10), 26u);  // 25 rounds to 2, the even one
    EXPECT_EQ(SlotStart(0x7FFFFFFF, 1000), 0xFFFFFFFFu);
}

TEST(RecordTime, SplitsHoursMinutesSecondsWithoutLeadingZeros) {
    EXPECT_EQ(RecordTimeText(SplitElapsed(3725000)), "1:2:5");
    EXPECT_EQ(RecordTimeText(SplitElapsed(0)), "0:0:0");
    EXPECT_EQ(RecordTimeText(SplitElapsed(59999)), "0:0:59");
    EXPECT_EQ(RecordTimeText(SplitElapsed(36000000)), "10:0:0");
}

TEST(TimedStop, MatchesOnlyWhenEnabledAndEqual) {
    const TTimerCapture atZero{1, 0, 0, 0};
    EXPECT_TRUE(TimedStopReached(atZero, SplitElapsed(0)));
    EXPECT_TRUE(TimedStopReached(atZero, SplitElapsed(999)));
    EXPECT_FALSE(TimedStopReached(atZero, SplitElapsed(1000)));
    const TTimerCapture ninety{1, 1, 30, 0};
    EXPECT_FALSE(TimedStopReached(ninety, SplitElapsed(5399999)));
    EXPECT_TRUE(TimedStopReached(ninety, SplitElapsed(5400000)));
    const TTimerCapture disabled{0, 0, 0, 0};
    EXPECT_FALSE(TimedStopReached(disabled, SplitElapsed(0)));
}

TEST(AlignDimension, RoundsUpUnlessThatPassesTheScreen) {
    EXPECT_EQ(AlignDimension(301, 2, 1024), 302);
    EXPECT_EQ(AlignDimension(301, 4, 1024), 304);
    EXPECT_EQ(AlignDimension(299, 4, 768), 300);
    EXPECT_EQ(AlignDimension(765, 4, 766), 764);   // 768 would pass the screen
    EXPECT_EQ(AlignDimension(320, 8, 1024), 320);  // already a multiple
    EXPECT_EQ(AlignDimension(301, 1, 1024), 301);
    EXPECT_EQ(AlignDimension(-3, 4, 1024), -3);  // nothing sensible to round
}

}  // namespace
