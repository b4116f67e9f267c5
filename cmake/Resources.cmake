# The pictures, the icon and the built-in firmware images are produced by a deterministic
# generator; they are made at configure time because the app's icon must exist by then.
set(ZELVOR_RESOURCE_DIR "${CMAKE_BINARY_DIR}/generated-resources")
set(ZELVOR_RESOURCE_GENERATOR "${CMAKE_SOURCE_DIR}/tools/make_resources.py")

# The versions of the built-in firmware images the generator makes. The window's title shows
# them after the program's own version (project() in the top CMakeLists.txt).
set(ZELVOR_BUILT_IN_DSP_VERSION 1.70)
set(ZELVOR_BUILT_IN_QEX_VERSION 1.20)
set(ZELVOR_WINDOW_TITLE
    "Zelvor Updater v${PROJECT_VERSION} - DSP v${ZELVOR_BUILT_IN_DSP_VERSION} - QEX v${ZELVOR_BUILT_IN_QEX_VERSION}")
configure_file("${CMAKE_SOURCE_DIR}/resources/BuiltInVersions.h.in" "${ZELVOR_RESOURCE_DIR}/BuiltInVersions.h" @ONLY)
# The window tests find the program's window by this title (tests/gui/lib.sh).
file(WRITE "${CMAKE_BINARY_DIR}/window-title.txt" "${ZELVOR_WINDOW_TITLE}\n")

# The generator encodes with Debian's Pillow, installed for the system interpreter; another
# python3 found first on PATH may not have it.
set(ZELVOR_RESOURCE_PYTHON "${Python3_EXECUTABLE}")
execute_process(COMMAND "${Python3_EXECUTABLE}" -c "import PIL" RESULT_VARIABLE pil_missing OUTPUT_QUIET ERROR_QUIET)
if(pil_missing AND EXISTS /usr/bin/python3)
    set(ZELVOR_RESOURCE_PYTHON /usr/bin/python3)
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZELVOR_RESOURCE_GENERATOR}")
execute_process(COMMAND "${ZELVOR_RESOURCE_PYTHON}" "${ZELVOR_RESOURCE_GENERATOR}" "${ZELVOR_RESOURCE_DIR}"
                RESULT_VARIABLE resource_result)
if(NOT resource_result EQUAL 0)
    message(FATAL_ERROR "tools/make_resources.py failed (${resource_result})")
endif()

juce_add_binary_data(zelvor_resources
    SOURCES
        ${ZELVOR_RESOURCE_DIR}/background.png
        ${ZELVOR_RESOURCE_DIR}/windowIcon.jpg
        ${ZELVOR_RESOURCE_DIR}/alertBackground.png
        ${ZELVOR_RESOURCE_DIR}/progressTrack.png
        ${ZELVOR_RESOURCE_DIR}/progressFill.png
        ${ZELVOR_RESOURCE_DIR}/appIcon.png
        ${ZELVOR_RESOURCE_DIR}/qexImage.bin
        ${ZELVOR_RESOURCE_DIR}/dspImage.syx)
set_target_properties(zelvor_resources PROPERTIES POSITION_INDEPENDENT_CODE ON)
