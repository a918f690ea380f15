// Test-only knobs of the AVI library: they shrink its limits so that tests
// reach rare paths (several RIFFs, a full super index, a full disk) without
// writing gigabytes. Each affects files created after the call; 0 restores
// the normal behaviour. Not for use by the program itself.
#pragma once

#include <cstdint>

namespace vfw {

// Largest size of one RIFF (normally 1 GiB).
void SetRiffLimitForTesting(std::uint64_t bytes);
// Entries of the super index reserved in a recording's header (normally
// enough for 16 TiB).
void SetSuperIndexCapacityForTesting(std::uint32_t entries);
// Size a written file cannot grow past: writes beyond it fail as on a full
// disk.
void SetWriteLimitForTesting(std::uint64_t bytes);
// Offset that reads cannot pass: reads of bytes beyond it fail as on a bad
// disk (affects files opened before the call as well).
void SetReadLimitForTesting(std::uint64_t bytes);
// How many times a file was written through to the disk so far.
unsigned DiskSyncsForTesting();

}  // namespace vfw
