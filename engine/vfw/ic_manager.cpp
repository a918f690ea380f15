// The compressor manager: lists the compressors of its providers in a stable
// order (built-ins first, then the system's), opens them by handle and routes
// messages. Handles are checked against the set of open ones, so a closed or
// foreign handle answers ICERR_BADHANDLE instead of being dereferenced.
// A handle is used by one thread at a time (ICClose must not race its use).
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "engine/vfw/ic.h"
#include "engine/vfw/ic_provider.h"

namespace vfw {

class IcInstance {
public:
    explicit IcInstance(std::unique_ptr<IcDriverInstance> driver) : driver_(std::move(driver)) {}
    IcDriverInstance& driver() { return *driver_; }

private:
    std::unique_ptr<IcDriverInstance> driver_;
};

namespace {

std::atomic<IcProvider*> g_testProvider{nullptr};

std::vector<IcProvider*> Providers() {
    std::vector<IcProvider*> list{&BuiltinCodecs()};
#if defined(_WIN32)
    list.push_back(&SystemCodecs());
#endif
    if (IcProvider* test = g_testProvider) {
        list.push_back(test);
    }
    return list;
}

// The open handles.
std::mutex g_handlesMutex;
std::unordered_set<IcInstance*>& Handles() {
    static std::unordered_set<IcInstance*> handles;
    return handles;
}

bool IsOpen(HIC hic) {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    return hic != nullptr && Handles().count(hic) != 0;
}


}  // namespace

void SetTestIcProvider(IcProvider* provider) { g_testProvider = provider; }

bool ICInfo(DWORD fccType, DWORD index, ICINFO* info) {
    if (info == nullptr) {
        return false;
    }
    // Each provider is asked for its own compressors of that type in turn;
    // the index runs across them in provider order.
    DWORD local = index;
    for (IcProvider* provider : Providers()) {
        DWORD count = 0;
        ICINFO found{};
        while (provider->Describe(fccType, count, &found)) {
            if (count == local) {
                *info = found;
                return true;
            }
            ++count;
        }
        local -= count;
    }
    return false;
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode) {
    for (IcProvider* provider : Providers()) {
        std::unique_ptr<IcDriverInstance> driver = provider->Open(fccType, fccHandler, mode);
        if (driver) {
            auto* hic = new IcInstance(std::move(driver));
            std::lock_guard<std::mutex> lock(g_handlesMutex);
            Handles().insert(hic);
            return hic;
        }
    }
    return nullptr;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    if (!IsOpen(hic)) {
        return ICERR_BADHANDLE;
    }
    return hic->driver().Message(msg, p1, p2);
}

LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD size) {
    if (info == nullptr || !IsOpen(hic)) {
        return 0;
    }
    const LRESULT r = hic->driver().Message(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(info), size);
    return r > 0 ? r : 0;
}

LRESULT ICClose(HIC hic) {
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        if (hic == nullptr || Handles().erase(hic) == 0) {
            return ICERR_BADHANDLE;
        }
    }
    delete hic;
    return ICERR_OK;
}

}  // namespace vfw
