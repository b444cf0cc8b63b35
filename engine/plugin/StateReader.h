#pragma once

#include <juce_data_structures/juce_data_structures.h>

// The bounded tree reader for parameter states that come from outside: host projects and preset
// files. The framework's own value-tree reader trusts its input (a corrupt count makes it allocate
// gigabytes or loop for billions of rounds), so states are parsed here with every count checked
// against the bytes left.
namespace ParameterState
{
// Parses the framework's binary value-tree format. Returns an invalid tree for anything that is
// not one complete, well-formed tree.
juce::ValueTree parse (const void* data, size_t numBytes);
} // namespace ParameterState
