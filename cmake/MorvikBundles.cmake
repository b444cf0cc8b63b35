# Installs the factory presets into every bundle the build makes, at Contents/Resources/Presets,
# where the editor's preset browser looks for them at run time.
#
# The copy runs after each format target is linked (after the LV2 target's own manifest step). So
# that a changed preset reaches the bundles even when no code changed, the preset stamp is a link
# dependency of each format target: writing the presets anew relinks the targets and runs the copy.
# The folder is emptied first, so a renamed or removed preset does not linger in a bundle.

function(morvik_install_presets target bundle_dir)
    if(NOT TARGET ${target})
        return()
    endif()

    add_dependencies(${target} morvik_resources)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${MORVIK_PRESET_STAMP})

    set(preset_folder "${bundle_dir}/Contents/Resources/Presets")
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${preset_folder}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${preset_folder}"
        COMMAND ${CMAKE_COMMAND} -E copy_directory "${MORVIK_PRESET_DIR}" "${preset_folder}"
        COMMENT "Installing the factory presets into ${target}"
        VERBATIM)
endfunction()

# JUCE records each plug-in format's bundle folder (VST3, LV2) as the target's artefact; for the
# Standalone on Linux the artefact is the executable itself, whose folder serves as its bundle.
if(TARGET Morvik_VST3)
    get_target_property(morvik_vst3_bundle Morvik_VST3 JUCE_PLUGIN_ARTEFACT_FILE)
    morvik_install_presets(Morvik_VST3 "${morvik_vst3_bundle}")
endif()

if(TARGET Morvik_LV2)
    get_target_property(morvik_lv2_bundle Morvik_LV2 JUCE_PLUGIN_ARTEFACT_FILE)
    morvik_install_presets(Morvik_LV2 "${morvik_lv2_bundle}")
endif()

morvik_install_presets(Morvik_Standalone "$<TARGET_FILE_DIR:Morvik_Standalone>")
