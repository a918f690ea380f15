// The screenshot command's work: one picture of the primary screen, saved as
// BMP, JPEG or PNG under a name made of the output folder and a time.
//
// Protocol: the caller (the main controller's TakeScreenshot) loads the
// settings and checks that the output folder is set and exists; then it calls
// SaveScreenshot once, on the UI thread, and shows `error` in an "Error" box
// when the outcome is Failed. Skipped is silent on purpose: a `Format` other
// than "BMP", "JPG" or "PNG" and a `Compress` that is not an integer save
// nothing and report nothing.
//
// Files: the picture goes into a temporary file in the folder of the final
// name and is renamed onto the final name only once it is complete. A file
// of that name is never replaced: two shots within one second give
// "<time>.png" and "<time> (2).png". On any failure the temporary file is
// removed: a failed save leaves nothing behind, never a truncated picture.
//
// Strings: the output folder and the saved path are ANSI (as the settings
// file holds them); the error text is UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "shell/file_names.h"

namespace kelvora {

enum class ScreenshotOutcome {
    Saved,    // the picture is in `path`
    Skipped,  // the settings select nothing to save; no file, no message
    Failed,   // nothing saved; `error` says why
};

struct ScreenshotResult {
    ScreenshotOutcome outcome = ScreenshotOutcome::Skipped;
    std::string path;   // Saved: the file written, perhaps a numbered name (ANSI)
    std::string error;  // Failed: the reason, in Russian, for an "Error" box (UTF-8)
};

// Captures the primary screen (the cursor is not drawn) and saves it as
// `outputDir` + "yyyy.MM.dd_hh-mm-ss" of `now` + the format's extension:
//   "BMP": an uncompressed Windows bitmap at the display's bit depth;
//   "JPG": a baseline colour JPEG at the quality `compress` selects
//          (screenshot_rules.h: empty -> 80, 300 -> 44, 0 -> 1);
//   "PNG": a PNG of 8-bit RGB.
[[nodiscard]] ScreenshotResult SaveScreenshot(const std::string& outputDir,
                                              const std::string& format,
                                              const std::string& compress, const LocalTime& now);

// Tests only: every file the screenshot command writes fails as on a full
// disk once it would grow past `bytes` (0 removes the limit).
void SetScreenshotWriteLimitForTesting(std::uint64_t bytes);

}  // namespace kelvora
