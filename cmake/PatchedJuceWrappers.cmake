# Patched copies of the packaged JUCE plug-in wrappers.
#
# Two faults of the installed JUCE 7.0.5 wrappers sit in code that runs before or around the
# plug-in's own, so the plug-in cannot mend them itself. At configure time the installed wrapper
# file is read, each patch replaces one exact piece of its text, and the result is written into the
# build tree; the format target then compiles that copy in place of the packaged one. Nothing under
# the system's JUCE is touched. A patch whose text is not found exactly once stops configuration,
# so a JUCE update cannot silently drop a mend.
#
# The format's module unit (juce_audio_plugin_client_<format>.cpp, which includes the wrapper) is
# swapped in the wrapper library's sources for a copy that includes the patched wrapper instead.
# The patched wrapper keeps its relative includes working through its original folder on the
# include path.

set(MORVIK_PATCHED_JUCE_DIR ${CMAKE_BINARY_DIR}/juce-patched)
get_target_property(MORVIK_JUCE_MODULES juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)

# Starts a patched copy of <modules>/juce_audio_plugin_client/<relative_path> for one format;
# `explanation` heads the copy as a comment.
macro(morvik_begin_wrapper_patch format relative_path explanation)
    set(morvik_patch_format ${format})
    set(morvik_patch_relative_path ${relative_path})
    set(morvik_patch_explanation "${explanation}")
    set(morvik_patch_source "${MORVIK_JUCE_MODULES}/juce_audio_plugin_client/${relative_path}")
    if(NOT EXISTS "${morvik_patch_source}")
        message(FATAL_ERROR "Patched JUCE wrapper: ${morvik_patch_source} does not exist. "
                            "The installed JUCE is not the one these patches were written for.")
    endif()
    file(READ "${morvik_patch_source}" morvik_patch_text)
    set(morvik_patch_notes "")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${morvik_patch_source}")
endmacro()

# Replaces the one occurrence of `find` by `replace`; `why` names the patch in messages and in
# the comment at the head of the copy.
function(morvik_wrapper_patch why find replace)
    string(FIND "${morvik_patch_text}" "${find}" first)
    string(FIND "${morvik_patch_text}" "${find}" last REVERSE)
    if(first EQUAL -1)
        message(FATAL_ERROR "Patched JUCE wrapper: the text that the patch \"${why}\" replaces was not "
                            "found in ${morvik_patch_source}. The installed JUCE differs from 7.0.5: "
                            "check whether it still needs the patch and adapt cmake/PatchedJuceWrappers.cmake. "
                            "Missing text:\n${find}")
    endif()
    if(NOT first EQUAL last)
        message(FATAL_ERROR "Patched JUCE wrapper: the text that the patch \"${why}\" replaces occurs more "
                            "than once in ${morvik_patch_source}:\n${find}")
    endif()
    string(REPLACE "${find}" "${replace}" patched "${morvik_patch_text}")
    set(morvik_patch_text "${patched}" PARENT_SCOPE)
    set(morvik_patch_notes "${morvik_patch_notes}//   - ${why}\n" PARENT_SCOPE)
endfunction()

