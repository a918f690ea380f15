#include "engine/vfw/avi_writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "engine/vfw/avi_testing.h"

namespace vfw {

using namespace riff;

namespace {

// ffmpeg and the platform's readers expect the first RIFF under 1 GiB.
constexpr std::uint64_t kRiffLimit = 0x40000000;
// 16384 RIFFs of 1 GiB: 16 TiB, the largest file NTFS holds with its
// default 4 KiB clusters, so the disk ends a recording before the index does.
// It costs 256 KiB of header per recording.
constexpr std::uint32_t kSuperIndexCapacity = 16384;
// Formats beyond this are not bitmap headers with a colour table.
constexpr LONG kMaxFormatSize = 1 << 20;

std::atomic<std::uint64_t> g_riffLimit{0};
std::atomic<std::uint32_t> g_superIndexCapacity{0};

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

std::uint16_t Clamp16(LONG v) {
    return static_cast<std::uint16_t>(std::clamp<LONG>(v, -32768, 32767));
}

std::uint64_t StdIndexBytes(std::uint64_t entries) {
    return 8 + kIndexHeaderSize + entries * sizeof(StdIndexEntry);
}

}  // namespace

void SetRiffLimitForTesting(std::uint64_t bytes) {
    g_riffLimit = bytes;
}
void SetSuperIndexCapacityForTesting(std::uint32_t entries) {
    g_superIndexCapacity = entries;
}

AviWriterLimits DefaultAviWriterLimits() {
    const std::uint64_t riff = g_riffLimit.load();
    const std::uint32_t capacity = g_superIndexCapacity.load();
    return {riff != 0 ? riff : kRiffLimit, capacity != 0 ? capacity : kSuperIndexCapacity};
}

AviWriter::AviWriter(const AviWriterLimits& limits) : limits_(limits) {
    limits_.superIndexCapacity = std::max<std::uint32_t>(limits_.superIndexCapacity, 1);
}

HRESULT AviWriter::Fail(HRESULT code) {
    if (error_ == AVIERR_OK) {
        error_ = code;
    }
    return error_;
}

HRESULT AviWriter::Create(const char* path) {
    if (out_.open() || finished_) {
        return AVIERR_BADPARAM;
    }
    return out_.Create(path) ? AVIERR_OK : AVIERR_FILEOPEN;
}

HRESULT AviWriter::AddStream(const AVISTREAMINFOA& info, int* stream) {
    const bool sound = info.fccType == streamtypeAUDIO;
    if (headerSize_ != 0 || (!sound && info.fccType != streamtypeVIDEO)) {
        return AVIERR_UNSUPPORTED;
    }
    for (const Stream& s : streams_) {
        if (s.sound == sound) {
            return AVIERR_UNSUPPORTED;  // one stream of each kind
        }
    }
    if (info.dwScale == 0 || info.dwRate == 0 || info.dwStart > 0x7FFFFFFFu ||
        (sound && info.dwSampleSize == 0)) {
        return AVIERR_BADPARAM;
    }
    const int n = static_cast<int>(streams_.size());
    try {
        Stream& s = streams_.emplace_back();
        s.info = info;
        s.info.szName[sizeof s.info.szName - 1] = '\0';
        s.sound = sound;
        s.chunkId = StreamChunkId(n, sound);
        s.indexId = StreamIndexId(n);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    *stream = n;
    return AVIERR_OK;
}

namespace {

// The PCM format of a sound stream described by `info`, as 'strf' stores it
// (a whole WAVEFORMATEX), or empty when it is none or disagrees with `info`.
std::vector<std::uint8_t> PcmFormat(const AVISTREAMINFOA& info, const void* format, LONG size) {
    WAVEFORMATEX w{};
    std::memcpy(&w, format, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof w));
    if (size < static_cast<LONG>(sizeof w)) {
        w.cbSize = 0;  // a WAV file's 16-byte PCM format
    }
    const std::uint32_t block = static_cast<std::uint32_t>(w.nChannels) * w.wBitsPerSample / 8;
    const bool pcm = w.wFormatTag == WAVE_FORMAT_PCM && w.nChannels > 0 &&
                     w.wBitsPerSample % 8 == 0 && w.wBitsPerSample >= 8 && w.wBitsPerSample <= 32 &&
                     w.nBlockAlign == block && w.nSamplesPerSec > 0 &&
                     w.nAvgBytesPerSec == static_cast<std::uint64_t>(w.nSamplesPerSec) * block &&
                     w.cbSize == 0;
    const bool agrees = info.dwSampleSize == block &&
                        info.dwRate == static_cast<std::uint64_t>(w.nSamplesPerSec) * info.dwScale;
    if (!pcm || !agrees) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&w);
    return {bytes, bytes + sizeof w};
}

}  // namespace

