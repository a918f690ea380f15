#include "engine/vfw/avi_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/vfw/avi_riff.h"

namespace vfw {

using namespace riff;

namespace {

constexpr std::size_t kMaxStreams = 100;  // chunk ids number streams with two digits
constexpr std::uint32_t kMaxFormatSize = 1 << 20;
constexpr std::uint32_t kMaxEntrySize = kMaxSampleBytes;
constexpr std::size_t kEntryBlock = 512;             // index entries read at a time
constexpr std::uint16_t kIndexKind = 'i' | 'x' << 8;
// A WAV file's data is listed in entries of about this size, so that a
// convenient read (AVIStreamRead of -1 samples) stays moderate.
constexpr std::uint32_t kWaveEntryBytes = 1u << 20;

bool ChunkIdChar(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ';
}

std::uint64_t PadTo2(std::uint64_t size) {
    return size + (size & 1);
}

}  // namespace

HRESULT AviReader::Open(const char* path, std::unique_ptr<AviReader>* reader) {
    reader->reset();
    try {
        auto file = std::make_unique<FileReader>();
        if (!file->Open(path)) {
            return AVIERR_FILEOPEN;
        }
        return Open(std::move(file), reader);
    } catch (const std::exception&) {
        return AVIERR_MEMORY;
    }
}

HRESULT AviReader::Open(std::unique_ptr<FileReader> file, std::unique_ptr<AviReader>* reader) {
    reader->reset();
    try {
        std::unique_ptr<AviReader> r(new AviReader());
        r->file_ = std::move(file);
        r->size_ = r->file_->size();
        HRESULT hr = r->Parse();
        if (hr == AVIERR_OK) {
            hr = r->BuildIndexes();
        }
        if (hr != AVIERR_OK) {
            return hr;
        }
        *reader = std::move(r);
        return AVIERR_OK;
    } catch (const std::exception&) {
        // bad_alloc, or length_error for a size no vector can hold: what the
        // bounds below let through is still no crash.
        return AVIERR_MEMORY;
    }
}

bool AviReader::Read(std::uint64_t offset, void* data, std::size_t size) {
    if (!file_->ReadAt(offset, data, size)) {
        readError_ = true;
        return false;
    }
    return true;
}

HRESULT AviReader::Parse() {
    std::uint8_t head[12];
    if (size_ < sizeof head) {
        return AVIERR_BADFORMAT;
    }
    if (!Read(0, head, sizeof head)) {
        return AVIERR_FILEREAD;
    }
    if (Get32(head) == kRiff && Get32(head + 8) == kWave) {
        return ParseWave();
    }
    if (Get32(head) != kRiff || Get32(head + 8) != kAvi) {
        return AVIERR_BADFORMAT;
    }
    const std::uint64_t riffSize = Get32(head + 4);
    // A size never written (0) leaves the RIFF running to the end of the file.
    const bool riffUnsized = riffSize < 4;
    const std::uint64_t riffEnd = riffUnsized ? size_ : std::min(8 + riffSize, size_);
    std::uint64_t pos = 12;
    bool lastIsMovi = false;
    bool moviUnsized = false;
    while (pos + 8 <= riffEnd) {
        std::uint8_t ch[12];
        if (!Read(pos, ch, 8)) {
            return AVIERR_FILEREAD;
        }
        const FOURCC id = Get32(ch);
        const std::uint64_t size = Get32(ch + 4);
        const std::uint64_t end = pos + 8 + size;
        lastIsMovi = false;
        if (id == kList && pos + 12 <= riffEnd) {
            if (!Read(pos + 8, ch + 8, 4)) {
                return AVIERR_FILEREAD;
            }
            const FOURCC type = Get32(ch + 8);
            if (type == kHdrl && size >= 4 && !sawHdrl_) {
                sawHdrl_ = true;
                if (const HRESULT hr = ParseHdrl(pos + 12, std::min(end, riffEnd));
                    hr != AVIERR_OK) {
                    return hr;
                }
            } else if (type == kMovi) {
                lastIsMovi = true;
                moviUnsized = size < 4;
                if (moviUnsized) {
                    // Its end was never written: everything after it is its.
                    movis_.push_back({pos + 8, riffEnd});
                    break;
                }
                movis_.push_back({pos + 8, std::min(end, riffEnd)});
            }
        } else if (id == kIdx1 && idx1_.offset == 0 && end <= riffEnd) {
            idx1_ = {pos, size};
        }
        pos = pos + 8 + PadTo2(size);
    }
    if (!sawHdrl_) {
        return AVIERR_BADFORMAT;
    }
    // An unfinished recording: the header still holds the sizes written with
    // it (the movi list empty, the RIFF ending at the list), while frames
    // follow. Its last movi list then runs to the end of the file.
    const std::uint64_t next = 8 + PadTo2(riffSize);
    if (lastIsMovi && (riffUnsized || moviUnsized || StreamChunkAt(next))) {
        unfinished_ = true;
        movis_.back().end = size_;
        movis_.back().open = true;
        return readError_ ? AVIERR_FILEREAD : AVIERR_OK;
    }
    return ParseMoreRiffs(next);
}

// True when a chunk of a stream ('00dc', '01wb', ...) starts at `pos`.
bool AviReader::StreamChunkAt(std::uint64_t pos) {
    std::uint8_t id[4];
    return pos <= size_ && size_ - pos >= 8 && Read(pos, id, sizeof id) &&
           StreamOfChunk(Get32(id)) >= 0;
}

// A chunk header that a writer meant: four letters, digits or blanks, and a
// size that fits the file.
bool AviReader::PlausibleChunkAt(std::uint64_t pos) {
    std::uint8_t ch[8];
    if (pos > size_ || size_ - pos < sizeof ch || !Read(pos, ch, sizeof ch)) {
        return false;
    }
    return std::all_of(ch, ch + 4, ChunkIdChar) && Get32(ch + 4) <= size_ - pos - 8;
}

HRESULT AviReader::ParseWave() {
    wave_ = true;
    AviReaderStream s;
    bool sawFmt = false;
    std::uint64_t pos = 12;
    while (pos + 8 <= size_) {
        std::uint8_t ch[8];
        if (!Read(pos, ch, sizeof ch)) {
            return AVIERR_FILEREAD;
        }
        const FOURCC id = Get32(ch);
        const std::uint32_t size = Get32(ch + 4);
        if (id == kFmt && !sawFmt) {
            if (size < 16 || size > kMaxFormatSize || size > size_ - pos - 8) {
                return AVIERR_BADFORMAT;
            }
            s.format.resize(size);
            if (!Read(pos + 8, s.format.data(), size)) {
                return AVIERR_FILEREAD;
            }
            sawFmt = true;
        } else if (id == kData) {
            if (!sawFmt) {
                return AVIERR_BADFORMAT;
            }
            const std::uint64_t data = pos + 8;
            const std::uint64_t present = size_ - data;
            // The size holds when the file ends with the chunk or another
            // chunk follows it; else the writer never patched it.
            const std::uint64_t end = PadTo2(size);
            const bool sized = size <= present && (end >= present || PlausibleChunkAt(data + end));
            std::uint64_t bytes = sized ? size : present;
            const std::uint32_t block = Get16(s.format.data() + 12);
            if (block == 0) {
                return AVIERR_BADFORMAT;
            }
            bytes -= bytes % block;
            const std::uint32_t step = kWaveEntryBytes - kWaveEntryBytes % block;
            for (std::uint64_t at = 0; at < bytes; at += step) {
                const auto n =
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(step, bytes - at));
                s.entries.push_back({data + at, n, AVIIF_KEYFRAME});
            }
            break;
        }
        pos = pos + 8 + PadTo2(size);
    }
    if (!sawFmt) {
        return AVIERR_BADFORMAT;
    }
    const std::uint8_t* f = s.format.data();
    const std::uint16_t channels = Get16(f + 2);
    const std::uint32_t samplesPerSec = Get32(f + 4);
    const std::uint32_t bytesPerSec = Get32(f + 8);
    const std::uint16_t block = Get16(f + 12);
    if (channels == 0 || samplesPerSec == 0 || block == 0) {
        return AVIERR_BADFORMAT;
    }
    AVISTREAMINFOA& i = s.info;
    i.fccType = streamtypeAUDIO;
    i.dwScale = block;
    i.dwRate = bytesPerSec != 0 ? bytesPerSec : samplesPerSec * block;
    i.dwSampleSize = block;
    i.dwQuality = 0xFFFFFFFFu;  // no quality: the default
    i.dwSuggestedBufferSize = s.entries.empty() ? 0 : s.entries.front().size;
    streams_.push_back(std::move(s));
    indx_.push_back({});
    return readError_ ? AVIERR_FILEREAD : AVIERR_OK;
}

