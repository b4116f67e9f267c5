# The build's options, the compiler cache and the sanitizer builds.
option(ZELVOR_BUILD_TESTS "Build the test suite" ON)
option(ZELVOR_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(ZELVOR_SANITIZE "" CACHE STRING "Sanitizer build: empty, 'thread' or 'address'")

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
    set(CMAKE_C_COMPILER_LAUNCHER "${CCACHE_PROGRAM}")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${CCACHE_PROGRAM}")
endif()

# Sanitizer builds keep line tables only, at -O1: enough for their reports, and much lighter
# to compile than full debug information.
if(ZELVOR_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -O1 -g1)
    add_link_options(-fsanitize=thread)
elseif(ZELVOR_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -O1 -g1)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT ZELVOR_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ZELVOR_SANITIZE must be empty, 'thread' or 'address'")
endif()

# The fuzzers are built in the ASan + UBSan build, so the same build serves them and the ASan
# tests; only the fuzz targets link libFuzzer itself (see Fuzzing.cmake for its coverage).
if(ZELVOR_FUZZ AND (NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT ZELVOR_SANITIZE STREQUAL "address"))
    message(FATAL_ERROR "ZELVOR_FUZZ needs clang and ZELVOR_SANITIZE=address: configure with CC=clang CXX=clang++")
endif()
