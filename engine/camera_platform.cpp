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

std::unique_ptr<SoundInput> CameraPlatform::StartSoundInput(const std::string& device,
                                                             SoundInputSink* sink,
                                                             std::string* reason) {
#if defined(_WIN32)
    return ::StartSoundInput(device, sink, reason);
#else
    (void)device;
    (void)sink;
    *reason = "нет устройства записи звука";
    return nullptr;
#endif
}

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
