# 64-bit Windows: the same program, for machines that run only 64-bit Wine.
set(KELVORA_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
