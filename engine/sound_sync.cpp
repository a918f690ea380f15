#include "engine/sound_sync.h"

#include <algorithm>
#include <cstring>

namespace {

// The device's lag is the smallest seen over this long: long enough to hold
// buffers that came without delay, short enough to follow the drift (0.1 %
// moves the lag 3 ms in this time).
constexpr std::uint32_t kWindowMs = 3000;
// No buffer for this long: the device has stalled or failed.
constexpr std::uint32_t kStallMs = 250;
// Drift is mended by at most one block in this many of a buffer (0.5 %):
// five times what a common device drifts, and too little to hear.
constexpr std::size_t kBlocksPerMend = 200;
// After the start and after a stall, buffers are held until they have come
// for this long, so that the lag is taken from more than the first of them
// (the first of a burst that a stalled device sends looks late).
constexpr std::uint32_t kSettleMs = 150;
// Differences up to this many milliseconds are left alone.
constexpr std::uint32_t kToleranceMs = 1;
// From this many milliseconds on (or half a frame period, if less) a
// difference is mended at once.
constexpr std::uint32_t kBulkMs = 20;

}  // namespace

SoundSync::SoundSync(const SoundFormat& format, Clock clock, std::uint32_t startMs,
                     std::uint32_t framePeriodMs)
    : format_(format), clock_(std::move(clock)), startMs_(startMs) {
    const std::int64_t rate = format_.samplesPerSec;
    const std::uint32_t bulkMs = std::clamp<std::uint32_t>(framePeriodMs / 2, 1, kBulkMs);
    bulkBlocks_ = std::max<std::int64_t>(rate * bulkMs / 1000, 2);
    toleranceBlocks_ = std::max<std::int64_t>(rate * kToleranceMs / 1000, 1);
    stallBlocks_ = rate * kStallMs / 1000;
}

std::uint32_t SoundSync::SinceStart(std::uint32_t nowMs) const {
    const std::uint32_t since = nowMs - startMs_;
    // A reading before the start (the device may start first) counts as it.
    return since > 0x7FFFFFFFu ? 0 : since;
}

std::int64_t SoundSync::DueAt(std::uint32_t sinceStartMs) const {
    return static_cast<std::int64_t>(sinceStartMs) * format_.samplesPerSec / 1000;
}

// Adds a lag seen at `sinceStartMs` and returns the smallest of the window.
// The deque keeps only lags smaller than every later one, so its front is
// the window's smallest.
std::int64_t SoundSync::SmallestLag(std::uint32_t sinceStartMs, std::int64_t lag) {
    while (!lags_.empty() && lags_.back().blocks >= lag) {
        lags_.pop_back();
    }
    lags_.push_back({sinceStartMs, lag});
    while (sinceStartMs - lags_.front().atMs > kWindowMs) {
        lags_.pop_front();
    }
    return lags_.front().blocks;
}

void SoundSync::Emit(const std::uint8_t* data, std::size_t blocks, std::vector<std::uint8_t>* out) {
    out->insert(out->end(), data, data + blocks * format_.blockBytes());
    written_ += blocks;
}

void SoundSync::Silence(std::int64_t blocks, std::vector<std::uint8_t>* out) {
    if (blocks <= 0) {
        return;
    }
    out->insert(out->end(), static_cast<std::size_t>(blocks) * format_.blockBytes(), 0);
    written_ += static_cast<std::uint64_t>(blocks);
    added_ += static_cast<std::uint64_t>(blocks);
}

void SoundSync::Accept(const void* data, std::size_t bytes, std::vector<std::uint8_t>* out) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::size_t blockBytes = format_.blockBytes();
    if (!partial_.empty()) {
        joined_.assign(partial_.begin(), partial_.end());
        joined_.insert(joined_.end(), p, p + bytes);
        p = joined_.data();
        bytes = joined_.size();
    }
    const std::size_t blocks = bytes / blockBytes;
    partial_.assign(p + blocks * blockBytes, p + bytes);
    if (blocks == 0) {
        return;
    }
    const std::uint32_t now = SinceStart(clock_());
    lastArrivalMs_ = now;
    delivered_ += blocks;
    const std::int64_t lag = SmallestLag(now, DueAt(now) - static_cast<std::int64_t>(delivered_));
    if (settling_) {
        if (held_.empty()) {
            heldSinceMs_ = now;
        }
        held_.insert(held_.end(), p, p + blocks * blockBytes);
        if (now - heldSinceMs_ >= kSettleMs) {
            Settle(out);
        }
        return;
    }
    Place(p, blocks, lag, out);
}

