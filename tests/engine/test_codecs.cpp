#include "tests/engine/test_codecs.h"

#include <cstring>

#include "engine/vfw/codecs/codec.h"
#include "engine/vfw/dib.h"

namespace {

void DescribeCodec(const TestCodecSetup& setup, vfw::ICINFO* info) {
    *info = vfw::ICINFO{};
    info->dwSize = sizeof(*info);
    info->fccType = vfw::ICTYPE_VIDEO;
    info->fccHandler = setup.handler;
    for (int i = 0; i < 4; ++i) {
        info->szName[i] = static_cast<vfw::WCHAR>((setup.handler >> (8 * i)) & 0xFF);
    }
    for (size_t i = 0; i < setup.description.size() && i < 127; ++i) {
        info->szDescription[i] = static_cast<vfw::WCHAR>(setup.description[i]);
    }
}

// Uncompressed output, with the failures its setup asks for.
class TestCodec : public vfw::Codec {
public:
    TestCodec(const TestCodecSetup& setup, std::atomic<int>& counter)
        : setup_(setup), counter_(counter) {}

protected:
    void GetInfo(vfw::ICINFO* info) const override { DescribeCodec(setup_, info); }
    vfw::LRESULT CompressQuery(const vfw::BITMAPINFOHEADER* in,
                               const vfw::BITMAPINFOHEADER*) const override {
        if (setup_.refuseAll || !vfw::IsSupportedInput(in) || in->biWidth % setup_.alignment != 0 ||
            in->biHeight % setup_.alignment != 0) {
            return vfw::ICERR_BADFORMAT;
        }
        return vfw::ICERR_OK;
    }
    vfw::LRESULT FormatSize(const vfw::BITMAPINFOHEADER* in) const override {
        return setup_.failGetFormat ? vfw::ICERR_BADFORMAT
                                    : static_cast<vfw::LRESULT>(in->biSize + in->biClrUsed * 4);
    }
    vfw::LRESULT GetFormat(const vfw::BITMAPINFOHEADER* in,
                           vfw::BITMAPINFOHEADER* out) const override {
        std::memcpy(out, in, in->biSize + in->biClrUsed * 4);
        return vfw::ICERR_OK;
    }
    vfw::LRESULT MaxFrameSize(const vfw::BITMAPINFOHEADER* in) const override {
        return static_cast<vfw::LRESULT>(vfw::DibRowBytes(in->biWidth, in->biBitCount) *
                                         static_cast<std::uint64_t>(in->biHeight));
    }
    vfw::LRESULT CompressBegin(const vfw::BITMAPINFOHEADER* in,
                               const vfw::BITMAPINFOHEADER*) override {
        size_ = static_cast<size_t>(MaxFrameSize(in));
        return vfw::ICERR_OK;
    }
    vfw::LRESULT Compress(const vfw::ICCOMPRESS& c, bool) override {
        if (setup_.failCompressAfter >= 0 && frames_ >= setup_.failCompressAfter) {
            return vfw::ICERR_INTERNAL;
        }
        ++frames_;
        ++counter_;
        std::memcpy(c.lpOutput, c.lpInput, size_);
        c.lpbiOutput->biSizeImage = static_cast<vfw::DWORD>(size_);
        *c.lpdwFlags = vfw::AVIIF_KEYFRAME;
        return vfw::ICERR_OK;
    }
    void CompressEnd() override {}
    const char* AboutText() const override { return setup_.about ? "test compressor" : nullptr; }
    int SettingCount() const override { return setup_.configure ? 2 : 0; }
    const char* SettingLabel(int i) const override { return i == 0 ? "one" : "two"; }

private:
    TestCodecSetup setup_;
    std::atomic<int>& counter_;
    size_t size_ = 0;
    int frames_ = 0;
};

class Instance : public vfw::IcDriverInstance {
public:
    explicit Instance(std::unique_ptr<TestCodec> codec) : codec_(std::move(codec)) {}
    vfw::LRESULT Message(vfw::UINT msg, vfw::DWORD_PTR p1, vfw::DWORD_PTR p2) override {
        return codec_->Message(msg, p1, p2);
    }

private:
    std::unique_ptr<TestCodec> codec_;
};

}  // namespace

bool TestCodecProvider::Describe(vfw::DWORD, vfw::DWORD index, vfw::ICINFO* info) {
    if (index >= codecs.size()) {
        return false;
    }
    DescribeCodec(codecs[index], info);
    return true;
}

std::unique_ptr<vfw::IcDriverInstance> TestCodecProvider::Open(vfw::DWORD, vfw::DWORD fccHandler,
                                                               vfw::UINT mode) {
    for (const TestCodecSetup& setup : codecs) {
        if (setup.handler == fccHandler) {
            if (setup.failOpenCompress && mode != vfw::ICMODE_QUERY) {
                return nullptr;
            }
            return std::make_unique<Instance>(std::make_unique<TestCodec>(setup, framesCompressed));
        }
    }
    return nullptr;
}
