#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// Reading parameter states that come from outside: host projects and preset files. The framework's
// own value-tree reader trusts its input (a corrupt count makes it allocate gigabytes or loop for
// billions of rounds), so states are parsed here with every count checked against the bytes left.
namespace ParameterState
{
// Parses the framework's binary value-tree format. Returns an invalid tree for anything that is
// not one complete, well-formed tree.
juce::ValueTree parse (const void* data, size_t numBytes);

// Makes a parsed tree safe to hand to the parameter tree: the root must have the parameter tree's
// state type; a value that is not a finite number is replaced by the parameter's current value,
// every other value is limited to its parameter's range, and parameters the tree does not name
// are added with their current values so that they keep them. Returns false when the tree is
// unusable.
bool sanitise (juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters);

// parse + sanitise + replaceState. Returns false, changing nothing, when the data is unusable.
bool restore (juce::AudioProcessorValueTreeState& parameters, const void* data, size_t numBytes);
} // namespace ParameterState