HRESULT AviReader::ParseHdrl(std::uint64_t pos, std::uint64_t end) {
    while (pos + 12 <= end) {
        std::uint8_t ch[12];
        if (!Read(pos, ch, sizeof ch)) {
            return AVIERR_FILEREAD;
        }
        const std::uint64_t size = Get32(ch + 4);
        if (Get32(ch) == kList && size >= 4 && Get32(ch + 8) == kStrl) {
            if (streams_.size() >= kMaxStreams) {
                return AVIERR_BADFORMAT;
            }
            if (const HRESULT hr = ParseStrl(pos + 12, std::min(pos + 8 + size, end));
                hr != AVIERR_OK) {
                return hr;
            }
        }
        pos = pos + 8 + PadTo2(size);
    }
    return AVIERR_OK;
}

HRESULT AviReader::ParseStrl(std::uint64_t pos, std::uint64_t end) {
    AviReaderStream s;
    IndexChunk indx;
    bool sawStrh = false;
    while (pos + 8 <= end) {
        std::uint8_t ch[8];
        if (!Read(pos, ch, sizeof ch)) {
            return AVIERR_FILEREAD;
        }
        const FOURCC id = Get32(ch);
        const std::uint32_t size = Get32(ch + 4);
        const bool whole = pos + 8 + size <= end;
        if (id == kStrh) {
            std::uint8_t h[kStrhSize] = {};
            if (!whole || size < 48) {
                return AVIERR_BADFORMAT;
            }
            if (!Read(pos + 8, h, std::min<std::uint32_t>(size, kStrhSize))) {
                return AVIERR_FILEREAD;
            }
            AVISTREAMINFOA& i = s.info;
            i.fccType = Get32(h);
            i.fccHandler = Get32(h + 4);
            i.dwFlags = Get32(h + 8);
            i.wPriority = Get16(h + 12);
            i.wLanguage = Get16(h + 14);
            i.dwInitialFrames = Get32(h + 16);
            i.dwScale = Get32(h + 20);
            i.dwRate = Get32(h + 24);
            i.dwStart = Get32(h + 28);
            i.dwSuggestedBufferSize = Get32(h + 36);
            i.dwQuality = Get32(h + 40);
            i.dwSampleSize = Get32(h + 44);
            i.rcFrame.left = static_cast<std::int16_t>(Get16(h + 48));
            i.rcFrame.top = static_cast<std::int16_t>(Get16(h + 50));
            i.rcFrame.right = static_cast<std::int16_t>(Get16(h + 52));
            i.rcFrame.bottom = static_cast<std::int16_t>(Get16(h + 54));
            sawStrh = true;
        } else if (id == kStrf) {
            if (!whole || size > kMaxFormatSize) {
                return AVIERR_BADFORMAT;
            }
            s.format.resize(size);
            if (size > 0 && !Read(pos + 8, s.format.data(), size)) {
                return AVIERR_FILEREAD;
            }
        } else if (id == kStrn && whole) {
            char name[sizeof s.info.szName] = {};
            if (!Read(pos + 8, name, std::min<std::size_t>(size, sizeof name - 1))) {
                return AVIERR_FILEREAD;
            }
            std::memcpy(s.info.szName, name, sizeof name);
        } else if (id == kIndx && whole) {
            indx = {pos, size};
        }
        pos = pos + 8 + PadTo2(size);
    }
    if (!sawStrh) {
        return AVIERR_BADFORMAT;
    }
    streams_.push_back(std::move(s));
    indx_.push_back(indx);
    return AVIERR_OK;
}

