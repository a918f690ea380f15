// The Video for Windows interface the engine records through: the AVIFile
// calls (files and streams) and the compressor manager's records. It is the
// project's own portable implementation with the platform's names, records
// and result codes, so that callers read like platform code. No windows.h.
//
// Protocol of a recording, as the engine uses it:
//   AVIFileInit; AVIFileOpenA(create|write); AVIFileCreateStreamA;
//   AVIMakeCompressedStream; AVIStreamSetFormat; AVIStreamWrite ... (with
//   AVIStreamFlush about twice a second); AVIStreamEndWrite (compressed);
//   AVIStreamRelease (source, then compressed); AVIFileRelease; AVIFileExit.
// Files and streams are reference counted: a stream keeps its file alive, a
// compressed stream keeps its source alive, and a file being written is
// completed (headers patched, indexes written) when its last reference goes.
#pragma once

#include <cstddef>
#include <cstdint>

// windows.h and mmsystem.h define some of these names as macros with the
// same values; the macros are set aside while the names are declared here
// and restored at the end, so include order does not matter. Win32 files
// use the plain macro where one exists.
#pragma push_macro("mmioFOURCC")
#undef mmioFOURCC
#pragma push_macro("BI_RGB")
#undef BI_RGB
#pragma push_macro("BI_RLE8")
#undef BI_RLE8
#pragma push_macro("BI_RLE4")
#undef BI_RLE4
#pragma push_macro("BI_BITFIELDS")
#undef BI_BITFIELDS
#pragma push_macro("OF_READ")
#undef OF_READ
#pragma push_macro("OF_WRITE")
#undef OF_WRITE
#pragma push_macro("OF_CREATE")
#undef OF_CREATE
#pragma push_macro("WAVE_FORMAT_PCM")
#undef WAVE_FORMAT_PCM

namespace vfw {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using FOURCC = DWORD;
using WCHAR = char16_t;  // UTF-16 code unit, as the platform's WCHAR
using LRESULT = std::intptr_t;
using LPARAM = std::intptr_t;

// Four characters in one value, the first in the lowest byte.
constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) |
           static_cast<FOURCC>(static_cast<BYTE>(b)) << 8 |
           static_cast<FOURCC>(static_cast<BYTE>(c)) << 16 |
           static_cast<FOURCC>(static_cast<BYTE>(d)) << 24;
}

inline constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
inline constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
inline constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

// ---- Published records, laid out as the platform's ----

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(RECT) == 16);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_RLE8 = 1;
inline constexpr DWORD BI_RLE4 = 2;
inline constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows stored bottom-up
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

inline constexpr WORD WAVE_FORMAT_PCM = 1;

// The format of a sound stream ('strf' of an 'auds' stream, 'fmt ' of a WAV
// file, which stores only the first 16 bytes for PCM). Packed, as the
// platform's.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;  // nSamplesPerSec * nBlockAlign
    WORD nBlockAlign;       // bytes of one sample of every channel
    WORD wBitsPerSample;
    WORD cbSize;  // bytes of extra format data that follow; 0 for PCM
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;  // samples per second = dwRate / dwScale
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

inline constexpr DWORD AVICOMPRESSF_INTERLEAVE = 0x01;
inline constexpr DWORD AVICOMPRESSF_DATARATE = 0x02;
inline constexpr DWORD AVICOMPRESSF_KEYFRAMES = 0x04;
inline constexpr DWORD AVICOMPRESSF_VALID = 0x08;

struct AVICOMPRESSOPTIONS {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwKeyFrameEvery;
    DWORD dwQuality;  // 0..10000
    DWORD dwBytesPerSecond;
    DWORD dwFlags;
    void* lpFormat;
    DWORD cbFormat;
    void* lpParms;
    DWORD cbParms;
    DWORD dwInterleaveEvery;
};
static_assert(sizeof(AVICOMPRESSOPTIONS) == (sizeof(void*) == 4 ? 44 : 56));

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};
static_assert(sizeof(ICINFO) == 568);

// ---- AVIFile result codes (HRESULTs of facility ITF) ----

constexpr HRESULT MakeAviErr(unsigned code) {
    return static_cast<HRESULT>(0x80040000u | (0x4000u + code));
}
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);  // 0x80044065
inline constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
inline constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
inline constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
inline constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
inline constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
inline constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
inline constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
inline constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
inline constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
inline constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
inline constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
inline constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113);
inline constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
inline constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
inline constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
inline constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);  // 0x80044075
inline constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);     // 0x800440C6
inline constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);         // 0x800440C7
static_assert(static_cast<DWORD>(AVIERR_UNSUPPORTED) == 0x80044065u);
static_assert(static_cast<DWORD>(AVIERR_CANTCOMPRESS) == 0x80044075u);
static_assert(static_cast<DWORD>(AVIERR_USERABORT) == 0x800440C6u);
static_assert(static_cast<DWORD>(AVIERR_ERROR) == 0x800440C7u);

// AVIFileOpenA modes (the platform's OF_ flags).
inline constexpr UINT OF_READ = 0x0000;
inline constexpr UINT OF_WRITE = 0x0001;
inline constexpr UINT OF_CREATE = 0x1000;

// Sample flags of AVIStreamWrite and of the index.
inline constexpr DWORD AVIIF_LIST = 0x01;
inline constexpr DWORD AVIIF_KEYFRAME = 0x10;
inline constexpr DWORD AVIIF_NOTIME = 0x100;

// ---- Handles ----

class AviFile;    // engine/vfw/avi_file.h
class AviStream;  // engine/vfw/avi_stream.h
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;

