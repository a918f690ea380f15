#include "tests/support/test_paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kelvora::test {

const std::string& OutputDir() {
    static const std::string dir = [] {
        namespace fs = std::filesystem;
        const char* env = std::getenv("KELVORA_TEST_OUT");
        fs::path p = env != nullptr && *env != '\0' ? fs::path(env)
                                                    : fs::temp_directory_path() / "kelvora-tests";
        std::error_code ec;
        fs::create_directories(p, ec);
        return p.generic_string();
    }();
    return dir;
}

std::string OutputPath(const std::string& name) {
    return OutputDir() + "/" + name;
}

std::string WindowsTestOut(const char* fallback) {
    const char* env = std::getenv("KELVORA_WIN_TEST_OUT");
    return env != nullptr && *env != '\0' ? env : fallback;
}

unsigned long long FreeDiskBytes(const std::string& path) {
    std::error_code ec;
    const auto info = std::filesystem::space(path, ec);
    return ec ? 0 : static_cast<unsigned long long>(info.available);
}

}  // namespace kelvora::test
