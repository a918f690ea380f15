// A recording session (RecordAVI, on the worker thread) in its four steps:
// choose the compressor and the frame size it accepts, open the temporary
// file's streams, record frames at the positions the wall clock gives them,
// and decide what a failure means (keep what was recorded, ask for the
// default compressor, or stop).
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "engine/avi_handles.h"
#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "engine/session_rules.h"
#include "engine/session_sound.h"
#include "engine/temp_files.h"

namespace {

constexpr vfw::FOURCC kDefaultCodec = vfw::mmioFOURCC('M', 'S', 'V', 'C');
constexpr vfw::DWORD kOptionFlags = vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_VALID;  // 12
constexpr const char* kDefaultCodecQuestion = "Не выбран кодек. Использовать кодек по умолчанию?";
constexpr const char* kNoticeCaption = "Уведомление";
// What was recorded reaches the system this often, so that a killed or
// crashed run leaves a temporary file holding all but the last moments. Half
// a second keeps that under a second even when a grab is slow.
constexpr std::uint32_t kFlushEveryMs = 500;
// The longest rest between two slots: a stop is seen within it.
constexpr std::uint32_t kLongestRestMs = 20;

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

// The frames of a session go back to the camera's grabber on every path, an
// exception from a grab or an allocation included.
struct FrameDeleter {
    TScreenCamera* camera;
    void operator()(vfw::BITMAPINFOHEADER* frame) const { camera->FreeFrame(frame); }
};
using FramePtr = std::unique_ptr<vfw::BITMAPINFOHEADER, FrameDeleter>;

}  // namespace

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

