# The fuzzers' coverage is taken in the program's own code only: JUCE's modules are what the
# inputs pass through, not what is fuzzed, and instrumenting them would take most of the build.
get_target_property(own_sources zelvor_core SOURCES)
set_property(SOURCE ${own_sources} APPEND PROPERTY COMPILE_OPTIONS -fsanitize=fuzzer-no-link)
# The rig's library compiles no JUCE module of its own.
target_compile_options(zelvor_sim PRIVATE -fsanitize=fuzzer-no-link)
add_subdirectory(fuzz)