HRESULT AviWriter::SetFormat(int stream, LONG pos, const void* format, LONG size) {
    if (stream < 0 || stream >= streamCount() || format == nullptr || size > kMaxFormatSize) {
        return AVIERR_BADPARAM;
    }
    Stream& s = streams_[stream];
    std::vector<std::uint8_t> wanted;
    try {
        if (s.sound) {
            if (size < 16) {
                return AVIERR_BADPARAM;
            }
            wanted = PcmFormat(s.info, format, size);
            if (wanted.empty()) {
                return AVIERR_BADFORMAT;
            }
        } else {
            if (size < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) {
                return AVIERR_BADPARAM;
            }
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, format, sizeof bi);
            if (bi.biSize < sizeof bi || bi.biSize > static_cast<DWORD>(size) || bi.biWidth <= 0 ||
                bi.biHeight == 0) {
                return AVIERR_BADFORMAT;
            }
            const auto* bytes = static_cast<const std::uint8_t*>(format);
            wanted.assign(bytes, bytes + size);
        }
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    if (headerSize_ != 0 || pos != 0) {
        // The header is out (or a change of format is asked for): only the
        // format already written can be confirmed.
        return s.format == wanted ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    s.format = std::move(wanted);
    return AVIERR_OK;
}

HRESULT AviWriter::Write(int stream, LONG start, LONG samples, const void* data, LONG size,
                         DWORD flags) {
    if (error_ != AVIERR_OK) {
        return error_;
    }
    if (!out_.open() || finished_) {
        return AVIERR_BADHANDLE;
    }
    if (stream < 0 || stream >= streamCount() || size < 0 || (data == nullptr && size != 0)) {
        return AVIERR_BADPARAM;
    }
    for (const Stream& other : streams_) {
        if (other.format.empty()) {
            return AVIERR_BADFORMAT;  // the header needs every stream's format
        }
    }
    Stream& s = streams_[stream];
    // Position of `start` on the stream's timeline.
    std::int64_t entry = static_cast<std::int64_t>(s.length);
    if (start != -1) {
        entry = static_cast<std::int64_t>(start) - s.info.dwStart;
        if (start < 0 || entry < static_cast<std::int64_t>(s.length)) {
            return AVIERR_BADPARAM;
        }
    }
    if (s.sound) {
        // Sound has no empty entries: every position holds a block.
        if (entry != static_cast<std::int64_t>(s.length) || samples <= 0 ||
            static_cast<std::uint64_t>(size) !=
                static_cast<std::uint64_t>(samples) * s.info.dwSampleSize ||
            entry + samples > 0x7FFFFFFF) {
            return AVIERR_BADPARAM;
        }
    } else if (samples != 1 || entry - static_cast<std::int64_t>(s.length) > kMaxSkippedPositions ||
               entry >= 0x7FFFFFFF) {
        return AVIERR_BADPARAM;
    }
    if (indexFull_) {
        return AVIERR_FILEWRITE;
    }
    try {
        if (headerSize_ == 0) {
            if (const HRESULT hr = WriteHeader(); hr != AVIERR_OK) {
                return hr;
            }
        }
        while (static_cast<std::int64_t>(s.length) < entry) {
            if (const HRESULT hr = AppendChunk(s, nullptr, 0, 1, false); hr != AVIERR_OK) {
                return hr;
            }
        }
        if (s.sound) {
            return AppendChunk(s, data, static_cast<std::uint32_t>(size),
                               static_cast<std::uint64_t>(samples), true);
        }
        return AppendChunk(s, data, static_cast<std::uint32_t>(size), 1,
                           size > 0 && (flags & AVIIF_KEYFRAME) != 0);
    } catch (const std::bad_alloc&) {
        return Fail(AVIERR_MEMORY);
    }
}

HRESULT AviWriter::WriteHeader() {
    const std::vector<std::uint8_t> header = BuildHeader();
    if (!out_.Write(header.data(), header.size())) {
        return Fail(AVIERR_FILEWRITE);
    }
    headerSize_ = header.size();
    riffCount_ = 1;
    riffStart_ = 0;
    moviFourcc_ = headerSize_ - 4;
    return AVIERR_OK;
}

bool AviWriter::RiffEmpty() const {
    return std::all_of(streams_.begin(), streams_.end(),
                       [](const Stream& s) { return s.stdIndex.empty(); });
}

// Size of the current RIFF once a chunk of `chunkBytes` of stream `s` and
// the indexes that close the RIFF are added.
std::uint64_t AviWriter::RiffBytesWith(const Stream& s, std::uint64_t chunkBytes) const {
    std::uint64_t bytes = out_.Position() + chunkBytes - riffStart_;
    for (const Stream& t : streams_) {
        const std::uint64_t n = t.stdIndex.size() + (&t == &s ? 1 : 0);
        if (n > 0) {
            bytes += StdIndexBytes(n);
        }
    }
    if (riffCount_ == 1) {
        bytes += 8 + (oldIndex_.size() + 1) * sizeof(OldIndexEntry);
    }
    return bytes;
}

HRESULT AviWriter::AppendChunk(Stream& s, const void* data, std::uint32_t size,
                               std::uint64_t positions, bool keyFrame) {
    const std::uint64_t chunkBytes = 8 + static_cast<std::uint64_t>(size) + (size & 1);
    if (!RiffEmpty() && RiffBytesWith(s, chunkBytes) > limits_.riffLimit) {
        if (const HRESULT hr = NextRiff(); hr != AVIERR_OK) {
            return hr;
        }
    }
    const auto offset = static_cast<std::uint32_t>(out_.Position() - moviFourcc_);
    s.stdIndex.push_back({offset + 8, keyFrame ? size : size | kNonKeyBit});
    if (riffCount_ == 1) {
        oldIndex_.push_back({s.chunkId, keyFrame ? AVIIF_KEYFRAME : 0u, offset, size});
    }
    const std::uint32_t head[2] = {s.chunkId, size};
    static const std::uint8_t pad = 0;
    if (!out_.Write(head, sizeof head) || !out_.Write(data, size) ||
        ((size & 1) != 0 && !out_.Write(&pad, 1))) {
        return Fail(AVIERR_FILEWRITE);
    }
    s.length += positions;
    s.riffLength += positions;
    s.maxChunk = std::max(s.maxChunk, size);
    return AVIERR_OK;
}

HRESULT AviWriter::NextRiff() {
    // Each stream's entry for this RIFF and for the next must both fit in its
    // super index.
    for (const Stream& s : streams_) {
        if (s.superIndex.size() + 2 > limits_.superIndexCapacity) {
            indexFull_ = true;
            return AVIERR_FILEWRITE;
        }
    }
    if (const HRESULT hr = CloseRiff(true); hr != AVIERR_OK) {
        return hr;
    }
    riffStart_ = out_.Position();
    const std::uint32_t head[6] = {kRiff, 0, kAvix, kList, 0, kMovi};
    if (!out_.Write(head, sizeof head)) {
        return Fail(AVIERR_FILEWRITE);
    }
    moviFourcc_ = riffStart_ + 20;
    ++riffCount_;
    return AVIERR_OK;
}

HRESULT AviWriter::WriteStdIndex(Stream& s) {
    const auto n = static_cast<std::uint32_t>(s.stdIndex.size());
    const std::uint64_t at = out_.Position();
    const auto bytes = static_cast<std::uint32_t>(StdIndexBytes(n));
    s.superIndex.push_back({at, bytes, Clamp32(s.riffLength)});
    ChunkBuilder b;
    b.U32(s.indexId);
    b.U32(bytes - 8);           // chunk size: header and entries
    b.U16(2);                   // wLongsPerEntry
    b.U8(0);                    // bIndexSubType
    b.U8(AVI_INDEX_OF_CHUNKS);  // bIndexType
    b.U32(n);                   // nEntriesInUse
    b.U32(s.chunkId);           // dwChunkId
    b.U64(moviFourcc_);         // qwBaseOffset
    b.U32(0);                   // dwReserved3
    if (!out_.Write(b.bytes().data(), b.size()) ||
        !out_.Write(s.stdIndex.data(), n * sizeof(StdIndexEntry))) {
        return Fail(AVIERR_FILEWRITE);
    }
    return AVIERR_OK;
}

HRESULT AviWriter::CloseRiff(bool openDml) {
    for (Stream& s : streams_) {
        if (openDml && !s.stdIndex.empty()) {
            if (const HRESULT hr = WriteStdIndex(s); hr != AVIERR_OK) {
                return hr;
            }
        }
        s.stdIndex.clear();
        s.riffLength = 0;
    }
    const std::uint64_t moviEnd = out_.Position();
    const auto moviSize = static_cast<std::uint32_t>(moviEnd - moviFourcc_);
    if (riffCount_ == 1) {
        const auto n = static_cast<std::uint32_t>(oldIndex_.size());
        const std::uint32_t head[2] = {kIdx1,
                                       n * static_cast<std::uint32_t>(sizeof(OldIndexEntry))};
        if (!out_.Write(head, sizeof head) ||
            !out_.Write(oldIndex_.data(), n * sizeof(OldIndexEntry))) {
            return Fail(AVIERR_FILEWRITE);
        }
        firstClosed_ = true;
        for (Stream& s : streams_) {
            s.firstLength = s.length;
        }
        firstMoviSize_ = moviSize;
        firstRiffSize_ = static_cast<std::uint32_t>(out_.Position() - 8);
        oldIndex_.clear();
        oldIndex_.shrink_to_fit();
    } else {
        patches_.emplace_back(riffStart_ + 4,
                              static_cast<std::uint32_t>(out_.Position() - riffStart_ - 8));
        patches_.emplace_back(riffStart_ + 16, moviSize);
    }
    return AVIERR_OK;
}

HRESULT AviWriter::Flush() {
    if (error_ != AVIERR_OK || !out_.open()) {
        return error_;
    }
    return out_.Flush() ? AVIERR_OK : Fail(AVIERR_FILEWRITE);
}

HRESULT AviWriter::Finish(bool toDisk) {
    if (finished_) {
        return error_;
    }
    finished_ = true;
    if (error_ != AVIERR_OK || !out_.open()) {
        out_.Discard();
        return error_ != AVIERR_OK ? error_ : AVIERR_BADHANDLE;
    }
    try {
        if (headerSize_ == 0) {
            if (const HRESULT hr = WriteHeader(); hr != AVIERR_OK) {
                out_.Discard();
                return hr;
            }
        }
        if (const HRESULT hr = CloseRiff(riffCount_ > 1); hr != AVIERR_OK) {
            out_.Discard();
            return hr;
        }
        const std::vector<std::uint8_t> header = BuildHeader();
        bool ok = header.size() == headerSize_ && out_.WriteAt(0, header.data(), header.size());
        for (const auto& [at, value] : patches_) {
            ok = ok && out_.WriteAt(at, &value, 4);
        }
        ok = out_.Close(toDisk && ok) && ok;
        if (!ok) {
            out_.Discard();
            return Fail(AVIERR_FILEWRITE);
        }
        return AVIERR_OK;
    } catch (const std::bad_alloc&) {
        out_.Discard();
        return Fail(AVIERR_MEMORY);
    }
}

void AviWriter::Abandon() {
    finished_ = true;
    out_.Discard();
}

DWORD AviWriter::SuggestedBufferSize(const Stream& s) {
    return s.length > 0 && s.maxChunk > 0 ? s.maxChunk : s.info.dwSuggestedBufferSize;
}

void AviWriter::StreamInfo(int stream, AVISTREAMINFOA* info) const {
    const Stream& s = streams_[stream];
    *info = s.info;
    info->dwLength = Clamp32(s.length);
    info->dwSuggestedBufferSize = SuggestedBufferSize(s);
}

const AviWriter::Stream* AviWriter::Video() const {
    for (const Stream& s : streams_) {
        if (!s.sound) {
            return &s;
        }
    }
    return nullptr;
}

std::vector<std::uint8_t> AviWriter::BuildHeader() const {
    // The streams in the header: all of them once chunks are written (each
    // has its format then); a file closed before that lists those that have.
    std::size_t shown = 0;
    while (shown < streams_.size() && !streams_[shown].format.empty()) {
        ++shown;
    }
    const bool openDml = riffCount_ > 1;
    const Stream* video = Video();
    BITMAPINFOHEADER bi{};
    if (video != nullptr && !video->format.empty()) {
        std::memcpy(&bi, video->format.data(), sizeof bi);
    }
    const LONG width = bi.biWidth;
    const LONG height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    const std::uint64_t scale = video != nullptr ? video->info.dwScale : 1;
    const std::uint64_t rate = video != nullptr ? video->info.dwRate : 1;
    std::uint64_t maxBytesPerSec = 0;
    DWORD suggested = 0;
    for (std::size_t i = 0; i < shown; ++i) {
        const Stream& s = streams_[i];
        const std::uint64_t r = s.info.dwRate;
        const std::uint64_t d = s.info.dwScale;
        maxBytesPerSec +=
            s.sound ? (r * s.info.dwSampleSize + d - 1) / d : (s.maxChunk * r + d - 1) / d;
        suggested = std::max(suggested, SuggestedBufferSize(s));
    }
    std::uint64_t frames = 0;
    if (video != nullptr) {
        frames = firstClosed_ ? video->firstLength : video->length;
    }

    ChunkBuilder b;
    b.U32(kRiff);
    b.U32(firstRiffSize_);  // patched below while the first RIFF is open
    b.U32(kAvi);
    const std::size_t hdrl = b.BeginList(kHdrl);

    const std::size_t avih = b.Begin(kAvih);
    b.U32(Clamp32((1000000 * scale + rate / 2) / rate));  // dwMicroSecPerFrame
    b.U32(Clamp32(maxBytesPerSec));                       // dwMaxBytesPerSec
    b.U32(0);                                             // dwPaddingGranularity
    b.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);            // dwFlags
    b.U32(Clamp32(frames));                               // dwTotalFrames (first RIFF)
    b.U32(0);                                             // dwInitialFrames
    b.U32(static_cast<std::uint32_t>(shown));             // dwStreams
    b.U32(suggested);                                     // dwSuggestedBufferSize
    b.U32(static_cast<std::uint32_t>(width));             // dwWidth
    b.U32(static_cast<std::uint32_t>(height));            // dwHeight
    b.Zeros(16);                                          // dwReserved[4]
    b.End(avih);

    for (std::size_t i = 0; i < shown; ++i) {
        const Stream& s = streams_[i];
        const AVISTREAMINFOA& info = s.info;
        const std::size_t strl = b.BeginList(kStrl);
        const std::size_t strh = b.Begin(kStrh);
        RECT rc = info.rcFrame;
        if (!s.sound && rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0) {
            rc = {0, 0, width, height};
        }
        b.U32(info.fccType);            // fccType
        b.U32(info.fccHandler);         // fccHandler
        b.U32(info.dwFlags);            // dwFlags
        b.U16(info.wPriority);          // wPriority
        b.U16(info.wLanguage);          // wLanguage
        b.U32(info.dwInitialFrames);    // dwInitialFrames
        b.U32(info.dwScale);            // dwScale
        b.U32(info.dwRate);             // dwRate
        b.U32(info.dwStart);            // dwStart
        b.U32(Clamp32(s.length));       // dwLength (all RIFFs): frames or blocks
        b.U32(SuggestedBufferSize(s));  // dwSuggestedBufferSize
        b.U32(info.dwQuality);          // dwQuality
        b.U32(info.dwSampleSize);       // dwSampleSize
        b.U16(Clamp16(rc.left));        // rcFrame.left
        b.U16(Clamp16(rc.top));         // rcFrame.top
        b.U16(Clamp16(rc.right));       // rcFrame.right
        b.U16(Clamp16(rc.bottom));      // rcFrame.bottom
        b.End(strh);

        const std::size_t strf = b.Begin(kStrf);
        b.Bytes(s.format.data(), s.format.size());
        b.End(strf);

        const std::size_t nameLength = strnlen(info.szName, sizeof info.szName);
        if (nameLength > 0) {
            const std::size_t strn = b.Begin(kStrn);
            b.Bytes(info.szName, nameLength);
            b.U8(0);
            b.End(strn);
        }

        const auto used = static_cast<std::uint32_t>(s.superIndex.size());
        const std::size_t indx = b.Begin(openDml ? kIndx : kJunk);
        if (openDml) {
            b.U16(4);                    // wLongsPerEntry
            b.U8(0);                     // bIndexSubType
            b.U8(AVI_INDEX_OF_INDEXES);  // bIndexType
            b.U32(used);                 // nEntriesInUse
            b.U32(s.chunkId);            // dwChunkId
            b.Zeros(12);                 // dwReserved[3]
            b.Bytes(s.superIndex.data(), used * sizeof(SuperIndexEntry));
            b.Zeros((limits_.superIndexCapacity - used) * sizeof(SuperIndexEntry));
        } else {
            b.Zeros(kIndexHeaderSize + limits_.superIndexCapacity * sizeof(SuperIndexEntry));
        }
        b.End(indx);
        b.End(strl);
    }

    if (openDml) {
        const std::size_t odml = b.BeginList(kOdml);
        const std::size_t dmlh = b.Begin(kDmlh);
        b.U32(Clamp32(video != nullptr ? video->length : 0));  // dwTotalFrames (all RIFFs)
        b.Zeros(kDmlhSize - 4);
        b.End(dmlh);
        b.End(odml);
    } else {
        const std::size_t junk = b.Begin(kJunk);
        b.Zeros(4 + 8 + kDmlhSize);
        b.End(junk);
    }
    b.End(hdrl);

    // JUNK so that the first chunk starts on a 2 KiB boundary.
    const std::size_t pad = (2048 - (b.size() + 8 + 12) % 2048) % 2048;
    const std::size_t junk = b.Begin(kJunk);
    b.Zeros(pad);
    b.End(junk);

    b.U32(kList);
    b.U32(firstMoviSize_);
    b.U32(kMovi);

    std::vector<std::uint8_t>& bytes = b.bytes();
    if (!firstClosed_) {
        const auto riffSize = static_cast<std::uint32_t>(bytes.size() - 8);
        const std::uint32_t moviSize = 4;
        std::memcpy(bytes.data() + 4, &riffSize, 4);
        std::memcpy(bytes.data() + bytes.size() - 8, &moviSize, 4);
    }
    return std::move(bytes);
}

}  // namespace vfw
