// The screenshot command under Wine: pictures of a known scene saved as BMP,
// JPEG and PNG, read back by other decoders (the system's bitmap loader,
// libjpeg, libpng) and compared with the screen; the silent cases; and
// failures (full disk, a folder that takes no files, a name that cannot be
// replaced) that must report an error and leave no file at all.
#include "shell/screenshot.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/shell/jpeg_check.h"
#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"
#include "win32/handles.h"

namespace kelvora {
namespace {

namespace fs = std::filesystem;
using Pixels = std::vector<std::uint8_t>;  // B, G, R, 0 per pixel, top row first

const LocalTime kNow{2026, 12, 6, 9, 3, 4};
constexpr RECT kSceneArea{100, 100, 612, 420};
constexpr RECT kPatchArea{700, 150, 900, 350};

// An empty folder for one case, as the settings hold it: with its separator.
std::string Folder(const std::string& name) {
    const fs::path p = fs::path(test::OutputDir()) / name;
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p);
    return p.generic_string() + "/";
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A window showing gradients, stripes and hard edges: content on which a
// JPEG loses something and a wrong byte order shows.
class SceneWindow {
  public:
    SceneWindow() {
        const int w = kSceneArea.right - kSceneArea.left;
        const int h = kSceneArea.bottom - kSceneArea.top;
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        picture_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        auto* px = static_cast<std::uint32_t*>(bits);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t r = x * 255 / w, g = y * 255 / h;
                const std::uint32_t b = (x / 8 + y / 8) % 2 != 0 ? 230 : 20;
                px[y * w + x] = r << 16 | g << 8 | b;
            }
        }
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoraScreenshotScene";
        RegisterClassW(&wc);
        wnd_.reset(CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"scene", WS_POPUP,
                                   kSceneArea.left, kSceneArea.top, w, h, nullptr, nullptr,
                                   wc.hInstance, nullptr));
        SetWindowLongPtrW(wnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ShowWindow(wnd_.get(), SW_SHOWNOACTIVATE);
        UpdateWindow(wnd_.get());
    }

  private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<SceneWindow*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (msg == WM_PAINT && self != nullptr) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(wnd, &ps);
            win32::MemoryDc memory(CreateCompatibleDC(dc));
            win32::SelectGuard select(memory.get(), self->picture_.get());
            BitBlt(dc, 0, 0, kSceneArea.right - kSceneArea.left, kSceneArea.bottom - kSceneArea.top,
                   memory.get(), 0, 0, SRCCOPY);
            EndPaint(wnd, &ps);
            return 0;
        }
        return DefWindowProcW(wnd, msg, wp, lp);
    }

    win32::Bitmap picture_;
    win32::Window wnd_;
};

Pixels ToBytes(const test::ScreenPicture& picture) {
    Pixels out(picture.px.size() * 4);
    for (std::size_t i = 0; i < picture.px.size(); ++i) {
        const std::uint32_t v = picture.px[i];
        out[i * 4 + 0] = static_cast<std::uint8_t>(v);
        out[i * 4 + 1] = static_cast<std::uint8_t>(v >> 8);
        out[i * 4 + 2] = static_cast<std::uint8_t>(v >> 16);
        out[i * 4 + 3] = 0;
    }
    return out;
}

