// The video compressors installed on the system, reached through msvfw32.dll
// loaded at run time, so that a user's own codecs are offered beside the
// built-in ones. Messages are forwarded unchanged: the records the manager
// passes have the platform's layouts, except that the bridge hands the
// previous frame to the temporal compressors that expect it.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "engine/vfw/dib.h"
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

// Bytes of one input frame of format `in`; 0 when its size is unknown.
std::uint64_t FrameBytes(const BITMAPINFOHEADER& in) {
    if (in.biSizeImage != 0) {
        return in.biSizeImage;
    }
    if (in.biCompression != BI_RGB) {
        return 0;
    }
    const std::int64_t height = in.biHeight < 0 ? -static_cast<std::int64_t>(in.biHeight)
                                                : in.biHeight;
    return DibRowBytes(in.biWidth, in.biBitCount) * static_cast<std::uint64_t>(height);
}

// A compressor that declares temporal compression (VIDCF_TEMPORAL) but not
// the fast kind (VIDCF_FASTTEMPORALC) keeps no copy of its own: ICM_COMPRESS
// must hand it the previous input frame (lpbiPrev, lpPrev) on every delta
// frame, as the platform's own compressing stream does. The engine's stream
// keeps no previous frame, so the bridge does: one copy allocated at
// ICM_COMPRESS_BEGIN, refreshed after each frame. Where no copy can be kept
// (a size it cannot tell, no memory), every frame is asked as a key frame.
class SystemInstance : public IcDriverInstance {
public:
    explicit SystemInstance(HANDLE hic) : hic_(hic) {}
    ~SystemInstance() override { Vfw().close(hic_); }
    LRESULT Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) override {
        switch (msg) {
            case ICM_COMPRESS_BEGIN: {
                const LRESULT r = Send(msg, p1, p2);
                if (r == ICERR_OK) {
                    BeginSession(reinterpret_cast<const BITMAPINFOHEADER*>(p1));
                }
                return r;
            }
            case ICM_COMPRESS:
                if (p1 != 0 && p2 >= sizeof(ICCOMPRESS) && mode_ != Previous::None) {
                    return CompressWithPrevious(*reinterpret_cast<const ICCOMPRESS*>(p1));
                }
                return Send(msg, p1, p2);
            case ICM_COMPRESS_END:
                EndSession();
                return Send(msg, p1, p2);
            default:
                return Send(msg, p1, p2);
        }
    }

private:
    enum class Previous { None, Copy, KeyFramesOnly };

    LRESULT Send(UINT msg, DWORD_PTR p1, DWORD_PTR p2) { return Vfw().send(hic_, msg, p1, p2); }

    void BeginSession(const BITMAPINFOHEADER* in) {
        EndSession();
        ICINFO info{};
        info.dwSize = sizeof(info);
        if (Send(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof(info)) <= 0 ||
            (info.dwFlags & VIDCF_TEMPORAL) == 0 || (info.dwFlags & VIDCF_FASTTEMPORALC) != 0) {
            return;
        }
        mode_ = Previous::KeyFramesOnly;
        const std::uint64_t bytes = in != nullptr ? FrameBytes(*in) : 0;
        if (bytes == 0 || bytes > SIZE_MAX) {
            return;
        }
        try {
            previous_.assign(static_cast<size_t>(bytes), 0);
            mode_ = Previous::Copy;
        } catch (const std::bad_alloc&) {
        }
    }

    void EndSession() {
        mode_ = Previous::None;
        havePrevious_ = false;
        std::vector<BYTE>().swap(previous_);
    }

    LRESULT CompressWithPrevious(const ICCOMPRESS& given) {
        ICCOMPRESS c = given;
        if (mode_ == Previous::Copy && havePrevious_ && (c.dwFlags & ICCOMPRESS_KEYFRAME) == 0) {
            c.lpbiPrev = c.lpbiInput;  // the format is fixed from begin to end
            c.lpPrev = previous_.data();
        } else {
            c.dwFlags |= ICCOMPRESS_KEYFRAME;  // nothing to refer to
            c.lpbiPrev = nullptr;
            c.lpPrev = nullptr;
        }
        const LRESULT r = Send(ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&c), sizeof(c));
        if (mode_ == Previous::Copy) {
            havePrevious_ = r == ICERR_OK && c.lpInput != nullptr;
            if (havePrevious_) {
                std::memcpy(previous_.data(), c.lpInput, previous_.size());
            }
        }
        return r;
    }

    HANDLE hic_;
    Previous mode_ = Previous::None;
    std::vector<BYTE> previous_;  // the last input frame, in Copy mode
    bool havePrevious_ = false;
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
