// A recording session: the worker thread and RecordAVI, which checks the
// platform and the compressor, adapts the frame size, records frames at the
// positions the wall clock gives them, and has the recording saved.
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>

#include "engine/camera_platform.h"
#include "engine/recovery.h"
#include "engine/screen_camera.h"
#include "engine/session_rules.h"

namespace {

constexpr vfw::FOURCC kDefaultCodec = vfw::mmioFOURCC('M', 'S', 'V', 'C');
constexpr vfw::DWORD kOptionFlags = vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_VALID;  // 12
constexpr const char* kDefaultCodecQuestion =
    "Не выбран кодек. Использовать кодек по умолчанию?";
constexpr const char* kNoticeCaption = "Уведомление";
// What was recorded reaches the system this often, so that a killed or
// crashed run leaves a temporary file holding all but the last moments. Half
// a second keeps that under a second even when a grab is slow.
constexpr std::uint32_t kFlushEveryMs = 500;

bool IsRefusedName(const std::string& name) {
    const CameraPlatform::FileKind kind = ActivePlatform().KindOf(name);
    return kind == CameraPlatform::FileKind::Directory || kind == CameraPlatform::FileKind::Linked;
}

// What is in the way of the temporary file, for the error box.
std::string TempFileProblem(const std::string& tempFile) {
    CameraPlatform& platform = ActivePlatform();
    const std::string text = "Не удалось создать временный файл записи " +
                             platform.FileNameForDisplay(tempFile) + ": под этим именем находится ";
    return text + (platform.KindOf(tempFile) == CameraPlatform::FileKind::Directory
                       ? "папка."
                       : "ссылка на другой файл.");
}

std::string ShortName(const vfw::ICINFO& info) {
    std::string name;
    for (vfw::WCHAR c : info.szName) {
        if (c == 0) {
            break;
        }
        // Short names are plain ASCII in practice; anything else becomes '?'.
        name += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return name;
}

// Owners of what a session obtains, released on every path, an exception
// from a grab or an allocation included.
struct FrameDeleter {
    TScreenCamera* camera;
    void operator()(vfw::BITMAPINFOHEADER* frame) const { camera->FreeFrame(frame); }
};
using FramePtr = std::unique_ptr<vfw::BITMAPINFOHEADER, FrameDeleter>;
struct IcCloser {
    void operator()(vfw::HIC hic) const { vfw::ICClose(hic); }
};
using IcPtr = std::unique_ptr<std::remove_pointer_t<vfw::HIC>, IcCloser>;
struct StreamReleaser {
    void operator()(vfw::PAVISTREAM stream) const { vfw::AVIStreamRelease(stream); }
};
using StreamPtr = std::unique_ptr<std::remove_pointer_t<vfw::PAVISTREAM>, StreamReleaser>;
struct FileReleaser {
    void operator()(vfw::PAVIFILE file) const { vfw::AVIFileRelease(file); }
};
using FilePtr = std::unique_ptr<std::remove_pointer_t<vfw::PAVIFILE>, FileReleaser>;

// AVIFileInit calls of a session, each balanced by AVIFileExit.
class AviLibrary {
public:
    AviLibrary() = default;
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
    ~AviLibrary() {
        while (inits_-- > 0) {
            vfw::AVIFileExit();
        }
    }
    void Init() {
        vfw::AVIFileInit();
        ++inits_;
    }

private:
    int inits_ = 0;
};

}  // namespace

// ---- The worker ----

TRecordAVIThread::TRecordAVIThread(TScreenCamera* Camera) : FCamera(Camera) {
    thread_ = std::thread([this] {
        CameraPlatform& platform = FCamera->Platform();
        nativeHandle_ = platform.CurrentThreadHandle();
        Execute();
        ended_ = true;
        // Last: after this the UI thread may free this object.
        platform.PostToUiThread(FCamera, [camera = FCamera] { camera->ThreadTerminated(); });
    });
}

TRecordAVIThread::~TRecordAVIThread() {
    if (thread_.joinable()) {
        // The worker may be waiting for the UI thread (a progress handler
        // that asks it synchronously): keep serving it meanwhile.
        FCamera->Platform().WaitServingUi([this] { return ended_.load(); });
        thread_.join();
    }
    if (void* handle = nativeHandle_.exchange(nullptr)) {
        FCamera->Platform().CloseThreadHandle(handle);
    }
}

void TRecordAVIThread::Execute() {
    try {
        while (FCamera->RecordAVI(RecordFileName) == -1) {
        }
    } catch (const std::exception&) {
        // Memory or a thread could not be had on the way: the recording
        // fails like any other, and the camera can record again.
        FCamera->FailureStop(true);
    }
    // A default compressor accepted for a run that failed early must not
    // carry over into the user's next recording.
    FCamera->useDefaultCompressor_ = false;
    // Saved, kept elsewhere or discarded: whatever the wipe leaves behind
    // is never to be recovered as a cut-off recording.
    MarkRecordingSettled(VideoTempFile);
    WipeLeftoverRecording(VideoTempFile);
    DeleteTempFile(AudioTempFile);
}

void TScreenCamera::ThreadTerminated() {
    // An end that was taken already (by a start, or the state asked), or
    // one posted by an earlier worker while a later one runs: nothing to do.
    TRecordAVIThread* worker = FRecordThread;
    if (worker == nullptr || !worker->Ended()) {
        return;
    }
    FRecording = false;
    delete FRecordThread.exchange(nullptr);
}

// ---- The session ----

void TScreenCamera::RestoreAppIfWanted() {
    if (FRestoreAppWindowAfterCapture) {
        platform_.RestoreApplication(FOwnerForm);
    }
}

void TScreenCamera::FailureStop(bool preview) {
    RaiseError(kRecordError);
    StopReason = kStopDiscard;
    FRecording = false;
    if (preview && !FPreview) {
        RaisePreview(nullptr, false, false);
        StopTimerWithoutPreview();
    }
    RestoreAppIfWanted();
}

void TScreenCamera::StopTimerWithoutPreview() {
    OnUiThread([this] {
        if (!FPreview && !FRecording) {
            windows_->SetTimerEnabled(false);
            windows_->HideFrame();
        }
    });
}

vfw::HIC TScreenCamera::OpenSessionCompressor(vfw::FOURCC* handler, std::string* name) {
    if (useDefaultCompressor_.exchange(false)) {
        *handler = kDefaultCodec;
        *name = "MS Video Codec";
        return vfw::ICOpen(vfw::ICTYPE_VIDEO, kDefaultCodec, vfw::ICMODE_QUERY);
    }
    vfw::ICINFO entry{};
    {
        std::lock_guard<std::mutex> lock(FCodecsLock);
        const std::int32_t index = FCodecIndex;
        // An index from an old settings file may lie outside the catalogue.
        if (index < 0 || index >= FCodecCount) {
            return nullptr;
        }
        entry = FCodecs[static_cast<size_t>(index)];
    }
    *handler = entry.fccHandler;
    *name = ShortName(entry);
    return vfw::ICOpen(entry.fccType, entry.fccHandler, vfw::ICMODE_QUERY);
}

std::int32_t TScreenCamera::RecordAVI(const std::string& FileName) {
    // The area is read once: the UI thread may write these fields meanwhile
    // (the timer keeps a full-screen area current), and a size read twice
    // could differ between the test frame and the stream's format.
    const std::int32_t left = FLeft, top = FTop, width = FWidth, height = FHeight;
    FFrameWidth = width;
    FFrameHeight = height;

    if ((vfw::VideoForWindowsVersion() >> 16) < 0x010A) {
        FailureStop(false);
        return 0;
    }

    FramePtr frame(GrabFrame(left, top, width, height, FFilterColor), FrameDeleter{this});
    if (!frame) {
        RaiseError(kRecordError);
        RestoreAppIfWanted();
        return 0;
    }

    // The compressor, and the frame size it accepts.
    if (FCodecIndex == -1 && !useDefaultCompressor_) {
        FailureStop(true);
        return 0;
    }
    vfw::FOURCC handler = 0;
    std::string codecName;
    IcPtr hic(OpenSessionCompressor(&handler, &codecName));
    if (!hic) {
        SetDefaultCompressor();
        FailureStop(true);
        return 0;
    }
    std::int32_t align = 1;
    std::int32_t w = width, h = height;
    while (vfw::ICCompressQuery(hic.get(), frame.get(), nullptr) != vfw::ICERR_OK) {
        align *= 2;
        if (align > 8) {
            break;
        }
        w = AlignDimension(width, align, FScreenWidth);
        h = AlignDimension(height, align, FScreenHeight);
        frame.reset();
        frame.reset(GrabFrame(left, top, w, h, FFilterColor));
        if (!frame) {
            RaiseError(kRecordError);
            RestoreAppIfWanted();
            return 0;
        }
    }
    hic.reset();
    if (align > 8) {
        SetDefaultCompressor();
        FailureStop(true);
        return 0;
    }
    if (align > 1) {
        FWidth = w;
        FHeight = h;
        FFrameWidth = w;
        FFrameHeight = h;
    }
    FVideoCodecHandler = handler;
    FCodecName = codecName;

    // The temporary file with one compressed video stream.
    AviLibrary library;
    library.Init();
    bool failed = false;
    vfw::HRESULT writeResult = vfw::AVIERR_OK;
    FilePtr file;
    StreamPtr source;
    StreamPtr compressed;
    vfw::AVICOMPRESSOPTIONS options{};
    vfw::AVICOMPRESSOPTIONS* optionList[1] = {nullptr};

    const std::string tempFile = VideoTempFile;
    // The mark of the last recording goes with its file, once the file is
    // gone (a held one is at most scheduled for deletion): this recording
    // is not settled until it ends.
    if (!DeleteTempFile(tempFile) || platform_.FileExists(tempFile) ||
        !ClearRecordingSettled(tempFile) || (FRecordAudio && !DeleteTempFile(AudioTempFile))) {
        failed = true;
    }
    if (!failed) {
        vfw::PAVIFILE opened = nullptr;
        failed = vfw::AVIFileOpenA(&opened, tempFile.c_str(), vfw::OF_CREATE | vfw::OF_WRITE,
                                   nullptr) != vfw::AVIERR_OK;
        file.reset(opened);
    }
    // A folder or a link under the temporary file's name is refused: no
    // compressor can help, so the error says what is in the way.
    const bool tempRefused = failed && IsRefusedName(tempFile);
    if (failed && !tempRefused) {
        RaiseError(kRecordError);
    }
    if (!failed) {
        vfw::AVISTREAMINFOA info{};
        info.fccType = vfw::streamtypeVIDEO;
        info.fccHandler = FVideoCodecHandler;
        info.dwFlags = kOptionFlags;
        info.dwScale = 1;
        info.dwRate = static_cast<vfw::DWORD>(FFrameRatePlayback.load());
        info.dwSuggestedBufferSize = frame->biSizeImage;
        info.rcFrame = {0, 0, frame->biWidth, frame->biHeight};
        const std::string name = FCodecName;
        for (size_t i = 0; i < name.size() && i < 16; ++i) {
            info.szName[i] = name[i];
        }
        library.Init();
        vfw::PAVISTREAM created = nullptr;
        if (vfw::AVIFileCreateStreamA(file.get(), &created, &info) != vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
        source.reset(created);
    }
    if (!failed) {
        options.fccType = vfw::streamtypeVIDEO;
        options.fccHandler = FVideoCodecHandler;
        options.dwKeyFrameEvery = static_cast<vfw::DWORD>(FKeyFramesEvery.load());
        options.dwQuality = static_cast<vfw::DWORD>(FCompressionQuality.load());
        options.dwFlags = kOptionFlags;
        optionList[0] = &options;
        vfw::PAVISTREAM made = nullptr;
        if (vfw::AVIMakeCompressedStream(&made, source.get(), &options, nullptr) !=
            vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
        compressed.reset(made);
    }
    if (!failed &&
        vfw::AVIStreamSetFormat(compressed.get(), 0, frame.get(),
                                static_cast<vfw::LONG>(frame->biSize + 4 * frame->biClrUsed)) !=
            vfw::AVIERR_OK) {
        RaiseError(kRecordError);
        failed = true;
    }
    frame.reset();
    bool recordedSome = false;
    bool grabFailed = false;
    if (!failed) {
        RaiseNotify(FOnRecordStart);
        writeResult = RecordLoop(compressed.get(), &grabFailed);
        // The last frames and the file's indexes are written here; a full
        // disk shows up now at the latest.
        const vfw::HRESULT ended = vfw::AVIStreamEndWrite(compressed.get());
        if (writeResult == vfw::AVIERR_OK) {
            writeResult = ended;
        }
        failed = writeResult != vfw::AVIERR_OK || grabFailed;
        recordedSome = vfw::AVIStreamLength(compressed.get()) > 0;
    }

    // Clean-up, whatever happened since the temporary file was wiped.
    RaiseNotify(FOnRecordStop);
    if (optionList[0] != nullptr) {
        vfw::AVISaveOptionsFree(1, optionList);
    }
    source.reset();
    compressed.reset();
    file.reset();
    RestoreAppIfWanted();

    if (!failed) {
        if (StopReason == kStopKeep) {
            FinishRecording(FileName);
        }
        return 1;
    }
    if (recordedSome) {
        // A write or a grab failed after frames had reached the file (a full
        // disk, a removed drive, a screen that cannot be read): what was
        // recorded is kept and nothing is retried, since another compressor
        // would not help.
        if (FRecording) {
            StopReason = kStopDiscard;
            FRecording = false;
        }
        KeepFailedRecording(FileName,
                            grabFailed && writeResult == vfw::AVIERR_OK
                                ? std::string("Не удалось снять кадр с экрана.")
                                : "Не удалось записать кадр во временный файл (код " +
                                      ErrorCodeText(writeResult) + ").");
        if (!FPreview) {
            RaisePreview(nullptr, false, false);
            StopTimerWithoutPreview();
        }
        return 0;
    }
    if (tempRefused) {
        StopReason = kStopDiscard;
        FRecording = false;
        RaiseError(std::string(kRecordError) + "\n" + TempFileProblem(tempFile));
        if (!FPreview) {
            RaisePreview(nullptr, false, false);
            StopTimerWithoutPreview();
        }
        return 0;
    }
    if (grabFailed && writeResult == vfw::AVIERR_OK) {
        FailureStop(true);  // nothing was recorded; another compressor would not help
        return 0;
    }
    if (writeResult != vfw::AVIERR_OK) {
        RaiseError(kRecordError);  // the first frame was refused
    }
    if (FVideoCodecHandler == kDefaultCodec) {
        FailureStop(true);
        return 0;
    }
    if (AskQuestion(kDefaultCodecQuestion, kNoticeCaption)) {
        SetDefaultCompressor();
        StopReason = kStopDiscard;
        useDefaultCompressor_ = true;
        return -1;
    }
    FailureStop(true);
    return 0;
}

vfw::HRESULT TScreenCamera::RecordLoop(vfw::PAVISTREAM stream, bool* grabFailed) {
    std::uint32_t lastWrite = 0, lastTick = 0, lastFlush = 0;
    std::int32_t lastPosition = 0;
    std::uint32_t shownSecond = 0xFFFFFFFFu;
    FFramesWritten = 0;
    FLastFrameInterval = 0;
    FFramesDropped = 0;
    const std::uint32_t start = platform_.TimeMs();
    bool first = true;

    // The stream's format fixed the frame size; the area's fields may be
    // rewritten meanwhile (the timer keeps a full-screen area current).
    const std::int32_t width = FFrameWidth, height = FFrameHeight;
    // Frames are grabbed into reused buffers that the stream reads in place.
    const std::unique_ptr<FramePool> pool = platform_.CreateFramePool(*this, width, height);
    if (!pool) {
        *grabFailed = true;
        return vfw::AVIERR_OK;
    }
    while (FRecording) {
        // Unsigned difference: the millisecond counter may wrap meanwhile.
        const std::uint32_t elapsed = platform_.TimeMs() - start;
        std::int32_t left = FLeft, top = FTop;
        if (FFollowMouse) {
            std::int32_t x = 0, y = 0;
            platform_.CursorPos(&x, &y);
            left = x - width / 2;
            top = y - height / 2;
            FLeft = left;
            FTop = top;
        }
        FramePool::Frame* frame = pool->Grab(left, top, FFilterColor);
        if (frame == nullptr) {
            *grabFailed = true;  // reported by RecordAVI, which knows what was kept
            break;
        }
        const std::int32_t position = FrameSlot(elapsed, FMSPFRecord);
        FCurrentFrame = position;
        const std::int32_t gap = position - lastPosition;
        if (gap >= 2) {
            FFramesDropped += gap - 1;
        }
        if (first || lastPosition < position) {
            first = false;
            // The stream gives the frame back to the pool, also when it refuses it.
            const vfw::HRESULT r = vfw::AVIStreamWriteBorrowed(
                stream, position, frame->bits, static_cast<vfw::LONG>(frame->bytes),
                vfw::AVIIF_KEYFRAME, &FramePool::Release, frame);
            if (r != vfw::AVIERR_OK) {
                return r;  // reported by RecordAVI, which knows what was kept
            }
            FLastFrameInterval = static_cast<double>(elapsed - lastWrite);
            lastWrite = elapsed;
            ++FFramesWritten;
            lastPosition = position;
        } else {
            pool->GiveBack(frame);
        }
        if (elapsed - lastFlush >= kFlushEveryMs) {
            lastFlush = elapsed;
            if (const vfw::HRESULT r = vfw::AVIStreamFlush(stream); r != vfw::AVIERR_OK) {
                return r;  // a write failed: handled as a refused frame
            }
        }

        const ElapsedTime t = SplitElapsed(elapsed);
        // The text shows whole seconds: made anew only when one has passed.
        if (elapsed / 1000 != shownSecond) {
            shownSecond = elapsed / 1000;
            FRecordTimeText = RecordTimeText(t);
        }
        if (elapsed > lastTick + 50) {
            lastTick = elapsed;
            RaiseNotify(FOnRecordTime);
        }
        if (TimedStopReached(FTimerCapture.load(), t)) {
            StopRecording();
        }
    }
    return vfw::AVIERR_OK;
}
