// Sources of compressors for the compressor manager (ic_manager.cpp): the
// built-in ones (codecs/builtin.cpp) and, in the Windows build, the ones
// installed on the system (codecs/system_codecs_win32.cpp).
#pragma once

#include <memory>

#include "engine/vfw/ic.h"

namespace vfw {

// One open compressor: its message procedure.
class IcDriverInstance {
public:
    virtual ~IcDriverInstance() = default;
    virtual LRESULT Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) = 0;
};

class IcProvider {
public:
    virtual ~IcProvider() = default;
    // Describes the index-th compressor of type fccType (0 = any) into *info;
    // false past the last one.
    virtual bool Describe(DWORD fccType, DWORD index, ICINFO* info) = 0;
    // Opens the compressor fccHandler (matched without regard to letter case)
    // in `mode`; null when this provider has none or it refuses.
    virtual std::unique_ptr<IcDriverInstance> Open(DWORD fccType, DWORD fccHandler,
                                                   UINT mode) = 0;
};

// The built-in compressors, in catalogue order.
IcProvider& BuiltinCodecs();

#if defined(_WIN32)
// The compressors installed on the system, except those whose handler a
// built-in one already has; empty when msvfw32.dll is missing.
IcProvider& SystemCodecs();
#endif

// Tests add a provider of their own after the others (null removes it).
void SetTestIcProvider(IcProvider* provider);

// Letter case does not matter in handler codes ('msvc' opens 'MSVC').
constexpr FOURCC FourccUpper(FOURCC f) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i) {
        FOURCC c = (f >> (8 * i)) & 0xFF;
        if (c >= 'a' && c <= 'z') {
            c -= 'a' - 'A';
        }
        out |= c << (8 * i);
    }
    return out;
}

}  // namespace vfw
