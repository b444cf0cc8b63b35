#pragma once

#include "engine/plugin/StateReader.h"

#include <juce_audio_processors/juce_audio_processors.h>

// Restoring parameter states that come from outside, host projects and preset files: which values a
// parsed state may hand to the parameter tree, and how exactly they come back. The bytes are read by
// the bounded tree reader (StateReader.h).
namespace ParameterState
{
// The parameter tree's state for a host project, with each parameter's value exactly as the
// parameter holds it. The tree's own copy records the plain value of the parameter's normalised
// value; on the frequency axis, which maps the two ways with slightly different constants, that is a
// few units in the last place away from the value held, and restoring it would move the frequency
// on every save and reload.
juce::ValueTree copyExact (juce::AudioProcessorValueTreeState& parameters);

// How values come back. A preset hands its plain values to the parameter tree, which converts each
// to the parameter's normalised value; a value within a hair of the current one counts as no change.
// A host state must come back exactly, every time: a restored parameter holds exactly the plain value
// that was saved (see copyExact), even where the tree's own conversion would miss it.
enum class Recall
{
    preset,
    exact
};

// Makes a parsed tree safe to hand to the parameter tree: the root must have the parameter tree's
// state type, and it is replaced by a tree that holds one "PARAM" entry per parameter, with an id
// and a value and nothing else. The last entry of the tree that names a parameter (in either
// naming of the band parameters) gives its value: one that is not a finite number is replaced by
// the parameter's current value, any other is limited to the parameter's range. Parameters the
// tree does not name get their current values, so that they keep them. Returns false when the tree
// is unusable.
bool sanitise (juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters,
               Recall recall = Recall::preset);

// The normalised value whose plain value is exactly `plain`, where the parameter's direct conversion
// misses it and another normalised value hits it; otherwise the direct conversion.
float exactNormalised (const juce::RangedAudioParameter& parameter, float plain);

// parse + sanitise + replaceState. Returns false, changing nothing, when the data is unusable.
bool restore (juce::AudioProcessorValueTreeState& parameters, const void* data, size_t numBytes,
              Recall recall = Recall::preset);
} // namespace ParameterState
