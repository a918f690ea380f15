// Where tests leave their output (AVI files, PNG screenshots): the folder
// named by KELVORA_TEST_OUT (set per test by ctest), or a folder under the
// system's temporary directory.
#pragma once

#include <string>

namespace kelvora::test {

// The test program's output folder, created on first use; ends without a slash.
const std::string& OutputDir();

// OutputDir() + "/" + name.
std::string OutputPath(const std::string& name);

// Free bytes on the file system holding `path`, or 0 when unknown.
unsigned long long FreeDiskBytes(const std::string& path);

}  // namespace kelvora::test