# Writes the copy and its unit, and makes the format's wrapper library compile them.
function(morvik_end_wrapper_patch)
    set(format ${morvik_patch_format})
    get_filename_component(name "${morvik_patch_source}" NAME)
    get_filename_component(original_dir "${morvik_patch_source}" DIRECTORY)
    set(copy "${MORVIK_PATCHED_JUCE_DIR}/${format}/${name}")
    set(unit "${MORVIK_PATCHED_JUCE_DIR}/${format}/juce_audio_plugin_client_${format}.cpp")

    string(STRIP "${morvik_patch_explanation}" explanation)
    string(REPLACE "\n" "\n// " explanation "// ${explanation}")
    string(REPLACE "// \n" "//\n" explanation "${explanation}")
    string(CONCAT content
        "// Patched copy of ${morvik_patch_source}, written by cmake/PatchedJuceWrappers.cmake.\n"
        "// Edit the patches there, not this file.\n//\n${explanation}\n//\n"
        "// The patches, each marked \"Morvik:\" below:\n"
        "${morvik_patch_notes}\n"
        "${morvik_patch_text}")
    # Written through a scratch file so that an unchanged copy keeps its time stamp and is not
    # compiled again after every configuration.
    file(WRITE "${copy}.new" "${content}")
    configure_file("${copy}.new" "${copy}" COPYONLY)

    # The unit is the packaged one with its include of the wrapper pointed at the copy.
    set(library juce_audio_plugin_client_${format})
    set(packaged_unit "${MORVIK_JUCE_MODULES}/juce_audio_plugin_client/juce_audio_plugin_client_${format}.cpp")
    file(READ "${packaged_unit}" morvik_patch_text)
    set(morvik_patch_source "${packaged_unit}")
    morvik_wrapper_patch("the unit compiles the patched copy" "#include \"${morvik_patch_relative_path}\""
                         "#include \"${copy}\"")
    file(WRITE "${unit}.new" "${morvik_patch_text}")
    configure_file("${unit}.new" "${unit}" COPYONLY)

    get_target_property(sources ${library} INTERFACE_SOURCES)
    list(FIND sources "${packaged_unit}" index)
    if(index EQUAL -1)
        message(FATAL_ERROR "Patched JUCE wrapper: ${library} does not compile ${packaged_unit}; "
                            "the installed JUCE builds its ${format} wrapper differently.")
    endif()
    list(REMOVE_AT sources ${index})
    list(INSERT sources ${index} "${unit}")
    set_property(TARGET ${library} PROPERTY INTERFACE_SOURCES "${sources}")
    target_include_directories(${library} INTERFACE "${original_dir}")
endfunction()

#---------------------------------------------------------------------------------------------------
morvik_begin_wrapper_patch(VST3 VST3/juce_VST3_Wrapper.cpp [=[
VST3: a damaged state trailer.

The wrapper appends its own trailer to the plug-in's state: eight zero bytes, a small value tree,
its size in eight bytes and the text "JUCEPrivateData". On restore it takes that size unchecked:
a damaged size wraps the remaining length around and the tree is read at an address outside the
state, which crashes the plug-in and its host. The first patch ignores the whole state when the
size does not fit inside it, as for any damaged state. The second reads the trailer's tree (it
holds only the wrapper's bypass flag) with the plug-in's own checked reader, since the
framework's reader trusts the counts it finds and can allocate gigabytes on damaged bytes.
]=])
morvik_wrapper_patch("VST3 state trailer: a size that does not fit ignores the whole state"
[=[
                privateDataSize = ByteOrder::swapIfBigEndian (privateDataSize);
]=] [=[
                privateDataSize = ByteOrder::swapIfBigEndian (privateDataSize);

                // Morvik: the trailer's tree, its leading zeros and its size must fit in the state.
                if (size < jucePrivDataIdentifierSize + 2 * sizeof (uint64)
                    || privateDataSize > size - jucePrivDataIdentifierSize - 2 * sizeof (uint64))
                    return;
]=])
morvik_wrapper_patch("VST3 state trailer: its tree is read with the plug-in's checked reader"
[=[
                auto privateData = ValueTree::readFromData (data, static_cast<size_t> (sizeInBytes));
]=] [=[
                // Morvik: the framework's reader trusts the counts in damaged bytes.
                auto privateData = ParameterState::parse (data, static_cast<size_t> (sizeInBytes));
]=])
morvik_wrapper_patch("VST3 state trailer: the checked reader's declaration"
[=[
#include "../utility/juce_CheckSettingMacros.h"
]=] [=[
#include "../utility/juce_CheckSettingMacros.h"
#include "engine/plugin/ParameterState.h" // Morvik: the checked value-tree reader
]=])
morvik_end_wrapper_patch()

