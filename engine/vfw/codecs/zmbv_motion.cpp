#include "engine/vfw/codecs/zmbv_motion.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vfw::zmbv {

namespace {

// Rows of the previous frame entered in the table: every kRowStep-th. Each
// changed block looks up kSampleRows of its rows, so a true displacement
// collects kSampleRows / kRowStep votes per block, whatever its dy.
constexpr int kRowStep = 4;
constexpr int kSampleRows = 8;
// Reach of a displacement in blocks: a piece of the previous frame can only
// serve blocks this close.
constexpr int kReachBlocks = (kMaxShift + kBlockSize - 1) / kBlockSize;
constexpr int kVoteSide = 2 * kMaxShift + 1;
constexpr int kMinGlobalVotes = 2;

// Polynomial hash of 16 pixels: sum of p[i] * B^(15 - i), modulo 2^64. It
// rolls one pixel at a time.
constexpr std::uint64_t kHashBase = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t PowBase(int n) {
    std::uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r *= kHashBase;
    }
    return r;
}
constexpr std::uint64_t kHashTop = PowBase(kBlockSize - 1);

std::uint32_t TagOf(std::uint64_t h) {
    return static_cast<std::uint32_t>(h) | 1u;
}

// Hash of the piece starting at p; *flat tells whether all its pixels are equal.
template <typename T>
std::uint64_t PieceHash(const T* p, bool* flat) {
    std::uint64_t h = 0;
    T diff = 0;
    for (int i = 0; i < kBlockSize; ++i) {
        h = h * kHashBase + p[i];
        diff |= static_cast<T>(p[i] ^ p[0]);
    }
    *flat = diff == 0;
    return h;
}

}  // namespace

