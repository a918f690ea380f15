// Grabbing the screen with GDI: a copy of the desktop rectangle (inverted on
// request), the mouse cursor painted in afterwards so that it keeps its own
// colours, converted into a packed DIB of the camera's depth.
#include "engine/frame_grabber_win32.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "engine/tbitmap_win32.h"
#include "engine/vfw/dib.h"
#include "win32/handles.h"

namespace {

DWORD RasterOp(std::int32_t filter) {
    return filter == 1 ? NOTSRCCOPY : SRCCOPY;
}

// The hot spot of the cursor painted last. GetIconInfo copies the cursor's
// bitmaps each time it is asked, which under Wine cost as much as the grab
// itself: a recording asks again only when the cursor changes.
struct CursorHotspot {
    HCURSOR cursor = nullptr;
    POINT at{};
};

// Paints the cursor with its hotspot on the pointer's position, offset by
// the picture's top-left corner; the picture clips it.
void PaintCursor(const TScreenCamera& camera, HDC dc, std::int32_t left, std::int32_t top,
                 CursorHotspot* known = nullptr) {
    if (!camera.FRecordCursor) {
        return;
    }
    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    if (!GetCursorInfo(&ci) || ci.flags != CURSOR_SHOWING) {
        return;
    }
    CursorHotspot once;
    CursorHotspot& hotspot = known != nullptr ? *known : once;
    if (hotspot.cursor != ci.hCursor) {
        ICONINFO ii{};
        if (!GetIconInfo(ci.hCursor, &ii)) {
            return;
        }
        // GetIconInfo hands out copies of the cursor's bitmaps: ours to delete.
        win32::Bitmap mask(ii.hbmMask);
        win32::Bitmap color(ii.hbmColor);
        hotspot.cursor = ci.hCursor;
        hotspot.at = {static_cast<LONG>(ii.xHotspot), static_cast<LONG>(ii.yHotspot)};
    }
    DrawIcon(dc, ci.ptScreenPos.x - hotspot.at.x - left, ci.ptScreenPos.y - hotspot.at.y - top,
             ci.hCursor);
}

constexpr int kThreadPriorities[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                     THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                     THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                     THREAD_PRIORITY_TIME_CRITICAL};

void ApplyWorkerPriority(TScreenCamera& camera) {
    if (!camera.FRecording) {
        return;
    }
    const std::int32_t index = camera.FVideoPriority;
    TRecordAVIThread* worker = camera.FRecordThread;
    if (worker == nullptr || index < 0 || index > 6 || worker->NativeHandle() == nullptr) {
        return;
    }
    camera.Platform().SetThreadPriority(worker->NativeHandle(), kThreadPriorities[index]);
}

// Bits per pixel of a bitmap compatible with the screen: the depth the
// pixels have when read back, before any conversion.
int ScreenDepth(HDC screen) {
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    return bits == 16 || bits == 24 ? bits : 32;
}

// The header of a bottom-up BI_RGB picture.
BITMAPINFOHEADER BottomUpHeader(std::int32_t width, std::int32_t height, int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    return h;
}

// A bottom-up DIB section without a colour table (16, 24 or 32 bits).
HBITMAP CreateSection(HDC screen, std::int32_t width, std::int32_t height, int bitCount,
                      void** bits) {
    BITMAPINFO bi{};
    bi.bmiHeader = BottomUpHeader(width, height, bitCount);
    return CreateDIBSection(screen, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The screen rectangle copied into the bitmap selected into `dc`, the
// cursor painted over it.
void GrabInto(TScreenCamera& camera, HDC dc, HDC screen, std::int32_t left, std::int32_t top,
              std::int32_t width, std::int32_t height, std::int32_t filter,
              CursorHotspot* cursor = nullptr) {
    BitBlt(dc, 0, 0, width, height, screen, left, top, RasterOp(filter));
    PaintCursor(camera, dc, left, top, cursor);
}

class GdiFramePool : public FramePool {
  public:
    GdiFramePool(TScreenCamera& camera, std::int32_t width, std::int32_t height)
        : camera_(camera), width_(width), height_(height) {}
    // The compressing stream may still hold frames: they come back once
    // compressed.
    ~GdiFramePool() override {
        std::unique_lock<std::mutex> lock(mutex_);
        returned_.wait(lock, [this] {
            for (const Slot& slot : slots_) {
                if (slot.lent) {
                    return false;
                }
            }
            return true;
        });
    }

    bool Init() {
        const win32::WindowDc& screen = screen_;
        if (!screen) {
            return false;
        }
        dc_.reset(CreateCompatibleDC(screen.get()));
        const int depth = ScreenDepth(screen.get());
        const int bitCount = camera_.FBitCount;
        convert_ = bitCount != depth;
        const std::uint64_t bytes = vfw::DibRowBytes(width_, static_cast<unsigned>(bitCount)) *
                                    static_cast<std::uint64_t>(height_);
        if (!dc_ || width_ <= 0 || height_ <= 0 || bytes > 0x7FFFFFFFull) {
            return false;
        }
        format_.header = BottomUpHeader(width_, height_, bitCount);
        format_.header.biSizeImage = static_cast<DWORD>(bytes);
        for (Slot& slot : slots_) {
            void* bits = nullptr;
            slot.section.reset(CreateSection(screen.get(), width_, height_, depth, &bits));
            if (!slot.section || bits == nullptr) {
                return false;
            }
            slot.pool = this;
            slot.bytes = static_cast<std::uint32_t>(bytes);
            if (convert_) {
                slot.converted.assign(static_cast<size_t>(bytes), 0);
                slot.bits = slot.converted.data();
            } else {
                slot.bits = static_cast<const std::uint8_t*>(bits);
            }
            // Wine's first copy into a new section costs a few slots' time
            // at 1080p: made here, before the recording's clock starts.
            win32::SelectGuard select(dc_.get(), slot.section.get());
            BitBlt(dc_.get(), 0, 0, width_, height_, screen.get(), 0, 0, SRCCOPY);
        }
        return true;
    }

    Frame* Grab(std::int32_t left, std::int32_t top, std::int32_t filter) override {
        // The worker's priority follows the setting; the system is asked only
        // when it changes, not once a frame.
        if (const std::int32_t priority = camera_.FVideoPriority; priority != priority_) {
            priority_ = priority;
            ApplyWorkerPriority(camera_);
        }
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            returned_.wait(lock, [&] { return (slot = FreeSlot()) != nullptr; });
            slot->lent = true;
        }
        // Not lent to anyone else until given back: no lock while grabbing.
        bool ok = true;
        {
            win32::SelectGuard select(dc_.get(), slot->section.get());
            GrabInto(camera_, dc_.get(), screen_.get(), left, top, width_, height_, filter,
                     &cursor_);
        }
        if (ok && convert_) {
            // The one conversion GetDIBits would make of a compatible bitmap.
            FormatWithColours format = format_;
            ok = GetDIBits(dc_.get(), slot->section.get(), 0, static_cast<UINT>(height_),
                           slot->converted.data(), reinterpret_cast<BITMAPINFO*>(&format),
                           DIB_RGB_COLORS) != 0;
        }
        if (!ok) {
            GiveBack(slot);
            return nullptr;
        }
        return slot;
    }

    void GiveBack(Frame* frame) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            static_cast<Slot*>(frame)->lent = false;
        }
        returned_.notify_all();
    }

