# The Windows installer, built with Debian's NSIS as part of the Windows build.
find_program(ZELVOR_MAKENSIS makensis)
if(NOT ZELVOR_MAKENSIS)
    message(STATUS "makensis not found: no windows-installer target")
    return()
endif()

set(ZELVOR_INSTALLER_FILE "${CMAKE_BINARY_DIR}/ZelvorUpdater-${PROJECT_VERSION}-setup.exe")
set(ZELVOR_LICENSE_FILE "${CMAKE_SOURCE_DIR}/LICENSE")
set(ZELVOR_ICON_FILE "${CMAKE_BINARY_DIR}/installer-icon.ico")
set(ZELVOR_APP_EXE "$<TARGET_FILE:ZelvorUpdater>")
configure_file("${CMAKE_SOURCE_DIR}/packaging/windows/installer.nsi.in"
               "${CMAKE_BINARY_DIR}/installer.nsi.in" @ONLY)
# The program's path is known only at generation time.
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/installer.nsi" INPUT "${CMAKE_BINARY_DIR}/installer.nsi.in")

add_custom_command(OUTPUT "${ZELVOR_INSTALLER_FILE}"
    COMMAND "${ZELVOR_RESOURCE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_icon.py" ico
            "${ZELVOR_RESOURCE_DIR}/appIcon.png" "${ZELVOR_ICON_FILE}"
    COMMAND "${ZELVOR_MAKENSIS}" -V2 -NOCD "${CMAKE_BINARY_DIR}/installer.nsi"
    DEPENDS ZelvorUpdater "${CMAKE_BINARY_DIR}/installer.nsi" "${ZELVOR_LICENSE_FILE}"
            "${CMAKE_SOURCE_DIR}/tools/make_icon.py"
    COMMENT "Building the Windows installer with NSIS"
    VERBATIM)
add_custom_target(windows-installer ALL DEPENDS "${ZELVOR_INSTALLER_FILE}")
