# Debian's JUCE leaves out its bundled image codecs and zlib, so separate ones are linked:
# the system's on Linux; for Windows, static builds that tools/build-windows.sh makes from
# Debian's sources, with MinGW's zlib.
add_library(zelvor_image_libs INTERFACE)
if(WIN32)
    set(ZELVOR_WINDOWS_DEPS "" CACHE PATH "Prefix of libpng and libjpeg built for Windows")
    foreach(lib IN ITEMS libpng16.a libjpeg.a)
        if(NOT EXISTS "${ZELVOR_WINDOWS_DEPS}/lib/${lib}")
            message(FATAL_ERROR "${lib} not found under ZELVOR_WINDOWS_DEPS: build with tools/build-windows.sh")
        endif()
    endforeach()
    target_include_directories(zelvor_image_libs INTERFACE "${ZELVOR_WINDOWS_DEPS}/include")
    target_link_libraries(zelvor_image_libs INTERFACE
        "${ZELVOR_WINDOWS_DEPS}/lib/libpng16.a" "${ZELVOR_WINDOWS_DEPS}/lib/libjpeg.a" z)
    # One self-contained .exe each, without MinGW's runtime DLLs beside it; stripped in Release.
    add_link_options(-static $<$<CONFIG:Release>:-s>)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(SYSTEM_IMAGE_LIBS REQUIRED IMPORTED_TARGET libpng libjpeg zlib)
    target_link_libraries(zelvor_image_libs INTERFACE PkgConfig::SYSTEM_IMAGE_LIBS)
endif()