// What one session holds, with one owner for all of it: the area read once,
// the test frame, the temporary file with its video stream and the
// compressing stream over it, and how the session went.
struct TScreenCamera::Session {
    explicit Session(TScreenCamera* camera) : frame(nullptr, FrameDeleter{camera}) {}
    ~Session() { CloseStreams(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Releases the streams and the file (the library stays initialised
    // until the session ends: saving still reads the file).
    void CloseStreams() {
        if (optionsSet) {
            vfw::AVICOMPRESSOPTIONS* list[1] = {&options};
            vfw::AVISaveOptionsFree(1, list);
            optionsSet = false;
        }
        source.reset();
        compressed.reset();
        file.reset();
    }

    std::int32_t left = 0, top = 0, width = 0, height = 0;
    FramePtr frame;

    AviLibrary library;
    std::string tempFile;
    FilePtr file;
    StreamPtr source;
    StreamPtr compressed;
    vfw::AVICOMPRESSOPTIONS options{};
    bool optionsSet = false;

    bool failed = false;
    // A folder or a link under the temporary file's name: no compressor
    // can help, so the error says what is in the way.
    bool tempRefused = false;
    bool grabFailed = false;
    bool recordedSome = false;
    vfw::HRESULT writeResult = vfw::AVIERR_OK;
};

std::int32_t TScreenCamera::RecordAVI(const std::string& FileName) {
    Session session(this);
    if (!ChooseCompressorAndFrame(session)) {
        return 0;
    }
    OpenSessionStreams(session);
    RunSession(session);
    return ApplyFailurePolicy(session, FileName);
}

bool TScreenCamera::ChooseCompressorAndFrame(Session& session) {
    // The area is read once: the UI thread may write these fields meanwhile
    // (the timer keeps a full-screen area current), and a size read twice
    // could differ between the test frame and the stream's format.
    const std::int32_t left = FLeft, top = FTop, width = FWidth, height = FHeight;
    session.left = left;
    session.top = top;
    FFrameWidth = width;
    FFrameHeight = height;

    if ((vfw::VideoForWindowsVersion() >> 16) < 0x010A) {
        FailureStop(false);
        return false;
    }

    FramePtr& frame = session.frame;
    frame.reset(GrabFrame(left, top, width, height, FFilterColor));
    if (!frame) {
        RaiseError(kRecordError);
        RestoreAppIfWanted();
        return false;
    }

    if (FCodecIndex == -1 && !useDefaultCompressor_) {
        FailureStop(true);
        return false;
    }
    vfw::FOURCC handler = 0;
    std::string codecName;
    IcPtr hic(OpenSessionCompressor(&handler, &codecName));
    if (!hic) {
        SetDefaultCompressor();
        FailureStop(true);
        return false;
    }
    // A compressor that refuses the size may take it rounded up to an
    // even, then a multiple of 4 or 8.
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
            return false;
        }
    }
    hic.reset();
    if (align > 8) {
        SetDefaultCompressor();
        FailureStop(true);
        return false;
    }
    if (align > 1) {
        FWidth = w;
        FHeight = h;
        FFrameWidth = w;
        FFrameHeight = h;
    }
    session.width = w;
    session.height = h;
    FVideoCodecHandler = handler;
    FCodecName = codecName;
    return true;
}

void TScreenCamera::OpenSessionStreams(Session& session) {
    const std::string& tempFile = session.tempFile = VideoTempFile;
    bool& failed = session.failed;
    // The mark of the last recording goes with its file, once the file is
    // gone (a held one is at most scheduled for deletion): this recording
    // is not settled until it ends.
    if (!DeleteTempFile(tempFile) || platform_.FileExists(tempFile) ||
        !ClearRecordingSettled(tempFile)) {
        failed = true;
    }
    if (!failed && FRecordAudio) {
        // Whatever stays in the sound file's way (a folder) costs the sound
        // only: the sound file is made afresh, never through a link.
        (void)DeleteTempFile(AudioTempFile);
    }
    if (!failed) {
        vfw::PAVIFILE opened = nullptr;
        failed = vfw::AVIFileOpenA(&opened, tempFile.c_str(), vfw::OF_CREATE | vfw::OF_WRITE,
                                   nullptr) != vfw::AVIERR_OK;
        session.file.reset(opened);
    }
    session.tempRefused = failed && IsRefusedName(tempFile);
    if (failed && !session.tempRefused) {
        RaiseError(kRecordError);
    }
    const vfw::BITMAPINFOHEADER* frame = session.frame.get();
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
        vfw::PAVISTREAM created = nullptr;
        if (vfw::AVIFileCreateStreamA(session.file.get(), &created, &info) != vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
        session.source.reset(created);
    }
    if (!failed) {
        vfw::AVICOMPRESSOPTIONS& options = session.options;
        options.fccType = vfw::streamtypeVIDEO;
        options.fccHandler = FVideoCodecHandler;
        options.dwKeyFrameEvery = static_cast<vfw::DWORD>(FKeyFramesEvery.load());
        options.dwQuality = static_cast<vfw::DWORD>(FCompressionQuality.load());
        options.dwFlags = kOptionFlags;
        session.optionsSet = true;
        vfw::PAVISTREAM made = nullptr;
        if (vfw::AVIMakeCompressedStream(&made, session.source.get(), &options, nullptr) !=
            vfw::AVIERR_OK) {
            RaiseError(kRecordError);
            failed = true;
        }
        session.compressed.reset(made);
    }
    if (!failed &&
        vfw::AVIStreamSetFormat(session.compressed.get(), 0, frame,
                                static_cast<vfw::LONG>(frame->biSize + 4 * frame->biClrUsed)) !=
            vfw::AVIERR_OK) {
        RaiseError(kRecordError);
        failed = true;
    }
    session.frame.reset();
}

void TScreenCamera::RunSession(Session& session) {
    sessionSound_ = false;
    std::unique_ptr<SessionSound> sound;
    if (!session.failed && FRecordAudio) {
        sound = std::make_unique<SessionSound>(platform_, AudioTempFile, FAudioDevice,
                                               static_cast<std::uint32_t>(FMSPFRecord.load()));
        sound->Open();
    }
    if (!session.failed) {
        RaiseNotify(FOnRecordStart);
        vfw::PAVISTREAM stream = session.compressed.get();
        session.writeResult = RecordLoop(stream, &session.grabFailed, sound.get());
        if (sound) {
            sound->Finish();
            sessionSound_ = sound->HasFile();
            std::string problem;
            if (sound->TakeProblem(&problem) && FOnSoundProblem) {
                FOnSoundProblem(this, problem);
            }
        }
        // The last frames and the file's indexes are written here; a full
        // disk shows up now at the latest.
        const vfw::HRESULT ended = vfw::AVIStreamEndWrite(stream);
        if (session.writeResult == vfw::AVIERR_OK) {
            session.writeResult = ended;
        }
        session.failed = session.writeResult != vfw::AVIERR_OK || session.grabFailed;
        session.recordedSome = vfw::AVIStreamLength(stream) > 0;
    }
    // Whatever happened since the temporary file was wiped.
    RaiseNotify(FOnRecordStop);
    session.CloseStreams();
    RestoreAppIfWanted();
}

std::int32_t TScreenCamera::ApplyFailurePolicy(Session& session, const std::string& FileName) {
    if (!session.failed) {
        if (StopReason == kStopKeep) {
            FinishRecording(FileName);
        }
        return 1;
    }
    const vfw::HRESULT writeResult = session.writeResult;
    if (session.recordedSome) {
        // A write or a grab failed after frames had reached the file (a full
        // disk, a removed drive, a screen that cannot be read): what was
        // recorded is kept and nothing is retried, since another compressor
        // would not help.
        if (FRecording) {
            StopReason = kStopDiscard;
            FRecording = false;
        }
        KeepFailedRecording(FileName, session.grabFailed && writeResult == vfw::AVIERR_OK
                                          ? std::string("Не удалось снять кадр с экрана.")
                                          : "Не удалось записать кадр во временный файл (код " +
                                                ErrorCodeText(writeResult) + ").");
        if (!FPreview) {
            RaisePreview(nullptr, false, false);
            StopTimerWithoutPreview();
        }
        return 0;
    }
    if (session.tempRefused) {
        StopReason = kStopDiscard;
        FRecording = false;
        RaiseError(std::string(kRecordError) + "\n" + TempFileProblem(session.tempFile));
        if (!FPreview) {
            RaisePreview(nullptr, false, false);
            StopTimerWithoutPreview();
        }
        return 0;
    }
    if (session.grabFailed && writeResult == vfw::AVIERR_OK) {
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

vfw::HRESULT TScreenCamera::RecordLoop(vfw::PAVISTREAM stream, bool* grabFailed,
                                       SessionSound* sound) {
    std::uint32_t lastWrite = 0, lastTick = 0, lastFlush = 0;
    std::int32_t lastPosition = 0;
    std::uint32_t shownSecond = 0xFFFFFFFFu;
    FFramesWritten = 0;
    FLastFrameInterval = 0;
    FFramesDropped = 0;

    // The stream's format fixed the frame size; the area's fields may be
    // rewritten meanwhile (the timer keeps a full-screen area current).
    const std::int32_t width = FFrameWidth, height = FFrameHeight;
    // Frames are grabbed into reused buffers that the stream reads in place.
    // They are made before the clock starts: at 1080p that takes a few
    // slots, which would be missing at the start of the video.
    const std::unique_ptr<FramePool> pool = platform_.CreateFramePool(*this, width, height);
    if (!pool) {
        *grabFailed = true;
        return vfw::AVIERR_OK;
    }
    const std::uint32_t start = platform_.TimeMs();
    bool first = true;
    if (sound != nullptr) {
        sound->Begin(start);
        std::string problem;  // a device that could not be had: said at once
        if (sound->TakeProblem(&problem) && FOnSoundProblem) {
            FOnSoundProblem(this, problem);
        }
    }
    while (FRecording) {
        // Unsigned difference: the millisecond counter may wrap meanwhile.
        const std::uint32_t elapsed = platform_.TimeMs() - start;
        const std::int32_t msPerSlot = FMSPFRecord;  // read once: the options may change it
        const std::int32_t position = FrameSlot(elapsed, msPerSlot);
        if (!first && position <= lastPosition) {
            // This slot has its frame. Another grab would be thrown away,
            // and it would take the processor from the compressor and the
            // display, which then lose the next slots: rest until the next
            // slot begins, briefly enough to see a stop at once.
            platform_.WaitMs(std::min<std::uint32_t>(
                SlotStart(lastPosition + 1, msPerSlot) - elapsed, kLongestRestMs));
            continue;
        }
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
        FCurrentFrame = position;
        const std::int32_t gap = position - lastPosition;
        if (gap >= 2) {
            FFramesDropped += gap - 1;
        }
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
        if (sound != nullptr) {
            sound->Picture(position);
        }
        if (elapsed - lastFlush >= kFlushEveryMs) {
            lastFlush = elapsed;
            if (const vfw::HRESULT r = vfw::AVIStreamFlush(stream); r != vfw::AVIERR_OK) {
                return r;  // a write failed: handled as a refused frame
            }
            if (sound != nullptr) {
                sound->Flush();
                std::string problem;
                if (sound->TakeProblem(&problem) && FOnSoundProblem) {
                    FOnSoundProblem(this, problem);
                }
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