void SoundSync::Settle(std::vector<std::uint8_t>* out) {
    settling_ = false;
    if (!held_.empty()) {
        Place(held_.data(), held_.size() / format_.blockBytes(), lags_.front().blocks, out);
        held_.clear();
    }
}

// Gives out the latest `blocks` delivered, so that they end where the
// device's lag puts them.
void SoundSync::Place(const std::uint8_t* data, std::size_t blocks, std::int64_t lag,
                      std::vector<std::uint8_t>* out) {
    // Blocks to add (or, negative, to leave out).
    const std::int64_t change =
        static_cast<std::int64_t>(delivered_) + lag - static_cast<std::int64_t>(written_ + blocks);
    if (change >= bulkBlocks_) {
        Silence(change, out);
        Emit(data, blocks, out);
    } else if (change <= -bulkBlocks_) {
        const auto skip = static_cast<std::size_t>(
            std::min<std::int64_t>(-change, static_cast<std::int64_t>(blocks)));
        dropped_ += skip;
        Emit(data + skip * format_.blockBytes(), blocks - skip, out);
    } else if (change > toleranceBlocks_ || change < -toleranceBlocks_) {
        Mend(data, blocks, change, out);
    } else {
        Emit(data, blocks, out);
    }
}

// Repeats (change > 0) or leaves out a few blocks, one in each equal stretch
// of the buffer, where that stretch is quietest.
void SoundSync::Mend(const std::uint8_t* data, std::size_t blocks, std::int64_t change,
                     std::vector<std::uint8_t>* out) {
    const std::size_t wanted = static_cast<std::size_t>(change > 0 ? change : -change);
    const std::size_t count = std::min(wanted, std::max<std::size_t>(blocks / kBlocksPerMend, 1));
    const std::size_t blockBytes = format_.blockBytes();
    std::size_t done = 0;  // blocks of `data` given out or left out
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = blocks * i / count;
        const std::size_t to = blocks * (i + 1) / count;
        const std::size_t quiet = QuietestBlock(data, from, to);
        if (change > 0) {
            Emit(data + done * blockBytes, quiet + 1 - done, out);
            Emit(data + quiet * blockBytes, 1, out);
            ++added_;
        } else {
            Emit(data + done * blockBytes, quiet - done, out);
            ++dropped_;
        }
        done = quiet + 1;
    }
    Emit(data + done * blockBytes, blocks - done, out);
}

std::size_t SoundSync::QuietestBlock(const std::uint8_t* data, std::size_t from,
                                     std::size_t to) const {
    const std::size_t blockBytes = format_.blockBytes();
    std::size_t best = from;
    std::uint32_t bestLevel = UINT32_MAX;
    for (std::size_t b = from; b < to; ++b) {
        std::uint32_t level = 0;
        for (std::size_t c = 0; c < format_.channels; ++c) {
            std::int16_t v;
            std::memcpy(&v, data + b * blockBytes + c * 2, 2);
            level += static_cast<std::uint32_t>(v < 0 ? -static_cast<std::int32_t>(v) : v);
        }
        if (level < bestLevel) {
            bestLevel = level;
            best = b;
        }
    }
    return best;
}

void SoundSync::KeepUp(std::vector<std::uint8_t>* out) {
    const std::uint32_t now = SinceStart(clock_());
    if (settling_ && !held_.empty() && now - heldSinceMs_ >= kSettleMs) {
        Settle(out);
    }
    if (now - lastArrivalMs_ < kStallMs) {
        return;
    }
    // Whatever the device sends after a stall shows its lag anew.
    lags_.clear();
    settling_ = true;
    Silence(DueAt(now) - stallBlocks_ - static_cast<std::int64_t>(written_), out);
}

void SoundSync::Finish(std::uint32_t endMs, std::vector<std::uint8_t>* out) {
    Settle(out);
    partial_.clear();
    Silence(DueAt(SinceStart(endMs)) - static_cast<std::int64_t>(written_), out);
}
