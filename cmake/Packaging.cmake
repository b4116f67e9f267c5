# The Debian package of the updater: cpack -G DEB in a build folder (tools/build-deb.sh).
# Only the product is installed: the demo, the tools and the tests stay in the build folder.
include(GNUInstallDirs)

set(ZELVOR_PACKAGE_NAME zelvor-updater)
set(packaging_dir "${CMAKE_SOURCE_DIR}/packaging/linux")
set(packaging_out "${CMAKE_BINARY_DIR}/packaging")

# Two packages, as Debian makes them: the program (component "program") and its detached debug
# symbols (component "symbols", package zelvor-updater-dbgsym). The program is built with
# Debian's flags (DebianBuildFlags.cmake) and split and stripped as dh_strip does
# (packaging/linux/split-debug.cmake).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME program)
install(PROGRAMS "$<TARGET_FILE:ZelvorUpdater>" DESTINATION "${CMAKE_INSTALL_BINDIR}" RENAME ${ZELVOR_PACKAGE_NAME}
        COMPONENT program)
foreach(part IN ITEMS program symbols)
    install(CODE "set(split_program \"$<TARGET_FILE:ZelvorUpdater>\")
                  set(split_dir \"${packaging_out}/debug\")
                  set(split_part ${part})
                  set(split_installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${ZELVOR_PACKAGE_NAME}\")
                  set(split_debug_root \"\${CMAKE_INSTALL_PREFIX}/lib/debug\")
                  include(\"${packaging_dir}/split-debug.cmake\")"
            COMPONENT ${part})
endforeach()
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
# The changelog records each release, so it must begin with this one; its top entry gives the
# package's Debian revision and the release's date (for the AppStream metadata).
file(STRINGS "${packaging_dir}/changelog" changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${ZELVOR_PACKAGE_NAME} \\(${PROJECT_VERSION}-([0-9]+)\\)")
    message(FATAL_ERROR "packaging/linux/changelog does not begin with version ${PROJECT_VERSION}")
endif()
set(ZELVOR_DEBIAN_REVISION ${CMAKE_MATCH_1})
file(STRINGS "${packaging_dir}/changelog" changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_trailer MATCHES "  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "packaging/linux/changelog's top entry has no date: ${changelog_trailer}")
endif()
set(release_day ${CMAKE_MATCH_1})
set(release_year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} release_month)
if(release_month LESS 0)
    message(FATAL_ERROR "packaging/linux/changelog's top entry has no month: ${changelog_trailer}")
endif()
math(EXPR release_month "${release_month} + 1" OUTPUT_FORMAT DECIMAL)
if(release_month LESS 10)
    set(release_month 0${release_month})
endif()
set(ZELVOR_RELEASE_DATE ${release_year}-${release_month}-${release_day})

# The man page's header and the AppStream metadata name the version from project(); the
# copyright file names the source archive.
get_filename_component(ZELVOR_SOURCE_ARCHIVE_NAME "${ZELVOR_SOURCE_ARCHIVE}" NAME)
list(JOIN ZELVOR_JUCE_MODULES ", " ZELVOR_JUCE_MODULES_TEXT)
set(ZELVOR_APPSTREAM_ID invalid.zelvor.updater)
configure_file("${packaging_dir}/${ZELVOR_PACKAGE_NAME}.1.in" "${packaging_out}/${ZELVOR_PACKAGE_NAME}.1" @ONLY)
configure_file("${packaging_dir}/${ZELVOR_PACKAGE_NAME}.metainfo.xml.in"
               "${packaging_out}/${ZELVOR_APPSTREAM_ID}.metainfo.xml" @ONLY)
configure_file("${packaging_dir}/copyright.in" "${packaging_out}/copyright" @ONLY)
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
install(FILES "${packaging_out}/${ZELVOR_APPSTREAM_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
# The GPL's corresponding source beside the copyright file that points to it (none in a build
# from outside a git checkout, which SourceArchive.cmake warns of).
install(FILES "${packaging_out}/copyright" "${packaging_out}/changelog.Debian.gz" ${ZELVOR_SOURCE_ARCHIVE}
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${ZELVOR_PACKAGE_NAME}")
install(FILES "${packaging_dir}/lintian-overrides" DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
        RENAME ${ZELVOR_PACKAGE_NAME})
# The symbols' package shares the program's documentation, as Debian's -dbgsym packages do.
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc\")
              file(CREATE_LINK ${ZELVOR_PACKAGE_NAME}
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/${ZELVOR_PACKAGE_NAME}-dbgsym\"
                   SYMBOLIC)"
        COMPONENT symbols)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program symbols)
set(CPACK_PACKAGE_NAME ${ZELVOR_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Zelvor")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zelvor <support@zelvor.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${ZELVOR_PACKAGE_NAME})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZELVOR_DEBIAN_REVISION})
set(package_version "${PROJECT_VERSION}-${ZELVOR_DEBIAN_REVISION}")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME ${ZELVOR_PACKAGE_NAME})
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "firmware updater for the Zelvor vocal-effects unit
Updates the two firmwares of the Zelvor, a USB-MIDI vocal-effects
unit (QEX, the main processor's, and DSP, the signal processor's), by MIDI
System Exclusive, behind a progress window. Files that cannot be used are
refused before anything is sent.")
# Linked libraries are found by dpkg-shlibdeps; JUCE opens the X libraries itself at run time,
# and draws its text with a font it finds on disk.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS
    "libx11-6, libxext6, libxcursor1, libxinerama1, libxrender1, libxrandr2, fonts-dejavu-core")

set(CPACK_DEBIAN_SYMBOLS_PACKAGE_NAME ${ZELVOR_PACKAGE_NAME}-dbgsym)
set(CPACK_DEBIAN_SYMBOLS_PACKAGE_SECTION debug)
set(CPACK_DEBIAN_SYMBOLS_DESCRIPTION "debug symbols for ${ZELVOR_PACKAGE_NAME}")
set(CPACK_DEBIAN_SYMBOLS_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_SYMBOLS_PACKAGE_DEPENDS "${ZELVOR_PACKAGE_NAME} (= ${package_version})")
include(CPack)
