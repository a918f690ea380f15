// Keeps recorded sound in step with the picture. The picture's slots follow
// the camera's clock; the sound follows the sound device's own clock, which
// runs a little fast or slow against it (0.1 % is 3.6 s an hour), starts a
// little late, and stops when the device fails. SoundSync places the sound
// on the camera's clock: it watches when the device's buffers arrive and
// adds or drops whole blocks (one sample of every channel) so that each
// block lands within a fraction of a video frame period of the moment it was
// captured.
//
// How: for every buffer, the blocks the clock says are due minus the blocks
// the device has delivered is the device's lead or lag plus the buffer's
// delivery delay. The smallest of these over the last seconds is the lag
// without the delay's jitter; the output is kept at delivered + that lag.
// Small differences (drift) are mended a few blocks per buffer, each at the
// quietest point of its stretch of the buffer, by repeating or leaving out
// one block; large ones (the start, a stall) at once, with silence before
// the buffer or by leaving out its first blocks. At the start and after a
// stall the first buffers are held for a moment, so that a burst of them
// shows the lag by its last. While the device delivers nothing, KeepUp()
// writes silence a little behind the clock, and Finish() pads the sound to
// the picture's end.
//
// Protocol: construct when the first video slot starts (startMs on the
// camera's clock); Accept() every buffer as it arrives; KeepUp() regularly
// (with the recording's flush); Finish() once at the end. What the calls
// append to *out goes into the sound file in that order. One thread at a
// time (the caller serialises).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "engine/sound_format.h"

class SoundSync {
  public:
    // Milliseconds of the camera's clock (a free-running 32-bit counter).
    using Clock = std::function<std::uint32_t()>;

    // `framePeriodMs`: the picture's frame period; the sound is kept well
    // within it. `startMs`: the clock's reading at video position 0.
    SoundSync(const SoundFormat& format, Clock clock, std::uint32_t startMs,
              std::uint32_t framePeriodMs);

    // A buffer of 16-bit PCM that has just arrived; a trailing part block is
    // kept for the next call. Appends what goes into the file to *out.
    void Accept(const void* data, std::size_t bytes, std::vector<std::uint8_t>* out);
    // When nothing has arrived for a while (a stalled or failed device),
    // appends silence up to a little behind the clock, so that a crash keeps
    // the sound as long as the picture.
    void KeepUp(std::vector<std::uint8_t>* out);
    // Appends silence up to `endMs` on the clock (the picture's end).
    void Finish(std::uint32_t endMs, std::vector<std::uint8_t>* out);

    // Blocks given out so far; blocks added (silence and repeats) and left
    // out by the rule.
    std::uint64_t written() const { return written_; }
    std::uint64_t added() const { return added_; }
    std::uint64_t dropped() const { return dropped_; }

  private:
    struct Lag {
        std::uint32_t atMs;  // since the start
        std::int64_t blocks;
    };

    std::uint32_t SinceStart(std::uint32_t nowMs) const;
    std::int64_t DueAt(std::uint32_t sinceStartMs) const;
    std::int64_t SmallestLag(std::uint32_t sinceStartMs, std::int64_t lag);
    void Settle(std::vector<std::uint8_t>* out);
    void Place(const std::uint8_t* data, std::size_t blocks, std::int64_t lag,
               std::vector<std::uint8_t>* out);
    void Emit(const std::uint8_t* data, std::size_t blocks, std::vector<std::uint8_t>* out);
    void Silence(std::int64_t blocks, std::vector<std::uint8_t>* out);
    void Mend(const std::uint8_t* data, std::size_t blocks, std::int64_t change,
              std::vector<std::uint8_t>* out);
    std::size_t QuietestBlock(const std::uint8_t* data, std::size_t from, std::size_t to) const;

    SoundFormat format_;
    Clock clock_;
    std::uint32_t startMs_;
    std::int64_t bulkBlocks_;       // differences mended at once from here on
    std::int64_t toleranceBlocks_;  // differences left alone up to here
    std::int64_t stallBlocks_;      // KeepUp stays this far behind the clock

    std::vector<std::uint8_t> partial_;  // a block cut between two buffers
    std::vector<std::uint8_t> joined_;   // that block and the next buffer
    std::uint64_t delivered_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t added_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint32_t lastArrivalMs_ = 0;  // since the start
    std::deque<Lag> lags_;             // rising lags of the window, oldest first
    bool settling_ = true;             // holding buffers: at the start, after a stall
    std::vector<std::uint8_t> held_;
    std::uint32_t heldSinceMs_ = 0;
};
