// The settings record: the five values last read from "Settings.ini".
// Owned by the main controller, refreshed by LoadSettings and written by the
// options dialog through the settings store (shell/settings_store.h).
// Strings are in the system's ANSI code page, as the file holds them.
#pragma once

#include <cstdint>
#include <string>

struct TSettings {
    std::string OutputDir;   // output folder; ends with a backslash when chosen in the dialog
    std::string Format;      // screenshot format: "BMP", "JPG" or "PNG"
    std::string Compress;    // JPEG quality 0..100, kept as text
    std::int32_t Codec = 0;  // position in the codec list, -1 for none
    std::int32_t VideoCompress = 0;  // codec quality 0..100
};
