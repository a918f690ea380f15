// The bridge to the compressors installed on the system, under Wine: it hands
// a temporal compressor the previous frame, and a msvfw32.dll planted beside
// the program is never loaded. The test program itself imports neither
// msvfw32 nor winmm: both are loaded through win32/system_dll.h.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "engine/vfw/ic_provider.h"
#include "engine/vfw/vfw.h"
#include "tests/support/test_paths.h"
#include "win32/handles.h"
#include "win32/system_dll.h"

namespace {

// ---- A temporal compressor installed in msvfw32 for this process ----

constexpr vfw::FOURCC kTemporal = vfw::mmioFOURCC('K', 'T', 'M', 'P');
constexpr vfw::FOURCC kFastTemporal = vfw::mmioFOURCC('K', 'F', 'T', 'C');
constexpr LONG kWidth = 16;
constexpr LONG kHeight = 8;
constexpr size_t kFrameBytes = kWidth * 3 * kHeight;

// What the compressor saw in each ICM_COMPRESS: whether a key frame was
// asked, and the previous frame it was given (-1: none; else the byte that
// fills all of it, -2 when it is not one byte throughout or lacks its format).
struct Seen {
    bool keyAsked;
    int previous;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK TemporalDriver(DWORD_PTR id, HANDLE, UINT msg, LPARAM p1, LPARAM p2) {
    constexpr UINT kDrvOpen = 3;
    const auto handler = static_cast<vfw::FOURCC>(id);
    const auto* in = reinterpret_cast<const vfw::BITMAPINFOHEADER*>(p1);
    switch (msg) {
        case kDrvOpen:  // the instance id is its handler code
            return p2 != 0 ? reinterpret_cast<const DWORD*>(p2)[2] : 1;
        case vfw::ICM_GETINFO: {
            auto* info = reinterpret_cast<vfw::ICINFO*>(p1);
            *info = vfw::ICINFO{};
            info->dwSize = sizeof(*info);
            info->fccType = vfw::ICTYPE_VIDEO;
            info->fccHandler = handler;
            info->dwFlags =
                vfw::VIDCF_TEMPORAL | (handler == kFastTemporal ? vfw::VIDCF_FASTTEMPORALC : 0);
            return sizeof(*info);
        }
        case vfw::ICM_COMPRESS_QUERY:
            return in->biBitCount == 24 ? vfw::ICERR_OK : vfw::ICERR_BADFORMAT;
        case vfw::ICM_COMPRESS_GET_FORMAT:
            if (p2 != 0) {
                auto* out = reinterpret_cast<vfw::BITMAPINFOHEADER*>(p2);
                *out = *in;
                out->biCompression = handler;
                return vfw::ICERR_OK;
            }
            return sizeof(vfw::BITMAPINFOHEADER);
        case vfw::ICM_COMPRESS_GET_SIZE:
            return 16;
        case vfw::ICM_COMPRESS: {
            const auto& c = *reinterpret_cast<const vfw::ICCOMPRESS*>(p1);
            Seen seen{(c.dwFlags & vfw::ICCOMPRESS_KEYFRAME) != 0, -1};
            if (c.lpPrev != nullptr) {
                const auto* prev = static_cast<const BYTE*>(c.lpPrev);
                seen.previous = prev[0];
                for (size_t i = 0; i < kFrameBytes; ++i) {
                    seen.previous = prev[i] == prev[0] ? seen.previous : -2;
                }
                if (c.lpbiPrev == nullptr || c.lpbiPrev->biWidth != kWidth) {
                    seen.previous = -2;
                }
            }
            g_seen.push_back(seen);
            static_cast<BYTE*>(c.lpOutput)[0] = static_cast<const BYTE*>(c.lpInput)[0];
            c.lpbiOutput->biSizeImage = 1;
            *c.lpdwFlags = seen.keyAsked ? vfw::AVIIF_KEYFRAME : 0;
            return vfw::ICERR_OK;
        }
        default:
            return msg < vfw::DRV_USER ? 1 : vfw::ICERR_OK;  // load, enable, close, free...
    }
}

using IcInstallFn = BOOL(WINAPI*)(DWORD type, DWORD handler, LPARAM proc, char* desc, UINT flags);
using IcRemoveFn = BOOL(WINAPI*)(DWORD type, DWORD handler, UINT flags);

// Records 5 frames of one byte each (10, 20, ...) through the compressing
// stream with a key frame due every 3, and returns what the compressor saw.
std::vector<Seen> RecordThrough(vfw::FOURCC handler) {
    g_seen.clear();
    // The bridge's own msvfw32: a failed open is enough to load it. The test
    // loads it no other way, so that the planted DLL's test sees only the bridge.
    EXPECT_EQ(vfw::ICOpen(vfw::ICTYPE_VIDEO, handler, vfw::ICMODE_QUERY), nullptr);
    HMODULE msvfw = GetModuleHandleW(L"msvfw32.dll");
    const auto install =
        reinterpret_cast<IcInstallFn>(reinterpret_cast<void*>(GetProcAddress(msvfw, "ICInstall")));
    const auto remove =
        reinterpret_cast<IcRemoveFn>(reinterpret_cast<void*>(GetProcAddress(msvfw, "ICRemove")));
    constexpr UINT kInstallFunction = 1;
    EXPECT_TRUE(install != nullptr && remove != nullptr &&
                install(vfw::ICTYPE_VIDEO, handler, reinterpret_cast<LPARAM>(&TemporalDriver),
                        nullptr, kInstallFunction));

    const std::string path = kelvora::test::OutputPath("temporal.avi");
    vfw::PAVIFILE file = nullptr;
    vfw::PAVISTREAM source = nullptr;
    vfw::PAVISTREAM compressed = nullptr;
    EXPECT_EQ(vfw::AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE, nullptr),
              vfw::AVIERR_OK);
    vfw::AVISTREAMINFOA info{};
    info.fccType = vfw::streamtypeVIDEO;
    info.fccHandler = handler;
    info.dwScale = 1;
    info.dwRate = 25;
    EXPECT_EQ(vfw::AVIFileCreateStreamA(file, &source, &info), vfw::AVIERR_OK);
    vfw::AVICOMPRESSOPTIONS options{};
    options.fccType = vfw::streamtypeVIDEO;
    options.fccHandler = handler;
    options.dwKeyFrameEvery = 3;
    options.dwFlags = vfw::AVICOMPRESSF_KEYFRAMES | vfw::AVICOMPRESSF_VALID;
    EXPECT_EQ(vfw::AVIMakeCompressedStream(&compressed, source, &options, nullptr), vfw::AVIERR_OK);
    vfw::BITMAPINFOHEADER format{};
    format.biSize = sizeof(format);
    format.biWidth = kWidth;
    format.biHeight = kHeight;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = BI_RGB;  // biSizeImage 0: the bridge works the size out
    if (compressed != nullptr) {
        EXPECT_EQ(vfw::AVIStreamSetFormat(compressed, 0, &format, sizeof(format)), vfw::AVIERR_OK);
        for (LONG i = 0; i < 5; ++i) {
            std::vector<BYTE> frame(kFrameBytes, static_cast<BYTE>(10 * (i + 1)));
            EXPECT_EQ(vfw::AVIStreamWrite(compressed, i, 1, frame.data(),
                                          static_cast<LONG>(frame.size()), 0, nullptr, nullptr),
                      vfw::AVIERR_OK);
        }
        vfw::AVIStreamRelease(compressed);  // waits for the queued frames
    }
    if (source != nullptr) {
        vfw::AVIStreamRelease(source);
    }
    if (file != nullptr) {
        vfw::AVIFileRelease(file);
    }
    if (remove != nullptr) {
        remove(vfw::ICTYPE_VIDEO, handler, 0);
    }
    return g_seen;
}

std::vector<std::pair<bool, int>> Pairs(const std::vector<Seen>& seen) {
    std::vector<std::pair<bool, int>> out;
    for (const Seen& s : seen) {
        out.emplace_back(s.keyAsked, s.previous);
    }
    return out;
}

TEST(SystemTemporalCompressor, GetsThePreviousFrameOnDeltaFramesOnly) {
    // Key frames at 0 and 3; each delta frame sees the frame before it.
    EXPECT_EQ(Pairs(RecordThrough(kTemporal)),
              (std::vector<std::pair<bool, int>>{
                  {true, -1}, {false, 10}, {false, 20}, {true, -1}, {false, 40}}));
}

TEST(SystemTemporalCompressor, ThatCompressesFastTemporallyGetsNoPreviousFrame) {
    EXPECT_EQ(Pairs(RecordThrough(kFastTemporal)),
              (std::vector<std::pair<bool, int>>{
                  {true, -1}, {false, -1}, {false, -1}, {true, -1}, {false, -1}}));
}

// ---- A msvfw32.dll planted beside the program ----
//
// ctest runs this program with WINEDLLOVERRIDES=msvfw32=n,b, so Wine takes a
// native msvfw32.dll wherever the search finds one first.

enum ChildResult : DWORD {
    kLoadedSystem = 1,
    kLoadedMarker = 2,
    kNotLoaded = 3,
    kNoRestriction = 4
};

bool MarkerLoadedIn(DWORD pid) {
    wchar_t name[64];
    std::swprintf(name, 64, L"kelvora-planted-msvfw32-%lu", pid);
    return static_cast<bool>(win32::Handle(OpenEventW(SYNCHRONIZE, FALSE, name)));
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, n);
    return full.substr(0, full.find_last_of(L'\\') + 1);
}

