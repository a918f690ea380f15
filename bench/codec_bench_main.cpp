// Compressor benchmark: compresses a raw screen clip through a codec's
// message interface on the calling thread and reports speed, size and
// allocations; writes the compressed frames into an AVI so that
// codec_bench.sh can measure their quality with ffmpeg.
//
//   <codec>_bench --clip FILE [--width 1920 --height 1080] [--frames N]
//                 [--quality Q] [--key N] [--depth 32] [--out FILE.avi]
//
// The clip holds B, G, R, A frames, top row first (bench/make_screen_clip.sh).
#include "bench/codec_bench_main.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "engine/vfw/dib.h"
#include "engine/vfw/vfw.h"

namespace {

// Counts every allocation of the process, so that the compress loop can show
// that a codec allocates nothing per frame.
std::atomic<long long> g_allocations{0};

struct Options {
    std::string clip;
    std::string out;
    int width = 1920;
    int height = 1080;
    int frames = 0;  // 0 = the whole clip
    int depth = 32;
    vfw::DWORD quality = vfw::ICQUALITY_DEFAULT;
    int keyEvery = 15;
};

bool ParseArgs(int argc, char** argv, Options* o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const char* v = argv[i + 1];
        if (k == "--clip") {
            o->clip = v;
        } else if (k == "--out") {
            o->out = v;
        } else if (k == "--width") {
            o->width = std::atoi(v);
        } else if (k == "--height") {
            o->height = std::atoi(v);
        } else if (k == "--frames") {
            o->frames = std::atoi(v);
        } else if (k == "--depth") {
            o->depth = std::atoi(v);
        } else if (k == "--quality") {
            o->quality = static_cast<vfw::DWORD>(std::atol(v));
        } else if (k == "--key") {
            o->keyEvery = std::atoi(v);
        } else {
            std::fprintf(stderr, "unknown option %s\n", k.c_str());
            return false;
        }
    }
    return !o->clip.empty() && o->width > 0 && o->height > 0 &&
           (o->depth == 8 || o->depth == 16 || o->depth == 24 || o->depth == 32);
}

