// The GDI frame grabber behind TScreenCamera::GrabFrame and GrabToBitmap.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/vfw/vfw.h"

class TScreenCamera;
class TBitmap;

// A packed DIB in movable global memory, locked once; null on failure.
vfw::BITMAPINFOHEADER* GdiGrabFrame(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                                    std::int32_t width, std::int32_t height, std::int32_t filter);
// Unlocks and frees a frame of GdiGrabFrame.
void GdiFreeFrame(vfw::BITMAPINFOHEADER* frame);
// Fills the camera's FFrameBitmap.
TBitmap* GdiGrabToBitmap(TScreenCamera& camera, std::int32_t left, std::int32_t top,
                         std::int32_t width, std::int32_t height, std::int32_t filter);
// The pixels of a device-dependent bitmap as a packed DIB of `bitCount`
// bits in an unlocked movable global block; 0 when no block can be had. A
// failed pixel copy aborts the camera's recording; the block is still
// returned, pixels zero.
HGLOBAL BitmapToDIB(TScreenCamera& camera, HBITMAP bitmap, int bitCount);
