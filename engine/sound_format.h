// The sound the engine records: 16-bit PCM, one or two channels, as the
// wave input delivers it, the sync rule adjusts it and the temporary sound
// file keeps it.
#pragma once

#include <cstdint>

#include "engine/vfw/vfw.h"

struct SoundFormat {
    std::uint32_t samplesPerSec = 44100;
    std::uint16_t channels = 2;

    // Bytes of one block: one 16-bit sample of every channel.
    std::uint32_t blockBytes() const { return channels * 2u; }
    std::uint32_t bytesPerSec() const { return samplesPerSec * blockBytes(); }

    vfw::WAVEFORMATEX WaveFormat() const {
        vfw::WAVEFORMATEX w{};
        w.wFormatTag = vfw::WAVE_FORMAT_PCM;
        w.nChannels = channels;
        w.nSamplesPerSec = samplesPerSec;
        w.nAvgBytesPerSec = bytesPerSec();
        w.nBlockAlign = static_cast<vfw::WORD>(blockBytes());
        w.wBitsPerSample = 16;
        w.cbSize = 0;
        return w;
    }
};
