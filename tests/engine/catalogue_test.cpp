// The compressor catalogue over the built-in compressors and test ones.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/screen_camera.h"
#include "tests/engine/fake_platform.h"
#include "tests/engine/test_codecs.h"
#include "tests/support/test_paths.h"

namespace {

constexpr vfw::FOURCC kMsvc = vfw::mmioFOURCC('M', 'S', 'V', 'C');
constexpr vfw::FOURCC kZmbv = vfw::mmioFOURCC('Z', 'M', 'B', 'V');
constexpr vfw::FOURCC kMjpg = vfw::mmioFOURCC('M', 'J', 'P', 'G');
constexpr vfw::FOURCC kDib = vfw::mmioFOURCC('D', 'I', 'B', ' ');

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.tempDirectory = kelvora::test::OutputDir() + "/";
        InstallPlatform(&fake_);
    }
    void TearDown() override { InstallPlatform(nullptr); }

    std::vector<vfw::FOURCC> Handlers(const TScreenCamera& camera) {
        std::vector<vfw::FOURCC> list;
        for (int i = 0; i < camera.FCodecCount; ++i) {
            list.push_back(camera.FCodecs[static_cast<size_t>(i)].fccHandler);
        }
        return list;
    }

    FakePlatform fake_;
};

TEST_F(CatalogueTest, ListsTheBuiltInCompressorsInOrderWithTheirDescriptions) {
    TScreenCamera camera(nullptr);
    EXPECT_EQ(Handlers(camera), (std::vector<vfw::FOURCC>{kMsvc, kZmbv, kMjpg, kDib}));
    ASSERT_EQ(camera.FCodecNames.size(), 4u);
    EXPECT_EQ(camera.FCodecNames[0], "Microsoft Video 1");
    for (int i = 0; i < camera.FCodecCount; ++i) {
        const vfw::ICINFO& info = camera.FCodecs[static_cast<size_t>(i)];
        EXPECT_EQ(info.dwSize, sizeof(vfw::ICINFO));
        EXPECT_EQ(info.fccType, vfw::ICTYPE_VIDEO);
        EXPECT_FALSE(camera.FCodecNames[static_cast<size_t>(i)].empty());
        EXPECT_NE(info.szName[0], 0);
    }
    EXPECT_EQ(fake_.framesLive, 0);
}

TEST_F(CatalogueTest, DependsOnTheTestFrameSizeAndDepth) {
    TScreenCamera camera(nullptr);
    for (int depth = 0; depth < 4; ++depth) {
        camera.SetColorDepth(depth);
        camera.GetVideoCompressors();
        EXPECT_EQ(camera.FCodecCount, 4) << "every built-in takes depth index " << depth;
        EXPECT_EQ(fake_.grabs.back().width, 300);
    }
    // Video 1 takes only multiples of 4: it drops out and the others move up.
    camera.FWidth = 301;
    camera.GetVideoCompressors();
    EXPECT_EQ(Handlers(camera), (std::vector<vfw::FOURCC>{kZmbv, kMjpg, kDib}));
    EXPECT_EQ(fake_.grabs.back().left, 0);
    EXPECT_EQ(fake_.grabs.back().width, 301);
}

TEST_F(CatalogueTest, OnlyTheFirstThirtyTwoIndicesAreExamined) {
    TestCodecProvider test;
    for (int i = 0; i < 40; ++i) {
        TestCodecSetup setup;
        setup.handler = vfw::mmioFOURCC('T', static_cast<char>('A' + i / 10),
                                       static_cast<char>('0' + i % 10), ' ');
        setup.description = "test " + std::to_string(i);
        setup.refuseAll = i == 1;
        test.codecs.push_back(setup);
    }
    ScopedTestCodecs scoped(test);
    TScreenCamera camera(nullptr);
    // Indices 0..31: four built-ins and test 0..27, of which test 1 refuses.
    EXPECT_EQ(camera.FCodecCount, 31);
    EXPECT_EQ(camera.FCodecNames[4], "test 0");
    EXPECT_EQ(camera.FCodecNames[5], "test 2");
    EXPECT_EQ(camera.FCodecNames.back(), "test 27");
}

TEST_F(CatalogueTest, UnchangedWhenNoTestFrameCanBeGrabbed) {
    TScreenCamera camera(nullptr);
    const auto before = camera.FCodecNames;
    fake_.onGrab = [](int) { return false; };
    EXPECT_EQ(camera.GetVideoCompressors(), before);
    EXPECT_EQ(camera.FCodecCount, 4);
}

TEST_F(CatalogueTest, QueryTellsWhichDialogsExist) {
    TestCodecProvider test;
    test.codecs = {{vfw::mmioFOURCC('T', 'A', 'B', ' '), "about only", 1, false, false, false,
                    -1, true, false},
                   {vfw::mmioFOURCC('T', 'B', 'T', 'H'), "both", 1, false, false, false, -1,
                    true, true}};
    ScopedTestCodecs scoped(test);
    TScreenCamera camera(nullptr);
    ASSERT_EQ(camera.FCodecCount, 6);
    bool about = true, configure = true;
    camera.CompressorQuery(4, about, configure);
    EXPECT_TRUE(about);
    EXPECT_FALSE(configure);
    camera.CompressorQuery(5, about, configure);
    EXPECT_TRUE(about);
    EXPECT_TRUE(configure);
    camera.CompressorQuery(3, about, configure);  // uncompressed frames: neither
    EXPECT_FALSE(about);
    EXPECT_FALSE(configure);
    // No selection arrives as 255; an index past the catalogue does nothing.
    about = configure = true;
    camera.CompressorQuery(255, about, configure);
    EXPECT_FALSE(about || configure);
    camera.CompressorQuery(6, about, configure);
    EXPECT_FALSE(about || configure);
    camera.CompressorAbout(255, nullptr);
    camera.CompressorConfigure(255, nullptr);
    // Among the built-ins both cases occur.
    bool anyAboutOnly = false, anyBoth = false;
    for (std::uint8_t i = 0; i < 4; ++i) {
        camera.CompressorQuery(i, about, configure);
        anyAboutOnly |= about && !configure;
        anyBoth |= about && configure;
    }
    EXPECT_TRUE(anyAboutOnly);
    EXPECT_TRUE(anyBoth);
}

}  // namespace
