#pragma once

#include "engine/plugin/PluginProcessor.h"

#include <functional>
#include <memory>

namespace juce
{
// The framework's Linux event loop; its plug-in wrappers declare it the same way.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace test
{
// Sets a parameter to a plain value through the host-facing path, so listeners run as in a host.
void setParameter (MorvikAudioProcessor& processor, const juce::String& id, float plainValue);
float getParameter (MorvikAudioProcessor& processor, const juce::String& id);

// A processor with the given main set in and out and side-chain set, prepared. beforePreparing, if
// given, runs on the new processor before its layout is set and it is prepared.
std::unique_ptr<MorvikAudioProcessor>
    makePreparedProcessor (double sampleRate, int blockSize, const juce::AudioChannelSet& main,
                           const juce::AudioChannelSet& sidechain,
                           const std::function<void (MorvikAudioProcessor&)>& beforePreparing = {});

// The same with mono or stereo in and out and the side-chain disabled.
std::unique_ptr<MorvikAudioProcessor> makePreparedProcessor (double sampleRate, int blockSize, int mainChannels = 2);

// A sine of the given peak amplitude in every channel.
void fillSine (juce::AudioBuffer<float>& buffer, double sampleRate, double frequency, float amplitude,
               int startSample = 0);

// Largest absolute sample over all channels; infinity if any sample is not finite.
float peakOrInfinity (const juce::AudioBuffer<float>& buffer);

// Runs the message loop for a while (at least one pass), so asynchronous updates and repaints are
// delivered. The plug-in's code is built without the framework's modal loops, so this dispatches
// the way the framework's own Linux plug-in wrappers do, through its event loop's one-step call.
inline void pumpMessages (int milliseconds = 30)
{
    const auto end = juce::Time::currentTimeMillis() + milliseconds;
    do
    {
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::currentTimeMillis() < end);
}
} // namespace test
