// The arithmetic of a recording session, kept apart so that it is tested
// on its own: frame slots from the wall clock, the elapsed-time text, the
// timed stop and the frame-size alignment.
#pragma once

#include <cstdint>
#include <string>

#include "engine/vfw/vfw.h"

struct TTimerCapture;

// Stream position of a frame grabbed `elapsedMs` after the start, with slots
// of `msPerFrame` (values below 1 count as 1): elapsed / msPerFrame rounded
// to the nearest integer, halves to even.
std::int32_t FrameSlot(std::uint32_t elapsedMs, std::int32_t msPerFrame);
// The first elapsed millisecond whose FrameSlot is `slot` (0 for slots up to
// 0); beyond the counter's range it stays at its largest value.
std::uint32_t SlotStart(std::int32_t slot, std::int32_t msPerFrame);

struct ElapsedTime {
    std::uint32_t hours;
    std::uint32_t minutes;  // 0..59
    std::uint32_t seconds;  // 0..59
};
ElapsedTime SplitElapsed(std::uint32_t elapsedMs);

// "h:m:s" in plain decimals without leading zeros, e.g. "1:2:5".
std::string RecordTimeText(const ElapsedTime& t);

// True when the timed stop is enabled and `t` is its time.
bool TimedStopReached(const TTimerCapture& timer, const ElapsedTime& t);

// One dimension of the size adjustment: `size` rounded up to a multiple of
// `align`, or down when rounding up would pass `limit`; unchanged when it
// already is a multiple.
std::int32_t AlignDimension(std::int32_t size, std::int32_t align, std::int32_t limit);

// A result code for a message: "2147762278, 0x80044066".
std::string ErrorCodeText(vfw::HRESULT code);
