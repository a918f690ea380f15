// The camera object: construction with its defaults, destruction, colour
// depth, the stop protocol and its events.
#include "engine/screen_camera.h"

#include "engine/camera_platform.h"
#include "engine/temp_files.h"
#include "engine/session_sound.h"

std::atomic<TScreenCamera*> CurrentCamera{nullptr};
std::atomic<std::uint8_t> StopReason{kStopNone};
SharedText VideoTempFile;
SharedText AudioTempFile;
SharedText RecordFileName;

namespace {

constexpr const char* kDefaultCodecName = "MS Video Codec";
constexpr vfw::FOURCC kDefaultCodec = vfw::mmioFOURCC('M', 'S', 'V', 'C');

int BitCountOfDepth(std::int32_t index) {
    switch (index) {
        case 0:
            return 8;
        case 1:
            return 16;
        case 2:
            return 24;
        default:
            return 32;
    }
}

}  // namespace

TScreenCamera::TScreenCamera(void* Owner) : FOwnerForm(Owner), platform_(ActivePlatform()) {
    CurrentCamera = this;
    platform_.RegisterCamera(this);

    const std::string dir = TempRecordingFolder(platform_);
    // A leftover not recovered yet keeps its name: this camera records
    // beside it, so that nothing wipes it before a later start recovers it.
    VideoTempFile = FreeVideoTempFile(dir);
    AudioTempFile = SoundTempFileFor(VideoTempFile);

    FRecording = false;
    std::int32_t w = 0, h = 0;
    platform_.ScreenSize(&w, &h);
    FScreenWidth = w;
    FScreenHeight = h;

    FVideoCodecHandler = kDefaultCodec;
    FCodecName = kDefaultCodecName;
    FCodecNames = {kDefaultCodecName};
    FTimerCapture = TTimerCapture{};

    StopReason = kStopNone;
    FRecordThread = nullptr;
    FFilterColor = 0;

    FFrameBitmap = platform_.CreateFrameBitmap();
    SetColorDepth(3);

    // The timer, the frame window, the hot-key window and its ids; the
    // catalogue; the minimise notification comes through the windows.
    windows_ = platform_.CreateCameraWindows(*this);
    GetVideoCompressors();
    FHotKey1 = windows_->HotKeyId(1);
    FHotKey2 = windows_->HotKeyId(2);
    FHotKey3 = windows_->HotKeyId(3);
}

TScreenCamera::~TScreenCamera() {
    destroying_ = true;
    // Abort a running recording and wait for the worker, also when it is
    // already past its loop and saving: it uses this camera until it ends.
    if (FRecording) {
        StopReason = kStopDiscard;
        FRecording = false;
    }
    delete FRecordThread.exchange(nullptr);

    FCodecNames.clear();
    SetPreview(false);
    // The hot keys, the hidden window, the timer and the frame; a selection
    // still open below this call on the stack ends with Cancel.
    windows_.reset();
    *alive_ = false;
    platform_.DestroyFrameBitmap(FFrameBitmap);
    FFrameBitmap = nullptr;
    WipeLeftoverRecording(VideoTempFile);
    DeleteTempFile(AudioTempFile);

    platform_.ForgetCamera(this);
    TScreenCamera* self = this;
    CurrentCamera.compare_exchange_strong(self, nullptr);
}

void TScreenCamera::SetColorDepth(std::int32_t Index) {
    if (Index == FColorDepth) {
        return;
    }
    FColorDepth = Index;
    FBitCount = BitCountOfDepth(Index);
    if (FFrameBitmap != nullptr) {
        platform_.SetFrameBitmapDepth(FFrameBitmap, FBitCount);
    }
}

bool TScreenCamera::AskQuestion(const char* text, const char* caption) {
    return !destroying_ && platform_.AskYesNo(FOwnerForm, text, caption, destroying_);
}

void TScreenCamera::SetDefaultCompressor() {
    FVideoCodecHandler = kDefaultCodec;
    FCodecName = kDefaultCodecName;
}

TBitmap* TScreenCamera::GrabToBitmap(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                     std::int32_t Height, std::int32_t Filter) {
    return platform_.GrabToBitmap(*this, Left, Top, Width, Height, Filter);
}

vfw::BITMAPINFOHEADER* TScreenCamera::GrabFrame(std::int32_t Left, std::int32_t Top,
                                                std::int32_t Width, std::int32_t Height,
                                                std::int32_t Filter) {
    return platform_.GrabFrame(*this, Left, Top, Width, Height, Filter);
}

void TScreenCamera::FreeFrame(vfw::BITMAPINFOHEADER*& Frame) {
    if (Frame != nullptr) {
        platform_.FreeFrame(Frame);
        Frame = nullptr;
    }
}

void TScreenCamera::RaiseError(const std::string& Msg) {
    if (FOnError) {
        FOnError(this, Msg);
    }
}

void TScreenCamera::RaiseNotify(const TNotifyEvent& Event) {
    if (Event) {
        Event(this);
    }
}

void TScreenCamera::RaisePreview(TBitmap* Bitmap, bool PreviewShown, bool Recording) {
    if (FOnPreview) {
        FOnPreview(this, Bitmap, PreviewShown, Recording);
    }
}

bool TScreenCamera::RaiseProgress(std::int32_t Percent, const std::string& Caption) {
    bool Continue = true;
    if (FOnProgress) {
        FOnProgress(this, Percent, Caption, Continue);
    }
    return Continue;
}
