// Round-trip helpers of the 'MJPG' and 'DIB ' tests (host tree): a clip of
// compressed frames written through the AVIFile calls at chosen positions.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/vfw/vfw.h"
#include "tests/support/synthetic_clip.h"

namespace kelvora::test {

struct CompressedFrame {
    std::vector<std::uint8_t> data;
    vfw::DWORD flags;  // what the codec reported
    vfw::LONG position;
};

// Writes one video stream of `format` (header plus colour table) holding the
// frames at their positions; positions between them stay empty entries.
// Returns false (with gtest failures) when a call fails.
bool WriteClip(const std::string& path, vfw::FOURCC handler,
               const std::vector<std::uint8_t>& format, const std::vector<CompressedFrame>& frames);

// Positions with gaps for `count` frames: mostly consecutive, now and then
// skipping one to three, as a slow grab does.
std::vector<vfw::LONG> PositionsWithGaps(int count);

// ToDib(picture, bits) with a colour cache kept across the frames of a clip,
// because mapping every pixel to the 8-bit palette afresh is slow.
class ClipDibs {
  public:
    explicit ClipDibs(int bits) : bits_(bits) {}
    PackedDib operator()(const Picture& picture);

  private:
    int bits_;
    std::unordered_map<std::uint32_t, std::uint8_t> palette_;
};

}  // namespace kelvora::test
