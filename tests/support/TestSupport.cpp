#include "support/TestSupport.h"

#include <cmath>

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

std::unique_ptr<MorvikAudioProcessor> makePreparedProcessor (double sampleRate, int blockSize, int mainChannels)
{
    auto processor = std::make_unique<MorvikAudioProcessor>();
    const auto set = mainChannels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();

    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (set);
    layout.inputBuses.add (juce::AudioChannelSet::disabled());
    layout.outputBuses.add (set);
    processor->setBusesLayout (layout);

    processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    return processor;
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
