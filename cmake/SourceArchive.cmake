# The complete source of what the packages compile in, which the GPL asks them to carry: the
# project's tracked files and the JUCE modules of ZELVOR_JUCE_MODULES (Core.cmake), packed by
# tools/make-source-archive.sh. The target source-archive makes the file ZELVOR_SOURCE_ARCHIVE;
# the Debian package and the Windows installer install it.
set(ZELVOR_SOURCE_ARCHIVE "${CMAKE_BINARY_DIR}/zelvor-updater-${PROJECT_VERSION}-source.tar.xz")

# Made again when a tracked file or a module's file changes; a file added to the checkout is
# seen at the next configure.
execute_process(COMMAND git ls-files WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
                OUTPUT_VARIABLE tracked_files OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE git_result ERROR_QUIET)
if(NOT git_result EQUAL 0)
    # A build from the archive itself, say: it builds, but has no archive to pack.
    message(WARNING "not a git checkout: no source archive, so no package can carry one")
    unset(ZELVOR_SOURCE_ARCHIVE)
    return()
endif()
string(REPLACE "\n" ";" tracked_files "${tracked_files}")
list(TRANSFORM tracked_files PREPEND "${CMAKE_SOURCE_DIR}/")
set(present_files "")
foreach(file IN LISTS tracked_files)
    if(EXISTS "${file}")
        list(APPEND present_files "${file}")
    endif()
endforeach()
set(module_files "")
foreach(module IN LISTS ZELVOR_JUCE_MODULES)
    file(GLOB_RECURSE files "${JUCE_MODULES_DIR}/${module}/*")
    list(APPEND module_files ${files})
endforeach()

# The Windows build links libpng and libjpeg-turbo in, built from Debian's source packages
# (tools/build-windows.sh fetches them beside the prefix, and its changes to them are its own):
# those packages go into that build's archive too.
set(with_libraries "")
set(library_sources "")
if(ZELVOR_WINDOWS_DEPS)
    file(GLOB library_sources "${ZELVOR_WINDOWS_DEPS}/../src/*.dsc" "${ZELVOR_WINDOWS_DEPS}/../src/*.orig.tar.*"
         "${ZELVOR_WINDOWS_DEPS}/../src/*.debian.tar.*")
    list(LENGTH library_sources count)
    if(NOT count EQUAL 6)
        message(FATAL_ERROR "the source packages of libpng and libjpeg-turbo are not beside ${ZELVOR_WINDOWS_DEPS}: "
                            "build with tools/build-windows.sh")
    endif()
    foreach(file IN LISTS library_sources)
        list(APPEND with_libraries --with "${file}")
    endforeach()
endif()

add_custom_command(OUTPUT "${ZELVOR_SOURCE_ARCHIVE}"
                   COMMAND "${CMAKE_SOURCE_DIR}/tools/make-source-archive.sh" ${with_libraries} "${ZELVOR_SOURCE_ARCHIVE}"
                           "${PROJECT_VERSION}" "${JUCE_MODULES_DIR}" ${ZELVOR_JUCE_MODULES}
                   DEPENDS ${present_files} ${module_files} ${library_sources}
                   COMMENT "Packing the source archive ${ZELVOR_SOURCE_ARCHIVE}"
                   VERBATIM)
add_custom_target(source-archive ALL DEPENDS "${ZELVOR_SOURCE_ARCHIVE}")
