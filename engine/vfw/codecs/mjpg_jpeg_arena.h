// Working memory of a libjpeg compressor that codes one picture size over and
// over. libjpeg's own memory manager returns its per-picture pool to the
// system after every picture and takes it back at the next; this arena keeps
// the blocks and hands the same memory out again, so that once one picture of
// the size has been coded, coding more of them allocates nothing.
//
// Protocol:
//   jpeg_create_compress(&c); arena.Install((j_common_ptr)&c);
//   ... jpeg_set_defaults, pictures ...
//   jpeg_destroy_compress(&c);  // frees the arena's blocks, then libjpeg's manager
// Whole-picture (virtual) arrays, which Huffman optimisation needs, are kept
// in memory: there is no backing store.
#pragma once

#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t

#include <jpeglib.h>

namespace vfw {

class JpegArena {
  public:
    JpegArena() = default;
    JpegArena(const JpegArena&) = delete;
    JpegArena& operator=(const JpegArena&) = delete;
    ~JpegArena();

    // Replaces the memory manager of `cinfo`, just created by
    // jpeg_create_compress and not yet used. The arena must outlive the
    // object's jpeg_destroy, which releases the arena's blocks and hands the
    // object back to libjpeg's manager for its own clean-up.
    void Install(j_common_ptr cinfo);

    // Blocks taken from the system since Install (never decreases).
    std::size_t systemAllocations() const { return systemAllocations_; }

  private:
    static constexpr int kMaxChunks = 64;

    struct Chunk {
        void* raw;            // as malloc returned it
        unsigned char* data;  // aligned start
        std::size_t size;     // usable bytes from data
    };
    // A pool is rewound, not freed: the next picture walks the same chunks.
    struct Pool {
        Chunk chunks[kMaxChunks];
        int count = 0;
        int current = 0;
        std::size_t used = 0;  // bytes used in chunks[current]
    };
    // A whole-picture array of the image pool, handed to libjpeg as an
    // opaque jvirt_sarray_ptr / jvirt_barray_ptr.
    struct VirtualArray {
        JSAMPARRAY samples;  // the rows once realised: samples or blocks
        JBLOCKARRAY blocks;
        JDIMENSION width;  // samples or blocks a row
        JDIMENSION height;
        bool isBlocks;
        bool preZero;
        VirtualArray* next;
    };
    // What libjpeg sees as cinfo->mem; `pub` first so that the callbacks can
    // find the arena from cinfo->mem.
    struct Manager {
        jpeg_memory_mgr pub;
        JpegArena* arena;
    };

    static JpegArena* From(j_common_ptr cinfo);
    static void* AllocSmall(j_common_ptr cinfo, int pool, std::size_t size);
    static JSAMPARRAY AllocSamples(j_common_ptr cinfo, int pool, JDIMENSION samplesPerRow,
                                   JDIMENSION rows);
    static JBLOCKARRAY AllocBlocks(j_common_ptr cinfo, int pool, JDIMENSION blocksPerRow,
                                   JDIMENSION rows);
    static jvirt_sarray_ptr RequestVirtualSamples(j_common_ptr cinfo, int pool, boolean preZero,
                                                  JDIMENSION samplesPerRow, JDIMENSION rows,
                                                  JDIMENSION maxAccess);
    static jvirt_barray_ptr RequestVirtualBlocks(j_common_ptr cinfo, int pool, boolean preZero,
                                                 JDIMENSION blocksPerRow, JDIMENSION rows,
                                                 JDIMENSION maxAccess);
    static void RealizeVirtualArrays(j_common_ptr cinfo);
    static JSAMPARRAY AccessVirtualSamples(j_common_ptr cinfo, jvirt_sarray_ptr array,
                                           JDIMENSION startRow, JDIMENSION rows, boolean writable);
    static JBLOCKARRAY AccessVirtualBlocks(j_common_ptr cinfo, jvirt_barray_ptr array,
                                           JDIMENSION startRow, JDIMENSION rows, boolean writable);
    static void FreePool(j_common_ptr cinfo, int pool);
    static void SelfDestruct(j_common_ptr cinfo);

    // Aligned memory from `pool`; ends in a libjpeg error when it cannot.
    void* Allocate(j_common_ptr cinfo, int pool, unsigned long long size);
    // Row pointers of type Row (JSAMPROW or JBLOCKROW) into one block of
    // `rows` rows of `width` elements.
    template <typename Row>
    Row* TwoDimensional(j_common_ptr cinfo, int pool, JDIMENSION width, JDIMENSION rows);
    VirtualArray* RequestVirtual(j_common_ptr cinfo, int pool, bool isBlocks, bool preZero,
                                 JDIMENSION width, JDIMENSION rows);
    static bool CheckAccess(j_common_ptr cinfo, const VirtualArray* array, JDIMENSION startRow,
                            JDIMENSION rows);
    void ReleaseAll();

    Manager manager_{};
    jpeg_memory_mgr* original_ = nullptr;
    Pool pools_[JPOOL_NUMPOOLS];
    VirtualArray* virtualArrays_ = nullptr;
    std::size_t systemAllocations_ = 0;
};

}  // namespace vfw
