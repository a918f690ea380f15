// TScreenCamera: the recorder's engine object. The controller creates one per
// run, assigns its events, writes its configuration fields and drives it;
// the recording worker (TRecordAVIThread) runs a session on it.
//
// Threads: fields that the worker and the UI thread share while a recording
// runs are std::atomic. A stop is two stores in a fixed order: StopReason
// first, then FRecording cleared; the worker reads StopReason only after it
// has seen FRecording false.
//
// Strings: file names are in the system's ANSI code page (the A functions
// take them as they are); texts shown to the user are UTF-8.
//
// What the engine needs from the system (screen, clock, files, message boxes,
// the UI thread) goes through CameraPlatform (camera_platform.h), so that
// tests can control time and frames.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/camera_windows.h"
#include "engine/record_thread.h"
#include "engine/temp_files.h"
#include "engine/vfw/ic.h"
#include "engine/vfw/vfw.h"

class TScreenCamera;
class TBitmap;  // the preview picture (frame_grabber_win32.cpp)
class CameraPlatform;
class SessionSound;

// ---- Events: a handler is raised only when assigned (non-empty). ----
using TNotifyEvent = std::function<void(TScreenCamera* Sender)>;
using TCameraErrorEvent = std::function<void(TScreenCamera* Sender, const std::string& Msg)>;
using TCameraPreviewEvent =
    std::function<void(TScreenCamera* Sender, TBitmap* Bitmap, bool PreviewShown, bool Recording)>;
// Continue arrives true; a handler clears it to cancel.
using TCameraProgressEvent = std::function<void(TScreenCamera* Sender, std::int32_t Percent,
                                                const std::string& Caption, bool& Continue)>;

// A string written by one thread and read by another.
class SharedText {
  public:
    SharedText() = default;
    explicit SharedText(std::string s) : text_(std::move(s)) {}
    SharedText& operator=(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = s;
        return *this;
    }
    std::string get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    operator std::string() const { return get(); }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

// ---- Unit-level state, one set per process ----

// The camera constructed last; DeleteTempFile and the save progress raise
// FOnProgress on it.
extern std::atomic<TScreenCamera*> CurrentCamera;
// Why the last recording ended: 0 none yet, 1 stop and keep, 2 abort.
extern std::atomic<std::uint8_t> StopReason;
// The temporary directory followed by "~vstream.avi" / "~astream.wav".
extern SharedText VideoTempFile;
extern SharedText AudioTempFile;
// Target file name of the last start request; the worker records into it.
extern SharedText RecordFileName;
// A start request waits for the user to select the area.
extern std::atomic<bool> PendingStart;

inline constexpr std::uint8_t kStopNone = 0;
inline constexpr std::uint8_t kStopKeep = 1;
inline constexpr std::uint8_t kStopDiscard = 2;

// What the camera is doing. Every command and every display of the
// program follows this one answer (TScreenCamera::State()):
//   Idle       nothing runs; a start is accepted;
//   Selecting  a start waits for its area (PendingStart): the selection
//              window shows, or opens at the next tick;
//   Recording  the worker records (FRecording);
//   Finishing  the recording has stopped and the worker still saves it; a
//              start is refused until it ends.
enum class TCameraState { Idle, Selecting, Recording, Finishing };

// The error text of every engine failure.
inline constexpr const char* kRecordError = "Ошибка записи";
// The caption FOnProgress receives while a recording is saved.
inline constexpr const char* kSavingCaption = "Saving Video...";
// The hot-key message (WM_HOTKEY), for HotKeyWndProc in portable code.
inline constexpr std::uint32_t kWmHotKey = 0x0312;

// Progress callback of AVISaveV while saving; reaches the camera through
// CurrentCamera. Returns non-zero to cancel.
vfw::LONG VFW_CALLBACK SaveCallback(int Percent);

// The timed stop, copied as one 4-byte unit.
struct TTimerCapture {
    std::uint8_t Enabled;  // 0 or 1
    std::uint8_t Hours;
    std::uint8_t Minutes;
    std::uint8_t Seconds;
};
static_assert(sizeof(TTimerCapture) == 4);

class TScreenCamera {
  public:
    // Owner: the main form's window (an HWND in the Windows build), the
    // parent of the camera's windows and message boxes.
    explicit TScreenCamera(void* Owner);
    virtual ~TScreenCamera();
    TScreenCamera(const TScreenCamera&) = delete;
    TScreenCamera& operator=(const TScreenCamera&) = delete;

