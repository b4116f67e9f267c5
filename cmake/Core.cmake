# The one static library that holds the program's code and the JUCE modules, so that JUCE
# is compiled once for the app, the other programs and the tests.
add_library(zelvor_core STATIC
    app/ContentComp.cpp
    app/DxgiFactoryGuard.cpp
    app/HelpWindow.cpp
    app/ZelvorApplication.cpp
    app/ZelvorWindow.cpp
    link/Pacing.cpp
    link/MidiPortService.cpp
    link/JuceMidiPortService.cpp
    link/SysexCodec.cpp
    link/RecentTraffic.cpp
    link/BoundedOutput.cpp
    link/PortDiscovery.cpp
    link/FirmwareManager.cpp
    link/QexTransfer.cpp
    link/DspTransfer.cpp
    link/DspMessageReader.cpp
    link/ImageFile.cpp
    link/QexImage.cpp
    link/DspImage.cpp
    update/FailureReason.cpp
    update/RunDetails.cpp
    update/TimeLeft.cpp
    update/UpdatePhase.cpp
    update/Prompts.cpp
    update/FirmwareUpdater.cpp
    update/KeepAwake.cpp
    look/ZelvorLookAndFeel.cpp)

target_include_directories(zelvor_core PUBLIC "${CMAKE_SOURCE_DIR}")
# The versions' header only where it is used: on every file, its folder would change the command
# line, and so the compiler cache's key, of every JUCE module.
set_source_files_properties(app/ZelvorApplication.cpp app/ZelvorWindow.cpp update/RunDetails.cpp PROPERTIES
    INCLUDE_DIRECTORIES "${ZELVOR_RESOURCE_DIR}")

# Every JUCE compile definition of the project lives here.
target_compile_definitions(zelvor_core
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_STANDALONE_APPLICATION=1
        JUCE_DISPLAY_SPLASH_SCREEN=0
        # Debian's modules carry no bundled codecs, so they are never compiled in (see
        # ImageLibraries.cmake).
        JUCE_INCLUDE_PNGLIB_CODE=0
        JUCE_INCLUDE_JPEGLIB_CODE=0
        JUCE_INCLUDE_ZLIB_CODE=0)

# The JUCE modules compiled in; the source archive (SourceArchive.cmake) carries the same ones.
set(ZELVOR_JUCE_MODULES
    juce_core
    juce_events
    juce_data_structures
    juce_graphics
    juce_gui_basics
    juce_audio_basics
    juce_audio_devices)
list(TRANSFORM ZELVOR_JUCE_MODULES PREPEND juce:: OUTPUT_VARIABLE juce_module_targets)
target_link_libraries(zelvor_core
    PRIVATE
        ${juce_module_targets}
    PUBLIC
        zelvor_resources
        zelvor_image_libs
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

# The modules are linked privately (so their sources compile only here); consumers still
# need their include paths and module definitions.
target_include_directories(zelvor_core INTERFACE
    $<TARGET_PROPERTY:zelvor_core,INCLUDE_DIRECTORIES>)
target_compile_definitions(zelvor_core INTERFACE
    $<TARGET_PROPERTY:zelvor_core,COMPILE_DEFINITIONS>)

# The desktop's inhibit service is reached on the session bus through GLib's D-Bus client, as
# the desktop's own programs do.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # Its headers only for the one file that uses them, so the JUCE modules compile as before.
    pkg_check_modules(GIO REQUIRED gio-2.0)
    set_source_files_properties(update/KeepAwake.cpp PROPERTIES
        INCLUDE_DIRECTORIES "${GIO_INCLUDE_DIRS}" COMPILE_OPTIONS "${GIO_CFLAGS_OTHER}")
    target_link_libraries(zelvor_core PRIVATE ${GIO_LINK_LIBRARIES})
endif()
