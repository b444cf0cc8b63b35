#include "support/TestSupport.h"

#include <cmath>

#include <gtest/gtest.h>

namespace test
{
void setParameter (MorvikAudioProcessor& processor, const juce::String& id, float plainValue)
{
    auto* parameter = processor.apvts.getParameter (id);
    jassert (parameter != nullptr);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
}

float getParameter (MorvikAudioProcessor& processor, const juce::String& id)
{
    return processor.apvts.getRawParameterValue (id)->load();
}

std::unique_ptr<MorvikAudioProcessor>
    makePreparedProcessor (double sampleRate, int blockSize, const juce::AudioChannelSet& main,
                           const juce::AudioChannelSet& sidechain,
                           const std::function<void (MorvikAudioProcessor&)>& beforePreparing)
{
    auto processor = std::make_unique<MorvikAudioProcessor>();
    if (beforePreparing)
        beforePreparing (*processor);

    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (main);
    layout.inputBuses.add (sidechain);
    layout.outputBuses.add (main);
    EXPECT_TRUE (processor->setBusesLayout (layout));

    processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    return processor;
}

std::unique_ptr<MorvikAudioProcessor> makePreparedProcessor (double sampleRate, int blockSize, int mainChannels)
{
    const auto main = mainChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    return makePreparedProcessor (sampleRate, blockSize, main, juce::AudioChannelSet::disabled());
}

void fillSine (juce::AudioBuffer<float>& buffer, double sampleRate, double frequency, float amplitude, int startSample)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i,
                              amplitude
                                  * (float) std::sin (juce::MathConstants<double>::twoPi * frequency * (startSample + i)
                                                      / sampleRate));
}

float peakOrInfinity (const juce::AudioBuffer<float>& buffer)
{
    float peak = 0.0f;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float v = buffer.getSample (c, i);
            if (! std::isfinite (v))
                return std::numeric_limits<float>::infinity();
            peak = std::max (peak, std::abs (v));
        }
    return peak;
}
} // namespace test
