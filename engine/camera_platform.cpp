#include "engine/camera_platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
CameraPlatform& WindowsPlatform();  // camera_platform_win32.cpp
#endif

namespace {
std::atomic<CameraPlatform*> g_installed{nullptr};
}  // namespace

void InstallPlatform(CameraPlatform* platform) { g_installed = platform; }

CameraPlatform& ActivePlatform() {
    if (CameraPlatform* p = g_installed) {
        return *p;
    }
#if defined(_WIN32)
    return WindowsPlatform();
#else
    std::fputs("no camera platform installed\n", stderr);
    std::abort();
#endif
}
