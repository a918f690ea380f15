#include "engine/session_rules.h"

#include <cstdio>

#include "engine/screen_camera.h"

std::int32_t FrameSlot(std::uint32_t elapsedMs, std::int32_t msPerFrame) {
    const std::uint32_t slot = msPerFrame < 1 ? 1u : static_cast<std::uint32_t>(msPerFrame);
    std::uint32_t q = elapsedMs / slot;
    const std::uint32_t twice = 2 * (elapsedMs % slot);
    if (twice > slot || (twice == slot && (q & 1u) != 0)) {
        ++q;
    }
    return static_cast<std::int32_t>(q);
}

ElapsedTime SplitElapsed(std::uint32_t elapsedMs) {
    return {elapsedMs / 3600000u, (elapsedMs / 60000u) % 60u, (elapsedMs / 1000u) % 60u};
}

std::string RecordTimeText(const ElapsedTime& t) {
    return std::to_string(t.hours) + ":" + std::to_string(t.minutes) + ":" +
           std::to_string(t.seconds);
}

bool TimedStopReached(const TTimerCapture& timer, const ElapsedTime& t) {
    return timer.Enabled != 0 && t.hours == timer.Hours && t.minutes == timer.Minutes &&
           t.seconds == timer.Seconds;
}

std::int32_t AlignDimension(std::int32_t size, std::int32_t align, std::int32_t limit) {
    if (align <= 1) {
        return size;
    }
    const std::int32_t r = size % align;
    if (r <= 0) {
        return size;
    }
    const std::int64_t up = static_cast<std::int64_t>(size) + align - r;
    return up > limit ? size - r : static_cast<std::int32_t>(up);
}

std::string ErrorCodeText(vfw::HRESULT code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    return std::to_string(static_cast<std::uint32_t>(code)) + ", " + hex;
}