#---------------------------------------------------------------------------------------------------
morvik_begin_wrapper_patch(LV2 LV2/juce_LV2_Client.cpp [=[
LV2: parameter values reach the host.

The wrapper reports a parameter on its output port (a patch:Set) only when the parameter changes,
so a host never learns the values it did not change itself: nothing after activation, nothing in
answer to a patch:Get, and after a state restore only what the restore changed. These patches
mark parameters as changed in the wrapper's own change flags at those moments; the next run()
then writes their values through the existing patch:Set path. Marking sets atomic flags only, so
answering a patch:Get on the audio thread allocates nothing.

The plug-in's description gives a choice parameter's range in plain values (the band types 0..4)
but wrote its labelled values normalised (0, 0.25 ... 1), so hosts labelled and set the band types
wrongly: the labelled values are written in the same plain units as the range.
]=])
morvik_wrapper_patch("LV2 choice labels: values in the same units as the range"
[=[
                    const auto text = param.getText (value, 1024);
]=] [=[
                    const auto text = param.getText (value, 1024);
                    // Morvik: the range above is in plain units, so the labelled value is too.
                    const auto* ranged = dynamic_cast<const RangedAudioParameter*> (&param);
                    const auto plain = ranged != nullptr ? ranged->convertFrom0to1 (value) : value;
]=])
morvik_wrapper_patch("LV2 choice labels: the plain value is written"
[=[
                          "\t\trdf:value " << value << " ;\n"
]=] [=[
                          "\t\trdf:value " << plain << " ;\n"
]=])
morvik_wrapper_patch("LV2 parameter values: a way to announce all parameters or one"
[=[
    void setValueFromHost (LV2_URID urid, float value) noexcept
]=] [=[
    // Morvik: the next run() sends a patch:Set for the parameter named by urid, or for every one
    // when urid is 0, as if it had changed.
    void announce (LV2_URID urid = 0) noexcept
    {
        for (size_t index = 0; index < indexToUridMap.size(); ++index)
            if (urid == 0 || indexToUridMap[index] == urid)
                stateCache.setBits (index, newClientValue);
    }

    void setValueFromHost (LV2_URID urid, float value) noexcept
]=])
morvik_wrapper_patch("LV2 parameter values: announced on activation"
[=[
    void activate() {}
]=] [=[
    void activate() { parameters.announce(); } // Morvik
]=])
morvik_wrapper_patch("LV2 parameter values: a patch:Get is answered"
[=[
            patchSetHelper.processPatchSet (event, Callback { *this });
]=] [=[
            patchSetHelper.processPatchSet (event, Callback { *this });

            // Morvik: a patch:Get asks for one parameter (patch:property) or for all of them.
            if (event->body.type == patchSetHelper.mLV2_ATOM__Object
                && reinterpret_cast<const LV2_Atom_Object*> (&event->body)->body.otype == mLV2_PATCH__Get)
            {
                const LV2_Atom* subject = nullptr;
                const LV2_Atom* property = nullptr;
                lv2_atom_object_get (reinterpret_cast<const LV2_Atom_Object*> (&event->body),
                                     patchSetHelper.mLV2_PATCH__subject, &subject,
                                     patchSetHelper.mLV2_PATCH__property, &property, 0);

                if (patchSetHelper.isPlugin (subject) && property == nullptr)
                    parameters.announce();
                else if (patchSetHelper.isPlugin (subject) && property->type == patchSetHelper.mLV2_ATOM__URID
                         && reinterpret_cast<const LV2_Atom_URID*> (property)->body != 0)
                    parameters.announce (reinterpret_cast<const LV2_Atom_URID*> (property)->body);
            }
]=])
morvik_wrapper_patch("LV2 parameter values: announced after a program change"
[=[
            processor->setCurrentProgram (programIndex);
]=] [=[
            processor->setCurrentProgram (programIndex);
            parameters.announce(); // Morvik
]=])
morvik_wrapper_patch("LV2 parameter values: announced after a state restore"
[=[
        processor->setStateInformation (block.getData(), (int) block.getSize());
]=] [=[
        processor->setStateInformation (block.getData(), (int) block.getSize());
        parameters.announce(); // Morvik
]=])
morvik_wrapper_patch("LV2 parameter values: the patch:Get identifier"
[=[
    X (LV2_PATCH__Set)
    X (LV2_STATE__StateChanged)
]=] [=[
    X (LV2_PATCH__Set)
    X (LV2_PATCH__Get) // Morvik
    X (LV2_STATE__StateChanged)
]=])
morvik_end_wrapper_patch()
