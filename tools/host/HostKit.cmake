# The host kit: JUCE's VST3 and LV2 hosting plus the small helpers declared in HostKit.h, as a static
# library that the host program, the host tests and the peer benchmark share.
if(TARGET morvik_hostkit)
    return()
endif()

set(MORVIK_HOSTKIT_DIR ${CMAKE_CURRENT_LIST_DIR})

# One compile of JUCE's hosting modules, shared by the host program, the host tests and the peer
# benchmark. The modules are linked privately so that their sources are compiled into this library
# only, and the settings they need are handed on to whoever links it.
add_library(morvik_hostkit STATIC
    ${MORVIK_HOSTKIT_DIR}/HostKit.cpp
    ${MORVIK_HOSTKIT_DIR}/HostKit.h
    ${MORVIK_HOSTKIT_DIR}/HostParameters.cpp
    ${MORVIK_HOSTKIT_DIR}/HostRender.cpp
    ${MORVIK_HOSTKIT_DIR}/AudioFiles.cpp
    ${MORVIK_HOSTKIT_DIR}/DemoSignal.cpp
    ${MORVIK_HOSTKIT_DIR}/DemoSignal.h)
target_compile_definitions(morvik_hostkit PUBLIC
    JUCE_PLUGINHOST_VST3=1
    JUCE_PLUGINHOST_LV2=1
    JUCE_PLUGINHOST_VST=0
    JUCE_PLUGINHOST_LADSPA=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STANDALONE_APPLICATION=1)
target_link_libraries(morvik_hostkit
    PRIVATE
        juce::juce_audio_processors
        juce::juce_audio_formats
        juce::juce_dsp
    PUBLIC
        PkgConfig::MORVIK_SYSTEM_LIBS
        morvik_build_flags)
target_include_directories(morvik_hostkit INTERFACE
    ${MORVIK_HOSTKIT_DIR}
    $<TARGET_PROPERTY:morvik_hostkit,INCLUDE_DIRECTORIES>)
target_include_directories(morvik_hostkit PUBLIC ${MORVIK_HOSTKIT_DIR})
target_compile_definitions(morvik_hostkit INTERFACE
    $<TARGET_PROPERTY:morvik_hostkit,COMPILE_DEFINITIONS>)

