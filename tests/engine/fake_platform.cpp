#include "tests/engine/fake_platform.h"

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/screen_camera.h"
#include "tests/support/synthetic_clip.h"

namespace {

class FakeFile : public CameraPlatform::File {
  public:
    FakeFile(const std::string& name, FakePlatform& owner)
        : stream_(name, std::ios::in | std::ios::out | std::ios::binary),
          owner_(owner),
          name_(name) {}
    bool ok() const { return stream_.is_open(); }
    bool Size(std::uint64_t* size) override {
        std::error_code ec;
        *size = std::filesystem::file_size(name_, ec);
        return !ec;
    }
    bool SeekStart() override {
        stream_.seekp(0);
        return static_cast<bool>(stream_);
    }
    bool Write(const void* data, std::uint32_t size) override {
        owner_.writes.push_back(size);
        stream_.write(static_cast<const char*>(data), size);
        return static_cast<bool>(stream_);
    }
    bool Flush() override {
        ++owner_.flushes;
        stream_.flush();
        return static_cast<bool>(stream_);
    }

  private:
    std::fstream stream_;
    FakePlatform& owner_;
    std::string name_;
};

}  // namespace

int FakePlatform::RunUiWork() {
    int ran = 0;
    for (;;) {
        std::pair<TScreenCamera*, std::function<void()>> item;
        {
            std::lock_guard<std::mutex> lock(uiMutex_);
            if (uiQueue_.empty()) {
                return ran;
            }
            item = std::move(uiQueue_.front());
            uiQueue_.pop_front();
        }
        if (live_.count(item.first) != 0) {
            item.second();
            ++ran;
        }
    }
}

bool FakePlatform::FileNameFromUtf8(const std::string& text, std::string* name) {
    for (char c : text) {
        if (ansiLatinOnly && static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    *name = text;
    return true;
}

std::uint32_t FakePlatform::TimeMs() {
    const std::uint32_t t = now;
    now += step;
    return t;
}

void FakePlatform::WaitMs(std::uint32_t ms) {
    now += ms;
}

void FakePlatform::ScreenSize(std::int32_t* width, std::int32_t* height) {
    *width = screenWidth;
    *height = screenHeight;
}

void FakePlatform::CursorPos(std::int32_t* x, std::int32_t* y) {
    *x = cursorX;
    *y = cursorY;
}

vfw::BITMAPINFOHEADER* FakePlatform::GrabFrame(TScreenCamera& camera, std::int32_t left,
                                               std::int32_t top, std::int32_t width,
                                               std::int32_t height, std::int32_t filter) {
    const int index = static_cast<int>(grabs.size());
    grabs.push_back({left, top, width, height, filter});
    if (onGrab && !onGrab(index)) {
        return nullptr;
    }
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    const kelvora::test::PackedDib dib =
        kelvora::test::ToDib(kelvora::test::ScreenFrame(width, height, index), camera.FBitCount);
    void* block = std::malloc(dib.bytes.size());
    std::memcpy(block, dib.bytes.data(), dib.bytes.size());
    ++framesLive;
    return static_cast<vfw::BITMAPINFOHEADER*>(block);
}

void FakePlatform::FreeFrame(vfw::BITMAPINFOHEADER* frame) {
    --framesLive;
    std::free(frame);
}

// The preview picture is not part of what these tests look at: a token.
TBitmap* FakePlatform::CreateFrameBitmap() {
    return reinterpret_cast<TBitmap*>(new int(32));
}
void FakePlatform::DestroyFrameBitmap(TBitmap* bitmap) {
    delete reinterpret_cast<int*>(bitmap);
}
void FakePlatform::SetFrameBitmapDepth(TBitmap* bitmap, int bitCount) {
    *reinterpret_cast<int*>(bitmap) = bitCount;
}
TBitmap* FakePlatform::GrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::int32_t filter) {
    previewGrabs.push_back({left, top, width, height, filter});
    return camera.FFrameBitmap;
}

bool FakePlatform::FileExists(const std::string& name) {
    // A link names something even where it leads nowhere, as on Windows.
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(name, ec));
}

// The host's links stand for the system's: symbolic links as reparse
// points, hard links by their count.
CameraPlatform::FileKind FakePlatform::KindOf(const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(name, ec);
    if (ec || !fs::exists(own)) {
        return FileKind::Missing;
    }
    if (fs::is_directory(fs::status(name, ec))) {
        return FileKind::Directory;
    }
    if (fs::is_symlink(own) || fs::hard_link_count(name, ec) > 1) {
        return FileKind::Linked;
    }
    return FileKind::Plain;
}

std::unique_ptr<CameraPlatform::File> FakePlatform::OpenExclusive(const std::string& name) {
    if (locked.count(name) != 0 || KindOf(name) != FileKind::Plain) {
        return nullptr;
    }
    auto file = std::make_unique<FakeFile>(name, *this);
    if (!file->ok()) {
        return nullptr;
    }
    return file;
}

bool FakePlatform::RemoveFile(const std::string& name) {
    if (failRemove || locked.count(name) != 0) {
        return false;
    }
    return std::remove(name.c_str()) == 0;
}

bool FakePlatform::DeleteAtRestart(const std::string& name) {
    deletedAtRestart.push_back(name);
    return !failDeleteAtRestart;
}

bool FakePlatform::RenameFile(const std::string& from, const std::string& to) {
    renames.push_back(to);
    if ((refuseRename && refuseRename(to)) || FileExists(to)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

bool FakePlatform::AskYesNo(void*, const std::string& text, const std::string& caption,
                            const std::atomic<bool>& cancel) {
    questions.push_back(caption + ": " + text);
    return answerYes && !cancel;
}

void FakePlatform::WaitServingUi(const std::function<bool()>& done) {
    while (!done()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void FakePlatform::PostToUiThread(TScreenCamera* camera, std::function<void()> work) {
    if (losePosts) {
        return;  // as when the UI thread's queue is full
    }
    std::lock_guard<std::mutex> lock(uiMutex_);
    uiQueue_.emplace_back(camera, std::move(work));
}

FakePlatform::FakePlatform() : uiThread_(std::this_thread::get_id()) {}

bool FakePlatform::OnUiThread() {
    return std::this_thread::get_id() == uiThread_;
}

std::unique_ptr<CameraWindows> FakePlatform::CreateCameraWindows(TScreenCamera&) {
    auto w = std::make_unique<FakeCameraWindows>();
    windows = w.get();
    return w;
}

int FakeCameraWindows::ShowSelection(Selection kind, Area* selected) {
    ++selectionsShown;
    bool& shown = showing[static_cast<int>(kind)];
    if (shown) {
        return kCancel;
    }
    shown = true;
    const int result = select ? select(kind, selected) : kCancel;
    shown = false;
    return result;
}