    // ---- Configuration (written by the controller) ----
    void* const FOwnerForm;
    std::atomic<std::uint8_t> FRegionType{2};  // 0 pick window .. 4 full screen
    std::atomic<std::int32_t> FLeft{0};
    std::atomic<std::int32_t> FTop{0};
    std::atomic<std::int32_t> FWidth{300};
    std::atomic<std::int32_t> FHeight{300};
    std::atomic<std::int32_t> FColorDepth{0};  // changed only through SetColorDepth
    std::atomic<std::int32_t> FBitCount{32};
    std::atomic<std::int32_t> FFilterColor{0};  // 1 inverts colours
    std::atomic<bool> FRecordCursor{true};
    std::atomic<bool> FDrawAreaCapture{true};
    std::atomic<bool> FLineRectClear{true};
    std::atomic<bool> FRestoreAppWindowAfterCapture{true};
    std::atomic<bool> FMinimizeAppOnStart{true};
    std::atomic<std::int32_t> FVideoPriority{3};  // 0 idle .. 6 time-critical
    std::atomic<std::int32_t> FMSPFRecord{25};    // milliseconds per frame slot
    std::atomic<std::int32_t> FFrameRatePlayback{40};
    std::atomic<std::int32_t> FKeyFramesEvery{15};
    std::atomic<std::int32_t> FCompressionQuality{9000};
    std::atomic<std::int32_t> FCodecIndex{-1};
    std::atomic<TTimerCapture> FTimerCapture{TTimerCapture{}};
    std::atomic<bool> FRecordAudio{false};
    SharedText FAudioDevice;  // the sound input's name (UTF-8); empty: the default

    // ---- Compressor table (codec_catalogue.cpp) ----
    // Built on the UI thread; a session reads its entry under FCodecsLock.
    static constexpr int kMaxCodecs = 32;
    std::array<vfw::ICINFO, kMaxCodecs> FCodecs{};
    std::int32_t FCodecCount = 0;
    std::vector<std::string> FCodecNames;  // descriptions of the valid entries, UTF-8
    SharedText FCodecName;                 // short name of the compressor in use
    std::atomic<vfw::FOURCC> FVideoCodecHandler{0};
    mutable std::mutex FCodecsLock;

    // ---- Screen ----
    std::int32_t FScreenWidth = 0;
    std::int32_t FScreenHeight = 0;

    // ---- Run-time state shared with the worker ----
    std::atomic<bool> FRecording{false};
    std::atomic<TRecordAVIThread*> FRecordThread{nullptr};
    std::atomic<bool> FPreview{false};
    std::atomic<bool> FPickWindowPending{false};
    std::atomic<bool> FSelectRegionPending{false};
    std::atomic<bool> FFollowMouse{false};
    std::atomic<bool> FFullScreen{false};
    TBitmap* FFrameBitmap = nullptr;  // owned; preview grabs only

    // ---- Recording statistics (record_session.cpp) ----
    std::atomic<double> FLastFrameInterval{0};
    std::atomic<std::int32_t> FCurrentFrame{0};
    std::atomic<std::int32_t> FFramesWritten{0};
    std::atomic<std::int32_t> FFramesDropped{0};
    std::atomic<std::int32_t> FFrameWidth{0};
    std::atomic<std::int32_t> FFrameHeight{0};
    SharedText FRecordTimeText;
    std::array<vfw::PAVISTREAM, 2> FSaveStreams{};

    // ---- Events ----
    TNotifyEvent FOnRecordTime;
    TNotifyEvent FOnRecordStart;
    TNotifyEvent FOnRecordStop;
    TCameraErrorEvent FOnError;
    TCameraPreviewEvent FOnPreview;
    TCameraProgressEvent FOnProgress;
    // The sound of a recording stopped on the way; the picture goes on.
    TCameraErrorEvent FOnSoundProblem;

