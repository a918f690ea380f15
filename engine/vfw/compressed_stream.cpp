#include "engine/vfw/compressed_stream.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/vfw/avi_stream.h"
#include "engine/vfw/dib.h"
#include "engine/vfw/ic.h"

namespace vfw {

namespace {

HRESULT FromIcError(LRESULT r) {
    switch (r) {
        case ICERR_BADFORMAT:
        case ICERR_BADBITDEPTH:
        case ICERR_BADIMAGESIZE:
            return AVIERR_BADFORMAT;
        case ICERR_MEMORY:
            return AVIERR_MEMORY;
        case ICERR_BADSIZE:
            return AVIERR_BADSIZE;
        default:
            return AVIERR_COMPRESSOR;
    }
}

class CompressedStream : public AviStream {
  public:
    CompressedStream(PAVISTREAM target, HIC hic, const AVICOMPRESSOPTIONS& options)
        : target_(target), hic_(hic), options_(options) {
        target_->AddRef();
    }

    HRESULT Info(AVISTREAMINFOA* info) override { return target_->Info(info); }

    HRESULT SetFormat(LONG pos, const void* format, LONG formatSize) override {
        if (began_ || ended_) {
            return AVIERR_UNSUPPORTED;  // the frame format is fixed for the run
        }
        if (format == nullptr || formatSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) {
            return AVIERR_BADPARAM;
        }
        const auto* in = static_cast<const BITMAPINFOHEADER*>(format);
        if (in->biSize < sizeof(BITMAPINFOHEADER) ||
            formatSize <
                static_cast<LONG>(in->biSize + (in->biBitCount <= 8 ? in->biClrUsed * 4 : 0))) {
            return AVIERR_BADFORMAT;
        }
        inFormat_.assign(static_cast<const BYTE*>(format),
                         static_cast<const BYTE*>(format) + formatSize);
        const auto* input = reinterpret_cast<const BITMAPINFOHEADER*>(inFormat_.data());
        const auto p = [](const void* x) { return reinterpret_cast<DWORD_PTR>(x); };

        if (ICCompressQuery(hic_, input, nullptr) != ICERR_OK) {
            return AVIERR_BADFORMAT;
        }
        const LRESULT outSize = ICSendMessage(hic_, ICM_COMPRESS_GET_FORMAT, p(input), 0);
        if (outSize < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER))) {
            return AVIERR_BADFORMAT;
        }
        outFormat_.assign(static_cast<size_t>(outSize), 0);
        auto* output = reinterpret_cast<BITMAPINFOHEADER*>(outFormat_.data());
        LRESULT r = ICSendMessage(hic_, ICM_COMPRESS_GET_FORMAT, p(input), p(output));
        if (r != ICERR_OK) {
            return FromIcError(r);
        }
        const LRESULT maxFrame = ICSendMessage(hic_, ICM_COMPRESS_GET_SIZE, p(input), p(output));
        if (maxFrame <= 0) {
            return AVIERR_COMPRESSOR;
        }
        inputBytes_ = input->biSizeImage != 0
                          ? input->biSizeImage
                          : DibRowBytes(input->biWidth, input->biBitCount) *
                                static_cast<std::uint64_t>(input->biHeight < 0 ? -input->biHeight
                                                                               : input->biHeight);
        HRESULT hr =
            target_->SetFormat(pos, outFormat_.data(), static_cast<LONG>(outFormat_.size()));
        if (hr != AVIERR_OK) {
            return hr;
        }
        // Large frames in a 32-bit process: the output buffer or the thread
        // may not be had. That is a refused format, not the end of the
        // program.
        try {
            output_.assign(static_cast<size_t>(maxFrame), 0);
        } catch (const std::bad_alloc&) {
            ReleaseBuffers();
            return AVIERR_MEMORY;
        }
        r = ICSendMessage(hic_, ICM_COMPRESS_BEGIN, p(input), p(output));
        if (r != ICERR_OK) {
            ReleaseBuffers();
            return FromIcError(r);
        }
        began_ = true;
        try {
            worker_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            ICSendMessage(hic_, ICM_COMPRESS_END, 0, 0);
            began_ = false;
            ReleaseBuffers();
            return AVIERR_MEMORY;
        }
        return AVIERR_OK;
    }

