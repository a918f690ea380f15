// The built-in compressors, in the order the compressor manager lists them.
// Each Create function makes one instance (engine/vfw/codecs/codec.h); each is
// defined in the codec's own file.
#pragma once

#include <memory>

#include "engine/vfw/codecs/codec.h"

namespace vfw {

std::unique_ptr<Codec> CreateMsvcCodec();  // 'MSVC' Microsoft Video 1 (msvc.cpp)
std::unique_ptr<Codec> CreateZmbvCodec();  // 'ZMBV' lossless zlib motion blocks (zmbv.cpp)
std::unique_ptr<Codec> CreateMjpgCodec();  // 'MJPG' Motion JPEG (mjpg.cpp)
std::unique_ptr<Codec> CreateDibCodec();   // 'DIB ' uncompressed frames (dib_codec.cpp)

}  // namespace vfw
