# Debian's build flags, as dpkg-buildflags gives them with every hardening feature on, for the
# plain Linux Release build: the one the Debian package is made from. They bring the stack
# protector, _FORTIFY_SOURCE, full RELRO with immediate binding and -g, whose debug information
# becomes the package's detached symbols (zelvor-updater-dbgsym); the program itself is stripped
# when it is packed (Packaging.cmake). Left as they were: the MinGW cross build, the sanitizer
# and fuzzing builds (flags of their own) and other build types.
#
# Left out of Debian's set: the path maps (-ffile-prefix-map=<checkout>), which differ in every
# clone and would defeat the compiler cache that CI's fresh clones share; -O2, so that Release
# stays at -O3 as before; and -Wdate-time, which warns on JUCE's own use of __DATE__.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR CMAKE_CROSSCOMPILING OR NOT ZELVOR_SANITIZE STREQUAL ""
   OR ZELVOR_FUZZ OR NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    return()
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
    message(WARNING "dpkg-buildflags (package dpkg-dev) is missing: built without Debian's hardening flags")
    return()
endif()

foreach(kind IN ITEMS CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E env
                            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
                            "DEB_CFLAGS_MAINT_STRIP=-O2" "DEB_CXXFLAGS_MAINT_STRIP=-O2"
                            "DEB_CPPFLAGS_MAINT_STRIP=-Wdate-time"
                            "${DPKG_BUILDFLAGS}" --get ${kind}
                    OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE buildflags_result)
    if(NOT buildflags_result EQUAL 0)
        message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed (${buildflags_result})")
    endif()
endforeach()

string(APPEND CMAKE_C_FLAGS " ${debian_CPPFLAGS} ${debian_CFLAGS}")
string(APPEND CMAKE_CXX_FLAGS " ${debian_CPPFLAGS} ${debian_CXXFLAGS}")
foreach(kind IN ITEMS EXE SHARED MODULE)
    string(APPEND CMAKE_${kind}_LINKER_FLAGS " ${debian_LDFLAGS}")
endforeach()
message(STATUS "Debian's build flags: ${debian_CPPFLAGS} ${debian_CXXFLAGS} / ${debian_LDFLAGS}")
