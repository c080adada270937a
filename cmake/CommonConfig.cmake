# Flags and defines shared by every target of the project.
option(ROK_WERROR "Treat compiler warnings as errors" OFF)
set(ROK_SANITIZE "" CACHE STRING "Sanitizer build: empty, address (ASan+UBSan) or thread (TSan)")

add_library(rok_options INTERFACE)
target_compile_features(rok_options INTERFACE cxx_std_17)
target_compile_definitions(rok_options INTERFACE
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    ASIO_STANDALONE
    ASIO_NO_DEPRECATED)

if(MSVC)
    target_compile_options(rok_options INTERFACE /W4 /utf-8)
    if(ROK_WERROR)
        target_compile_options(rok_options INTERFACE /WX)
    endif()
else()
    target_compile_options(rok_options INTERFACE
        -Wall -Wextra -Wnon-virtual-dtor -Woverloaded-virtual)
    if(ROK_WERROR)
        target_compile_options(rok_options INTERFACE -Werror)
    endif()
endif()

# scripts/sanitize and scripts/fuzz drive these; see there for the run-time
# options and suppression files that go with them.
if(ROK_SANITIZE STREQUAL "address")
    if(MSVC)
        message(FATAL_ERROR "ROK_SANITIZE=address needs GCC or clang")
    endif()
    target_compile_options(rok_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(rok_options INTERFACE -fsanitize=address,undefined)
elseif(ROK_SANITIZE STREQUAL "thread")
    if(MSVC)
        message(FATAL_ERROR "ROK_SANITIZE=thread needs GCC or clang")
    endif()
    target_compile_options(rok_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    # GCC 12 warns that TSan does not model the fences asio uses; the
    # warning says nothing about this project's code.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(rok_options INTERFACE -Wno-tsan)
    endif()
    target_link_options(rok_options INTERFACE -fsanitize=thread)
elseif(NOT ROK_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ROK_SANITIZE must be empty, address or thread")
endif()

# libFuzzer targets in tests/fuzz. Every project target gets the coverage
# instrumentation, so the fuzzers see the branches of the code they drive.
option(ROK_FUZZ "Build the libFuzzer targets (clang only; combine with ROK_SANITIZE=address)" OFF)
if(ROK_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "ROK_FUZZ needs clang (CXX=clang++)")
    endif()
    target_compile_options(rok_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
