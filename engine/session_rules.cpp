#include "engine/session_rules.h"

#include <algorithm>
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

std::uint32_t SlotStart(std::int32_t slot, std::int32_t msPerFrame) {
    if (slot <= 0) {
        return 0;
    }
    const std::uint64_t ms = msPerFrame < 1 ? 1u : static_cast<std::uint64_t>(msPerFrame);
    // The half-way point to the slot before, then up to where rounding
    // (halves to even) gives this slot: at most two steps.
    std::uint64_t e = (2 * static_cast<std::uint64_t>(slot) - 1) * ms / 2;
    for (; e < 0xFFFFFFFFu; ++e) {
        if (FrameSlot(static_cast<std::uint32_t>(e), msPerFrame) >= slot) {
            break;
        }
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(e, 0xFFFFFFFFu));
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