  private:
    struct Slot : Frame {
        win32::Bitmap section;
        std::vector<std::uint8_t> converted;  // the camera's depth, when not the screen's
        bool lent = false;
    };
    struct FormatWithColours {
        BITMAPINFOHEADER header{};
        RGBQUAD colours[256]{};
    };

    Slot* FreeSlot() {
        for (Slot& slot : slots_) {
            if (!slot.lent) {
                return &slot;
            }
        }
        return nullptr;
    }

    TScreenCamera& camera_;
    const std::int32_t width_, height_;
    // The screen's DC for the whole recording, not asked for once a frame.
    win32::WindowDc screen_{GetDesktopWindow(), true};
    CursorHotspot cursor_;  // used by the grabbing thread only
    win32::MemoryDc dc_;
    FormatWithColours format_;
    bool convert_ = false;
    std::int32_t priority_ = -1;  // as last applied
    Slot slots_[kGrabPoolFrames];
    std::mutex mutex_;
    std::condition_variable returned_;
};

}  // namespace

std::unique_ptr<FramePool> CreateGdiFramePool(TScreenCamera& camera, std::int32_t width,
                                              std::int32_t height) {
    auto pool = std::make_unique<GdiFramePool>(camera, width, height);
    if (!pool->Init()) {
        return nullptr;
    }
    return pool;
}

