#include "HostKit.h"

#include <algorithm>
#include <cmath>

namespace hostkit
{
bool render (juce::AudioPluginInstance& instance, const juce::AudioBuffer<float>& input,
             const juce::AudioBuffer<float>* sidechain, juce::AudioBuffer<float>& output, const RenderOptions& options,
             juce::String& error)
{
    const int numSamples = input.getNumSamples();
    const int mainIn = instance.getMainBusNumInputChannels();
    const int mainOut = instance.getMainBusNumOutputChannels();
    const int totalIn = instance.getTotalNumInputChannels();
    const int totalOut = instance.getTotalNumOutputChannels();
    const int sidechainChannels = totalIn - mainIn;
    const int blockSize = juce::jmax (1, options.blockSize);
    const double sampleRate = instance.getSampleRate() > 0 ? instance.getSampleRate() : 48000.0;

    output.setSize (input.getNumChannels(), numSamples);
    output.clear();

    struct Pending
    {
        int sample;
        juce::AudioProcessorParameter* parameter;
        float value;
    };

    std::vector<Pending> pending;

    for (const auto& event : options.events)
    {
        auto* parameter = findParameter (instance, event.id);

        if (parameter == nullptr)
        {
            error = "no parameter \"" + event.id + "\"";
            return false;
        }

        const auto sample = juce::jlimit (0, numSamples, (int) std::llround (event.timeSeconds * sampleRate));
        pending.push_back ({ sample, parameter, normalisedFor (*parameter, event.value) });
    }

    std::stable_sort (pending.begin(), pending.end(),
                      [] (const Pending& a, const Pending& b) { return a.sample < b.sample; });

    std::vector<int> reprepares;
    for (const auto time : options.reprepareTimes)
        reprepares.push_back (juce::jlimit (0, numSamples, (int) std::llround (time * sampleRate)));
    std::sort (reprepares.begin(), reprepares.end());
    size_t nextReprepare = 0;

    juce::AudioBuffer<float> block (juce::jmax (1, juce::jmax (totalIn, totalOut)), blockSize);
    juce::MidiBuffer midi;
    size_t nextEvent = 0;
    int position = 0;

    while (position < numSamples)
    {
        while (nextEvent < pending.size() && pending[nextEvent].sample <= position)
        {
            auto& event = pending[nextEvent++];
            event.parameter->beginChangeGesture();
            event.parameter->setValueNotifyingHost (event.value);
            event.parameter->endChangeGesture();
        }

        while (nextReprepare < reprepares.size() && reprepares[nextReprepare] <= position)
        {
            ++nextReprepare;
            instance.releaseResources();
            instance.setNonRealtime (true);
            instance.prepareToPlay (sampleRate, blockSize);
        }

        int length = juce::jmin (blockSize, numSamples - position);

        if (nextEvent < pending.size())
            length = juce::jmin (length, pending[nextEvent].sample - position);

        if (nextReprepare < reprepares.size())
            length = juce::jmin (length, reprepares[nextReprepare] - position);

        block.setSize (block.getNumChannels(), length, false, false, true);
        block.clear();

        for (int channel = 0; channel < mainIn; ++channel)
            block.copyFrom (channel, 0, input, juce::jmin (channel, input.getNumChannels() - 1), position, length);

        if (sidechain != nullptr && sidechainChannels > 0 && sidechain->getNumChannels() > 0)
        {
            const int available = juce::jlimit (0, length, sidechain->getNumSamples() - position);

            for (int channel = 0; channel < sidechainChannels && available > 0; ++channel)
                block.copyFrom (mainIn + channel, 0, *sidechain, juce::jmin (channel, sidechain->getNumChannels() - 1),
                                position, available);
        }

        instance.processBlock (block, midi);
        midi.clear();

        for (int channel = 0; channel < output.getNumChannels(); ++channel)
            output.copyFrom (channel, position, block, juce::jmin (channel, juce::jmax (0, mainOut - 1)), 0, length);

        position += length;
    }

    return true;
}
} // namespace hostkit