HRESULT AviReader::ParseMoreRiffs(std::uint64_t pos) {
    while (pos + 12 <= size_) {
        std::uint8_t ch[12];
        if (!Read(pos, ch, sizeof ch)) {
            return AVIERR_FILEREAD;
        }
        const std::uint64_t size = Get32(ch + 4);
        if (Get32(ch) != kRiff || Get32(ch + 8) != kAvix) {
            break;  // trailing bytes that are no continuation RIFF
        }
        const std::uint64_t end = std::min(pos + 8 + size, size_);
        for (std::uint64_t at = pos + 12; at + 12 <= end;) {
            if (!Read(at, ch, sizeof ch)) {
                return AVIERR_FILEREAD;
            }
            const std::uint64_t chunkSize = Get32(ch + 4);
            if (Get32(ch) == kList && chunkSize >= 4 && Get32(ch + 8) == kMovi) {
                movis_.push_back({at + 8, std::min(at + 8 + chunkSize, end)});
            }
            at = at + 8 + PadTo2(chunkSize);
        }
        pos = pos + 8 + PadTo2(size);
    }
    return AVIERR_OK;
}

HRESULT AviReader::BuildIndexes() {
    bool indexed = wave_;
    if (!indexed && !streams_.empty() && !unfinished_) {
        const bool allIndx = std::all_of(indx_.begin(), indx_.end(),
                                         [](const IndexChunk& c) { return c.offset != 0; });
        indexed = allIndx && LoadOpenDml();
        // idx1 covers the first RIFF only.
        if (!indexed && !readError_ && idx1_.offset != 0 && movis_.size() == 1) {
            indexed = LoadIdx1();
        }
    }
    if (readError_) {
        return AVIERR_FILEREAD;
    }
    if (!indexed) {
        if (const HRESULT hr = Scan(); hr != AVIERR_OK) {
            return hr;
        }
    }
    for (AviReaderStream& s : streams_) {
        s.info.dwLength = static_cast<DWORD>(s.entries.size());
        if (s.info.fccType == streamtypeAUDIO && s.info.dwSampleSize > 0) {
            s.blockSize = s.info.dwSampleSize;
            s.byteStart.reserve(s.entries.size() + 1);
            std::uint64_t bytes = 0;
            for (const AviEntry& e : s.entries) {
                s.byteStart.push_back(bytes);
                bytes += e.size;
            }
            s.byteStart.push_back(bytes);
            s.info.dwLength =
                static_cast<DWORD>(std::min<std::uint64_t>(bytes / s.blockSize, 0x7FFFFFFF));
        }
        // Positions are LONG: a start that would push the stream past the
        // largest one is nonsense and ignored.
        if (s.info.dwStart > 0x7FFFFFFFu - s.info.dwLength) {
            s.info.dwStart = 0;
        }
    }
    return AVIERR_OK;
}