HGLOBAL BitmapToDIB(TScreenCamera& camera, HBITMAP bitmap, int bitCount) {
    BITMAP bm{};
    if (GetObjectA(bitmap, sizeof(bm), &bm) == 0) {
        return nullptr;
    }
    const std::uint64_t rowBytes = vfw::DibRowBytes(bm.bmWidth, static_cast<unsigned>(bitCount));
    const std::uint64_t colors = bitCount <= 8 ? (1ull << bitCount) : 0;
    const std::uint64_t imageSize = rowBytes * static_cast<std::uint64_t>(bm.bmHeight);
    const std::uint64_t blockSize = sizeof(BITMAPINFOHEADER) + colors * 4 + imageSize;
    if (imageSize > 0x7FFFFFFFull || blockSize > 0x7FFFFFFFull) {
        return nullptr;  // no 32-bit size field can describe it
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(blockSize));
    if (block == nullptr) {
        return nullptr;
    }
    auto* bi = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    bi->biSize = sizeof(BITMAPINFOHEADER);
    bi->biWidth = bm.bmWidth;
    bi->biHeight = bm.bmHeight;
    bi->biPlanes = 1;
    bi->biBitCount = static_cast<WORD>(bitCount);
    bi->biCompression = BI_RGB;
    bi->biSizeImage = static_cast<DWORD>(imageSize);
    bi->biClrUsed = static_cast<DWORD>(colors);

    win32::MemoryDc dc(CreateCompatibleDC(nullptr));
    BYTE* pixels = reinterpret_cast<BYTE*>(bi) + bi->biSize + colors * 4;
    const int lines = dc ? GetDIBits(dc.get(), bitmap, 0, static_cast<UINT>(bm.bmHeight), pixels,
                                     reinterpret_cast<BITMAPINFO*>(bi), DIB_RGB_COLORS)
                         : 0;
    if (lines == 0) {
        // A picture that cannot be converted ends the recording.
        camera.AbortRecording();
        camera.RaiseError(kRecordError);
    }
    bi->biClrUsed = static_cast<DWORD>(colors);
    GlobalUnlock(block);
    return block;
}

vfw::BITMAPINFOHEADER* GdiGrabFrameCompatible(TScreenCamera& camera, std::int32_t left,
                                              std::int32_t top, std::int32_t width,
                                              std::int32_t height, std::int32_t filter) {
    const DWORD rop = RasterOp(filter);
    ApplyWorkerPriority(camera);
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    HWND desktop = GetDesktopWindow();
    win32::WindowDc screen(desktop, true);
    if (!screen) {
        return nullptr;
    }
    win32::MemoryDc mem(CreateCompatibleDC(screen.get()));
    win32::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    if (!mem || !bitmap) {
        return nullptr;
    }
    {
        win32::SelectGuard select(mem.get(), bitmap.get());
        BitBlt(mem.get(), 0, 0, width, height, screen.get(), left, top, rop);
        PaintCursor(camera, mem.get(), left, top);
    }
    HGLOBAL block = BitmapToDIB(camera, bitmap.get(), camera.FBitCount);
    return block != nullptr ? static_cast<vfw::BITMAPINFOHEADER*>(GlobalLock(block)) : nullptr;
}

vfw::BITMAPINFOHEADER* GdiGrabFrame(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::int32_t filter) {
    ApplyWorkerPriority(camera);
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    win32::WindowDc screen(GetDesktopWindow(), true);
    if (!screen) {
        return nullptr;
    }
    void* bits = nullptr;
    win32::MemoryDc mem(CreateCompatibleDC(screen.get()));
    win32::Bitmap section(
        CreateSection(screen.get(), width, height, ScreenDepth(screen.get()), &bits));
    if (!mem || !section) {
        return nullptr;
    }
    {
        win32::SelectGuard select(mem.get(), section.get());
        GrabInto(camera, mem.get(), screen.get(), left, top, width, height, filter);
    }
    HGLOBAL block = BitmapToDIB(camera, section.get(), camera.FBitCount);
    return block != nullptr ? static_cast<vfw::BITMAPINFOHEADER*>(GlobalLock(block)) : nullptr;
}

void GdiFreeFrame(vfw::BITMAPINFOHEADER* frame) {
    if (frame == nullptr) {
        return;
    }
    HGLOBAL block = GlobalHandle(frame);
    if (block != nullptr) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

TBitmap* GdiGrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                         std::int32_t width, std::int32_t height, std::int32_t filter) {
    const DWORD rop = RasterOp(filter);
    TBitmap* bitmap = camera.FFrameBitmap;
    win32::WindowDc screen(GetDesktopWindow(), true);
    if (bitmap != nullptr && bitmap->SetSize(width, height) && screen) {
        BitBlt(bitmap->Canvas(), 0, 0, width, height, screen.get(), left, top, rop);
        PaintCursor(camera, bitmap->Canvas(), left, top);
    }
    return bitmap;
}
