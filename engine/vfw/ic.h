// The compressor manager: the installed video compressors, opened by handle
// and driven by messages, with the platform's message numbers, records and
// error codes.
//
// Protocol of a compression run:
//   ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS)
//   ICM_COMPRESS_QUERY / ICM_COMPRESS_GET_FORMAT / ICM_COMPRESS_GET_SIZE
//   ICM_COMPRESS_BEGIN(input, output)
//   ICM_COMPRESS(ICCOMPRESS*) for each frame; ICCOMPRESS_KEYFRAME in dwFlags
//     asks for a key frame, *lpdwFlags tells what the compressor produced
//   ICM_COMPRESS_END; ICClose
// Messages out of order, unknown messages and bad handles get error codes,
// never a crash.
#pragma once

#include <cstdint>

#include "engine/vfw/vfw.h"

// mmsystem.h defines DRV_USER as a macro of the same value.
#pragma push_macro("DRV_USER")
#undef DRV_USER

namespace vfw {

class IcInstance;  // one open compressor (engine/vfw/ic_manager.cpp)
using HIC = IcInstance*;
using DWORD_PTR = std::uintptr_t;

inline constexpr UINT DRV_USER = 0x4000;
inline constexpr UINT ICM_USER = DRV_USER;
inline constexpr UINT ICM_RESERVED = DRV_USER + 0x1000;

inline constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
inline constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
inline constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
inline constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;  // 20490
inline constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;      // 20491
inline constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
inline constexpr UINT ICM_GETQUALITY = ICM_RESERVED + 31;
inline constexpr UINT ICM_SETQUALITY = ICM_RESERVED + 32;
inline constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
inline constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
inline constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;  // 16390
inline constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
inline constexpr UINT ICM_COMPRESS = ICM_USER + 8;
inline constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
inline constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
static_assert(ICM_COMPRESS_QUERY == 16390 && ICM_CONFIGURE == 20490 && ICM_ABOUT == 20491);

inline constexpr LRESULT ICERR_OK = 0;
inline constexpr LRESULT ICERR_UNSUPPORTED = -1;
inline constexpr LRESULT ICERR_BADFORMAT = -2;
inline constexpr LRESULT ICERR_MEMORY = -3;
inline constexpr LRESULT ICERR_INTERNAL = -4;
inline constexpr LRESULT ICERR_BADFLAGS = -5;
inline constexpr LRESULT ICERR_BADPARAM = -6;
inline constexpr LRESULT ICERR_BADSIZE = -7;
inline constexpr LRESULT ICERR_BADHANDLE = -8;
inline constexpr LRESULT ICERR_CANTUPDATE = -9;
inline constexpr LRESULT ICERR_ABORT = -10;
inline constexpr LRESULT ICERR_ERROR = -100;
inline constexpr LRESULT ICERR_BADBITDEPTH = -200;
inline constexpr LRESULT ICERR_BADIMAGESIZE = -201;

inline constexpr UINT ICMODE_COMPRESS = 1;
inline constexpr UINT ICMODE_DECOMPRESS = 2;
inline constexpr UINT ICMODE_FASTDECOMPRESS = 3;
inline constexpr UINT ICMODE_QUERY = 4;
inline constexpr UINT ICMODE_FASTCOMPRESS = 5;

// ICINFO::dwFlags
inline constexpr DWORD VIDCF_QUALITY = 0x0001;
inline constexpr DWORD VIDCF_TEMPORAL = 0x0004;
inline constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;

inline constexpr DWORD ICQUALITY_LOW = 0;
inline constexpr DWORD ICQUALITY_HIGH = 10000;
inline constexpr DWORD ICQUALITY_DEFAULT = 0xFFFFFFFF;

inline constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;

// ICM_COMPRESS: p1 = ICCOMPRESS*, p2 = sizeof(ICCOMPRESS).
struct ICCOMPRESS {
    DWORD dwFlags;                  // ICCOMPRESS_KEYFRAME: make a key frame
    BITMAPINFOHEADER* lpbiOutput;   // output format; biSizeImage receives the frame size
    void* lpOutput;                 // room for ICM_COMPRESS_GET_SIZE bytes
    BITMAPINFOHEADER* lpbiInput;    // the format given to ICM_COMPRESS_BEGIN
    void* lpInput;                  // the frame's pixels
    DWORD* lpckid;                  // optional: chunk id to use
    DWORD* lpdwFlags;               // receives AVIIF_KEYFRAME for a key frame, else 0
    LONG lFrameNum;
    DWORD dwFrameSize;              // wanted size in bytes, 0 = any
    DWORD dwQuality;                // 0..10000 or ICQUALITY_DEFAULT
    BITMAPINFOHEADER* lpbiPrev;     // previous input frame on a delta frame, or null: the
    void* lpPrev;                   // built-ins keep their own; the bridge to the system's
                                    // compressors fills them for those that need them
};
static_assert(sizeof(ICCOMPRESS) == (sizeof(void*) == 4 ? 48 : 88));

// ---- The manager ----

// Describes the index-th installed compressor of type fccType (ICTYPE_VIDEO
// or 0 for any): fills *info (dwSize, fccType, fccHandler, names as far as
// known without opening it). False past the last one.
bool ICInfo(DWORD fccType, DWORD index, ICINFO* info);
// Opens a compressor for `mode`; null when there is none or it refuses.
[[nodiscard]] HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode);
// Fills up to `size` bytes of *info; returns the bytes copied, 0 on failure.
LRESULT ICGetInfo(HIC hic, ICINFO* info, DWORD size);
LRESULT ICClose(HIC hic);
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR p1, DWORD_PTR p2);

// Wrappers named after the platform's macros.
inline LRESULT ICCompressQuery(HIC hic, const void* input, const void* output) {
    return ICSendMessage(hic, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(input),
                         reinterpret_cast<DWORD_PTR>(output));
}
inline LRESULT ICAbout(HIC hic, void* window) {
    return ICSendMessage(hic, ICM_ABOUT, reinterpret_cast<DWORD_PTR>(window), 0);
}
inline bool ICQueryAbout(HIC hic) {
    return ICSendMessage(hic, ICM_ABOUT, static_cast<DWORD_PTR>(-1), 1) == ICERR_OK;
}
inline LRESULT ICConfigure(HIC hic, void* window) {
    return ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(window), 0);
}
inline bool ICQueryConfigure(HIC hic) {
    return ICSendMessage(hic, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), 1) == ICERR_OK;
}

}  // namespace vfw

#pragma pop_macro("DRV_USER")