// One clip frame as a bottom-up DIB of the chosen depth (8 bits: 3-3-2 palette).
void ToDib(const std::uint8_t* bgra, const Options& o, std::uint8_t* bits) {
    const size_t rowBytes = vfw::DibRowBytes(o.width, static_cast<unsigned>(o.depth));
    for (int y = 0; y < o.height; ++y) {
        const std::uint8_t* src = bgra + static_cast<size_t>(y) * o.width * 4;
        std::uint8_t* dst = bits + rowBytes * static_cast<size_t>(o.height - 1 - y);
        for (int x = 0; x < o.width; ++x) {
            const std::uint8_t b = src[x * 4], g = src[x * 4 + 1], r = src[x * 4 + 2];
            switch (o.depth) {
                case 8:
                    dst[x] = static_cast<std::uint8_t>((r & 0xE0) | (g & 0xE0) >> 3 | b >> 6);
                    break;
                case 16: {
                    const unsigned v = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
                    dst[x * 2] = static_cast<std::uint8_t>(v);
                    dst[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                case 24:
                    dst[x * 3] = b, dst[x * 3 + 1] = g, dst[x * 3 + 2] = r;
                    break;
                default:
                    dst[x * 4] = b, dst[x * 4 + 1] = g, dst[x * 4 + 2] = r, dst[x * 4 + 3] = 0;
                    break;
            }
        }
    }
}

std::vector<std::uint8_t> InputFormat(const Options& o, size_t imageSize) {
    const size_t colors = o.depth == 8 ? 256 : 0;
    std::vector<std::uint8_t> fmt(sizeof(vfw::BITMAPINFOHEADER) + colors * 4);
    auto* bi = reinterpret_cast<vfw::BITMAPINFOHEADER*>(fmt.data());
    bi->biSize = sizeof(vfw::BITMAPINFOHEADER);
    bi->biWidth = o.width;
    bi->biHeight = o.height;
    bi->biPlanes = 1;
    bi->biBitCount = static_cast<vfw::WORD>(o.depth);
    bi->biCompression = vfw::BI_RGB;
    bi->biSizeImage = static_cast<vfw::DWORD>(imageSize);
    bi->biClrUsed = static_cast<vfw::DWORD>(colors);
    auto* pal = reinterpret_cast<vfw::RGBQUAD*>(fmt.data() + bi->biSize);
    for (size_t i = 0; i < colors; ++i) {
        pal[i] = {static_cast<std::uint8_t>((i & 3) * 85),
                  static_cast<std::uint8_t>((i >> 2 & 7) * 36),
                  static_cast<std::uint8_t>((i >> 5 & 7) * 36), 0};
    }
    return fmt;
}

struct Packet {
    std::vector<std::uint8_t> data;
    vfw::DWORD flags;
};

bool WriteAvi(const std::string& path, const std::vector<std::uint8_t>& outFormat,
              vfw::FOURCC handler, const std::vector<Packet>& packets, const Options& o) {
    vfw::AVIFileInit();
    vfw::PAVIFILE file = nullptr;
    bool ok = vfw::AVIFileOpenA(&file, path.c_str(), vfw::OF_CREATE | vfw::OF_WRITE, nullptr) ==
              vfw::AVIERR_OK;
    vfw::PAVISTREAM stream = nullptr;
    if (ok) {
        vfw::AVISTREAMINFOA info{};
        info.fccType = vfw::streamtypeVIDEO;
        info.fccHandler = handler;
        info.dwScale = 1;
        info.dwRate = 10;
        info.rcFrame = {0, 0, o.width, o.height};
        ok = vfw::AVIFileCreateStreamA(file, &stream, &info) == vfw::AVIERR_OK &&
             vfw::AVIStreamSetFormat(stream, 0, outFormat.data(),
                                     static_cast<vfw::LONG>(outFormat.size())) == vfw::AVIERR_OK;
    }
    for (size_t i = 0; ok && i < packets.size(); ++i) {
        ok = vfw::AVIStreamWrite(stream, static_cast<vfw::LONG>(i), 1, packets[i].data.data(),
                                 static_cast<vfw::LONG>(packets[i].data.size()), packets[i].flags,
                                 nullptr, nullptr) == vfw::AVIERR_OK;
    }
    if (stream != nullptr) {
        vfw::AVIStreamRelease(stream);
    }
    if (file != nullptr) {
        vfw::AVIFileRelease(file);
    }
    vfw::AVIFileExit();
    return ok;
}

}  // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int RunCodecBench(int argc, char** argv, std::unique_ptr<vfw::Codec> (*create)()) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: %s --clip FILE [--width W --height H] [--frames N] [--depth D] "
                     "[--quality Q] [--key N] [--out FILE.avi]\n",
                     argv[0]);
        return 2;
    }
    const size_t clipFrameBytes = static_cast<size_t>(o.width) * o.height * 4;
    std::FILE* clip = std::fopen(o.clip.c_str(), "rb");
    if (clip == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", o.clip.c_str());
        return 1;
    }
    const size_t imageSize = vfw::DibRowBytes(o.width, static_cast<unsigned>(o.depth)) * o.height;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::uint8_t> raw(clipFrameBytes);
    while ((o.frames == 0 || static_cast<int>(frames.size()) < o.frames) &&
           std::fread(raw.data(), 1, raw.size(), clip) == raw.size()) {
        frames.emplace_back(imageSize);
        ToDib(raw.data(), o, frames.back().data());
    }
    std::fclose(clip);
    if (frames.empty()) {
        std::fprintf(stderr, "no frames in %s\n", o.clip.c_str());
        return 1;
    }

    std::unique_ptr<vfw::Codec> codec = create();
    const std::vector<std::uint8_t> inFormat = InputFormat(o, imageSize);
    const auto* in = reinterpret_cast<const vfw::BITMAPINFOHEADER*>(inFormat.data());
    const auto p = [](const void* x) { return reinterpret_cast<vfw::DWORD_PTR>(x); };
    const vfw::LRESULT formatSize = codec->Message(vfw::ICM_COMPRESS_GET_FORMAT, p(in), 0);
    if (formatSize < static_cast<vfw::LRESULT>(sizeof(vfw::BITMAPINFOHEADER))) {
        std::fprintf(stderr, "the codec refuses the input format (%ld)\n",
                     static_cast<long>(formatSize));
        return 1;
    }
    std::vector<std::uint8_t> outFormat(static_cast<size_t>(formatSize));
    auto* out = reinterpret_cast<vfw::BITMAPINFOHEADER*>(outFormat.data());
    const vfw::LRESULT maxSize = codec->Message(vfw::ICM_COMPRESS_GET_SIZE, p(in), p(out));
    if (codec->Message(vfw::ICM_COMPRESS_GET_FORMAT, p(in), p(out)) != vfw::ICERR_OK ||
        maxSize <= 0 || codec->Message(vfw::ICM_COMPRESS_BEGIN, p(in), p(out)) != vfw::ICERR_OK) {
        std::fprintf(stderr, "the codec cannot begin\n");
        return 1;
    }
    vfw::ICINFO info{};
    codec->Message(vfw::ICM_GETINFO, p(&info), sizeof(info));

    std::vector<Packet> packets(frames.size());
    for (auto& packet : packets) {
        packet.data.reserve(static_cast<size_t>(maxSize));
    }
    std::vector<std::uint8_t> buffer(static_cast<size_t>(maxSize));
    vfw::BITMAPINFOHEADER outFrame = *out;
    long long keyFrames = 0;
    unsigned long long totalBytes = 0;

    const long long allocationsBefore = g_allocations;
    const std::clock_t cpu0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; i < frames.size(); ++i) {
        vfw::DWORD flags = 0;
        vfw::ICCOMPRESS c{};
        c.dwFlags = (o.keyEvery > 0 && i % static_cast<size_t>(o.keyEvery) == 0)
                        ? vfw::ICCOMPRESS_KEYFRAME
                        : 0;
        c.lpbiOutput = &outFrame;
        c.lpOutput = buffer.data();
        c.lpbiInput = const_cast<vfw::BITMAPINFOHEADER*>(in);
        c.lpInput = frames[i].data();
        c.lpdwFlags = &flags;
        c.lFrameNum = static_cast<vfw::LONG>(i);
        c.dwQuality = o.quality;
        if (codec->Message(vfw::ICM_COMPRESS, p(&c), sizeof(c)) != vfw::ICERR_OK) {
            std::fprintf(stderr, "compressing frame %zu failed\n", i);
            return 1;
        }
        // The copy goes into memory reserved before the clock started.
        packets[i].data.assign(buffer.data(), buffer.data() + outFrame.biSizeImage);
        packets[i].flags = flags;
        keyFrames += (flags & vfw::AVIIF_KEYFRAME) != 0;
        totalBytes += outFrame.biSizeImage;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpuSeconds = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const long long allocations = g_allocations - allocationsBefore;
    codec->Message(vfw::ICM_COMPRESS_END, 0, 0);

    std::printf(
        "frames=%zu seconds=%.3f cpu_seconds=%.3f fps=%.2f bytes_per_frame=%.0f "
        "keyframes=%lld allocations_during_compress=%lld\n",
        frames.size(), seconds, cpuSeconds, frames.size() / seconds,
        static_cast<double>(totalBytes) / frames.size(), keyFrames, allocations);
    if (!o.out.empty() && !WriteAvi(o.out, outFormat, info.fccHandler, packets, o)) {
        std::fprintf(stderr, "cannot write %s\n", o.out.c_str());
        return 1;
    }
    return 0;
}
