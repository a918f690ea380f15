// Finishing a kept recording: the video stream of the temporary file is
// copied into the user's file without recompressing, under the first free
// name: a file the user already has is never replaced. When that fails for
// any reason but the user's cancel, the recording is not lost: the temporary
// file is moved beside the target under a free name and the user is told
// where.
#include "engine/avi_handles.h"
#include "engine/camera_platform.h"
#include "engine/file_naming.h"
#include "engine/screen_camera.h"
#include "engine/session_rules.h"
#include "engine/session_sound.h"

namespace {

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

vfw::LONG VFW_CALLBACK SaveCallback(int Percent) {
    TScreenCamera* camera = CurrentCamera;
    if (camera == nullptr || !camera->FOnProgress) {
        return 0;
    }
    bool Continue = true;
    camera->FOnProgress(camera, Percent, kSavingCaption, Continue);
    return Continue ? 0 : -1;
}

TScreenCamera::SaveResult TScreenCamera::SaveAVI(const std::string& FileName,
                                                 std::int32_t StreamCount,
                                                 vfw::PAVISTREAM* Streams, std::string* Problem) {
    platform_.SetBusyCursor(true);
    vfw::HRESULT r = vfw::AVIERR_OK;
    std::string tried = FileName;
    const std::string saved = TakeFreeFileName(FileName, [&](const std::string& name) {
        // Two recordings started in one second, or a clock set back, give a
        // name the user already has: the next one is taken instead.
        if (platform_.FileExists(name)) {
            return NameTry::Exists;
        }
        tried = name;
        vfw::AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
        r = vfw::AVISaveV(name.c_str(), nullptr, &SaveCallback, StreamCount, Streams, options);
        return r == vfw::AVIERR_OK ? NameTry::Taken : NameTry::Failed;
    });
    platform_.SetBusyCursor(false);
    RaiseProgress(100, "");

    if (!saved.empty()) {
        return SaveResult::Saved;
    }
    if (r == vfw::AVIERR_USERABORT) {
        return SaveResult::Cancelled;
    }
    if (Problem != nullptr) {
        const std::string shown = platform_.FileNameForDisplay(tried);
        *Problem = r == vfw::AVIERR_OK
                       ? "Все имена вида " + platform_.FileNameForDisplay(FileName) + " заняты."
                       : "Не удалось записать файл " + shown + " (код " + ErrorCodeText(r) + ").";
    }
    return SaveResult::Failed;
}

void TScreenCamera::FinishRecording(const std::string& FileName) {
    // An unreadable file is reported once, below, with where it was kept.
    StreamPtr video;
    (void)OpenFirstVideoStream(VideoTempFile, &video);
    // The second slot holds the sound, when there is some.
    FSaveStreams = {video.release(), nullptr};
    if (sessionSound_) {
        FSaveStreams[1] = OpenSoundStream(AudioTempFile);
    }
    const std::int32_t count = FSaveStreams[1] != nullptr ? 2 : 1;
    SaveResult result = SaveResult::Cancelled;
    std::string problem;
    const bool haveStream = FSaveStreams[0] != nullptr;
    if (haveStream) {
        result = SaveAVI(FileName, count, FSaveStreams.data(), &problem);
    }
    for (vfw::PAVISTREAM& s : FSaveStreams) {
        if (s != nullptr) {
            vfw::AVIStreamRelease(s);
            s = nullptr;
        }
    }
    // The temporary file could not be read as a recording: still keep it,
    // a damaged recording is worth more than none.
    if (!haveStream && platform_.FileExists(VideoTempFile)) {
        KeepFailedRecording(FileName, "Не удалось прочитать временный файл записи.");
    } else if (result == SaveResult::Failed) {
        KeepFailedRecording(FileName, problem);
    }
}

void TScreenCamera::KeepFailedRecording(const std::string& FileName, const std::string& reason) {
    // Moves `temp` to the first free name of `wanted`, else of the same name
    // in the temporary folder; empty when neither folder takes it.
    const auto keep = [this](const std::string& temp, const std::string& wanted) {
        // One move per folder: a folder that refuses one name refuses the
        // next as well, and each try may copy the whole file to another
        // volume.
        const auto moveTo = [&](const std::string& name) {
            if (platform_.FileExists(name)) {
                return NameTry::Exists;
            }
            return platform_.RenameFile(temp, name) ? NameTry::Taken : NameTry::Failed;
        };
        std::string kept = TakeFreeFileName(wanted, moveTo);
        if (kept.empty()) {
            // The output folder cannot take it: keep it in the temporary folder.
            kept = TakeFreeFileName(DirectoryOf(temp) + "Kelvora " + FileNameOf(wanted), moveTo);
        }
        return kept;
    };
    const std::string kept = keep(VideoTempFile, FileName);
    if (kept.empty()) {
        // The temporary file itself is wiped by the next recording and at
        // exit: never offer it as a place where the recording is kept.
        RaiseError(std::string(kRecordError) + "\n" + reason +
                   "\nЗапись сохранить не удалось.");
        return;
    }
    std::string text = std::string(kRecordError) + "\n" + reason + "\nЗапись сохранена в файле " +
                       platform_.FileNameForDisplay(kept);
    // The sound goes beside the picture, under the picture's name; like the
    // picture, it would be wiped with the temporary files.
    const std::string sound = AudioTempFile;
    if (sessionSound_ && platform_.KindOf(sound) == CameraPlatform::FileKind::Plain) {
        const std::size_t nameAt = kept.size() - FileNameOf(kept).size();
        const std::size_t dot = kept.find_last_of('.');
        const std::string keptSound = keep(
            sound, (dot == std::string::npos || dot < nameAt ? kept : kept.substr(0, dot)) + ".wav");
        text += keptSound.empty() ? "\nЗвук сохранить не удалось."
                                  : "\nЗвук сохранён в файле " +
                                        platform_.FileNameForDisplay(keptSound);
    }
    RaiseError(text);
}
