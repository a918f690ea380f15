#include "engine/record_thread.h"

#include <exception>

#include "engine/camera_platform.h"
#include "engine/temp_files.h"
#include "engine/screen_camera.h"

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