bool AviReader::LoadOpenDml() {
    // Every real chunk takes at least 8 bytes of the file: more entries than
    // that can only come from indexes listed twice.
    std::uint64_t budget = size_ / 8 + 16;
    bool ok = true;
    for (std::size_t s = 0; s < streams_.size() && ok; ++s) {
        std::vector<AviEntry>& entries = streams_[s].entries;
        const IndexChunk& indx = indx_[s];
        std::uint8_t h[kIndexHeaderSize];
        if (indx.size < kIndexHeaderSize || !Read(indx.offset + 8, h, sizeof h)) {
            ok = false;
            break;
        }
        const std::uint16_t longsPerEntry = Get16(h);
        const std::uint8_t subType = h[2];
        const std::uint8_t type = h[3];
        const std::uint32_t used = Get32(h + 4);
        if (type == AVI_INDEX_OF_CHUNKS) {
            ok = LoadStdIndex(&entries, indx.offset, &budget);
            continue;
        }
        if (type != AVI_INDEX_OF_INDEXES || longsPerEntry != 4 || subType != 0 ||
            used > (indx.size - kIndexHeaderSize) / sizeof(SuperIndexEntry)) {
            ok = false;
            break;
        }
        for (std::uint32_t i = 0; i < used && ok; ++i) {
            std::uint8_t e[sizeof(SuperIndexEntry)];
            ok = Read(indx.offset + 8 + kIndexHeaderSize + i * sizeof e, e, sizeof e) &&
                 LoadStdIndex(&entries, Get64(e), &budget);
        }
    }
    if (!ok) {
        for (AviReaderStream& s : streams_) {
            s.entries.clear();
        }
    }
    return ok;
}

