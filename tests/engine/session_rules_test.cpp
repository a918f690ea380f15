#include "engine/session_rules.h"

#include <gtest/gtest.h>

#include "engine/screen_camera.h"

namespace {

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
    EXPECT_EQ(AlignDimension(765, 4, 766), 764);  // 768 would pass the screen
    EXPECT_EQ(AlignDimension(320, 8, 1024), 320);  // already a multiple
    EXPECT_EQ(AlignDimension(301, 1, 1024), 301);
    EXPECT_EQ(AlignDimension(-3, 4, 1024), -3);  // nothing sensible to round
}

}  // namespace
