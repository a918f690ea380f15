// A stream that compresses each frame written to it and writes the result
// into another stream (AVIMakeCompressedStream). Compression runs on a
// thread of its own while the caller grabs the next frame; AVIStreamWrite
// copies the frame and returns, a failure surfaces at the next call, and
// releasing the stream waits until every queued frame is written.
// AVIStreamFlush queues a flush of the target behind the waiting frames.
#pragma once

#include "engine/vfw/vfw.h"

namespace vfw {

// Frames queued between the caller and the compression thread. Two let the
// caller grab while one frame is compressed and another waits.
inline constexpr int kCompressQueueDepth = 2;

}  // namespace vfw