    HRESULT Write(LONG start, LONG samples, const void* buffer, LONG bufferSize, DWORD flags,
                  LONG* samplesWritten, LONG* bytesWritten) override {
        (void)flags;  // the compressor decides which frames are key frames
        if (samples != 1) {
            return AVIERR_BADPARAM;
        }
        const HRESULT r = Queue(start, buffer, bufferSize, nullptr, nullptr);
        if (r == AVIERR_OK && samplesWritten != nullptr) {
            *samplesWritten = 1;
        }
        if (r == AVIERR_OK && bytesWritten != nullptr) {
            *bytesWritten = bufferSize;
        }
        return r;
    }

    HRESULT WriteBorrowed(LONG start, const void* buffer, LONG bufferSize, DWORD flags,
                          FrameRelease release, void* context) override {
        (void)flags;
        const HRESULT r = Queue(start, buffer, bufferSize, release, context);
        if (r != AVIERR_OK) {
            release(context);  // not queued: the caller has it back
        }
        return r;
    }

    // The target is flushed by the compression thread once the frames queued
    // before have been written, so the caller never waits for the compressor
    // here. One pending flush covers every later request until it is done.
    HRESULT Flush() override {
        if (ended_) {
            return endResult_;
        }
        if (!began_) {
            return AVIERR_OK;  // nothing written yet
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_ != AVIERR_OK) {
            return failure_;
        }
        if (!flushQueued_) {
            queue_.push_back({-1, {}, nullptr, nullptr, nullptr, true});
            flushQueued_ = true;
            work_.notify_one();
        }
        return AVIERR_OK;
    }

    HRESULT EndWrite() override {
        if (ended_) {
            return endResult_;
        }
        Drain();
        ended_ = true;
        endResult_ = failure_ != AVIERR_OK ? failure_ : target_->EndWrite();
        return endResult_;
    }

  protected:
    ~CompressedStream() override {
        Drain();
        ICClose(hic_);
        target_->Release();
    }

  private:
    // Queues a frame: copied into a free buffer, or lent (release set) and
    // read in place until the compression thread gives it back.
    HRESULT Queue(LONG start, const void* buffer, LONG bufferSize, FrameRelease release,
                  void* context) {
        if (!began_) {
            return AVIERR_BADFORMAT;  // no format set yet
        }
        // A frame of another size than the format's would be read as a
        // sheared picture: refused.
        if (buffer == nullptr || start < 0 || bufferSize < 0 ||
            static_cast<std::uint64_t>(bufferSize) != inputBytes_) {
            return AVIERR_BADPARAM;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (start <= lastQueued_) {
            return AVIERR_BADPARAM;  // positions grow
        }
        // Wait for room: the caller slows down to the compressor's pace
        // instead of queueing without bound.
        slotFree_.wait(lock,
                       [this] { return failure_ != AVIERR_OK || inFlight_ < kCompressQueueDepth; });
        if (failure_ != AVIERR_OK) {
            return failure_;
        }
        Frame frame{start, {}, nullptr, release, context, false};
        if (release != nullptr) {
            frame.data = static_cast<const BYTE*>(buffer);
        } else {
            frame.bits = std::move(free_[--freeCount_]);
            lock.unlock();
            // Copies are made on first use: a caller that lends its frames
            // never needs them.
            try {
                frame.bits.resize(static_cast<size_t>(inputBytes_));
            } catch (const std::bad_alloc&) {
                lock.lock();
                free_[freeCount_++] = std::move(frame.bits);
                return AVIERR_MEMORY;
            }
            std::memcpy(frame.bits.data(), buffer, static_cast<size_t>(inputBytes_));
            frame.data = frame.bits.data();
            lock.lock();
        }
        ++inFlight_;
        queue_.push_back(std::move(frame));
        lastQueued_ = start;
        work_.notify_one();
        return AVIERR_OK;
    }

    // Lets the compression thread write every queued frame, waits for it and
    // ends the compressor's session.
    void Drain() {
        if (worker_.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                stopping_ = true;
            }
            work_.notify_one();
            worker_.join();
        }
        if (began_) {
            ICSendMessage(hic_, ICM_COMPRESS_END, 0, 0);
            began_ = false;
        }
    }

    void ReleaseBuffers() {
        std::vector<BYTE>().swap(output_);
        for (auto& slot : free_) {
            std::vector<BYTE>().swap(slot);
        }
    }

    // A frame to compress and write, or a flush of the target. Its pixels
    // are `data`: its own copy in `bits`, or a lent frame given back through
    // `release`.
    struct Frame {
        LONG pos;
        std::vector<BYTE> bits;
        const BYTE* data;
        FrameRelease release;
        void* context;
        bool flush;
    };

