#include "engine/vfw/codecs/mjpg_jpeg_arena.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <jerror.h>

namespace vfw {

namespace {

// libjpeg-turbo's SIMD code wants 32-byte aligned rows and may touch the
// bytes up to the next alignment boundary past an object, so every object is
// aligned and rounded up to a generous 64 bytes.
constexpr std::size_t kAlign = 64;
constexpr std::size_t kMinChunk = 256 * 1024;
// Far beyond what a picture of kMaxDibDimension needs; stops overflow.
constexpr unsigned long long kMaxRequest = 1ull << 30;

constexpr unsigned long long RoundUp(unsigned long long n) {
    return (n + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

JpegArena::~JpegArena() {
    ReleaseAll();
}

JpegArena* JpegArena::From(j_common_ptr cinfo) {
    return reinterpret_cast<Manager*>(cinfo->mem)->arena;
}

void JpegArena::Install(j_common_ptr cinfo) {
    original_ = cinfo->mem;
    manager_.pub = *original_;  // keeps libjpeg's limits
    manager_.pub.alloc_small = AllocSmall;
    manager_.pub.alloc_large = AllocSmall;
    manager_.pub.alloc_sarray = AllocSamples;
    manager_.pub.alloc_barray = AllocBlocks;
    manager_.pub.request_virt_sarray = RequestVirtualSamples;
    manager_.pub.request_virt_barray = RequestVirtualBlocks;
    manager_.pub.realize_virt_arrays = RealizeVirtualArrays;
    manager_.pub.access_virt_sarray = AccessVirtualSamples;
    manager_.pub.access_virt_barray = AccessVirtualBlocks;
    manager_.pub.free_pool = FreePool;
    manager_.pub.self_destruct = SelfDestruct;
    manager_.arena = this;
    cinfo->mem = &manager_.pub;
}

void* JpegArena::Allocate(j_common_ptr cinfo, int poolId, unsigned long long request) {
    if (poolId < 0 || poolId >= JPOOL_NUMPOOLS) {
        ERREXIT1(cinfo, JERR_BAD_POOL_ID, poolId);
        return nullptr;
    }
    if (request > kMaxRequest) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
        return nullptr;
    }
    const std::size_t size = static_cast<std::size_t>(RoundUp(request == 0 ? 1 : request));
    Pool& pool = pools_[poolId];
    while (pool.current < pool.count) {
        Chunk& chunk = pool.chunks[pool.current];
        if (chunk.size - pool.used >= size) {
            void* p = chunk.data + pool.used;
            pool.used += size;
            return p;
        }
        ++pool.current;
        pool.used = 0;
    }
    if (pool.count == kMaxChunks) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
        return nullptr;
    }
    const std::size_t chunkSize = size > kMinChunk ? size : kMinChunk;
    void* raw = std::malloc(chunkSize + kAlign - 1);
    if (raw == nullptr) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 3);
        return nullptr;
    }
    ++systemAllocations_;
    const auto address = reinterpret_cast<std::uintptr_t>(raw);
    auto* data = static_cast<unsigned char*>(raw) + (RoundUp(address) - address);
    pool.chunks[pool.count] = Chunk{raw, data, chunkSize};
    pool.current = pool.count++;
    pool.used = size;
    return data;
}

template <typename Row>
Row* JpegArena::TwoDimensional(j_common_ptr cinfo, int pool, JDIMENSION width, JDIMENSION rows) {
    // Rows rounded up to whole alignment units: SIMD and upsampling code
    // work in units wider than one element.
    const unsigned long long rowBytes =
        RoundUp(static_cast<unsigned long long>(width) * sizeof(std::remove_pointer_t<Row>));
    if (rows == 0 || rowBytes > kMaxRequest || rowBytes * rows > kMaxRequest) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 4);
        return nullptr;
    }
    auto* pointers = static_cast<Row*>(Allocate(cinfo, pool, rows * sizeof(Row)));
    auto* block = static_cast<unsigned char*>(Allocate(cinfo, pool, rowBytes * rows));
    for (JDIMENSION y = 0; y < rows; ++y) {
        pointers[y] = reinterpret_cast<Row>(block + static_cast<std::size_t>(rowBytes) * y);
    }
    return pointers;
}

void* JpegArena::AllocSmall(j_common_ptr cinfo, int pool, std::size_t size) {
    return From(cinfo)->Allocate(cinfo, pool, size);
}

JSAMPARRAY JpegArena::AllocSamples(j_common_ptr cinfo, int pool, JDIMENSION samplesPerRow,
                                   JDIMENSION rows) {
    return From(cinfo)->TwoDimensional<JSAMPROW>(cinfo, pool, samplesPerRow, rows);
}

JBLOCKARRAY JpegArena::AllocBlocks(j_common_ptr cinfo, int pool, JDIMENSION blocksPerRow,
                                   JDIMENSION rows) {
    return From(cinfo)->TwoDimensional<JBLOCKROW>(cinfo, pool, blocksPerRow, rows);
}