// Progress callback of AVISaveV: percent done in, non-zero out to cancel.
#if defined(_WIN32) && !defined(_WIN64)
#define VFW_CALLBACK __stdcall
#else
#define VFW_CALLBACK
#endif
using AVISAVECALLBACK = LONG(VFW_CALLBACK*)(int percent);

// ---- The AVIFile library ----

// Library reference count; both are balanced per recording.
void AVIFileInit();
void AVIFileExit();

// Release version of the library: high word 0x010A (1.10).
DWORD VideoForWindowsVersion();

// Opens (OF_READ) or creates (OF_CREATE | OF_WRITE) an AVI file. `handler`
// must be null. On success *file holds one reference. A WAV file (RIFF
// 'WAVE') opens for reading too, as a file of one sound stream.
[[nodiscard]] HRESULT AVIFileOpenA(PAVIFILE* file, const char* fileName, UINT mode,
                                   const void* handler);
// Drops one reference; the last one completes a file being written and
// closes it. Returns the references left.
ULONG AVIFileRelease(PAVIFILE file);

// Adds a stream to a file being written; *stream holds one reference. A
// file takes one video stream ('vids') and one PCM sound stream ('auds':
// dwScale = nBlockAlign, dwRate = nAvgBytesPerSec, dwSampleSize =
// nBlockAlign), every stream declared before the first write.
[[nodiscard]] HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream,
                                           const AVISTREAMINFOA* info);
// First stream of type fccType (0 = any) at index `index` of an open file.
[[nodiscard]] HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD fccType,
                                       LONG index);

[[nodiscard]] HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, const void* format,
                                         LONG formatSize);
// Writes `samples` samples at `start` (-1: after the last one). Video: one
// frame; positions between the previous write and `start` become empty
// entries of the timeline. Sound: `samples` whole blocks (bufferSize =
// samples * nBlockAlign) in one chunk, at the stream's next position.
[[nodiscard]] HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples,
                                     const void* buffer, LONG bufferSize, DWORD flags,
                                     LONG* samplesWritten, LONG* bytesWritten);
// Writes one video frame like AVIStreamWrite without copying it: the stream
// may read `buffer` until it calls release(context), which it does exactly
// once on every path, a refused write included (before returning then). A
// compressing stream queues the frame itself and releases it once the
// compressor is done with it; other streams write it and release it at
// once. Not a call of the platform's library.
using FrameRelease = void (*)(void* context);
[[nodiscard]] HRESULT AVIStreamWriteBorrowed(PAVISTREAM stream, LONG start, const void* buffer,
                                             LONG bufferSize, DWORD flags, FrameRelease release,
                                             void* context);
// Completes the writing of a stream and its file and reports how it ended:
// a compressed stream first compresses and writes the frames still queued.
// AVIERR_OK only when every frame written so far and the file's indexes and
// headers reached the file; otherwise the first error met. Later writes are
// refused. Release alone completes the file too but cannot report. Not a
// call of the platform's library, whose release has no result.
[[nodiscard]] HRESULT AVIStreamEndWrite(PAVISTREAM stream);
// Hands the frames written so far to the operating system, so that the file
// holds them even if the process is killed before the stream ends (bytes
// handed to the system survive the process; no sync to the disk). The file
// then reads as a recording of those frames: header, whole frames, no index.
// A compressed stream returns at once: the flush is queued behind the frames
// it holds and done by its compression thread in order with them; a failure
// surfaces at the next write or at AVIStreamEndWrite. Returns the stream's
// first failure so far, if any. Not a call of the platform's library.
[[nodiscard]] HRESULT AVIStreamFlush(PAVISTREAM stream);
ULONG AVIStreamRelease(PAVISTREAM stream);

// Reading a stream (used by AVISaveV and tests).
[[nodiscard]] HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG infoSize);
// With format == nullptr, *formatSize receives the size needed.
[[nodiscard]] HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format,
                                          LONG* formatSize);
// With buffer == nullptr, *bytes receives the size of what would be read.
// Video: the one frame at `start`. Sound: `samples` blocks from block
// `start` (-1: to the end of the chunk holding it), as many as the buffer
// and the stream hold; AVIERR_BUFFERTOOSMALL when not one block fits.
[[nodiscard]] HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer,
                                    LONG bufferSize, LONG* bytes, LONG* samplesRead);
LONG AVIStreamStart(PAVISTREAM stream);
LONG AVIStreamLength(PAVISTREAM stream);

// A stream that compresses every frame written to it with the compressor
// options->fccHandler and writes the result to `source`. `handler` must be null.
[[nodiscard]] HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                              const AVICOMPRESSOPTIONS* options,
                                              const void* handler);

// Copies `streamCount` streams into a new file without recompressing
// (`options` entries must be null): a video stream, and optionally a PCM
// sound stream, interleaved as players expect (one chunk of sound before
// each video frame, both streams starting together). `callback` gets
// percentages rising to 100; a non-zero answer stops the copy with
// AVIERR_USERABORT.
[[nodiscard]] HRESULT AVISaveV(const char* fileName, const void* handler,
                               AVISAVECALLBACK callback, int streamCount,
                               PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);
// Frees what the option records own (lpFormat, lpParms) and clears them.
HRESULT AVISaveOptionsFree(int count, AVICOMPRESSOPTIONS** options);

}  // namespace vfw

#pragma pop_macro("mmioFOURCC")
#pragma pop_macro("BI_RGB")
#pragma pop_macro("BI_RLE8")
#pragma pop_macro("BI_RLE4")
#pragma pop_macro("BI_BITFIELDS")
#pragma pop_macro("OF_READ")
#pragma pop_macro("OF_WRITE")
#pragma pop_macro("OF_CREATE")
#pragma pop_macro("WAVE_FORMAT_PCM")
