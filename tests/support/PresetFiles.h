// What the preset tests share: the parameter identifiers, a folder per test, the built factory presets
// and the check of a processor's state after a load.

#pragma once

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>

namespace presettest
{
const char* const allIds[] = { "Power",  "Compress", "Ratio", "Attack", "Release", "Makeup", "Character", "Mix",
                               "Smooth", "1On",      "1Type", "1Freq",  "1Gain",   "1Q",     "2On",       "2Type",
                               "2Freq",  "2Gain",    "2Q",    "3On",    "3Type",   "3Freq",  "3Gain",     "3Q" };

constexpr double rate = 48000.0;
constexpr int blockSize = 512;

// A folder of its own per test, removed afterwards.
struct ScratchFolder
{
    ScratchFolder() { folder.createDirectory(); }
    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

    juce::File write (const juce::String& name, const juce::MemoryBlock& data) const
    {
        // Writing no data would delete the file.
        if (data.isEmpty())
            file (name).create();
        else
            file (name).replaceWithData (data.getData(), data.getSize());
        return file (name);
    }

    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getNonexistentChildFile ("morvik_presets_test", {}, false);
};

// Every parameter finite and in range, and the saved state a "Parameters" tree with an entry each.
inline void expectSaneState (MorvikAudioProcessor& processor)
{
    for (auto* id : allIds)
    {
        const auto value = test::getParameter (processor, id);
        const auto range = processor.apvts.getParameter (id)->getNormalisableRange();
        ASSERT_TRUE (std::isfinite (value) && value >= range.start && value <= range.end) << id << " = " << value;
    }

    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    const auto tree = juce::ValueTree::readFromData (saved.getData(), saved.getSize());
    ASSERT_TRUE (tree.hasType ("Parameters"));
    ASSERT_EQ (tree.getNumChildren(), 24);
    for (auto* id : allIds)
        ASSERT_TRUE (tree.getChildWithProperty ("id", juce::String (id)).hasProperty ("value")) << id;
}

inline juce::Array<juce::File> factoryPresets()
{
    auto files = juce::File (MORVIK_PRESET_BUILD_DIR).findChildFiles (juce::File::findFiles, false, "*.mrv");
    files.sort();
    return files;
}

inline juce::MemoryBlock readBytes (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    return block;
}

// Loads a file and returns what it printed.
inline std::string loadAndCapture (MorvikAudioProcessor& processor, const juce::File& file)
{
    std::ostringstream captured;
    auto* previous = std::cout.rdbuf (captured.rdbuf());
    processor.loadPreset (file);
    std::cout.rdbuf (previous);
    return captured.str();
}
} // namespace presettest
