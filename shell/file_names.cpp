#include "shell/file_names.h"

#include <cstdio>

namespace kelvora {

std::string TimeStamp(const LocalTime& t) {
    char text[64];
    std::snprintf(text, sizeof(text), "%04d.%02d.%02d_%02d-%02d-%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::string OutputFileName(const std::string& outputDir, const LocalTime& t,
                           const std::string& extension) {
    return outputDir + TimeStamp(t) + extension;
}

}  // namespace kelvora
