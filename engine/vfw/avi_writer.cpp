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

HRESULT AviWriter::AddStream(const AVISTREAMINFOA& info) {
    if (hasStream_) {
        return AVIERR_UNSUPPORTED;
    }
    if (info.fccType != streamtypeVIDEO) {
        return AVIERR_UNSUPPORTED;
    }
    if (info.dwScale == 0 || info.dwRate == 0 || info.dwStart > 0x7FFFFFFFu) {
        return AVIERR_BADPARAM;
    }
    info_ = info;
    info_.szName[sizeof info_.szName - 1] = '\0';
    hasStream_ = true;
    return AVIERR_OK;
}

HRESULT AviWriter::SetFormat(LONG pos, const void* format, LONG size) {
    if (!hasStream_ || format == nullptr || size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)) ||
        size > kMaxFormatSize) {
        return AVIERR_BADPARAM;
    }
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, format, sizeof bi);
    if (bi.biSize < sizeof bi || bi.biSize > static_cast<DWORD>(size) || bi.biWidth <= 0 ||
        bi.biHeight == 0) {
        return AVIERR_BADFORMAT;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(format);
    if (headerSize_ != 0 || pos != 0) {
        // The header is out (or a change of format is asked for): only the
        // format already written can be confirmed.
        const bool same = format_.size() == static_cast<std::size_t>(size) &&
                          std::equal(format_.begin(), format_.end(), bytes);
        return same ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    try {
        format_.assign(bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    }
    return AVIERR_OK;
}

HRESULT AviWriter::Write(LONG start, const void* data, LONG size, DWORD flags) {
    if (error_ != AVIERR_OK) {
        return error_;
    }
    if (!out_.open() || finished_) {
        return AVIERR_BADHANDLE;
    }
    if (size < 0 || (data == nullptr && size != 0)) {
        return AVIERR_BADPARAM;
    }
    if (!hasStream_ || format_.empty()) {
        return AVIERR_BADFORMAT;
    }
    // Entry index of `start` on the stream's timeline.
    std::int64_t entry = entries_;
    if (start != -1) {
        entry = static_cast<std::int64_t>(start) - info_.dwStart;
        if (start < 0 || entry < entries_) {
            return AVIERR_BADPARAM;
        }
    }
    if (entry - entries_ > kMaxSkippedPositions || entry >= 0x7FFFFFFF) {
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
        while (entries_ < entry) {
            if (const HRESULT hr = AppendChunk(nullptr, 0, false); hr != AVIERR_OK) {
                return hr;
            }
        }
        return AppendChunk(data, static_cast<std::uint32_t>(size),
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

// Size of the current RIFF once a chunk of `chunkBytes` and the indexes that
// close the RIFF are added.
std::uint64_t AviWriter::RiffBytesWith(std::uint64_t chunkBytes) const {
    const std::uint64_t n = stdIndex_.size() + 1;
    std::uint64_t bytes = out_.Position() + chunkBytes - riffStart_ + StdIndexBytes(n);
    if (riffCount_ == 1) {
        bytes += 8 + n * sizeof(OldIndexEntry);
    }
    return bytes;
}

HRESULT AviWriter::AppendChunk(const void* data, std::uint32_t size, bool keyFrame) {
    const std::uint64_t chunkBytes = 8 + static_cast<std::uint64_t>(size) + (size & 1);
    if (!stdIndex_.empty() && RiffBytesWith(chunkBytes) > limits_.riffLimit) {
        if (const HRESULT hr = NextRiff(); hr != AVIERR_OK) {
            return hr;
        }
    }
    const auto offset = static_cast<std::uint32_t>(out_.Position() - moviFourcc_);
    stdIndex_.push_back({offset + 8, keyFrame ? size : size | kNonKeyBit});
    if (riffCount_ == 1) {
        oldIndex_.push_back({kVideoChunk, keyFrame ? AVIIF_KEYFRAME : 0u, offset, size});
    }
    const std::uint32_t head[2] = {kVideoChunk, size};
    static const std::uint8_t pad = 0;
    if (!out_.Write(head, sizeof head) || !out_.Write(data, size) ||
        ((size & 1) != 0 && !out_.Write(&pad, 1))) {
        return Fail(AVIERR_FILEWRITE);
    }
    ++entries_;
    maxChunk_ = std::max(maxChunk_, size);
    return AVIERR_OK;
}

HRESULT AviWriter::NextRiff() {
    // This RIFF's entry and the next one's must both fit in the super index.
    if (superIndex_.size() + 2 > limits_.superIndexCapacity) {
        indexFull_ = true;
        return AVIERR_FILEWRITE;
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

HRESULT AviWriter::WriteStdIndex() {
    const auto n = static_cast<std::uint32_t>(stdIndex_.size());
    const std::uint64_t at = out_.Position();
    const auto bytes = static_cast<std::uint32_t>(StdIndexBytes(n));
    superIndex_.push_back({at, bytes, n});
    ChunkBuilder b;
    b.U32(kVideoIndex);
    b.U32(bytes - 8);           // chunk size: header and entries
    b.U16(2);                   // wLongsPerEntry
    b.U8(0);                    // bIndexSubType
    b.U8(AVI_INDEX_OF_CHUNKS);  // bIndexType
    b.U32(n);                   // nEntriesInUse
    b.U32(kVideoChunk);         // dwChunkId
    b.U64(moviFourcc_);         // qwBaseOffset
    b.U32(0);                   // dwReserved3
    if (!out_.Write(b.bytes().data(), b.size()) ||
        !out_.Write(stdIndex_.data(), n * sizeof(StdIndexEntry))) {
        return Fail(AVIERR_FILEWRITE);
    }
    stdIndex_.clear();
    return AVIERR_OK;
}

HRESULT AviWriter::CloseRiff(bool openDml) {
    if (openDml) {
        if (const HRESULT hr = WriteStdIndex(); hr != AVIERR_OK) {
            return hr;
        }
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
        firstEntries_ = n;
        firstMoviSize_ = moviSize;
        firstRiffSize_ = static_cast<std::uint32_t>(out_.Position() - 8);
        oldIndex_.clear();
        oldIndex_.shrink_to_fit();
    } else {
        patches_.emplace_back(riffStart_ + 4,
                              static_cast<std::uint32_t>(out_.Position() - riffStart_ - 8));
        patches_.emplace_back(riffStart_ + 16, moviSize);
    }
    stdIndex_.clear();
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

DWORD AviWriter::SuggestedBufferSize() const {
    return entries_ > 0 && maxChunk_ > 0 ? maxChunk_ : info_.dwSuggestedBufferSize;
}

void AviWriter::StreamInfo(AVISTREAMINFOA* info) const {
    *info = info_;
    info->dwLength = entries_;
    info->dwSuggestedBufferSize = SuggestedBufferSize();
}

std::vector<std::uint8_t> AviWriter::BuildHeader() const {
    const bool stream = hasStream_ && !format_.empty();
    const bool openDml = riffCount_ > 1;
    BITMAPINFOHEADER bi{};
    if (stream) {
        std::memcpy(&bi, format_.data(), sizeof bi);
    }
    const LONG width = bi.biWidth;
    const LONG height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
    const std::uint64_t scale = info_.dwScale != 0 ? info_.dwScale : 1;
    const std::uint64_t rate = info_.dwRate != 0 ? info_.dwRate : 1;

    ChunkBuilder b;
    b.U32(kRiff);
    b.U32(firstRiffSize_);  // patched below while the first RIFF is open
    b.U32(kAvi);
    const std::size_t hdrl = b.BeginList(kHdrl);

    const std::size_t avih = b.Begin(kAvih);
    b.U32(Clamp32((1000000 * scale + rate / 2) / rate));     // dwMicroSecPerFrame
    b.U32(Clamp32((maxChunk_ * rate + scale - 1) / scale));  // dwMaxBytesPerSec
    b.U32(0);                                                // dwPaddingGranularity
    b.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);               // dwFlags
    b.U32(firstClosed_ ? firstEntries_ : entries_);          // dwTotalFrames (first RIFF)
    b.U32(0);                                                // dwInitialFrames
    b.U32(stream ? 1 : 0);                                   // dwStreams
    b.U32(SuggestedBufferSize());                            // dwSuggestedBufferSize
    b.U32(static_cast<std::uint32_t>(width));                // dwWidth
    b.U32(static_cast<std::uint32_t>(height));               // dwHeight
    b.Zeros(16);                                             // dwReserved[4]
    b.End(avih);

    if (stream) {
        const std::size_t strl = b.BeginList(kStrl);
        const std::size_t strh = b.Begin(kStrh);
        RECT rc = info_.rcFrame;
        if (rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0) {
            rc = {0, 0, width, height};
        }
        b.U32(info_.fccType);          // fccType
        b.U32(info_.fccHandler);       // fccHandler
        b.U32(info_.dwFlags);          // dwFlags
        b.U16(info_.wPriority);        // wPriority
        b.U16(info_.wLanguage);        // wLanguage
        b.U32(info_.dwInitialFrames);  // dwInitialFrames
        b.U32(info_.dwScale);          // dwScale
        b.U32(info_.dwRate);           // dwRate
        b.U32(info_.dwStart);          // dwStart
        b.U32(entries_);               // dwLength (all RIFFs)
        b.U32(SuggestedBufferSize());  // dwSuggestedBufferSize
        b.U32(info_.dwQuality);        // dwQuality
        b.U32(info_.dwSampleSize);     // dwSampleSize
        b.U16(Clamp16(rc.left));       // rcFrame.left
        b.U16(Clamp16(rc.top));        // rcFrame.top
        b.U16(Clamp16(rc.right));      // rcFrame.right
        b.U16(Clamp16(rc.bottom));     // rcFrame.bottom
        b.End(strh);

        const std::size_t strf = b.Begin(kStrf);
        b.Bytes(format_.data(), format_.size());
        b.End(strf);

        const std::size_t nameLength = strnlen(info_.szName, sizeof info_.szName);
        if (nameLength > 0) {
            const std::size_t strn = b.Begin(kStrn);
            b.Bytes(info_.szName, nameLength);
            b.U8(0);
            b.End(strn);
        }

        const std::uint32_t used = static_cast<std::uint32_t>(superIndex_.size());
        const std::size_t indx = b.Begin(openDml ? kIndx : kJunk);
        if (openDml) {
            b.U16(4);                    // wLongsPerEntry
            b.U8(0);                     // bIndexSubType
            b.U8(AVI_INDEX_OF_INDEXES);  // bIndexType
            b.U32(used);                 // nEntriesInUse
            b.U32(kVideoChunk);          // dwChunkId
            b.Zeros(12);                 // dwReserved[3]
            b.Bytes(superIndex_.data(), used * sizeof(SuperIndexEntry));
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
        b.U32(entries_);  // dwTotalFrames (all RIFFs)
        b.Zeros(kDmlhSize - 4);
        b.End(dmlh);
        b.End(odml);
    } else {
        const std::size_t junk = b.Begin(kJunk);
        b.Zeros(4 + 8 + kDmlhSize);
        b.End(junk);
    }
    b.End(hdrl);

    // JUNK so that the first frame chunk starts on a 2 KiB boundary.
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
