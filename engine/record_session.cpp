// A recording session: the worker thread and RecordAVI, which checks the
// platform and the compressor, adapts the frame size, records frames at the
// positions the wall clock gives them, and has the recording saved.
#include <cstring>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "engine/session_rules.h"

namespace {

constexpr vfw::FOURCC kDefaultCodec = vfw::mmioFOURCC('M', 'S', 'V', 'C');
constexpr vfw::DWORD kOptionFlags = vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_VALID;  // 12
constexpr const char* kDefaultCodecQuestion =
    "Не выбран кодек. Использовать кодек по умолчанию?";
constexpr const char* kNoticeCaption = "Уведомление";

const std::uint8_t* PixelsOf(const vfw::BITMAPINFOHEADER* frame) {
    return reinterpret_cast<const std::uint8_t*>(frame) + frame->biSize + frame->biClrUsed * 4;
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

}  // namespace

// ---- The worker ----

TRecordAVIThread::TRecordAVIThread(TScreenCamera* Camera) : FCamera(Camera) {
    thread_ = std::thread([this] {
        CameraPlatform& platform = FCamera->Platform();
        nativeHandle_ = platform.CurrentThreadHandle();
        Execute();
        // Last: after this the UI thread may free this object.
        platform.PostToUiThread(FCamera, [camera = FCamera] { camera->ThreadTerminated(); });
    });
}

TRecordAVIThread::~TRecordAVIThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
    if (void* handle = nativeHandle_.exchange(nullptr)) {
        FCamera->Platform().CloseThreadHandle(handle);
    }
}

void TRecordAVIThread::Execute() {
    while (FCamera->RecordAVI(RecordFileName) == -1) {
    }
    if (!FCamera->keepVideoTemp_) {
        DeleteTempFile(VideoTempFile);
    }
    FCamera->keepVideoTemp_ = false;
    DeleteTempFile(AudioTempFile);
}

