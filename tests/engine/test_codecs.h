// Compressors whose answers a test chooses, offered to the compressor manager
// after the built-in ones (vfw::SetTestIcProvider).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/vfw/ic_provider.h"

struct TestCodecSetup {
    vfw::FOURCC handler = 0;
    std::string description;
    int alignment = 1;              // accepts widths and heights divisible by this
    bool refuseAll = false;         // accepts no input at all
    bool failOpenCompress = false;  // opens in query mode only
    bool failGetFormat = false;     // refuses to name an output format
    int failCompressAfter = -1;     // ICM_COMPRESS fails from this frame on
    bool about = false;
    bool configure = false;
};

class TestCodecProvider : public vfw::IcProvider {
public:
    std::vector<TestCodecSetup> codecs;
    std::atomic<int> framesCompressed{0};

    bool Describe(vfw::DWORD fccType, vfw::DWORD index, vfw::ICINFO* info) override;
    std::unique_ptr<vfw::IcDriverInstance> Open(vfw::DWORD fccType, vfw::DWORD fccHandler,
                                                vfw::UINT mode) override;
};

// Installs the provider for the life of the object.
class ScopedTestCodecs {
public:
    explicit ScopedTestCodecs(TestCodecProvider& p) { vfw::SetTestIcProvider(&p); }
    ~ScopedTestCodecs() { vfw::SetTestIcProvider(nullptr); }
};
