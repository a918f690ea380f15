// The sync rule against a simulated sound device on the camera's clock: a
// device 0.1 % fast or slow for an hour, one that stalls and sends its
// backlog, one that loses sound, one that fails. Every block the device
// captures carries its own number, so each block of the output can be
// traced to the moment it was captured: it must lie within one frame period
// (25 ms) of that moment, blocks may only be repeated or left out, never
// reordered, and the sound must last as long as the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/sound_sync.h"

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kFrameMs = 25;
constexpr std::size_t kBuffer = 2205;  // blocks: 50 ms on the device's clock
// The clock passes its wrap during the hour.
constexpr std::uint32_t kStartMs = 0xFFFFFFFFu - 60000;

struct Device {
    double ppm = 0;       // the device's clock against the camera's
    double firstMs = 40;  // it starts capturing this late
    // Buffers captured from stallFromMs on for stallMs come at its end
    // (backlog) or never (lost); from failMs on nothing comes.
    double stallFromMs = -1;
    double stallMs = 0;
    bool lost = false;
    double failMs = -1;
    double endMs = 0;
};

class Simulation {
  public:
    explicit Simulation(const Device& d)
        : d_(d),
          sync_(
              SoundFormat{kRate, 2}, [this] { return now_; }, kStartMs, kFrameMs) {}

    void Run() {
        double last = 0;
        std::uint32_t seed = 12345;
        for (std::uint64_t k = 0;; ++k) {
            const double captured = CaptureMs((k + 1) * kBuffer);
            if (captured > d_.endMs || (d_.failMs >= 0 && captured >= d_.failMs)) {
                break;
            }
            seed = seed * 1103515245u + 12345u;
            double arrives = captured + 5 + (seed >> 16) % 20;  // delivery delay
            if (captured >= d_.stallFromMs && captured < d_.stallFromMs + d_.stallMs) {
                if (d_.lost) {
                    continue;
                }
                arrives = std::max(arrives, d_.stallFromMs + d_.stallMs);
            }
            last = std::max(last, arrives);
            TicksUntil(last);
            std::vector<std::uint8_t> buffer(kBuffer * 4);
            for (std::size_t b = 0; b < kBuffer; ++b) {
                const std::uint32_t number = static_cast<std::uint32_t>(k * kBuffer + b) + 1;
                std::memcpy(&buffer[b * 4], &number, 4);
            }
            // Split unevenly: a block may be cut between two calls.
            sync_.Accept(buffer.data(), 1001, &out_);
            sync_.Accept(buffer.data() + 1001, buffer.size() - 1001, &out_);
            Check();
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
        TicksUntil(d_.endMs);
        now_ = kStartMs + static_cast<std::uint32_t>(d_.endMs);
        sync_.Finish(now_, &out_);
        Check();
    }

    const SoundSync& sync() const { return sync_; }
    double worstMs() const { return worstMs_; }
    std::uint64_t silentAfterFail() const { return silentAfterFail_; }

  private:
    // When block `number` - 1 was captured, on the camera's clock.
    double CaptureMs(std::uint64_t blocks) const {
        return d_.firstMs + static_cast<double>(blocks) * 1000 / (kRate * (1 + d_.ppm / 1e6));
    }

    // The recording's flush every 500 ms calls KeepUp; while the device
    // sends nothing, the sound must keep up with the clock.
    void TicksUntil(double ms) {
        while (nextTickMs_ <= ms) {
            now_ = kStartMs + static_cast<std::uint32_t>(nextTickMs_);
            sync_.KeepUp(&out_);
            Check();
            if (d_.failMs >= 0 && nextTickMs_ > d_.failMs + 300) {
                EXPECT_GE(static_cast<double>(sync_.written()) * 1000 / kRate,
                          nextTickMs_ - 250 - kFrameMs);
            }
            nextTickMs_ += 500;
        }
        now_ = kStartMs + static_cast<std::uint32_t>(ms);
    }

    // Traces every block given out since the last check.
    void Check() {
        for (std::size_t at = 0; at < out_.size(); at += 4, ++position_) {
            std::uint32_t number;
            std::memcpy(&number, &out_[at], 4);
            if (number == 0) {
                silentAfterFail_ +=
                    d_.failMs >= 0 && static_cast<double>(position_) * 1000 / kRate > d_.failMs;
                continue;
            }
            ASSERT_GE(number, lastNumber_) << "block at " << position_ << " out of order";
            lastNumber_ = number;
            const double error =
                static_cast<double>(position_) * 1000 / kRate - CaptureMs(number - 1);
            worstMs_ = std::max(worstMs_, std::fabs(error));
            ASSERT_LE(std::fabs(error), kFrameMs)
                << "block " << number << " placed at " << position_;
        }
        out_.clear();
    }

    Device d_;
    std::uint32_t now_ = kStartMs;
    SoundSync sync_;
    std::vector<std::uint8_t> out_;
    std::uint64_t position_ = 0;
    std::uint32_t lastNumber_ = 0;
    double nextTickMs_ = 500;
    double worstMs_ = 0;
    std::uint64_t silentAfterFail_ = 0;
};

TEST(SoundSync, DeviceClockOffByATenthOfAPercentForAnHour) {
    for (double ppm : {1000.0, -1000.0}) {
        SCOPED_TRACE(ppm);
        Device d;
        d.ppm = ppm;
        d.endMs = 3600 * 1000;
        Simulation sim(d);
        ASSERT_NO_FATAL_FAILURE(sim.Run());
        const SoundSync& s = sim.sync();
        EXPECT_NEAR(static_cast<double>(s.written()) / kRate, 3600.0, kFrameMs / 1000.0);
        // The drift is mended block by block: 0.1 % of the hour's blocks go
        // (or come), and only the start's silence besides.
        const double drift = 3600.0 * kRate * 1e-3;
        const std::uint64_t mended = ppm > 0 ? s.dropped() : s.added();
        EXPECT_NEAR(static_cast<double>(mended), drift, drift * 0.02);
        EXPECT_LT(ppm > 0 ? s.added() : s.dropped(), kRate / 10);
        std::printf("%+g ppm: worst offset %.1f ms, %llu blocks added, %llu left out\n", ppm,
                    sim.worstMs(), static_cast<unsigned long long>(s.added()),
                    static_cast<unsigned long long>(s.dropped()));
    }
}

TEST(SoundSync, StallsAndFailuresKeepTheSoundInPlace) {
    struct Case {
        const char* name;
        double stallMs;
        bool lost;
        double failMs;
    };
    for (const Case& c :
         {Case{"backlog after a stall", 2000, false, -1},
          Case{"sound lost in a stall", 2000, true, -1}, Case{"device failed", 0, false, 10000}}) {
        SCOPED_TRACE(c.name);
        Device d;
        d.ppm = 300;
        d.stallFromMs = 8000;
        d.stallMs = c.stallMs;
        d.lost = c.lost;
        d.failMs = c.failMs;
        d.endMs = 30000;
        Simulation sim(d);
        ASSERT_NO_FATAL_FAILURE(sim.Run());
        EXPECT_NEAR(static_cast<double>(sim.sync().written()) / kRate, 30.0, kFrameMs / 1000.0);
        if (c.failMs >= 0) {
            // Silence from the failure to the end.
            EXPECT_NEAR(static_cast<double>(sim.silentAfterFail()) / kRate, 20.0, 0.1);
        }
    }
}

}  // namespace
