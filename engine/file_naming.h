// Names for files that must never replace one the user already has: the
// wanted name first, then "<stem> (2)<ext>", "<stem> (3)<ext>" and so on;
// and the temporary names beside a target that a file is written under
// before it is renamed. Recordings, recovered recordings and screenshots all
// take their names here. Portable: names are plain strings with '\' or '/' separators.
#pragma once

#include <functional>
#include <string>

// The n-th name for `path`: n <= 1 gives `path` itself, n >= 2 gives
// "<stem> (n)<ext>", where <ext> is the part from the last dot of the last
// path component (none: the number goes at the end).
std::string NumberedFileName(const std::string& path, int n);

// How one name fared: the file is now under it, a file of that name exists
// already (the next name is tried), or the folder refused it (no further
// name is tried: another name in the same folder would fail the same way).
enum class NameTry { Taken, Exists, Failed };

// Offers the names of `path` in order to `take`, at most kMaxFileNumber of
// them, until one is Taken; returns that name, or an empty string when a
// try Failed or every name exists. `take` must not replace an existing file.
inline constexpr int kMaxFileNumber = 999;
std::string TakeFreeFileName(const std::string& path,
                             const std::function<NameTry(const std::string& name)>& take);

// The temporary names beside `path` ("<path>.0.tmp", "<path>.1.tmp", ... at
// most kMaxTempNumber of them), offered to `take` in the same way; a name an
// earlier crash left is skipped, never overwritten.
inline constexpr int kMaxTempNumber = 100;
std::string TakeFreeTempFileName(const std::string& path,
                                 const std::function<NameTry(const std::string& name)>& take);
