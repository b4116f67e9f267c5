# The Debian package of the updater: cpack -G DEB in a build folder (tools/build-deb.sh).
# Only the product is installed: the demo, the tools and the tests stay in the build folder.
include(GNUInstallDirs)

set(ZELVOR_PACKAGE_NAME zelvor-updater)
set(packaging_dir "${CMAKE_SOURCE_DIR}/packaging/linux")
set(packaging_out "${CMAKE_BINARY_DIR}/packaging")

install(PROGRAMS "$<TARGET_FILE:ZelvorUpdater>" DESTINATION "${CMAKE_INSTALL_BINDIR}" RENAME ${ZELVOR_PACKAGE_NAME})
# Renamed programs escape CPack's stripping, so the installed copy is stripped here.
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${ZELVOR_PACKAGE_NAME}\"
                              RESULT_VARIABLE strip_result)
              if(NOT strip_result EQUAL 0)
                  message(FATAL_ERROR \"strip failed\")
              endif()")
install(FILES "${packaging_dir}/${ZELVOR_PACKAGE_NAME}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

# The icon at the sizes desktops look for, and the man page compressed as Debian wants it;
# both made at configure time from their sources.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tools/make_icon.py")
execute_process(COMMAND "${ZELVOR_RESOURCE_PYTHON}" "${CMAKE_SOURCE_DIR}/tools/make_icon.py" hicolor
                        "${ZELVOR_RESOURCE_DIR}/appIcon.png" "${packaging_out}/hicolor"
                RESULT_VARIABLE icon_result)
if(NOT icon_result EQUAL 0)
    message(FATAL_ERROR "tools/make_icon.py failed (${icon_result})")
endif()
install(DIRECTORY "${packaging_out}/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
# The changelog records each release, so it must begin with this one.
file(STRINGS "${packaging_dir}/changelog" changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${ZELVOR_PACKAGE_NAME} \\(${PROJECT_VERSION}-")
    message(FATAL_ERROR "packaging/linux/changelog does not begin with version ${PROJECT_VERSION}")
endif()
# The man page's header names the version from project().
configure_file("${packaging_dir}/${ZELVOR_PACKAGE_NAME}.1.in" "${packaging_out}/${ZELVOR_PACKAGE_NAME}.1" @ONLY)
foreach(pair IN ITEMS "${packaging_out}/${ZELVOR_PACKAGE_NAME}.1:${ZELVOR_PACKAGE_NAME}.1.gz"
                      "${packaging_dir}/changelog:changelog.Debian.gz")
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 compressed)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
    execute_process(COMMAND gzip -9n -c "${source}"
                    OUTPUT_FILE "${packaging_out}/${compressed}" RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip of ${source} failed (${gzip_result})")
    endif()
endforeach()
install(FILES "${packaging_out}/${ZELVOR_PACKAGE_NAME}.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${packaging_dir}/copyright" "${packaging_out}/changelog.Debian.gz"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${ZELVOR_PACKAGE_NAME}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZELVOR_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Zelvor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Zelvor vocal-effects unit")
set(CPACK_PACKAGE_DESCRIPTION "Updates the two firmwares of the Zelvor, a USB-MIDI vocal-effects
unit (QEX, the main processor's, and DSP, the signal processor's), by MIDI
System Exclusive, behind a progress window. Files that cannot be used are
refused before anything is sent.")
set(CPACK_PACKAGE_CONTACT "Zelvor <support@zelvor.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# Linked libraries are found by dpkg-shlibdeps; JUCE opens the X libraries itself at run time,
# and draws its text with a font it finds on disk.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libx11-6, libxext6, libxcursor1, libxinerama1, libxrender1, libxrandr2, fonts-dejavu-core")
include(CPack)
