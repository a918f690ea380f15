// TBitmap: the camera's reusable preview picture, a device-independent
// bitmap of 8, 16, 24 or 32 bits per pixel selected into its own memory DC.
#pragma once

#include <windows.h>

#include "win32/handles.h"

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // 8, 16 (5-5-5), 24 or 32; the picture is made anew at the next SetSize.
    void SetPixelFormat(int bitCount);
    // Resizes (contents are undefined afterwards); false when no bitmap of
    // that size can be made.
    bool SetSize(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    // The memory DC to draw on (null before the first SetSize).
    HDC Canvas() const { return dc_.get(); }
    HBITMAP Handle() const { return bitmap_.get(); }

private:
    bool Recreate();

    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 32;
    win32::MemoryDc dc_;
    win32::Bitmap bitmap_;
    HGDIOBJ original_ = nullptr;  // the DC's own bitmap, selected back before deletion
};
