// Names of the files the program writes: the output folder's text, the local
// date and time as "yyyy.MM.dd_hh-mm-ss", then the extension. The folder text
// is used as it is: nothing is inserted between it and the time stamp, so a
// folder chosen through the options dialog (which always ends with a
// backslash) gives a file inside that folder.
#pragma once

#include <string>

namespace kelvora {

// A local date and time, as the system clock gives it.
struct LocalTime {
    int year = 0;    // four digits
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
};

// "yyyy.MM.dd_hh-mm-ss", every field zero-padded (2026.12.06_09-03-04).
std::string TimeStamp(const LocalTime& t);

// outputDir + TimeStamp(t) + extension (".avi", ".png", ...).
std::string OutputFileName(const std::string& outputDir, const LocalTime& t,
                           const std::string& extension);

}  // namespace kelvora
