// Grabbing the screen with GDI: a copy of the desktop rectangle (inverted on
// request), the mouse cursor painted in afterwards so that it keeps its own
// colours, converted into a packed DIB of the camera's depth.
#include "engine/frame_grabber_win32.h"

#include "engine/camera_platform.h"
#include "engine/screen_camera.h"
#include "engine/tbitmap_win32.h"
#include "engine/vfw/dib.h"
#include "win32/handles.h"

namespace {

DWORD RasterOp(std::int32_t filter) { return filter == 1 ? NOTSRCCOPY : SRCCOPY; }

// Paints the cursor with its hotspot on the pointer's position, offset by
// the picture's top-left corner; the picture clips it.
void PaintCursor(const TScreenCamera& camera, HDC dc, std::int32_t left, std::int32_t top) {
    if (!camera.FRecordCursor) {
        return;
    }
    CURSORINFO ci{};
    ci.cbSize = sizeof(ci);
    if (!GetCursorInfo(&ci) || ci.flags != CURSOR_SHOWING) {
        return;
    }
    ICONINFO ii{};
    if (!GetIconInfo(ci.hCursor, &ii)) {
        return;
    }
    // GetIconInfo hands out copies of the cursor's bitmaps: ours to delete.
    win32::Bitmap mask(ii.hbmMask);
    win32::Bitmap color(ii.hbmColor);
    DrawIcon(dc, ci.ptScreenPos.x - static_cast<int>(ii.xHotspot) - left,
             ci.ptScreenPos.y - static_cast<int>(ii.yHotspot) - top, ci.hCursor);
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

}  // namespace

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

vfw::BITMAPINFOHEADER* GdiGrabFrame(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::int32_t filter) {
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
