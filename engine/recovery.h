// Recovering the recording that a killed or crashed run left behind in the
// temporary file ("~vstream.avi"). While recording, the session hands what it
// wrote to the system about twice a second, so such a file holds everything
// but the last moments: a header and whole frames, then perhaps a cut frame,
// with no index and unpatched sizes. The AVI reader reads it up to its last
// whole frame.
//
// Protocol for the caller (the program's start-up, once, after the
// single-instance check and before the camera is constructed, since the
// camera wipes the temporary file):
//   1. result = RecoverLeftoverRecording(tempFile, outputDir, tempDir,
//                                        stamp, &path), with the platform
//      installed (ActivePlatform()) and every name in the ANSI code page.
//   2. Recovered: a complete copy is at `path` and was read back; tell the
//      user where (FileNameForDisplay(path) for the message), then wipe the
//      temporary file with DeleteTempFile as usual.
//      NothingToRecover: no file, one that is no AVI file or has no whole
//      frame, no plain file (a folder, or a link that may lead to any file
//      of the user), or one whose recording was dealt with already (saved,
//      kept or discarded, then not wiped): wipe it silently with
//      WipeLeftoverRecording (which writes nothing through a link).
//      Failed: the file holds frames but no folder took a copy (a full
//      disk); the temporary file is left as it is, nothing was written.
//      NotYet: the file could not be read now (another program holds it,
//      a read error, too little memory); *problem says why. It is left as it
//      is for the next start, and the camera records into another name
//      meanwhile (FreeVideoTempFile).
#pragma once

#include <string>

#include "engine/temp_files.h"

enum class RecoveryResult {
    NothingToRecover,
    Recovered,
    Failed,
    NotYet,
};

// Copies the video of `tempFile`, with the sound of its temporary sound file
// when there is one (SoundTempFileFor), without recompressing (AVISaveV) into
// `outputDir` (may be empty: no output folder set) as
// "<stamp> (восстановлено).avi", or, when the output folder is not set or
// cannot take the file (missing, read-only, full), into `tempDir`. An
// existing file is never replaced, not even one that appears while the copy
// is written (it is written under a temporary name and renamed): the first
// free name of "<name> (2).avi", "<name> (3).avi" ... is taken. Where the
// ANSI code page cannot spell the Cyrillic word, the name says
// " (vosstanovleno)" instead. `stamp` is the
// temporary file's last write time in local time as "yyyy.MM.dd_hh-mm-ss"
// (kelvora::TimeStamp of shell/file_names.h; the engine does not depend on
// the shell, so the caller formats it).
// Folders may end with a separator or not. *recoveredPath (ANSI) receives
// the copy's name when the result is Recovered and is cleared otherwise.
// *problem (when given) receives the reason of NotYet (UTF-8), else is
// cleared.
RecoveryResult RecoverLeftoverRecording(const std::string& tempFile, const std::string& outputDir,
                                        const std::string& tempDir, const std::string& stamp,
                                        std::string* recoveredPath, std::string* problem = nullptr);
