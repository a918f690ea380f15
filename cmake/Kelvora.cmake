# Project-wide settings and helpers for both trees.

set(KELVORA_ROOT ${CMAKE_CURRENT_SOURCE_DIR})

if(WIN32)
    set(KELVORA_WINDOWS ON)
    enable_language(RC)
    # i686 (the product) or x86_64 (the same program for 64-bit-only Wine).
    set(KELVORA_DEPS_PREFIX ${KELVORA_ROOT}/.deps/${CMAKE_SYSTEM_PROCESSOR} CACHE PATH
        "libjpeg-turbo and libpng built for this tree's processor")
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE
                            _WIN32_WINNT=0x0601 WINVER=0x0601)
    add_compile_options(-Wall -Wextra -Werror)
    # Every processor that runs Windows 7 and later has SSE2; the compressors'
    # loops vectorise with it.
    add_compile_options(-msse2 -mfpmath=sse)
    # One self-contained executable: no libgcc, libstdc++ or winpthread DLLs.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # ctest runs the Windows test programs under Wine.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVORA_ROOT}/scripts/wine-run.sh)
else()
    set(KELVORA_WINDOWS OFF)
    add_compile_options(-Wall -Wextra -Werror)
    option(KELVORA_SANITIZE "AddressSanitizer and UndefinedBehaviorSanitizer" ON)
    if(KELVORA_SANITIZE)
        add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                            -fno-omit-frame-pointer)
        add_link_options(-fsanitize=address,undefined)
    endif()
endif()

# The Windows tree builds GoogleTest from Debian's sources; the host tree uses
# the packaged libraries.
if(KELVORA_WINDOWS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own sources are not held to our warning level.
    foreach(t gtest gtest_main gmock gmock_main)
        target_compile_options(${t} PRIVATE -w)
    endforeach()
else()
    find_package(GTest REQUIRED)
endif()

# Third-party image and compression libraries.
if(KELVORA_WINDOWS)
    add_library(kelvora_jpeg STATIC IMPORTED)
    set_target_properties(kelvora_jpeg PROPERTIES
        IMPORTED_LOCATION ${KELVORA_DEPS_PREFIX}/lib/libjpeg.a
        INTERFACE_INCLUDE_DIRECTORIES ${KELVORA_DEPS_PREFIX}/include)
    add_library(kelvora_zlib STATIC IMPORTED)
    set_target_properties(kelvora_zlib PROPERTIES
        IMPORTED_LOCATION ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
    add_library(kelvora_png STATIC IMPORTED)
    set_target_properties(kelvora_png PROPERTIES
        IMPORTED_LOCATION ${KELVORA_DEPS_PREFIX}/lib/libpng16.a
        INTERFACE_INCLUDE_DIRECTORIES ${KELVORA_DEPS_PREFIX}/include
        INTERFACE_LINK_LIBRARIES kelvora_zlib)
else()
    find_package(JPEG REQUIRED)
    find_package(PNG REQUIRED)
    find_package(ZLIB REQUIRED)
    add_library(kelvora_jpeg INTERFACE)
    target_link_libraries(kelvora_jpeg INTERFACE JPEG::JPEG)
    add_library(kelvora_zlib INTERFACE)
    target_link_libraries(kelvora_zlib INTERFACE ZLIB::ZLIB)
    add_library(kelvora_png INTERFACE)
    target_link_libraries(kelvora_png INTERFACE PNG::PNG)
endif()

# kelvora_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s] [WINDOWS_ONLY] [HOST_ONLY])
# One ctest test per executable: under Wine every process start costs about a
# second, so a test program holds all the cases of one behaviour group.
function(kelvora_add_test)
    cmake_parse_arguments(T "WINDOWS_ONLY;HOST_ONLY;NO_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;ARGS;FIXTURES_SETUP;FIXTURES_REQUIRED" ${ARGN})
    if(T_WINDOWS_ONLY AND NOT KELVORA_WINDOWS)
        return()
    endif()
    if(T_HOST_ONLY AND KELVORA_WINDOWS)
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kelvora_test_support GTest::gtest GTest::gmock)
    if(NOT T_NO_MAIN)
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    target_include_directories(${T_NAME} PRIVATE ${KELVORA_ROOT})
    if(KELVORA_WINDOWS)
        set(prefix win)
    else()
        set(prefix host)
    endif()
    add_test(NAME ${prefix}.${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
    set_tests_properties(${prefix}.${T_NAME} PROPERTIES
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        ENVIRONMENT "KELVORA_TEST_OUT=${CMAKE_BINARY_DIR}/test-out/${T_NAME}")
    if(T_LABELS)
        set_tests_properties(${prefix}.${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_TIMEOUT)
        set_tests_properties(${prefix}.${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
    if(T_FIXTURES_SETUP)
        set_tests_properties(${prefix}.${T_NAME} PROPERTIES FIXTURES_SETUP "${T_FIXTURES_SETUP}")
    endif()
    if(T_FIXTURES_REQUIRED)
        set_tests_properties(${prefix}.${T_NAME} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES_REQUIRED}")
    endif()
    if(T_RESOURCE_LOCK)
        set_tests_properties(${prefix}.${T_NAME} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
endfunction()

# kelvora_use_pictures(target rc_file): the target's resource script includes
# resources/kelvora_images.rc, whose pictures the build draws first.
function(kelvora_use_pictures target rc_file)
    add_dependencies(${target} kelvora_pictures)
    target_include_directories(${target} PRIVATE ${KELVORA_ROOT}/resources ${KELVORA_PICTURES_DIR})
    set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${KELVORA_PICTURES})
endfunction()