JpegArena::VirtualArray* JpegArena::RequestVirtual(j_common_ptr cinfo, int pool, bool isBlocks,
                                                   bool preZero, JDIMENSION width,
                                                   JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) {
        ERREXIT1(cinfo, JERR_BAD_POOL_ID, pool);
        return nullptr;
    }
    auto* array = static_cast<VirtualArray*>(Allocate(cinfo, pool, sizeof(VirtualArray)));
    *array = VirtualArray{nullptr, nullptr, width, rows, isBlocks, preZero, virtualArrays_};
    virtualArrays_ = array;
    return array;
}

jvirt_sarray_ptr JpegArena::RequestVirtualSamples(j_common_ptr cinfo, int pool, boolean preZero,
                                                  JDIMENSION samplesPerRow, JDIMENSION rows,
                                                  JDIMENSION) {
    return reinterpret_cast<jvirt_sarray_ptr>(
        From(cinfo)->RequestVirtual(cinfo, pool, false, preZero != FALSE, samplesPerRow, rows));
}

jvirt_barray_ptr JpegArena::RequestVirtualBlocks(j_common_ptr cinfo, int pool, boolean preZero,
                                                 JDIMENSION blocksPerRow, JDIMENSION rows,
                                                 JDIMENSION) {
    return reinterpret_cast<jvirt_barray_ptr>(
        From(cinfo)->RequestVirtual(cinfo, pool, true, preZero != FALSE, blocksPerRow, rows));
}

// Every array is held whole in memory, so realising one is allocating it.
void JpegArena::RealizeVirtualArrays(j_common_ptr cinfo) {
    JpegArena* arena = From(cinfo);
    for (VirtualArray* a = arena->virtualArrays_; a != nullptr; a = a->next) {
        if (a->isBlocks && a->blocks == nullptr) {
            a->blocks = arena->TwoDimensional<JBLOCKROW>(cinfo, JPOOL_IMAGE, a->width, a->height);
            for (JDIMENSION y = 0; a->preZero && y < a->height; ++y) {
                std::memset(a->blocks[y], 0, a->width * sizeof(JBLOCK));
            }
        } else if (!a->isBlocks && a->samples == nullptr) {
            a->samples = arena->TwoDimensional<JSAMPROW>(cinfo, JPOOL_IMAGE, a->width, a->height);
            for (JDIMENSION y = 0; a->preZero && y < a->height; ++y) {
                std::memset(a->samples[y], 0, a->width * sizeof(JSAMPLE));
            }
        }
    }
}

bool JpegArena::CheckAccess(j_common_ptr cinfo, const VirtualArray* array, JDIMENSION startRow,
                            JDIMENSION rows) {
    const bool realised = array != nullptr &&
                          (array->isBlocks ? array->blocks != nullptr : array->samples != nullptr);
    if (!realised || startRow > array->height || rows > array->height - startRow) {
        ERREXIT(cinfo, JERR_BAD_VIRTUAL_ACCESS);
        return false;
    }
    return true;
}

JSAMPARRAY JpegArena::AccessVirtualSamples(j_common_ptr cinfo, jvirt_sarray_ptr handle,
                                           JDIMENSION startRow, JDIMENSION rows, boolean) {
    auto* array = reinterpret_cast<VirtualArray*>(handle);
    return CheckAccess(cinfo, array, startRow, rows) ? array->samples + startRow : nullptr;
}

JBLOCKARRAY JpegArena::AccessVirtualBlocks(j_common_ptr cinfo, jvirt_barray_ptr handle,
                                           JDIMENSION startRow, JDIMENSION rows, boolean) {
    auto* array = reinterpret_cast<VirtualArray*>(handle);
    return CheckAccess(cinfo, array, startRow, rows) ? array->blocks + startRow : nullptr;
}

void JpegArena::FreePool(j_common_ptr cinfo, int poolId) {
    if (poolId < 0 || poolId >= JPOOL_NUMPOOLS) {
        ERREXIT1(cinfo, JERR_BAD_POOL_ID, poolId);
        return;
    }
    JpegArena* arena = From(cinfo);
    Pool& pool = arena->pools_[poolId];
    pool.current = 0;
    pool.used = 0;
    if (poolId == JPOOL_IMAGE) {
        arena->virtualArrays_ = nullptr;  // they lived in that pool
    }
}

void JpegArena::SelfDestruct(j_common_ptr cinfo) {
    JpegArena* arena = From(cinfo);
    arena->ReleaseAll();
    cinfo->mem = arena->original_;
    arena->original_ = nullptr;
    (*cinfo->mem->self_destruct)(cinfo);
}

void JpegArena::ReleaseAll() {
    for (Pool& pool : pools_) {
        for (int i = 0; i < pool.count; ++i) {
            std::free(pool.chunks[i].raw);
        }
        pool = Pool{};
    }
    virtualArrays_ = nullptr;
}

}  // namespace vfw
