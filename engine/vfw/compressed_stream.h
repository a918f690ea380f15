// A stream that compresses each frame written to it and writes the result
// into another stream (AVIMakeCompressedStream). Compression runs on a
// thread of its own while the caller grabs the next frame. AVIStreamWrite
// copies the frame and returns; AVIStreamWriteBorrowed queues the caller's
// frame itself and gives it back once compressed. A failure surfaces at the
// next call, and releasing the stream waits until every queued frame is
// written (and every lent one given back).
// AVIStreamFlush queues a flush of the target behind the waiting frames.
#pragma once

#include "engine/vfw/vfw.h"

namespace vfw {

// Frames queued between the caller and the compression thread, copied or
// lent. Four let the caller grab on while the compressor spends a few slots
// on a key frame; a caller lending frames needs one more to grab into.
inline constexpr int kCompressQueueDepth = 4;

}  // namespace vfw