void TScreenCamera::ThreadTerminated() {
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
    }
    RestoreAppIfWanted();
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
    FFrameWidth = FWidth.load();
    FFrameHeight = FHeight.load();

    if ((vfw::VideoForWindowsVersion() >> 16) < 0x010A) {
        FailureStop(false);
        return 0;
    }

    vfw::BITMAPINFOHEADER* frame = GrabFrame(FLeft, FTop, FWidth, FHeight, FFilterColor);
    if (frame == nullptr) {
        RaiseError(kRecordError);
        RestoreAppIfWanted();
        return 0;
    }

    // The compressor, and the frame size it accepts.
    if (FCodecIndex == -1 && !useDefaultCompressor_) {
        FreeFrame(frame);
        FailureStop(true);
        return 0;
    }
    vfw::FOURCC handler = 0;
    std::string codecName;
    vfw::HIC hic = OpenSessionCompressor(&handler, &codecName);
    if (hic == nullptr) {
        FreeFrame(frame);
        SetDefaultCompressor();
        FailureStop(true);
        return 0;
    }
    std::int32_t align = 1;
    std::int32_t w = FWidth, h = FHeight;
    while (vfw::ICCompressQuery(hic, frame, nullptr) != vfw::ICERR_OK) {
        align *= 2;
        if (align > 8) {
            break;
        }
        w = AlignDimension(FWidth, align, FScreenWidth);
        h = AlignDimension(FHeight, align, FScreenHeight);
        FreeFrame(frame);
        frame = GrabFrame(FLeft, FTop, w, h, FFilterColor);
        if (frame == nullptr) {
            vfw::ICClose(hic);
            RaiseError(kRecordError);
            RestoreAppIfWanted();
            return 0;
        }
    }
    vfw::ICClose(hic);
    if (align > 8) {
        FreeFrame(frame);
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
    int inits = 0;
    vfw::AVIFileInit();
    ++inits;
    bool failed = false;
    vfw::HRESULT loopResult = vfw::AVIERR_OK;
    vfw::PAVIFILE file = nullptr;
    vfw::PAVISTREAM source = nullptr;
    vfw::PAVISTREAM compressed = nullptr;
    vfw::AVICOMPRESSOPTIONS options{};
    vfw::AVICOMPRESSOPTIONS* optionList[1] = {nullptr};

    const std::string tempFile = VideoTempFile;
    if (!DeleteTempFile(tempFile) || (FRecordAudio && !DeleteTempFile(AudioTempFile))) {
        RaiseError(kRecordError);
        failed = true;
    }
    if (!failed && vfw::AVIFileOpenA(&file, tempFile.c_str(), vfw::OF_CREATE | vfw::OF_WRITE,
                                     nullptr) != vfw::AVIERR_OK) {
        RaiseError(kRecordError);
        failed = true;
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
        vfw::AVIFileInit();
        ++inits;
        if (vfw::AVIFileCreateStreamA(file, &source, &info) != vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
    }
    if (!failed) {
        options.fccType = vfw::streamtypeVIDEO;
        options.fccHandler = FVideoCodecHandler;
        options.dwKeyFrameEvery = static_cast<vfw::DWORD>(FKeyFramesEvery.load());
        options.dwQuality = static_cast<vfw::DWORD>(FCompressionQuality.load());
        options.dwFlags = kOptionFlags;
        optionList[0] = &options;
        if (vfw::AVIMakeCompressedStream(&compressed, source, &options, nullptr) !=
            vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
    }
    if (!failed &&
        vfw::AVIStreamSetFormat(compressed, 0, frame,
                                static_cast<vfw::LONG>(frame->biSize + 4 * frame->biClrUsed)) !=
            vfw::AVIERR_OK) {
        RaiseError(kRecordError);
        failed = true;
    }
    FreeFrame(frame);
    if (!failed) {
        RaiseNotify(FOnRecordStart);
        loopResult = RecordLoop(compressed);
        failed = loopResult != vfw::AVIERR_OK;
    }

    // Clean-up, whatever happened since the temporary file was wiped.
    RaiseNotify(FOnRecordStop);
    if (optionList[0] != nullptr) {
        vfw::AVISaveOptionsFree(1, optionList);
    }
    if (source != nullptr) {
        vfw::AVIStreamRelease(source);
    }
    if (compressed != nullptr) {
        vfw::AVIStreamRelease(compressed);
    }
    if (file != nullptr) {
        vfw::AVIFileRelease(file);
    }
    RestoreAppIfWanted();

    if (!failed && StopReason == kStopKeep) {
        FinishRecording(FileName);
    }
    while (inits-- > 0) {
        vfw::AVIFileExit();
    }

    if (!failed) {
        return 1;
    }
    if (FVideoCodecHandler == kDefaultCodec) {
        FailureStop(true);
        return 0;
    }
    if (platform_.AskYesNo(FOwnerForm, kDefaultCodecQuestion, kNoticeCaption)) {
        SetDefaultCompressor();
        StopReason = kStopDiscard;
        useDefaultCompressor_ = true;
        return -1;
    }
    FailureStop(true);
    return 0;
}

vfw::HRESULT TScreenCamera::RecordLoop(vfw::PAVISTREAM stream) {
    std::uint32_t lastWrite = 0, lastTick = 0;
    std::int32_t lastPosition = 0;
    FFramesWritten = 0;
    FLastFrameInterval = 0;
    FFramesDropped = 0;
    const std::uint32_t start = platform_.TimeMs();
    bool first = true;

    while (FRecording) {
        // Unsigned difference: the millisecond counter may wrap meanwhile.
        const std::uint32_t elapsed = platform_.TimeMs() - start;
        std::int32_t left = FLeft, top = FTop;
        const std::int32_t width = FWidth, height = FHeight;
        if (FFollowMouse) {
            std::int32_t x = 0, y = 0;
            platform_.CursorPos(&x, &y);
            left = x - width / 2;
            top = y - height / 2;
            FLeft = left;
            FTop = top;
        }
        vfw::BITMAPINFOHEADER* frame = GrabFrame(left, top, width, height, FFilterColor);
        if (frame == nullptr) {
            RaiseError(kRecordError);
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
            const vfw::HRESULT r =
                vfw::AVIStreamWrite(stream, position, 1, PixelsOf(frame),
                                    static_cast<vfw::LONG>(frame->biSizeImage),
                                    vfw::AVIIF_KEYFRAME, nullptr, nullptr);
            if (r != vfw::AVIERR_OK) {
                RaiseError(kRecordError);
                FreeFrame(frame);
                return r;
            }
            FLastFrameInterval = static_cast<double>(elapsed - lastWrite);
            lastWrite = elapsed;
            ++FFramesWritten;
            lastPosition = position;
        }
        FreeFrame(frame);

        const ElapsedTime t = SplitElapsed(elapsed);
        FRecordTimeText = RecordTimeText(t);
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
