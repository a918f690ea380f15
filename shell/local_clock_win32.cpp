#include "shell/local_clock.h"

#include <windows.h>

namespace kelvora {

LocalTime CurrentLocalTime() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace kelvora
