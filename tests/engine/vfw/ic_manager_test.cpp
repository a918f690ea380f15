// The compressor manager: the list of compressors, handles, messages in and
// out of order, and the query forms of the dialog messages.
#include <gtest/gtest.h>

#include "engine/vfw/ic.h"
#include "engine/vfw/ic_provider.h"
#include "tests/support/synthetic_clip.h"

namespace {

using vfw::mmioFOURCC;

constexpr vfw::FOURCC kBuiltins[] = {mmioFOURCC('M', 'S', 'V', 'C'), mmioFOURCC('Z', 'M', 'B', 'V'),
                                     mmioFOURCC('M', 'J', 'P', 'G'), mmioFOURCC('D', 'I', 'B', ' ')};

vfw::DWORD_PTR P(const void* p) { return reinterpret_cast<vfw::DWORD_PTR>(p); }

TEST(IcManager, ListsTheBuiltInsFirstInAStableOrder) {
    for (vfw::DWORD type : {vfw::ICTYPE_VIDEO, vfw::DWORD{0}, mmioFOURCC('V', 'I', 'D', 'C')}) {
        for (vfw::DWORD i = 0; i < 4; ++i) {
            vfw::ICINFO info{};
            ASSERT_TRUE(vfw::ICInfo(type, i, &info)) << i;
            EXPECT_EQ(info.fccHandler, kBuiltins[i]);
            EXPECT_EQ(info.fccType, vfw::ICTYPE_VIDEO);
            EXPECT_EQ(info.dwSize, sizeof(vfw::ICINFO));
            EXPECT_NE(info.szName[0], 0);
            EXPECT_NE(info.szDescription[0], 0);
        }
    }
    vfw::ICINFO info{};
    EXPECT_FALSE(vfw::ICInfo(vfw::ICTYPE_VIDEO, 4, &info)) << "no system compressors here";
    EXPECT_FALSE(vfw::ICInfo(mmioFOURCC('a', 'u', 'd', 'c'), 0, &info));
    EXPECT_FALSE(vfw::ICInfo(vfw::ICTYPE_VIDEO, 0, nullptr));
}

TEST(IcManager, OpensByHandlerWhateverTheLetterCase) {
    vfw::HIC hic = vfw::ICOpen(vfw::ICTYPE_VIDEO, mmioFOURCC('m', 's', 'v', 'c'), vfw::ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    vfw::ICINFO info{};
    EXPECT_EQ(vfw::ICGetInfo(hic, &info, sizeof(info)), static_cast<vfw::LRESULT>(sizeof(info)));
    EXPECT_EQ(info.fccHandler, kBuiltins[0]);
    // A short record gets only what fits.
    vfw::ICINFO part{};
    part.fccHandler = 0xABCD;
    EXPECT_EQ(vfw::ICGetInfo(hic, &part, 8), 8);
    EXPECT_EQ(part.fccType, vfw::ICTYPE_VIDEO);
    EXPECT_EQ(part.fccHandler, 0xABCDu);
    EXPECT_EQ(vfw::ICClose(hic), vfw::ICERR_OK);

    EXPECT_EQ(vfw::ICOpen(vfw::ICTYPE_VIDEO, mmioFOURCC('N', 'O', 'N', 'E'), vfw::ICMODE_QUERY),
              nullptr);
    EXPECT_EQ(vfw::ICOpen(vfw::ICTYPE_VIDEO, kBuiltins[1], vfw::ICMODE_DECOMPRESS), nullptr)
        << "compressors only";
}

TEST(IcManager, BadHandlesAreRefusedWithoutBeingTouched) {
    vfw::HIC hic = vfw::ICOpen(vfw::ICTYPE_VIDEO, kBuiltins[3], vfw::ICMODE_COMPRESS);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(vfw::ICClose(hic), vfw::ICERR_OK);
    EXPECT_EQ(vfw::ICClose(hic), vfw::ICERR_BADHANDLE);
    EXPECT_EQ(vfw::ICSendMessage(hic, vfw::ICM_COMPRESS_END, 0, 0), vfw::ICERR_BADHANDLE);
    vfw::ICINFO info{};
    EXPECT_EQ(vfw::ICGetInfo(hic, &info, sizeof(info)), 0);
    auto* forged = reinterpret_cast<vfw::HIC>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(vfw::ICSendMessage(forged, vfw::ICM_GETINFO, P(&info), sizeof(info)),
              vfw::ICERR_BADHANDLE);
    EXPECT_EQ(vfw::ICSendMessage(nullptr, vfw::ICM_ABOUT, static_cast<vfw::DWORD_PTR>(-1), 1),
              vfw::ICERR_BADHANDLE);
    EXPECT_FALSE(vfw::ICQueryAbout(nullptr));
    EXPECT_EQ(vfw::ICClose(nullptr), vfw::ICERR_BADHANDLE);
}

TEST(IcManager, MessagesOutOfOrderOrUnknownGetErrorCodes) {
    const kelvora::test::PackedDib dib =
        kelvora::test::ToDib(kelvora::test::ScreenFrame(64, 48, 0), 32);
    for (vfw::FOURCC handler : kBuiltins) {
        SCOPED_TRACE(handler);
        vfw::HIC hic = vfw::ICOpen(vfw::ICTYPE_VIDEO, handler, vfw::ICMODE_COMPRESS);
        ASSERT_NE(hic, nullptr);
        EXPECT_EQ(vfw::ICSendMessage(hic, 0x4567, 1, 2), vfw::ICERR_UNSUPPORTED);
        std::vector<std::uint8_t> out(1 << 16);
        vfw::DWORD flags = 0;
        vfw::ICCOMPRESS c{};
        c.lpbiInput = const_cast<vfw::BITMAPINFOHEADER*>(dib.header());
        c.lpInput = const_cast<std::uint8_t*>(dib.bits());
        c.lpbiOutput = reinterpret_cast<vfw::BITMAPINFOHEADER*>(out.data());
        c.lpOutput = out.data() + 2048;
        c.lpdwFlags = &flags;
        EXPECT_NE(vfw::ICSendMessage(hic, vfw::ICM_COMPRESS, P(&c), sizeof(c)), vfw::ICERR_OK)
            << "compress before begin";
        EXPECT_EQ(vfw::ICSendMessage(hic, vfw::ICM_COMPRESS_END, 0, 0), vfw::ICERR_OK);
        EXPECT_NE(vfw::ICCompressQuery(hic, nullptr, nullptr), vfw::ICERR_OK);
        EXPECT_NE(vfw::ICSendMessage(hic, vfw::ICM_COMPRESS_BEGIN, P(dib.header()), 0),
                  vfw::ICERR_OK)
            << "begin without an output format";
        EXPECT_EQ(vfw::ICCompressQuery(hic, dib.header(), nullptr), vfw::ICERR_OK);
        EXPECT_EQ(vfw::ICClose(hic), vfw::ICERR_OK);
    }
}

TEST(IcManager, DialogQueriesTellWhatEachCompressorHas) {
    int aboutOnly = 0, both = 0;
    for (vfw::FOURCC handler : kBuiltins) {
        vfw::HIC hic = vfw::ICOpen(vfw::ICTYPE_VIDEO, handler, vfw::ICMODE_QUERY);
        ASSERT_NE(hic, nullptr);
        const bool about = vfw::ICQueryAbout(hic);
        const bool configure = vfw::ICQueryConfigure(hic);
        aboutOnly += about && !configure;
        both += about && configure;
        // Without installed dialogs (no windows here) nothing is shown.
        if (about) {
            EXPECT_EQ(vfw::ICAbout(hic, nullptr), vfw::ICERR_UNSUPPORTED);
        }
        vfw::ICClose(hic);
    }
    EXPECT_GE(aboutOnly, 1);
    EXPECT_GE(both, 1);
}

}  // namespace
