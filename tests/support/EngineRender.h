#pragma once

#include "support/TestSupport.h"

#include <initializer_list>
#include <random>
#include <utility>

// Small steps the engine tests share: running blocks, comparing them, and states as a host hands
// them over.
namespace test
{
inline void process (MorvikAudioProcessor& processor, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
}

inline void setParameters (MorvikAudioProcessor& processor,
                           std::initializer_list<std::pair<juce::String, float>> plainValues)
{
    for (const auto& [id, value] : plainValues)
        setParameter (processor, id, value);
}

inline void fillNoise (juce::AudioBuffer<float>& buffer, std::mt19937& rng, float peak = 0.5f)
{
    std::uniform_real_distribution<float> noise (-peak, peak);
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, noise (rng));
}

// Bit for bit.
inline bool sameSamples (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            if (a.getSample (c, i) != b.getSample (c, i))
                return false;
    return true;
}

inline juce::MemoryBlock stateOf (MorvikAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

inline void restoreState (MorvikAudioProcessor& processor, const juce::MemoryBlock& state)
{
    processor.setStateInformation (state.getData(), (int) state.getSize());
}

// A state tree of the given type with one "PARAM" per entry; a void value leaves the entry without one.
inline juce::MemoryBlock stateNaming (std::initializer_list<std::pair<juce::String, juce::var>> entries,
                                      const juce::String& type = "Parameters")
{
    juce::ValueTree tree (type);
    for (const auto& [id, value] : entries)
    {
        juce::ValueTree entry ("PARAM");
        entry.setProperty ("id", id, nullptr);
        if (! value.isVoid())
            entry.setProperty ("value", value, nullptr);
        tree.appendChild (entry, nullptr);
    }
    juce::MemoryOutputStream stream;
    tree.writeToStream (stream);
    return stream.getMemoryBlock();
}
} // namespace test
