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

// The folder where the Windows tree's tests left their files for the host's
// checks: $KELVORA_WIN_TEST_OUT (the test script names the tree that ran),
// else `fallback`.
std::string WindowsTestOut(const char* fallback);

// Free bytes on the file system holding `path`, or 0 when unknown.
unsigned long long FreeDiskBytes(const std::string& path);

}  // namespace kelvora::test