    // ---- Screen camera ----
    void SetColorDepth(std::int32_t Index);
    // Stop. Recording: stop and keep (StopReason 1, then FRecording
    // cleared). Selecting: the selection and its pending start are cancelled
    // (on the UI thread). Idle or Finishing: nothing changes. The preview's
    // state is applied again on the UI thread. Any thread.
    void StopRecording();
    // What the camera is doing now (UI thread; the worker's own stops show
    // at once).
    TCameraState State();

    // ---- Frame grabber ----
    // The preview picture: FFrameBitmap resized and filled (UI thread).
    TBitmap* GrabToBitmap(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                          std::int32_t Height, std::int32_t Filter);
    // A packed DIB of the rectangle, cursor painted in, FBitCount bits, owned
    // by the caller until FreeFrame; null when it cannot be made.
    vfw::BITMAPINFOHEADER* GrabFrame(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                     std::int32_t Height, std::int32_t Filter);
    // Releases a frame of GrabFrame and clears the pointer (null is ignored).
    void FreeFrame(vfw::BITMAPINFOHEADER*& Frame);

    // ---- Recording control (UI thread) ----
    // Preview mode: the timer runs and keeps the area and its frame
    // current; off, the timer stops unless a recording runs.
    void SetPreview(bool Value);
    // Starts a recording into FileName in the current region mode; false
    // when one is running or still finishing, while a selection window
    // shows, or when the area must be selected first (PendingStart: the
    // next tick opens the selection, whose OK starts the recording).
    bool StartRecording(const std::string& FileName);
    // Sets the four mode flags from FRegionType (values above 4 change nothing).
    void ApplyRegionMode();
    // One tick of FTimer: mode, area, frame and the preview event.
    void TimerTick();
    // Stops the timer while no tick could change what is shown or recorded,
    // and slows it while a tick only keeps an idle frame in place.
    void RestIfNothingChanges(bool frameMoved);
    // The rectangle selection / the window picker, modal; true when the
    // user confirmed an area (then mode 3 with that area, and a pending
    // start is started).
    bool SelectRegion();
    bool SelectWindow();
    // WM_HOTKEY (0x0312) of FHotKeyWnd with the id FHotKey1..3.
    void HotKeyWndProc(std::uint32_t Msg, std::uintptr_t Id);
    // The application was minimised: the frame stays on screen.
    void AppMinimize();
    // A selection window shows (a start is refused meanwhile).
    bool SelectionShowing() const;
    // The grabber met a picture it cannot convert: abort (the FHotKey2
    // path, carried out on the UI thread). Any thread.
    void AbortRecording();

    // False: the preview handler ignores the picture, so ticks raise the
    // preview events with a nil bitmap and grab nothing (a tray program
    // that shows no preview costs nothing while idle). True by default.
    std::atomic<bool> FPreviewPictureWanted{true};

    // Hot-key ids: stop and keep, cancel or abort, confirm the picker.
    std::uint32_t FHotKey1 = 0;
    std::uint32_t FHotKey2 = 0;
    std::uint32_t FHotKey3 = 0;
    // The timer and windows (tests read their state).
    CameraWindows& Windows() const { return *windows_; }

    // ---- Recording session ----
    // One session: 1 ran to its end, 0 failed and was stopped, -1 run again
    // (the user accepted the default compressor). Runs on the worker.
    std::int32_t RecordAVI(const std::string& FileName);
    // The worker's end, on the UI thread: FRecording false, worker freed.
    // A worker's end that never arrived (its post was lost) is taken here
    // by the next start instead.
    void ThreadTerminated();

    // ---- Codec catalogue (UI thread) ----
    // Rebuilds the table from the compressors that accept a frame of the
    // current area, depth and filter; returns FCodecNames.
    const std::vector<std::string>& GetVideoCompressors();
    void CompressorAbout(std::uint8_t Index, void* ParentWindow);
    void CompressorConfigure(std::uint8_t Index, void* ParentWindow);
    void CompressorQuery(std::uint8_t Index, bool& CanAbout, bool& CanConfigure);