// The ways a child process loads msvfw32.dll.
DWORD ChildLoad(const std::wstring& how) {
    HMODULE module = nullptr;
    if (how == L"bare") {
        module = LoadLibraryW(L"msvfw32.dll");
    } else if (how == L"restricted") {
        if (!win32::RestrictDllSearch()) {
            return kNoRestriction;
        }
        module = LoadLibraryW(L"msvfw32.dll");
    } else if (how == L"by-path") {
        module = win32::LoadSystemDllByPath(L"msvfw32.dll");
    }
    if (module == nullptr) {
        return kNotLoaded;
    }
    return MarkerLoadedIn(GetCurrentProcessId()) ? kLoadedMarker : kLoadedSystem;
}

DWORD RunChild(const wchar_t* how) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" --load " + how;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &pi)) {
        return 0;
    }
    win32::Handle process(pi.hProcess);
    win32::Handle thread(pi.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(PlantedMsvfw32, TheBridgeListsTheSystemsCompressorsWithoutLoadingIt) {
    // This process restricts nothing: only the bridge's loader keeps it out.
    vfw::ICINFO info{};
    std::vector<vfw::FOURCC> system;
    for (vfw::DWORD i = 0; vfw::ICInfo(vfw::ICTYPE_VIDEO, i, &info); ++i) {
        if (vfw::HIC hic = vfw::ICOpen(info.fccType, info.fccHandler, vfw::ICMODE_QUERY)) {
            vfw::ICClose(hic);
            system.push_back(vfw::FourccUpper(info.fccHandler));
        }
    }
    EXPECT_GE(system.size(), 5u) << "the four built-ins and at least one of Wine's";
    EXPECT_NE(std::find(system.begin(), system.end(), vfw::mmioFOURCC('M', 'R', 'L', 'E')),
              system.end());
    EXPECT_FALSE(MarkerLoadedIn(GetCurrentProcessId()));

    wchar_t loaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"msvfw32.dll"), loaded, MAX_PATH);
    wchar_t systemDir[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(systemDir, MAX_PATH);
    EXPECT_EQ(_wcsnicmp(loaded, systemDir, n), 0) << "msvfw32 came from the system directory";
}

TEST(PlantedMsvfw32, IsTakenByABareLoadUnlessTheSearchIsRestricted) {
    EXPECT_EQ(RunChild(L"bare"), kLoadedMarker) << "the plant works when nothing stops it";
    EXPECT_EQ(RunChild(L"restricted"), kLoadedSystem);
    EXPECT_EQ(RunChild(L"by-path"), kLoadedSystem);
}

// Plants the marker, built beside this program under another name, as
// msvfw32.dll for as long as the program runs.
class Planted {
public:
    Planted() : path_(ProgramDirectory() + L"msvfw32.dll") {
        planted_ = CopyFileW((ProgramDirectory() + L"planted_msvfw32_marker.dll").c_str(),
                             path_.c_str(), FALSE) != 0;
    }
    ~Planted() { DeleteFileW(path_.c_str()); }
    bool ok() const { return planted_; }

private:
    std::wstring path_;
    bool planted_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--load") {
        return static_cast<int>(ChildLoad(argv[2]));
    }
    Planted planted;
    if (!planted.ok()) {
        std::fprintf(stderr, "could not plant msvfw32.dll beside the program\n");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
