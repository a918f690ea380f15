// The GDI frame grabber behind TScreenCamera::GrabFrame and GrabToBitmap.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "engine/camera_platform.h"

#include "engine/vfw/compressed_stream.h"
#include "engine/vfw/vfw.h"

class TScreenCamera;
class TBitmap;

// A packed DIB in movable global memory, locked once; null on failure.
// Grabbed into a DIB section of the screen's depth, as the pool's frames are.
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
// The same frame through a compatible bitmap made for it and GetDIBits, as
// grabs were made before the pool; the benchmark's baseline.
vfw::BITMAPINFOHEADER* GdiGrabFrameCompatible(TScreenCamera& camera, std::int32_t left,
                                              std::int32_t top, std::int32_t width,
                                              std::int32_t height, std::int32_t filter);

// Frames lent to the compressing stream and grabbed into again.
// The stream's queue, and one to grab into.
inline constexpr int kGrabPoolFrames = vfw::kCompressQueueDepth + 1;
// kGrabPoolFrames DIB sections of width x height at the screen's depth; a
// frame is each grab's one BitBlt plus the cursor, read in place when the
// camera's depth is the screen's, else converted once into the slot's own
// buffer. Null when the sections cannot be had.
std::unique_ptr<FramePool> CreateGdiFramePool(TScreenCamera& camera, std::int32_t width,
                                              std::int32_t height);