bool MotionSearch::Begin(int width, int height, int bytesPerPixel) {
    width_ = width;
    height_ = height;
    bpp_ = bytesPerPixel;
    blocksX_ = (width + kBlockSize - 1) / kBlockSize;
    blocksY_ = (height + kBlockSize - 1) / kBlockSize;
    const std::size_t blocks = static_cast<std::size_t>(blocksX_) * blocksY_;
    const std::size_t entries = static_cast<std::size_t>((height + kRowStep - 1) / kRowStep) *
                                static_cast<std::size_t>(width / kBlockSize);
    // Half full at most; large frames share a capped table (hits only get rarer).
    tableBits_ = 10;
    while (tableBits_ < 20 && (std::size_t{1} << tableBits_) < 2 * entries) {
        ++tableBits_;
    }
    tableLimit_ = (std::size_t{1} << tableBits_) / 2;
    try {
        table_ = std::make_unique<Slot[]>(std::size_t{1} << tableBits_);
        near_ = std::make_unique<std::uint8_t[]>(blocks);
        votes_ = std::make_unique<std::uint16_t[]>(kVoteSide * kVoteSide);
        touched_.clear();
        touched_.reserve(kVoteSide * kVoteSide);
        local_ = std::make_unique<Vector[]>(blocks);
        hasLocal_ = std::make_unique<std::uint8_t[]>(blocks);
        hits_.clear();
        hits_.reserve(kSampleRows * kBlockSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    globalCount_ = 0;
    return true;
}

bool MotionSearch::local(int block, Vector* v) const {
    if (hasLocal_[block] == 0) {
        return false;
    }
    *v = local_[block];
    return true;
}

void MotionSearch::Analyse(const void* prev, const void* cur, const std::uint8_t* changed) {
    switch (bpp_) {
        case 1:
            AnalyseTyped(static_cast<const std::uint8_t*>(prev),
                         static_cast<const std::uint8_t*>(cur), changed);
            break;
        case 2:
            AnalyseTyped(static_cast<const std::uint16_t*>(prev),
                         static_cast<const std::uint16_t*>(cur), changed);
            break;
        default:
            AnalyseTyped(static_cast<const std::uint32_t*>(prev),
                         static_cast<const std::uint32_t*>(cur), changed);
            break;
    }
}

template <typename T>
void MotionSearch::AnalyseTyped(const T* prev, const T* cur, const std::uint8_t* changed) {
    const std::size_t blocks = static_cast<std::size_t>(blocksX_) * blocksY_;
    std::memset(hasLocal_.get(), 0, blocks);
    globalCount_ = 0;
    if (width_ < 2 * kBlockSize) {
        return;  // too narrow for the rolling look-ups
    }
    MarkNearChanged(changed);
    FillTable(prev);
    for (int by = 0; by < blocksY_; ++by) {
        for (int bx = 0; bx < blocksX_; ++bx) {
            if (changed[static_cast<std::size_t>(by) * blocksX_ + bx] != 0) {
                VoteBlock(cur, bx, by);
            }
        }
    }
    PickGlobal();
}

void MotionSearch::MarkNearChanged(const std::uint8_t* changed) {
    const std::size_t blocks = static_cast<std::size_t>(blocksX_) * blocksY_;
    std::memset(near_.get(), 0, blocks);
    for (int by = 0; by < blocksY_; ++by) {
        for (int bx = 0; bx < blocksX_; ++bx) {
            if (changed[static_cast<std::size_t>(by) * blocksX_ + bx] == 0) {
                continue;
            }
            const int y0 = std::max(0, by - kReachBlocks),
                      y1 = std::min(blocksY_ - 1, by + kReachBlocks);
            const int x0 = std::max(0, bx - kReachBlocks),
                      x1 = std::min(blocksX_ - 1, bx + kReachBlocks);
            for (int y = y0; y <= y1; ++y) {
                std::memset(near_.get() + static_cast<std::size_t>(y) * blocksX_ + x0, 1,
                            static_cast<std::size_t>(x1 - x0 + 1));
            }
        }
    }
}

template <typename T>
void MotionSearch::FillTable(const T* prev) {
    const std::size_t mask = (std::size_t{1} << tableBits_) - 1;
    std::memset(static_cast<void*>(table_.get()), 0, sizeof(Slot) * (mask + 1));
    tableUsed_ = 0;
    const int pieces = width_ / kBlockSize;  // whole pieces only
    for (int y = 0; y < height_; y += kRowStep) {
        const std::uint8_t* nearRow =
            near_.get() + static_cast<std::size_t>(y / kBlockSize) * blocksX_;
        const T* row = prev + static_cast<std::size_t>(y) * width_;
        for (int px = 0; px < pieces; ++px) {
            if (nearRow[px] == 0) {
                continue;
            }
            bool flat = false;
            const std::uint64_t h = PieceHash(row + px * kBlockSize, &flat);
            if (flat) {
                continue;  // a flat piece matches everywhere: no evidence
            }
            if (tableUsed_ >= tableLimit_) {
                return;
            }
            const std::uint32_t tag = TagOf(h);
            std::size_t i = static_cast<std::size_t>(h >> (64 - tableBits_));
            while (table_[i].tag != 0 && table_[i].tag != tag) {
                i = (i + 1) & mask;
            }
            if (table_[i].tag == 0) {  // the first of equal pieces stays
                table_[i] = {tag,
                             static_cast<std::uint32_t>(y) << 16 | static_cast<std::uint32_t>(px)};
                ++tableUsed_;
            }
        }
    }
}

template <typename T>
void MotionSearch::VoteBlock(const T* cur, int bx, int by) {
    const std::size_t mask = (std::size_t{1} << tableBits_) - 1;
    // Pieces starting at each of 16 offsets from the block's left edge, kept
    // inside the frame.
    const int x0 = std::min(bx * kBlockSize, width_ - 2 * kBlockSize + 1);
    const int x1 = x0 + kBlockSize - 1;
    hits_.clear();
    const int rows = std::min(kSampleRows, height_ - by * kBlockSize);
    for (int k = 0; k < rows; ++k) {
        const int r = by * kBlockSize + k;
        const T* row = cur + static_cast<std::size_t>(r) * width_;
        bool flat = false;
        std::uint64_t h = PieceHash(row + x0, &flat);
        int run = 1;  // equal pixels ending at the piece's right end
        while (run < kBlockSize && row[x0 + kBlockSize - 1 - run] == row[x0 + kBlockSize - 1]) {
            ++run;
        }
        for (int x = x0;; ++x) {
            if (run < kBlockSize) {
                const std::uint32_t tag = TagOf(h);
                std::size_t i = static_cast<std::size_t>(h >> (64 - tableBits_));
                while (table_[i].tag != 0 && table_[i].tag != tag) {
                    i = (i + 1) & mask;
                }
                if (table_[i].tag == tag) {
                    const int dx = static_cast<int>(table_[i].pos & 0xFFFF) * kBlockSize - x;
                    const int dy = static_cast<int>(table_[i].pos >> 16) - r;
                    if (dx >= -kMaxShift && dx <= kMaxShift && dy >= -kMaxShift &&
                        dy <= kMaxShift && (dx != 0 || dy != 0)) {
                        hits_.push_back(
                            {static_cast<std::int8_t>(dx), static_cast<std::int8_t>(dy)});
                        Vote(dx, dy);
                    }
                }
            }
            if (x == x1) {
                break;
            }
            const T in = row[x + kBlockSize];
            h = (h - row[x] * kHashTop) * kHashBase + in;
            run = in == row[x + kBlockSize - 1] ? run + 1 : 1;
        }
    }
    if (hits_.empty()) {
        return;
    }
    // The block's own most frequent displacement.
    const auto key = [](Vector v) { return (v.dy + 128) << 8 | (v.dx + 128); };
    std::sort(hits_.begin(), hits_.end(), [&](Vector a, Vector b) { return key(a) < key(b); });
    std::size_t best = 0, bestCount = 0;
    for (std::size_t i = 0; i < hits_.size();) {
        std::size_t j = i;
        while (j < hits_.size() && hits_[j] == hits_[i]) {
            ++j;
        }
        if (j - i > bestCount) {
            bestCount = j - i;
            best = i;
        }
        i = j;
    }
    const std::size_t block = static_cast<std::size_t>(by) * blocksX_ + bx;
    local_[block] = hits_[best];
    hasLocal_[block] = 1;
}

void MotionSearch::Vote(int dx, int dy) {
    const auto cell = static_cast<std::uint16_t>((dy + kMaxShift) * kVoteSide + dx + kMaxShift);
    if (votes_[cell] == 0) {
        touched_.push_back(cell);
    }
    if (votes_[cell] != 0xFFFF) {
        ++votes_[cell];
    }
}

void MotionSearch::PickGlobal() {
    int counts[kMaxGlobal] = {};
    globalCount_ = 0;
    for (const std::uint16_t cell : touched_) {
        const int n = votes_[cell];
        votes_[cell] = 0;
        if (n < kMinGlobalVotes) {
            continue;
        }
        // Insert into the short list, most votes first.
        int at = globalCount_;
        while (at > 0 && counts[at - 1] < n) {
            --at;
        }
        if (at >= kMaxGlobal) {
            continue;
        }
        const int last = std::min(globalCount_, kMaxGlobal - 1);
        for (int k = last; k > at; --k) {
            counts[k] = counts[k - 1];
            global_[k] = global_[k - 1];
        }
        counts[at] = n;
        global_[at] = {static_cast<std::int8_t>(cell % kVoteSide - kMaxShift),
                       static_cast<std::int8_t>(cell / kVoteSide - kMaxShift)};
        globalCount_ = std::min(globalCount_ + 1, kMaxGlobal);
    }
    touched_.clear();
}

}  // namespace vfw::zmbv
