#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// Where this plug-in's bundle lies on disk, so that the files it ships (the factory presets) can be
// found at run time. On Linux each format has its own layout:
//   VST3        Morvik.vst3/Contents/<architecture>-linux/Morvik.so   bundle: the .vst3 folder
//   LV2         Morvik.lv2/libMorvik.so                               bundle: the .lv2 folder
//   Standalone  <folder>/Morvik                                      bundle: the executable's folder
// Each bundle keeps its presets in Contents/Resources/Presets.
namespace PluginBundle
{
// The bundle folder of a binary loaded as the given format. A VST3 binary that does not sit in
// Contents/<architecture>/ (a bare shared library), and every format without a bundle of its own,
// takes the binary's folder. An empty file gives an empty file.
juce::File bundleFolderFor (juce::AudioProcessor::WrapperType wrapper, const juce::File& binary);

// The factory preset folder inside a bundle folder: Contents/Resources/Presets.
juce::File presetFolderIn (const juce::File& bundle);

// The binary this code runs in: the plug-in's shared library when loaded by a host (the framework
// finds it with dladdr), else the executable.
juce::File currentBinary();

// The bundle of the running plug-in. The processor's wrapper type tells the format; a processor
// that no wrapper has claimed falls back to the format the plug-in was loaded as.
juce::File currentBundleFolder (const juce::AudioProcessor& processor);
juce::File currentPresetFolder (const juce::AudioProcessor& processor);
} // namespace PluginBundle
