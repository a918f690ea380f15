// The system's local date and time, for the names of the files the program
// writes (Windows tree only).
#pragma once

#include "shell/file_names.h"

namespace kelvora {

// GetLocalTime, as a LocalTime.
LocalTime CurrentLocalTime();

}  // namespace kelvora
