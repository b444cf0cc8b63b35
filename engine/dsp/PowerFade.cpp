#include "engine/dsp/PowerFade.h"

void PowerFade::prepare (double sampleRate, int blockSize)
{
    dry.setSize (2, juce::jmax (0, blockSize));
    gain = 1.0f;
    length = juce::jmax (1, (int) (0.02 * sampleRate));
    initialised = false;
    fading = false;
}

void PowerFade::begin (const juce::AudioBuffer<float>& main, bool powerOn) noexcept
{
    target = powerOn ? 1.0f : 0.0f;

    if (! initialised)
    {
        gain = target;
        initialised = true;
    }

    const int n = main.getNumSamples();
    fading = gain != target && n <= dry.getNumSamples();

    if (fading)
        for (int c = 0; c < juce::jmin (main.getNumChannels(), 2); ++c)
            dry.copyFrom (c, 0, main, c, 0, n);
}

void PowerFade::finish (juce::AudioBuffer<float>& main) noexcept
{
    if (! fading)
    {
        gain = target;
        return;
    }

    const int n = main.getNumSamples();
    const int channels = juce::jmin (main.getNumChannels(), 2);
    const float increment = 1.0f / (float) length;
    float g = gain;

    for (int i = 0; i < n; ++i)
    {
        g = target > g ? juce::jmin (g + increment, target) : juce::jmax (g - increment, target);

        for (int c = 0; c < channels; ++c)
        {
            auto* out = main.getWritePointer (c);
            out[i] = out[i] * g + dry.getSample (c, i) * (1.0f - g);
        }
    }

    gain = g;
}
