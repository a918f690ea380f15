// The compressors' about boxes and configuration dialogs under Wine, opened
// through the camera's catalogue as the options dialog opens them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/screen_camera.h"
#include "tests/support/desktop.h"

namespace {

using kelvora::test::StepRunner;

struct DialogSearch {
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND wnd, LPARAM lp) {
    auto* s = reinterpret_cast<DialogSearch*>(lp);
    wchar_t cls[32] = {}, text[256] = {};
    GetClassNameW(wnd, cls, 32);
    GetWindowTextW(wnd, text, 256);
    if (std::wstring(cls) == L"#32770" && *s->title == text && IsWindowVisible(wnd)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// The top-level dialog (class #32770) of this thread with this title.
HWND FindDialog(const std::wstring& title) {
    DialogSearch search{&title, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring Description(const TScreenCamera& camera, int slot) {
    const auto* d = reinterpret_cast<const wchar_t*>(camera.FCodecs[slot].szDescription);
    return std::wstring(d);
}

int SlotOf(const TScreenCamera& camera, vfw::FOURCC handler) {
    for (int i = 0; i < camera.FCodecCount; ++i) {
        if (camera.FCodecs[i].fccHandler == handler) {
            return i;
        }
    }
    return -1;
}

// The checked radio button of a dialog, counted from the first (-1: none).
int CheckedChoice(HWND dialog) {
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & 0x0F) == BS_AUTORADIOBUTTON) {
            if (SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                return index;
            }
            ++index;
        }
    }
    return -1;
}

TEST(CodecDialogs, AboutBoxIsAModalDialogOfTheCompressor) {
    TScreenCamera camera(nullptr);
    const int slot = SlotOf(camera, vfw::mmioFOURCC('M', 'S', 'V', 'C'));
    ASSERT_GE(slot, 0);
    bool about = false, configure = true;
    camera.CompressorQuery(static_cast<std::uint8_t>(slot), about, configure);
    ASSERT_TRUE(about);
    const std::wstring title = Description(camera, slot);
    HWND seen = nullptr;
    StepRunner steps;
    steps.Until("the about box shows", [&] { return (seen = FindDialog(title)) != nullptr; });
    steps.Do([&] {
        RECT rc;
        GetWindowRect(seen, &rc);
        kelvora::test::GrabScreen(rc).Save("about-box.png");
        PostMessageW(seen, WM_COMMAND, IDOK, 0);
    });
    steps.Start();
    camera.CompressorAbout(static_cast<std::uint8_t>(slot), nullptr);
    EXPECT_TRUE(steps.Finished());
    EXPECT_NE(seen, nullptr);
    EXPECT_FALSE(IsWindow(seen)) << "closed when the call returns";
}

TEST(CodecDialogs, ConfigurationIsKeptByTheCompressor) {
    TScreenCamera camera(nullptr);
    const int slot = SlotOf(camera, vfw::mmioFOURCC('Z', 'M', 'B', 'V'));
    ASSERT_GE(slot, 0);
    bool about = false, configure = false;
    camera.CompressorQuery(static_cast<std::uint8_t>(slot), about, configure);
    ASSERT_TRUE(configure);
    const std::wstring title = Description(camera, slot);
    auto configureOnce = [&](const std::function<void(HWND)>& act) {
        HWND dialog = nullptr;
        StepRunner steps;
        steps.Until("the configuration dialog shows",
                    [&] { return (dialog = FindDialog(title)) != nullptr; });
        steps.Do([&] { act(dialog); });
        steps.Start();
        camera.CompressorConfigure(static_cast<std::uint8_t>(slot), nullptr);
        EXPECT_TRUE(steps.Finished());
    };
    int before = -1;
    configureOnce([&](HWND dialog) {
        before = CheckedChoice(dialog);
        RECT rc;
        GetWindowRect(dialog, &rc);
        kelvora::test::GrabScreen(rc).Save("configure-dialog.png");
        // Pick another choice: the first one, or the second when the first is set.
        int index = 0;
        const int wanted = before == 0 ? 1 : 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongW(child, GWL_STYLE) & 0x0F) == BS_AUTORADIOBUTTON &&
                index++ == wanted) {
                SendMessageW(child, BM_CLICK, 0, 0);
            }
        }
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_GE(before, 0);
    int after = -1;
    configureOnce([&](HWND dialog) {
        after = CheckedChoice(dialog);
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(after, before == 0 ? 1 : 0) << "a later instance shows the kept choice";
    // Put the compressor's setting back as it was.
    configureOnce([&](HWND dialog) {
        int index = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongW(child, GWL_STYLE) & 0x0F) == BS_AUTORADIOBUTTON &&
                index++ == before) {
                SendMessageW(child, BM_CLICK, 0, 0);
            }
        }
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
}

}  // namespace
