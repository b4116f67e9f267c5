# The Windows installer, built with Debian's NSIS as part of the Windows build.

find_program(ZELVOR_MAKENSIS makensis)
if(NOT ZELVOR_MAKENSIS)
    message(STATUS "makensis not found: no windows-installer target")
    return()
endif()

# ZELVOR_SIGN_TOOL: a program that signs the file it is given in place (tools/sign-windows.sh,
# which tools/build-windows.sh names when it has a certificate). Empty: nothing is signed. The
# program is signed after each link (a stamp records it), before the installer packs it.
set(ZELVOR_SIGN_TOOL "" CACHE FILEPATH "Signs a Windows program in place (PROGRAM FILE); empty: unsigned")
set(exe_signed "")
set(sign_define "")
if(ZELVOR_SIGN_TOOL)
    set(exe_signed "${CMAKE_BINARY_DIR}/ZelvorUpdater-signed.stamp")
    add_custom_command(OUTPUT "${exe_signed}"
        COMMAND "${ZELVOR_SIGN_TOOL}" "$<TARGET_FILE:ZelvorUpdater>"
        COMMAND "${CMAKE_COMMAND}" -E touch "${exe_signed}"
        DEPENDS ZelvorUpdater "${ZELVOR_SIGN_TOOL}"
        COMMENT "Signing ZelvorUpdater.exe"
        VERBATIM)
    set(sign_define "-DSIGN_TOOL=${ZELVOR_SIGN_TOOL}")
endif()

set(ZELVOR_INSTALLER_FILE "${CMAKE_BINARY_DIR}/ZelvorUpdater-${PROJECT_VERSION}-setup.exe")
set(ZELVOR_INSTALLER_SCRIPT "${CMAKE_BINARY_DIR}/installer.nsi")
set(ZELVOR_LICENSE_FILE "${CMAKE_SOURCE_DIR}/LICENSE")
set(ZELVOR_ICON_FILE "${CMAKE_BINARY_DIR}/installer-icon.ico")
set(ZELVOR_NOTICES_FILE "${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt")
set(ZELVOR_APP_EXE "$<TARGET_FILE:ZelvorUpdater>")
# The installer's copyright line is the program's own (its version resource's LegalCopyright).
get_target_property(ZELVOR_COPYRIGHT ZelvorUpdater JUCE_COMPANY_COPYRIGHT)
# Where Apps & features links to ("Support" / "About").
set(ZELVOR_PROJECT_URL "${PROJECT_HOMEPAGE_URL}")

# The complete source the installer carries (GPL section 6): SourceArchive.cmake makes it.
if(NOT DEFINED ZELVOR_SOURCE_ARCHIVE)
    message(WARNING "no source archive (not a git checkout): no windows-installer target")
    return()
endif()
get_filename_component(ZELVOR_SOURCE_ARCHIVE_NAME "${ZELVOR_SOURCE_ARCHIVE}" NAME)

# The licence texts of what the program links, from the trees and packages it was built from.
get_filename_component(source_trees "${ZELVOR_WINDOWS_DEPS}/../src" ABSOLUTE)
add_custom_command(OUTPUT "${ZELVOR_NOTICES_FILE}"
    COMMAND "${Python3_EXECUTABLE}" "${CMAKE_SOURCE_DIR}/packaging/windows/make_notices.py"
            "${ZELVOR_NOTICES_FILE}" "${source_trees}" "${PROJECT_VERSION}" ${ZELVOR_JUCE_MODULES}
    DEPENDS "${CMAKE_SOURCE_DIR}/packaging/windows/make_notices.py"
    COMMENT "Writing the third-party notices"
    VERBATIM)

configure_file("${CMAKE_SOURCE_DIR}/packaging/windows/installer.nsi.in"
               "${CMAKE_BINARY_DIR}/installer.nsi.in" @ONLY)
# The program's path is known only at generation time.
file(GENERATE OUTPUT "${ZELVOR_INSTALLER_SCRIPT}" INPUT "${CMAKE_BINARY_DIR}/installer.nsi.in")

add_custom_command(OUTPUT "${ZELVOR_INSTALLER_FILE}"
    COMMAND "${ZELVOR_RESOURCE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_icon.py" ico
            "${ZELVOR_RESOURCE_DIR}/appIcon.png" "${ZELVOR_ICON_FILE}"
    COMMAND "${ZELVOR_MAKENSIS}" -V2 -NOCD ${sign_define} "${ZELVOR_INSTALLER_SCRIPT}"
    DEPENDS ZelvorUpdater ${exe_signed} "${ZELVOR_INSTALLER_SCRIPT}" "${ZELVOR_LICENSE_FILE}" "${ZELVOR_NOTICES_FILE}"
            "${ZELVOR_SOURCE_ARCHIVE}" source-archive "${CMAKE_SOURCE_DIR}/tools/make_icon.py"
    COMMENT "Building the Windows installer with NSIS"
    VERBATIM)
add_custom_target(windows-installer ALL DEPENDS "${ZELVOR_INSTALLER_FILE}")
