// Helpers of the selection window tests: message pumping, screen read-back,
// real input through SendInput, a step runner for modal loops and a count of
// the process's live GDI objects.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kelvora::test {

// Dispatches this thread's messages for `ms` milliseconds, sleeping in between.
void PumpFor(DWORD ms);
// Dispatches messages until `done` returns true or `timeoutMs` passes;
// returns the last answer of `done`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// 0x00RRGGBB values as a 32-bit B, G, R, x pixel reads.
inline constexpr std::uint32_t kRed = 0xFF0000;
inline constexpr std::uint32_t kWhite = 0xFFFFFF;
inline constexpr std::uint32_t kBlue = 0x0000FF;

// A rectangle of the screen as the display shows it (BitBlt from the
// screen's device context), 0x00RRGGBB per pixel, top row first.
struct ScreenPicture {
    RECT area{};
    std::vector<std::uint32_t> px;
    bool ok = false;

    // The pixel at screen position (x, y); must lie in `area`.
    std::uint32_t At(int x, int y) const;
    // Saves the picture as a PNG in the test's output folder.
    bool Save(const std::string& name) const;
};
ScreenPicture GrabScreen(const RECT& area);
ScreenPicture GrabWholeScreen();
// Grabs `area` until `ok` accepts the picture or `timeoutMs` passes,
// dispatching messages in between: on a loaded machine the display shows a
// change a while after the windows made it. Returns the last picture.
ScreenPicture GrabUntil(const RECT& area, const std::function<bool(const ScreenPicture&)>& ok,
                        DWORD timeoutMs = 3000);

// Real input through SendInput: absolute mouse moves in screen pixels,
// button presses and releases (MOUSEEVENTF_* flags), key presses.
bool MoveMouse(int x, int y);
bool MouseButton(DWORD flag);
bool Key(WORD vk, bool down);

// Runs steps one after another from a timer on this thread while any loop
// (a modal one included) dispatches messages. A step returns true when it is
// done and false to be run again at the next tick; a step that is not done
// after `timeoutMs` fails the test and ends the run, calling `onAbort`.
class StepRunner {
  public:
    explicit StepRunner(std::function<void()> onAbort = {});
    ~StepRunner();
    StepRunner(const StepRunner&) = delete;
    StepRunner& operator=(const StepRunner&) = delete;

    void Do(std::function<void()> action);
    void Until(std::string what, std::function<bool()> done, DWORD timeoutMs = 3000);
    void Wait(DWORD ms);
    // Starts running (timer of 15 ms).
    void Start();
    bool Finished() const { return next_ >= steps_.size(); }
    bool Aborted() const { return aborted_; }

  private:
    struct Step {
        std::string what;
        std::function<bool()> run;
        DWORD timeoutMs = 0;
    };
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    void Tick();

    std::vector<Step> steps_;
    size_t next_ = 0;
    DWORD stepStart_ = 0;
    bool stepStarted_ = false;
    bool aborted_ = false;
    bool inTick_ = false;
    std::function<void()> onAbort_;
    HWND wnd_ = nullptr;
};

// The icon windows shown in Wine's tray window (a display without a tray
// manager gets one), visible ones only.
std::vector<HWND> TrayIconWindows();

// Live GDI objects of this process: GetGuiResources where the platform
// reports it, else the used entries of Wine's GDI handle table. Returns -1
// when neither is available.
long LiveGdiObjects();

// Runs `cycle` (given its number) three times to warm the platform's caches,
// then `cycles` times, and expects the live GDI objects to be back where
// they were after the warm-up. Skips the test where nothing counts them.
void ExpectGdiObjectsReturn(const std::function<void(int)>& cycle, int cycles = 100);

// A plain top-level window filled with one colour (for backgrounds and
// targets); the colour can change later.
class ColourWindow {
  public:
    ColourWindow(const RECT& bounds, COLORREF colour, bool topmost = false);
    ~ColourWindow();
    ColourWindow(const ColourWindow&) = delete;
    ColourWindow& operator=(const ColourWindow&) = delete;
    HWND get() const { return wnd_; }
    void SetColour(COLORREF colour);

  private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND wnd_ = nullptr;
    COLORREF colour_;
};

}  // namespace kelvora::test