bool AviReader::LoadStdIndex(std::vector<AviEntry>* out, std::uint64_t chunk,
                             std::uint64_t* budget) {
    std::uint8_t h[8 + kIndexHeaderSize];
    if (chunk > size_ || size_ - chunk < sizeof h || !Read(chunk, h, sizeof h)) {
        return false;
    }
    const std::uint64_t size = Get32(h + 4);
    const std::uint16_t longsPerEntry = Get16(h + 8);
    const std::uint8_t subType = h[10];
    const std::uint8_t type = h[11];
    const std::uint32_t used = Get32(h + 12);
    const std::uint64_t base = Get64(h + 20);
    if (size < kIndexHeaderSize || size > size_ - chunk - 8 || longsPerEntry != 2 || subType != 0 ||
        type != AVI_INDEX_OF_CHUNKS || base > size_ ||
        used > (size - kIndexHeaderSize) / sizeof(StdIndexEntry) || used > *budget ||
        out->size() + used > kMaxIndexEntries) {
        return false;
    }
    *budget -= used;
    out->reserve(out->size() + used);
    std::uint8_t block[kEntryBlock * sizeof(StdIndexEntry)];
    std::uint64_t at = chunk + sizeof h;
    for (std::uint32_t done = 0; done < used;) {
        const std::uint32_t n = std::min<std::uint32_t>(used - done, kEntryBlock);
        if (!Read(at, block, n * sizeof(StdIndexEntry))) {
            return false;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* e = block + i * sizeof(StdIndexEntry);
            const std::uint64_t data = base + Get32(e);
            const std::uint32_t raw = Get32(e + 4);
            const std::uint32_t bytes = raw & ~kNonKeyBit;
            if (data > size_ || bytes > size_ - data || bytes > kMaxEntrySize) {
                return false;
            }
            const bool key = (raw & kNonKeyBit) == 0 && bytes > 0;
            out->push_back({data, bytes, key ? AVIIF_KEYFRAME : 0u});
        }
        done += n;
        at += n * sizeof(StdIndexEntry);
    }
    return true;
}

bool AviReader::LoadIdx1() {
    const std::uint64_t count = idx1_.size / sizeof(OldIndexEntry);
    const std::uint64_t first = idx1_.offset + 8;
    std::uint8_t block[kEntryBlock * sizeof(OldIndexEntry)];
    // Offsets count from the 'movi' FOURCC, or (some writers) from the file
    // start: the first data entry tells which, by the chunk id it points at.
    bool baseKnown = false;
    std::uint64_t base = 0;
    for (std::uint64_t done = 0; done < count;) {
        const auto n =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, kEntryBlock));
        if (!Read(first + done * sizeof(OldIndexEntry), block, n * sizeof(OldIndexEntry))) {
            return false;
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* e = block + i * sizeof(OldIndexEntry);
            const FOURCC id = Get32(e);
            const std::uint32_t flags = Get32(e + 4);
            const std::uint64_t offset = Get32(e + 8);
            const std::uint32_t size = Get32(e + 12);
            const int stream = StreamOfChunk(id);
            if ((flags & AVIIF_LIST) != 0 || stream < 0 ||
                static_cast<std::size_t>(stream) >= streams_.size() ||
                ChunkKind(id) == kPaletteChange || ChunkKind(id) == kIndexKind) {
                continue;
            }
            if (!baseKnown) {
                std::uint8_t at[4];
                const std::uint64_t relative = movis_[0].fourcc + offset;
                if (relative + 8 <= size_ && Read(relative, at, 4) && Get32(at) == id) {
                    base = movis_[0].fourcc;
                } else if (offset + 8 <= size_ && Read(offset, at, 4) && Get32(at) == id) {
                    base = 0;
                } else {
                    return false;
                }
                baseKnown = true;
            }
            const std::uint64_t data = base + offset + 8;
            if (data > size_ || size > size_ - data || size > kMaxEntrySize) {
                return false;
            }
            const std::uint32_t key = size > 0 ? (flags & AVIIF_KEYFRAME) : 0;
            streams_[stream].entries.push_back({data, size, key});
        }
        done += n;
    }
    return true;
}

HRESULT AviReader::Scan() {
    for (AviReaderStream& s : streams_) {
        s.entries.clear();
    }
    for (const Movi& movi : movis_) {
        std::uint64_t pos = movi.fourcc + 4;
        while (pos + 8 <= movi.end) {
            std::uint8_t ch[12];
            if (!Read(pos, ch, 8)) {
                return AVIERR_FILEREAD;
            }
            const FOURCC id = Get32(ch);
            const std::uint32_t size = Get32(ch + 4);
            if (id == kList || (movi.open && id == kRiff)) {
                // Chunks grouped in 'rec ' lists belong to the same timeline;
                // so do the continuation RIFFs and movi lists of an
                // unfinished file, whose sizes are not written yet.
                if (pos + 12 <= movi.end) {
                    if (!Read(pos + 8, ch + 8, 4)) {
                        return AVIERR_FILEREAD;
                    }
                    const FOURCC type = Get32(ch + 8);
                    if ((id == kList && type == kRec && size >= 4) ||
                        (movi.open &&
                         ((id == kRiff && type == kAvix) || (id == kList && type == kMovi)))) {
                        pos += 12;
                        continue;
                    }
                }
                pos = pos + 8 + PadTo2(size);
                continue;
            }
            const std::uint64_t data = pos + 8;
            if (size > movi.end - data || size > kMaxEntrySize) {
                break;  // a cut chunk: the list ends here
            }
            const int stream = StreamOfChunk(id);
            if (stream >= 0 && static_cast<std::size_t>(stream) < streams_.size() &&
                ChunkKind(id) != kPaletteChange && ChunkKind(id) != kIndexKind) {
                std::vector<AviEntry>& entries = streams_[stream].entries;
                if (entries.size() >= 0x7FFFFFFF) {
                    return AVIERR_BADFORMAT;  // more than positions can number
                }
                // Without an index every frame counts as a key frame.
                entries.push_back({data, size, size > 0 ? AVIIF_KEYFRAME : 0u});
            }
            pos = data + PadTo2(size);
        }
    }
    return AVIERR_OK;
}