// Read back by the system's own bitmap loader.
Pixels LoadBmp(const std::string& path, int* bitCount) {
    const std::wstring wide(path.begin(), path.end());
    win32::Bitmap bitmap(static_cast<HBITMAP>(LoadImageW(nullptr, wide.c_str(), IMAGE_BITMAP, 0, 0,
                                                         LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
    BITMAP bm{};
    if (!bitmap || GetObjectW(bitmap.get(), sizeof(bm), &bm) == 0) {
        return {};
    }
    *bitCount = bm.bmBitsPixel;
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), bm.bmWidth, -bm.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Pixels px(static_cast<std::size_t>(bm.bmWidth) * bm.bmHeight * 4);
    win32::WindowDc screen(nullptr);
    if (GetDIBits(screen.get(), bitmap.get(), 0, bm.bmHeight, px.data(), &info, DIB_RGB_COLORS) !=
        bm.bmHeight) {
        return {};
    }
    for (std::size_t i = 3; i < px.size(); i += 4) {
        px[i] = 0;
    }
    return px;
}

Pixels LoadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return {};
    }
    image.format = PNG_FORMAT_BGRA;
    Pixels px(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    for (std::size_t i = 3; i < px.size(); i += 4) {
        px[i] = 0;
    }
    return px;
}

class ScreenshotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        patch_ = std::make_unique<test::ColourWindow>(kPatchArea, RGB(200, 30, 60), true);
        ShowScene();
    }
    void TearDown() override { SetScreenshotWriteLimitForTesting(0); }

    // Waits until the scene and the patch are on the screen.
    void ShowScene() {
        const std::uint32_t patch = GetColour();
        const RECT both{kSceneArea.left, kSceneArea.top, kPatchArea.right, kSceneArea.bottom};
        // The scene's top-left pixel: no red, no green, a dark blue square.
        const std::uint32_t corner = 20;
        const auto shown = [&](const test::ScreenPicture& p) {
            return p.ok && p.At(kSceneArea.left + 1, kSceneArea.top + 1) == corner &&
                   p.At(kPatchArea.left + 5, kPatchArea.top + 5) == patch &&
                   p.At(kPatchArea.right - 5, kPatchArea.bottom - 5) == patch;
        };
        ASSERT_TRUE(shown(test::GrabUntil(both, shown))) << "the scene did not appear";
    }
    std::uint32_t GetColour() const {
        return static_cast<std::uint32_t>(GetRValue(colour_)) << 16 |
               static_cast<std::uint32_t>(GetGValue(colour_)) << 8 | GetBValue(colour_);
    }
    void SetPatch(COLORREF colour) {
        colour_ = colour;
        patch_->SetColour(colour);
        ShowScene();
    }

    // Saves, and reads the screen back after the save: the scene is still,
    // so the screen then is what the file should hold.
    ScreenshotResult Save(const std::string& folder, const char* format, const char* compress,
                          Pixels* screen = nullptr) {
        const ScreenshotResult r = SaveScreenshot(folder, format, compress, kNow);
        if (screen != nullptr) {
            const test::ScreenPicture back = test::GrabWholeScreen();
            EXPECT_TRUE(back.ok);
            *screen = ToBytes(back);
        }
        return r;
    }

    SceneWindow scene_;
    std::unique_ptr<test::ColourWindow> patch_;
    COLORREF colour_ = RGB(200, 30, 60);
};

TEST_F(ScreenshotTest, EachFormatHoldsTheScreenAsShown) {
    const std::string folder = Folder("formats");
    Pixels screen;
    const test::ScreenPicture reviewer = test::GrabWholeScreen();
    EXPECT_TRUE(reviewer.Save("screenshot-scene.png"));

    ScreenshotResult r = Save(folder, "BMP", "", &screen);
    ASSERT_EQ(r.outcome, ScreenshotOutcome::Saved) << r.error;
    EXPECT_EQ(r.path, folder + "2026.12.06_09-03-04.bmp");
    int bitCount = 0;
    const Pixels bmp = LoadBmp(r.path, &bitCount);
    win32::WindowDc dc(nullptr);
    EXPECT_EQ(bitCount, GetDeviceCaps(dc.get(), BITSPIXEL) * GetDeviceCaps(dc.get(), PLANES));
    EXPECT_TRUE(bmp == screen) << "BMP differs from the screen";

    r = Save(folder, "PNG", "", &screen);
    ASSERT_EQ(r.outcome, ScreenshotOutcome::Saved) << r.error;
    EXPECT_EQ(r.path, folder + "2026.12.06_09-03-04.png");
    EXPECT_TRUE(LoadPng(r.path) == screen) << "PNG differs from the screen";

    // Compress -> the quality the file's quantisation tables show.
    const struct {
        const char* compress;
        int quality;
        double minPsnr;
    } jpegs[] = {{"", 80, 31.0}, {"300", 44, 29.0}, {"0", 1, 20.0}};
    for (const auto& j : jpegs) {
        fs::remove(folder + "2026.12.06_09-03-04.jpg");  // the name for each
        r = Save(folder, "JPG", j.compress, &screen);
        ASSERT_EQ(r.outcome, ScreenshotOutcome::Saved) << r.error;
        EXPECT_EQ(r.path, folder + "2026.12.06_09-03-04.jpg");
        const test::DecodedJpeg jpeg = test::DecodeJpegFile(r.path);
        ASSERT_TRUE(jpeg.ok);
        EXPECT_EQ(jpeg.width, GetSystemMetrics(SM_CXSCREEN));
        EXPECT_EQ(jpeg.height, GetSystemMetrics(SM_CYSCREEN));
        EXPECT_EQ(jpeg.components, 3);
        EXPECT_FALSE(jpeg.progressive);
        EXPECT_EQ(jpeg.tables, test::ExpectedQuantTables(j.quality)) << "Compress " << j.compress;
        const double psnr = test::PsnrBgrx(jpeg.bgrx, screen);
        EXPECT_GT(psnr, j.minPsnr) << "Compress " << j.compress;
        std::printf("JPEG Compress \"%s\": quality %d, %.1f dB\n", j.compress, j.quality, psnr);
    }
    EXPECT_EQ(FilesIn(folder).size(), 3u);
}

