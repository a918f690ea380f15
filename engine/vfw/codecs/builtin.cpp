// The built-in compressors as a provider of the compressor manager. The
// catalogue stores an index into the manager's list, so this order is part of
// the settings file format: append, never reorder.
#include "engine/vfw/codecs/builtin.h"

#include "engine/vfw/ic_provider.h"

namespace vfw {

namespace {

struct Builtin {
    FOURCC handler;
    std::unique_ptr<Codec> (*create)();
};

constexpr Builtin kBuiltins[] = {
    {mmioFOURCC('M', 'S', 'V', 'C'), &CreateMsvcCodec},
    {mmioFOURCC('Z', 'M', 'B', 'V'), &CreateZmbvCodec},
    {mmioFOURCC('M', 'J', 'P', 'G'), &CreateMjpgCodec},
    {mmioFOURCC('D', 'I', 'B', ' '), &CreateDibCodec},
};

class CodecInstance : public IcDriverInstance {
public:
    explicit CodecInstance(std::unique_ptr<Codec> codec) : codec_(std::move(codec)) {}
    LRESULT Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) override {
        return codec_->Message(msg, p1, p2);
    }

private:
    std::unique_ptr<Codec> codec_;
};

class BuiltinProvider : public IcProvider {
public:
    bool Describe(DWORD fccType, DWORD index, ICINFO* info) override {
        if ((fccType != 0 && FourccUpper(fccType) != FourccUpper(ICTYPE_VIDEO)) ||
            index >= std::size(kBuiltins)) {
            return false;
        }
        std::unique_ptr<Codec> codec = kBuiltins[index].create();
        *info = ICINFO{};
        return codec->Message(ICM_GETINFO, reinterpret_cast<DWORD_PTR>(info), sizeof(*info)) ==
               static_cast<LRESULT>(sizeof(*info));
    }

    std::unique_ptr<IcDriverInstance> Open(DWORD fccType, DWORD fccHandler, UINT mode) override {
        if (fccType != 0 && FourccUpper(fccType) != FourccUpper(ICTYPE_VIDEO)) {
            return nullptr;
        }
        // Compressors only: decompression and drawing are not offered.
        if (mode != ICMODE_COMPRESS && mode != ICMODE_FASTCOMPRESS && mode != ICMODE_QUERY) {
            return nullptr;
        }
        for (const Builtin& b : kBuiltins) {
            if (b.handler == FourccUpper(fccHandler)) {
                return std::make_unique<CodecInstance>(b.create());
            }
        }
        return nullptr;
    }
};

}  // namespace

IcProvider& BuiltinCodecs() {
    static BuiltinProvider provider;
    return provider;
}

}  // namespace vfw
