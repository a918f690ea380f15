// The temporary recording: where it lives ("~vstream.avi" in the system's
// temporary folder, or a free numbered name beside a leftover), the mark of
// a recording whose fate is settled, and the safe wipe that removes it.
// Recording, saving, the start-up's recovery and the program's exit all
// reach the file through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CameraPlatform;

inline constexpr const char* kVideoTempName = "~vstream.avi";
// What FindFirstFile matches to find every temporary recording of a folder.
inline constexpr const char* kVideoTempPattern = "~vstream*.avi";

// The system's temporary folder, ending with a backslash (a bare one when
// the system names none).
std::string TempRecordingFolder(CameraPlatform& platform);

// The temporary recording of a camera: "~vstream.avi" in `tempDir` (which
// ends with a separator), or while a file of that name is there (one not
// recovered yet), the first free "~vstream (n).avi", so that a recording
// never wipes one that is still to be recovered. The start-up recovers each
// of these names.
std::string FreeVideoTempFile(const std::string& tempDir);

// The temporary sound file that goes with the temporary recording `videoTemp`:
// "~vstream.avi" has "~astream.wav" beside it, "~vstream (2).avi"
// "~astream (2).wav" (any other name gets ".wav" appended).
std::string SoundTempFileFor(const std::string& videoTemp);

// A recording whose fate is settled (saved, kept elsewhere, discarded or
// recovered) is marked before its temporary file is wiped, so that a file
// the wipe could not remove (held by another program) never comes back as
// a cut-off recording. The mark is a small file beside it.
void MarkRecordingSettled(const std::string& tempFile);
// Wipes the temporary file (DeleteTempFile) and its sound file, and, once
// the recording is gone, its mark.
// True when both are gone.
bool WipeLeftoverRecording(const std::string& tempFile);
// Before a new recording goes into `tempFile` (already wiped): removes the
// mark of the last one. False when a mark stays.
bool ClearRecordingSettled(const std::string& tempFile);
// The mark's name: the temporary file's name with ".settled" added.
std::string RecordingSettledMark(const std::string& tempFile);

// Overwrites a file three times with random bytes, flushing after each
// pass, then deletes it; a file that cannot be opened exclusively is
// scheduled for deletion at the next restart instead. Progress goes to
// CurrentCamera's FOnProgress, whose handler may cancel. Only a file with
// this one name is overwritten: a link (symbolic or hard) is deleted without
// a write, and a folder is left alone (false). True when the file is gone
// (or its deletion was scheduled).
bool DeleteTempFile(const std::string& FileName);
// True when the file exists and cannot be opened for exclusive read/write.
bool IsFileLocked(const std::string& FileName);
// Fills the 4096-byte wipe buffer with pseudo-random bytes.
inline constexpr size_t kWipeBlockSize = 4096;
void FillRandomBlock(std::uint8_t (&Buffer)[kWipeBlockSize]);

// DeleteTempFile; *Cancelled (when given) receives whether the progress
// handler cancelled.
bool WipeAndDelete(const std::string& FileName, bool* Cancelled);