    // The compression thread: takes queued frames and flushes in order until
    // the stream is released and the queue is empty.
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            Frame frame = std::move(queue_.front());
            queue_.pop_front();
            const bool failed = failure_ != AVIERR_OK;
            if (frame.flush) {
                flushQueued_ = false;
            }
            lock.unlock();
            HRESULT r = AVIERR_OK;
            if (!failed) {
                r = frame.flush ? target_->Flush() : CompressAndWrite(frame);
            }
            if (frame.release != nullptr) {
                frame.release(frame.context);  // the compressor has read it
            }
            lock.lock();
            if (r != AVIERR_OK) {
                failure_ = r;
            }
            if (!frame.flush) {
                if (frame.release == nullptr) {
                    free_[freeCount_++] = std::move(frame.bits);
                }
                --inFlight_;
            }
            slotFree_.notify_one();
        }
    }

    HRESULT CompressAndWrite(const Frame& frame) {
        const auto* input = reinterpret_cast<BITMAPINFOHEADER*>(inFormat_.data());
        BITMAPINFOHEADER out = *reinterpret_cast<const BITMAPINFOHEADER*>(outFormat_.data());
        DWORD chunkFlags = 0;
        DWORD ckid = 0;
        ICCOMPRESS c{};
        const bool keyDue = framesSinceKey_ < 0 ||
                            (options_.dwKeyFrameEvery != 0 &&
                             static_cast<DWORD>(framesSinceKey_) + 1 >= options_.dwKeyFrameEvery);
        c.dwFlags = keyDue ? ICCOMPRESS_KEYFRAME : 0;
        c.lpbiOutput = &out;
        c.lpOutput = output_.data();
        c.lpbiInput = const_cast<BITMAPINFOHEADER*>(input);
        c.lpInput = const_cast<BYTE*>(frame.data);
        c.lpckid = &ckid;
        c.lpdwFlags = &chunkFlags;
        c.lFrameNum = frame.pos;
        c.dwQuality = options_.dwQuality;
        const LRESULT r =
            ICSendMessage(hic_, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&c), sizeof(c));
        if (r != ICERR_OK) {
            return FromIcError(r);
        }
        if (out.biSizeImage > output_.size()) {
            return AVIERR_COMPRESSOR;  // the compressor overran its own bound
        }
        const bool key = (chunkFlags & AVIIF_KEYFRAME) != 0;
        framesSinceKey_ = key ? 0 : framesSinceKey_ + 1;
        return target_->Write(frame.pos, 1, output_.data(), static_cast<LONG>(out.biSizeImage),
                              key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
    }

    PAVISTREAM target_;
    HIC hic_;
    AVICOMPRESSOPTIONS options_;
    std::vector<BYTE> inFormat_;
    std::vector<BYTE> outFormat_;
    std::uint64_t inputBytes_ = 0;
    bool began_ = false;

    // Used by the compression thread only.
    std::vector<BYTE> output_;
    long framesSinceKey_ = -1;  // -1: no key frame yet

    std::mutex mutex_;
    std::condition_variable work_;      // a frame was queued, or stopping
    std::condition_variable slotFree_;  // a buffer came back, or a failure
    std::deque<Frame> queue_;
    std::vector<BYTE> free_[kCompressQueueDepth];
    int freeCount_ = kCompressQueueDepth;
    int inFlight_ = 0;  // frames queued or being compressed, copied or lent
    LONG lastQueued_ = -1;
    HRESULT failure_ = AVIERR_OK;
    bool flushQueued_ = false;
    bool stopping_ = false;
    bool ended_ = false;  // EndWrite ran: nothing more is taken
    HRESULT endResult_ = AVIERR_OK;
    std::thread worker_;
};

}  // namespace

HRESULT AVIMakeCompressedStream(PAVISTREAM* compressed, PAVISTREAM source,
                                const AVICOMPRESSOPTIONS* options, const void* handler) {
    if (compressed == nullptr) {
        return AVIERR_BADPARAM;
    }
    *compressed = nullptr;
    if (source == nullptr) {
        return AVIERR_BADHANDLE;
    }
    if (options == nullptr || handler != nullptr) {
        return AVIERR_BADPARAM;
    }
    // The options name the stream type ('vids'); video streams are
    // compressed by video compressors ('vidc').
    if (options->fccType != 0 && options->fccType != streamtypeVIDEO) {
        return AVIERR_UNSUPPORTED;
    }
    HIC hic = ICOpen(ICTYPE_VIDEO, options->fccHandler, ICMODE_COMPRESS);
    if (hic == nullptr) {
        return AVIERR_NOCOMPRESSOR;
    }
    *compressed = new CompressedStream(source, hic, *options);
    return AVIERR_OK;
}

}  // namespace vfw
