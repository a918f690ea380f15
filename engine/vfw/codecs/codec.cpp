#include "engine/vfw/codecs/codec.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace vfw {

namespace {

const BITMAPINFOHEADER* AsHeader(DWORD_PTR p) {
    return reinterpret_cast<const BITMAPINFOHEADER*>(p);
}

// The query form of ICM_ABOUT / ICM_CONFIGURE: window -1.
constexpr DWORD_PTR kQueryWindow = static_cast<DWORD_PTR>(-1);

std::atomic<const CodecDialogs*> g_dialogs{nullptr};

template <size_t N>
void CopyName(WCHAR (&to)[N], const char16_t* from) {
    size_t i = 0;
    for (; i + 1 < N && from[i] != 0; ++i) {
        to[i] = from[i];
    }
    to[i] = 0;
}

}  // namespace

void Codec::FillInfo(ICINFO* info, FOURCC handler, DWORD flags, const char16_t* name,
                     const char16_t* description) {
    *info = ICINFO{};
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = handler;
    info->dwFlags = flags;
    info->dwVersion = 0x00010000;
    info->dwVersionICM = 0x0104;
    CopyName(info->szName, name);
    CopyName(info->szDescription, description);
}

void SetCodecDialogs(const CodecDialogs* dialogs) { g_dialogs = dialogs; }

LRESULT Codec::ShowAbout(void* window) {
    const CodecDialogs* ui = g_dialogs;
    if (ui == nullptr || ui->about == nullptr) {
        return ICERR_UNSUPPORTED;
    }
    ICINFO info{};
    GetInfo(&info);
    ui->about(window, info, AboutText());
    return ICERR_OK;
}

LRESULT Codec::ShowConfigure(void* window) {
    const CodecDialogs* ui = g_dialogs;
    if (ui == nullptr || ui->choose == nullptr) {
        return ICERR_UNSUPPORTED;
    }
    ICINFO info{};
    GetInfo(&info);
    std::vector<const char*> labels;
    for (int i = 0; i < SettingCount(); ++i) {
        labels.push_back(SettingLabel(i));
    }
    const int chosen = ui->choose(window, info, labels.data(), SettingCount(), Setting());
    if (chosen < 0) {
        return ICERR_ABORT;
    }
    SetSetting(chosen);
    return ICERR_OK;
}

LRESULT Codec::Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2) {
    switch (msg) {
        case ICM_GETINFO: {
            auto* out = reinterpret_cast<ICINFO*>(p1);
            if (out == nullptr || p2 == 0) {
                return 0;
            }
            ICINFO info{};
            GetInfo(&info);
            const size_t n = p2 < sizeof(info) ? static_cast<size_t>(p2) : sizeof(info);
            std::memcpy(out, &info, n);
            return static_cast<LRESULT>(n);
        }
        case ICM_COMPRESS_QUERY:
            if (p1 == 0) {
                return ICERR_BADPARAM;
            }
            return CompressQuery(AsHeader(p1), AsHeader(p2));
        case ICM_COMPRESS_GET_FORMAT: {
            const BITMAPINFOHEADER* in = AsHeader(p1);
            if (in == nullptr) {
                return ICERR_BADPARAM;
            }
            if (CompressQuery(in, nullptr) != ICERR_OK) {
                return ICERR_BADFORMAT;
            }
            if (p2 == 0) {
                return FormatSize(in);
            }
            return GetFormat(in, reinterpret_cast<BITMAPINFOHEADER*>(p2));
        }
        case ICM_COMPRESS_GET_SIZE: {
            const BITMAPINFOHEADER* in = AsHeader(p1);
            if (in == nullptr || CompressQuery(in, nullptr) != ICERR_OK) {
                return 0;
            }
            return MaxFrameSize(in);
        }
        case ICM_COMPRESS_BEGIN: {
            const BITMAPINFOHEADER* in = AsHeader(p1);
            const BITMAPINFOHEADER* out = AsHeader(p2);
            if (in == nullptr || out == nullptr) {
                return ICERR_BADPARAM;
            }
            if (CompressQuery(in, out) != ICERR_OK) {
                return ICERR_BADFORMAT;
            }
            if (began_) {
                CompressEnd();
                began_ = false;
            }
            const LRESULT r = CompressBegin(in, out);
            began_ = r == ICERR_OK;
            firstFrame_ = true;
            return r;
        }
        case ICM_COMPRESS: {
            auto* c = reinterpret_cast<ICCOMPRESS*>(p1);
            if (!began_) {
                return ICERR_BADPARAM;
            }
            if (c == nullptr || p2 < sizeof(ICCOMPRESS) || c->lpbiOutput == nullptr ||
                c->lpOutput == nullptr || c->lpInput == nullptr) {
                return ICERR_BADPARAM;
            }
            const bool key = firstFrame_ || (c->dwFlags & ICCOMPRESS_KEYFRAME) != 0;
            const LRESULT r = Compress(*c, key);
            if (r == ICERR_OK) {
                firstFrame_ = false;
            }
            return r;
        }
        case ICM_COMPRESS_END:
            if (!began_) {
                return ICERR_OK;
            }
            CompressEnd();
            began_ = false;
            return ICERR_OK;
        case ICM_ABOUT:
            if (AboutText() == nullptr) {
                return ICERR_UNSUPPORTED;
            }
            return p1 == kQueryWindow ? ICERR_OK : ShowAbout(reinterpret_cast<void*>(p1));
        case ICM_CONFIGURE:
            if (SettingCount() <= 0) {
                return ICERR_UNSUPPORTED;
            }
            return p1 == kQueryWindow ? ICERR_OK : ShowConfigure(reinterpret_cast<void*>(p1));
        case ICM_GETDEFAULTQUALITY:
            if (p1 == 0) {
                return ICERR_BADPARAM;
            }
            *reinterpret_cast<DWORD*>(p1) = DefaultQuality();
            return ICERR_OK;
        default:
            return ICERR_UNSUPPORTED;
    }
}

}  // namespace vfw