HRESULT AviReader::ReadEntry(int index, std::int64_t entry, void* buffer, LONG bufferSize,
                             LONG* bytes) {
    if (index < 0 || index >= streamCount()) {
        return AVIERR_BADPARAM;
    }
    const std::vector<AviEntry>& entries = streams_[index].entries;
    if (entry < 0 || static_cast<std::uint64_t>(entry) >= entries.size()) {
        return AVIERR_BADPARAM;
    }
    const AviEntry& e = entries[static_cast<std::size_t>(entry)];
    if (bytes != nullptr) {
        *bytes = static_cast<LONG>(e.size);
    }
    if (buffer == nullptr) {
        return AVIERR_OK;
    }
    if (bufferSize < 0 || static_cast<std::uint32_t>(bufferSize) < e.size) {
        return AVIERR_BUFFERTOOSMALL;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (e.size > 0 && !file_->ReadAt(e.offset, buffer, e.size)) {
        return AVIERR_FILEREAD;
    }
    return AVIERR_OK;
}

HRESULT AviReader::ReadBlocks(int index, std::int64_t first, LONG samples, void* buffer,
                              LONG bufferSize, LONG* bytes, LONG* samplesRead) {
    if (samplesRead != nullptr) {
        *samplesRead = 0;
    }
    if (index < 0 || index >= streamCount() || streams_[index].blockSize == 0 ||
        (samples <= 0 && samples != -1)) {
        return AVIERR_BADPARAM;
    }
    const AviReaderStream& s = streams_[index];
    const std::uint64_t length = s.info.dwLength;
    const std::uint64_t block = s.blockSize;
    if (first < 0 || static_cast<std::uint64_t>(first) >= length) {
        return AVIERR_BADPARAM;
    }
    const std::uint64_t from = static_cast<std::uint64_t>(first) * block;
    // Entry holding byte `from`: the last whose start is not after it.
    auto entry = static_cast<std::size_t>(
        std::upper_bound(s.byteStart.begin(), s.byteStart.end(), from) - s.byteStart.begin() - 1);
    std::uint64_t count = static_cast<std::uint64_t>(samples);
    if (samples == -1) {
        count = std::max<std::uint64_t>((s.byteStart[entry + 1] - from) / block, 1);
    }
    count = std::min(count, length - static_cast<std::uint64_t>(first));
    count = std::min<std::uint64_t>(count, 0x7FFFFFFF / block);
    if (buffer != nullptr) {
        if (bufferSize < 0 || static_cast<std::uint64_t>(bufferSize) < block) {
            return AVIERR_BUFFERTOOSMALL;
        }
        count = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(bufferSize) / block);
    }
    if (bytes != nullptr) {
        *bytes = static_cast<LONG>(count * block);
    }
    if (buffer != nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::uint64_t at = from;
        std::uint64_t left = count * block;
        for (; left > 0; ++entry) {
            const std::uint64_t inside = at - s.byteStart[entry];
            const std::uint64_t n = std::min<std::uint64_t>(left, s.entries[entry].size - inside);
            if (n > 0 && !file_->ReadAt(s.entries[entry].offset + inside, out,
                                        static_cast<std::size_t>(n))) {
                return AVIERR_FILEREAD;
            }
            out += n;
            at += n;
            left -= n;
        }
    }
    if (samplesRead != nullptr) {
        *samplesRead = static_cast<LONG>(count);
    }
    return AVIERR_OK;
}

}  // namespace vfw
