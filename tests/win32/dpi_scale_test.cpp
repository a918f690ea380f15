// Layout arithmetic of the window layer at the DPI factors a display offers.
#include "win32/dpi_scale.h"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(DpiScale, RoundsHalfAwayFromZeroLikeMulDiv) {
    struct Case {
        int value, dpi, expected;
    };
    const Case cases[] = {
        {75, 96, 75},  {75, 144, 113},  {-75, 144, -113}, {1, 144, 2},
        {-1, 144, -2}, {10, 120, 13},   {2, 120, 3},      {-2, 120, -3},
        {0, 144, 0},   {300, 192, 600}, {115, 144, 173},  {1000000, 144, 1500000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
    }
}

TEST(DpiScale, NeighbouringControlsStillTouchAndKeepTheirOrigin) {
    // Three controls side by side at 96 DPI, 75 units wide each.
    const Rect96 a{7, 5, 75, 23};
    const Rect96 b{82, 5, 75, 23};
    const Rect96 c{157, 5, 75, 23};
    for (int dpi : {96, 120, 144, 168}) {
        const PixelRect pa = ScaleRect(a, dpi);
        const PixelRect pb = ScaleRect(b, dpi);
        const PixelRect pc = ScaleRect(c, dpi);
        EXPECT_EQ(pa.right, pb.left) << dpi;
        EXPECT_EQ(pb.right, pc.left) << dpi;
        EXPECT_EQ(pa.top, pb.top) << dpi;
    }
    const PixelRect at144 = ScaleRect(b, 144);
    EXPECT_EQ(at144.left, 123);
    EXPECT_EQ(at144.top, 8);
    EXPECT_EQ(at144.right, 236);
    EXPECT_EQ(at144.bottom, 42);
}

TEST(DpiScale, DialogFontHeightFollowsTheDpi) {
    EXPECT_EQ(FontHeight(8, 96), -11);
    EXPECT_EQ(FontHeight(8, 120), -13);
    EXPECT_EQ(FontHeight(8, 144), -16);
    EXPECT_EQ(FontHeight(8, 192), -21);
}

}  // namespace
}  // namespace kelvora
