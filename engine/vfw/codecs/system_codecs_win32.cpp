// The video compressors installed on the system, reached through msvfw32.dll
// loaded at run time, so that a user's own codecs are offered beside the
// built-in ones. Messages are forwarded unchanged: the records the manager
// passes have the platform's layouts.
#include <windows.h>

#include <mutex>
#include <vector>

#include "engine/vfw/ic_provider.h"
#include "win32/system_dll.h"

namespace vfw {

namespace {

using SysInfoFn = BOOL(WINAPI*)(DWORD fccType, DWORD fccHandler, ICINFO* info);
using SysOpenFn = HANDLE(WINAPI*)(DWORD fccType, DWORD fccHandler, UINT mode);
using SysSendFn = LRESULT(WINAPI*)(HANDLE hic, UINT msg, DWORD_PTR p1, DWORD_PTR p2);
using SysCloseFn = LRESULT(WINAPI*)(HANDLE hic);

static_assert(sizeof(WCHAR) == sizeof(vfw::WCHAR), "ICINFO names are UTF-16 on both sides");

struct SystemVfw {
    HMODULE module = nullptr;
    SysInfoFn info = nullptr;
    SysOpenFn open = nullptr;
    SysSendFn send = nullptr;
    SysCloseFn close = nullptr;

    bool ok() const { return info != nullptr && open != nullptr && send != nullptr && close != nullptr; }
};

// Loaded once and kept for the life of the process: open system compressors
// live in that module.
const SystemVfw& Vfw() {
    static const SystemVfw vfw = [] {
        SystemVfw v;
        v.module = win32::LoadSystemDll(L"msvfw32.dll");
        if (v.module != nullptr) {
            v.info = reinterpret_cast<SysInfoFn>(reinterpret_cast<void*>(GetProcAddress(v.module, "ICInfo")));
            v.open = reinterpret_cast<SysOpenFn>(reinterpret_cast<void*>(GetProcAddress(v.module, "ICOpen")));
            v.send = reinterpret_cast<SysSendFn>(reinterpret_cast<void*>(GetProcAddress(v.module, "ICSendMessage")));
            v.close = reinterpret_cast<SysCloseFn>(reinterpret_cast<void*>(GetProcAddress(v.module, "ICClose")));
        }
        return v;
    }();
    return vfw;
}

bool IsBuiltinHandler(FOURCC handler) {
    static const std::vector<FOURCC> builtins = [] {
        std::vector<FOURCC> list;
        ICINFO info{};
        for (DWORD i = 0; BuiltinCodecs().Describe(ICTYPE_VIDEO, i, &info); ++i) {
            list.push_back(FourccUpper(info.fccHandler));
        }
        return list;
    }();
    for (FOURCC b : builtins) {
        if (b == FourccUpper(handler)) {
            return true;
        }
    }
    return false;
}

class SystemInstance : public IcDriverInstance {
public:
    explicit SystemInstance(HANDLE hic) : hic_(hic) {}
    ~SystemInstance() override { Vfw().close(hic_); }
    LRESULT Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) override {
        return Vfw().send(hic_, msg, p1, p2);
    }

private:
    HANDLE hic_;
};

class SystemProvider : public IcProvider {
public:
    bool Describe(DWORD fccType, DWORD index, ICINFO* info) override {
        const SystemVfw& v = Vfw();
        if (!v.ok()) {
            return false;
        }
        // The system's own list, less what a built-in compressor answers for.
        DWORD seen = 0;
        ICINFO found{};
        for (DWORD i = 0; i < 256; ++i) {
            found = ICINFO{};
            found.dwSize = sizeof(found);
            if (!v.info(fccType == 0 ? ICTYPE_VIDEO : fccType, i, &found)) {
                return false;
            }
            if (IsBuiltinHandler(found.fccHandler)) {
                continue;
            }
            if (seen++ == index) {
                *info = found;
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<IcDriverInstance> Open(DWORD fccType, DWORD fccHandler, UINT mode) override {
        const SystemVfw& v = Vfw();
        if (!v.ok() || IsBuiltinHandler(fccHandler)) {
            return nullptr;
        }
        HANDLE hic = v.open(fccType == 0 ? ICTYPE_VIDEO : fccType, fccHandler, mode);
        if (hic == nullptr) {
            return nullptr;
        }
        return std::make_unique<SystemInstance>(hic);
    }
};

}  // namespace

IcProvider& SystemCodecs() {
    static SystemProvider provider;
    return provider;
}

}  // namespace vfw