// Two shots within one second (or after the clock went back) keep both
// pictures: the later one takes the next free name.
TEST_F(ScreenshotTest, TwoShotsInOneSecondKeepBothPictures) {
    const std::string folder = Folder("same-second");
    Pixels first, second;
    const ScreenshotResult r1 = Save(folder, "PNG", "", &first);
    ASSERT_EQ(r1.outcome, ScreenshotOutcome::Saved) << r1.error;
    SetPatch(RGB(20, 220, 90));
    const ScreenshotResult r2 = Save(folder, "PNG", "", &second);
    ASSERT_EQ(r2.outcome, ScreenshotOutcome::Saved) << r2.error;
    EXPECT_EQ(r2.path, folder + "2026.12.06_09-03-04 (2).png");
    EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"2026.12.06_09-03-04 (2).png",
                                                         "2026.12.06_09-03-04.png"}));
    EXPECT_TRUE(LoadPng(r1.path) == first) << "the first picture was replaced";
    EXPECT_TRUE(LoadPng(r2.path) == second);
    EXPECT_FALSE(first == second);
}

TEST_F(ScreenshotTest, UnknownFormatOrNonIntegerCompressSaveNothingAndSayNothing) {
    const std::string folder = Folder("silent");
    const struct {
        const char* format;
        const char* compress;
    } cases[] = {{"jpg", ""},    {"", ""},       {"Png", ""},
                 {"JPEG", "80"}, {"JPG", "abc"}, {"JPG", " 80"}};
    for (const auto& c : cases) {
        const ScreenshotResult r = Save(folder, c.format, c.compress);
        EXPECT_EQ(r.outcome, ScreenshotOutcome::Skipped) << c.format << " / " << c.compress;
        EXPECT_TRUE(r.error.empty());
    }
    EXPECT_TRUE(FilesIn(folder).empty());
}

TEST_F(ScreenshotTest, FailuresReportAReasonAndLeaveNoFile) {
    // A disk that fills up part-way through each kind of picture.
    for (const char* format : {"BMP", "JPG", "PNG"}) {
        const std::string folder = Folder(std::string("full-disk-") + format);
        SetScreenshotWriteLimitForTesting(1000);
        const ScreenshotResult r = Save(folder, format, "");
        SetScreenshotWriteLimitForTesting(0);
        EXPECT_EQ(r.outcome, ScreenshotOutcome::Failed) << format;
        EXPECT_NE(r.error.find("на диске нет места"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("2026.12.06_09-03-04"), std::string::npos) << r.error;
        EXPECT_TRUE(FilesIn(folder).empty()) << format << ": a file was left behind";
    }

    // The final name is taken by a folder: it stays, and the picture takes
    // the next name; no temporary file is left.
    {
        const std::string folder = Folder("name-taken");
        fs::create_directory(folder + "2026.12.06_09-03-04.png");
        const ScreenshotResult r = Save(folder, "PNG", "");
        EXPECT_EQ(r.outcome, ScreenshotOutcome::Saved) << r.error;
        EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"2026.12.06_09-03-04 (2).png",
                                                             "2026.12.06_09-03-04.png"}));
        EXPECT_TRUE(fs::is_directory(folder + "2026.12.06_09-03-04.png"));
    }

    // A folder part of the name that does not exist.
    {
        const std::string folder = Folder("missing");
        const ScreenshotResult r = Save(folder + "not-there/", "BMP", "");
        EXPECT_EQ(r.outcome, ScreenshotOutcome::Failed);
        EXPECT_NE(r.error.find("папка не найдена"), std::string::npos) << r.error;
        EXPECT_TRUE(FilesIn(folder).empty());
    }

    // A folder that takes no new files, even from root (the tests run as
    // root, for whom permission bits do not stop a write): Linux's sysfs,
    // seen through Wine's drive of the whole file system.
    {
        const ScreenshotResult r = Save("/sys/", "BMP", "");
        EXPECT_EQ(r.outcome, ScreenshotOutcome::Failed);
        EXPECT_NE(r.error.find("нет доступа"), std::string::npos) << r.error;
        EXPECT_FALSE(fs::exists("/sys/2026.12.06_09-03-04.bmp"));
    }
}

TEST_F(ScreenshotTest, SavesAndFailuresReturnEveryGdiObject) {
    const std::string folder = Folder("gdi");
    test::ExpectGdiObjectsReturn(
        [&](int cycle) {
            SetScreenshotWriteLimitForTesting(cycle % 2 == 0 ? 0 : 5000);
            const ScreenshotResult r = Save(folder, cycle % 3 == 0 ? "JPG" : "BMP", "");
            SetScreenshotWriteLimitForTesting(0);
            EXPECT_NE(r.outcome, ScreenshotOutcome::Skipped);
        },
        6);
}

}  // namespace
}  // namespace kelvora
