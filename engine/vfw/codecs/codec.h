// One open instance of a built-in compressor, behind the compressor manager's
// message interface (engine/vfw/ic.h). Message() checks parameters and the
// order of the compression messages and dispatches to the members a codec
// implements; a codec never sees a null format or a compress before begin.
//
// A codec allocates its buffers in CompressBegin and never per frame, keeps
// its own previous frame for delta frames, and makes a key frame for the
// first frame after begin and whenever ICCOMPRESS_KEYFRAME asks for one.
#pragma once

#include <memory>

#include "engine/vfw/ic.h"

namespace vfw {

// Dialogs of the compressors. The Windows build installs real ones
// (SetCodecDialogs); without them ICM_ABOUT and ICM_CONFIGURE still answer
// their query forms but show nothing.
struct CodecDialogs {
    // Modal about box over `window`.
    void (*about)(void* window, const ICINFO& info, const char* text);
    // Modal choice among `count` labels over `window`; returns the chosen
    // index, or -1 when cancelled.
    int (*choose)(void* window, const ICINFO& info, const char* const* labels, int count,
                  int current);
};
void SetCodecDialogs(const CodecDialogs* dialogs);

class Codec {
public:
    virtual ~Codec() = default;

    // The message procedure of this instance.
    LRESULT Message(UINT msg, DWORD_PTR p1, DWORD_PTR p2);

    bool compressing() const { return began_; }

protected:
    Codec() = default;

    // Fills info (all of it: dwSize, type, handler, flags, names).
    virtual void GetInfo(ICINFO* info) const = 0;
    // The usual GetInfo of a built-in: version 1.0 of a video compressor,
    // names cut to their fields.
    static void FillInfo(ICINFO* info, FOURCC handler, DWORD flags, const char16_t* name,
                         const char16_t* description);
    // ICERR_OK when `in` can be compressed (to `out`, when not null).
    virtual LRESULT CompressQuery(const BITMAPINFOHEADER* in,
                                  const BITMAPINFOHEADER* out) const = 0;
    // Bytes of the output format for `in` (header plus colour table).
    virtual LRESULT FormatSize(const BITMAPINFOHEADER* in) const = 0;
    // Writes the output format for `in` into `out` (FormatSize bytes).
    virtual LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const = 0;
    // Largest compressed frame for `in`.
    virtual LRESULT MaxFrameSize(const BITMAPINFOHEADER* in) const = 0;
    virtual LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) = 0;
    // Compresses one frame: c.lpbiOutput->biSizeImage receives its size and
    // *c.lpdwFlags AVIIF_KEYFRAME or 0. `keyFrame` is true when one is due.
    virtual LRESULT Compress(const ICCOMPRESS& c, bool keyFrame) = 0;
    virtual void CompressEnd() = 0;

    // About box: a codec that has one returns its text (UTF-8: what it is,
    // its version and licence); null means no about box.
    virtual const char* AboutText() const { return nullptr; }
    // Configuration dialog: a choice among labelled settings (UTF-8) kept in
    // the compressor's own state, shared by all its instances. A codec
    // without a dialog has no choices.
    virtual int SettingCount() const { return 0; }
    virtual const char* SettingLabel(int index) const { (void)index; return nullptr; }
    virtual int Setting() const { return 0; }
    virtual void SetSetting(int index) { (void)index; }

    virtual DWORD DefaultQuality() const { return 7500; }

private:
    LRESULT ShowAbout(void* window);
    LRESULT ShowConfigure(void* window);

    bool began_ = false;
    bool firstFrame_ = true;
};

}  // namespace vfw
