// The seed corpus of the AVI reader's fuzz target: small files of each shape
// the writer makes (plain AVI 1.0, skipped positions and non-key frames,
// palettised, several RIFFs, empty, sound beside the video), the files a
// killed recording leaves (no index, sizes unpatched, perhaps cut in a
// frame), the temporary sound file (WAV, whole and cut), plus the shapes of
// other writers' files (idx1 offsets from the file start, no index). Written by
// the host's seed program for the fuzzer, and by the Windows test that reads
// the same files in the Windows build.
#pragma once

#include <string>

namespace kelvora::test {

// Writes the seeds into `folder` (which must exist). False, with a line on
// stderr, when a file cannot be written.
bool WriteAviSeedCorpus(const std::string& folder);

}  // namespace kelvora::test
