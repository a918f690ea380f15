# 32-bit Windows: Kelvora.exe as it ships.
set(KELVORA_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