    // ---- Finishing ----
    // Copies the streams into FileName with progress through FOnProgress;
    // where a file of that name exists, into the first free name after it
    // ("<name> (2).avi", ...): an existing file is never replaced. A failure
    // is not reported here: *Problem receives why (UTF-8), and the caller
    // keeps the recording and reports both.
    enum class SaveResult { Saved, Cancelled, Failed };
    SaveResult SaveAVI(const std::string& FileName, std::int32_t StreamCount,
                       vfw::PAVISTREAM* Streams, std::string* Problem = nullptr);

    // ---- Events, raised only when assigned ----
    void RaiseError(const std::string& Msg);
    void RaiseNotify(const TNotifyEvent& Event);
    void RaisePreview(TBitmap* Bitmap, bool PreviewShown, bool Recording);
    // Returns Continue.
    bool RaiseProgress(std::int32_t Percent, const std::string& Caption);

    CameraPlatform& Platform() const { return platform_; }

  private:
    friend class TRecordAVIThread;

    void SetDefaultCompressor();
    // The failure stop of a session; `preview` false for the version failure.
    void FailureStop(bool preview);
    void RestoreAppIfWanted();
    // The steps of RecordAVI, on what one session holds (record_session.cpp).
    struct Session;
    // The compressor and the frame size it accepts; false when the session
    // cannot start (reported and stopped already).
    bool ChooseCompressorAndFrame(Session& session);
    // The temporary file with its compressed video stream; a failure is
    // noted in the session.
    void OpenSessionStreams(Session& session);
    // The recording loop when the streams are open, then the stop event
    // and the streams released.
    void RunSession(Session& session);
    // Saves, keeps what was recorded, asks for the default compressor or
    // stops: RecordAVI's result.
    std::int32_t ApplyFailurePolicy(Session& session, const std::string& FileName);
    // Opens the compressor of this run: the catalogue entry FCodecIndex, or
    // the default one when the user accepted it after a failure.
    vfw::HIC OpenSessionCompressor(vfw::FOURCC* handler, std::string* name);
    // The recording loop: returns the failing write's code, or AVIERR_OK;
    // *grabFailed tells whether it ended on a grab that failed.
    vfw::HRESULT RecordLoop(vfw::PAVISTREAM stream, bool* grabFailed,
                            SessionSound* sound = nullptr);
    // Finishing a kept recording: its video copied into the target under a free name.
    void FinishRecording(const std::string& FileName);
    // Saving failed: moves the temporary file beside the target under a
    // free name (or keeps it in the temporary folder) and says where.
    void KeepFailedRecording(const std::string& FileName, const std::string& reason);

    // Frees a worker that has ended and whose end has not arrived yet (UI
    // thread; elsewhere nothing happens).
    void ReapEndedWorker();
    // Stop during a selection: the window closes with Cancel and nothing
    // is pending any more (UI thread).
    void CancelPendingStart();
    // The timer and frame window after a stop made on the worker: the
    // preview's state decides, on the UI thread.
    void ReapplyPreviewOnUiThread();
    // After a failure stop with the preview off: timer off, frame hidden.
    void StopTimerWithoutPreview();
    // Runs `work` now on the UI thread, else posts it there.
    void OnUiThread(std::function<void()> work);
    bool RunSelection(CameraWindows::Selection kind);
    // The area of mode 4: 0, 0 and the screen's size.
    void SetFullScreenArea();

    // The default-compressor question, asked from the worker; No when the
    // camera is being destroyed meanwhile.
    bool AskQuestion(const char* text, const char* caption);

    CameraPlatform& platform_;
    std::unique_ptr<CameraWindows> windows_;
    // False once the destructor has run: a selection loop still on the
    // stack below it returns without touching the camera.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Set first thing by the destructor: a question still open is answered
    // No and no new one is asked.
    std::atomic<bool> destroying_{false};
    // Set when the user accepted the default compressor: the next session
    // records with 'MSVC' whatever the catalogue holds.
    std::atomic<bool> useDefaultCompressor_{false};
    // The session being finished recorded sound into AudioTempFile (worker).
    bool sessionSound_ = false;
};
