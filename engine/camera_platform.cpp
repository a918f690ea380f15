#include "engine/camera_platform.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "engine/screen_camera.h"

#if defined(_WIN32)
CameraPlatform& WindowsPlatform();  // camera_platform_win32.cpp
#endif

namespace {
std::atomic<CameraPlatform*> g_installed{nullptr};
// A pool over GrabFrame: as many frames as are lent, each freed when given back.
class GrabbingPool : public FramePool {
  public:
    GrabbingPool(TScreenCamera& camera, std::int32_t width, std::int32_t height)
        : camera_(camera), width_(width), height_(height) {}
    // Frames still held by the compressing stream come back once compressed.
    ~GrabbingPool() override {
        std::unique_lock<std::mutex> lock(mutex_);
        returned_.wait(lock, [this] { return lent_ == 0; });
    }

    Frame* Grab(std::int32_t left, std::int32_t top, std::int32_t filter) override {
        auto frame = std::make_unique<Lent>();  // first: nothing to free if it throws
        vfw::BITMAPINFOHEADER* dib = camera_.GrabFrame(left, top, width_, height_, filter);
        if (dib == nullptr) {
            return nullptr;
        }
        frame->pool = this;
        frame->bits = reinterpret_cast<const std::uint8_t*>(dib) + dib->biSize + dib->biClrUsed * 4;
        frame->bytes = dib->biSizeImage;
        frame->dib = dib;
        std::lock_guard<std::mutex> lock(mutex_);
        ++lent_;
        return frame.release();
    }
    void GiveBack(Frame* frame) override {
        auto* lent = static_cast<Lent*>(frame);
        camera_.FreeFrame(lent->dib);
        delete lent;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --lent_;
        }
        returned_.notify_all();
    }

  private:
    struct Lent : Frame {
        vfw::BITMAPINFOHEADER* dib;
    };
    TScreenCamera& camera_;
    const std::int32_t width_, height_;
    std::mutex mutex_;
    std::condition_variable returned_;
    int lent_ = 0;
};

}  // namespace

std::unique_ptr<SoundInput> CameraPlatform::StartSoundInput(const std::string& device,
                                                            SoundInputSink* sink,
                                                            std::string* reason) {
#if defined(_WIN32)
    return ::StartSoundInput(device, sink, reason);
#else
    (void)device;
    (void)sink;
    *reason = "нет устройства записи звука";
    return nullptr;
#endif
}

std::unique_ptr<FramePool> CameraPlatform::CreateFramePool(TScreenCamera& camera,
                                                           std::int32_t width,
                                                           std::int32_t height) {
    return std::make_unique<GrabbingPool>(camera, width, height);
}

void InstallPlatform(CameraPlatform* platform) {
    g_installed = platform;
}

CameraPlatform& ActivePlatform() {
    if (CameraPlatform* p = g_installed) {
        return *p;
    }
#if defined(_WIN32)
    return WindowsPlatform();
#else
    std::fputs("no camera platform installed\n", stderr);
    std::abort();
#endif
}
