// TRecordAVIThread: the thread a recording session runs on, and its end
// handed back to the UI thread.
#pragma once

#include <atomic>
#include <thread>

class TScreenCamera;

// The recording worker: runs RecordAVI for its camera (again while it
// answers -1), then wipes the temporary files, then reports its end on the
// UI thread (TScreenCamera::ThreadTerminated), which frees it.
class TRecordAVIThread {
public:
    // Starts running at once.
    explicit TRecordAVIThread(TScreenCamera* Camera);
    // Waits for the thread to end.
    ~TRecordAVIThread();
    TRecordAVIThread(const TRecordAVIThread&) = delete;
    TRecordAVIThread& operator=(const TRecordAVIThread&) = delete;

    TScreenCamera* const FCamera;
    // The thread's system handle, for its priority (null where there is none).
    void* NativeHandle() const { return nativeHandle_.load(); }
    // True once the recording is saved (or dropped) and the temporary files
    // wiped, before the UI thread hears of the end.
    bool Ended() const { return ended_.load(); }

private:
    void Execute();

    std::atomic<void*> nativeHandle_{nullptr};
    std::atomic<bool> ended_{false};  // Execute has returned
    std::thread thread_;
};
