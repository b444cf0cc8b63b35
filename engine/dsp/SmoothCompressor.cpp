#include "engine/dsp/SmoothCompressor.h"
#include "engine/dsp/VectorMath.h"

#include <cmath>

void SmoothCompressor::prepare (double sampleRate, int blockSize)
{
    expFactor = -2.0 * juce::MathConstants<double>::pi * 1000.0 / sampleRate;
    attackCoefficient = coefficientFor (attackMs);
    releaseCoefficient = coefficientFor (releaseMs);
    envelopes.setSize (2, juce::jmax (1, blockSize));
    reset();
}

void SmoothCompressor::reset() noexcept { envelopeState[0] = envelopeState[1] = 0.0f; }

// The framework's ballistics coefficient: e^(-2 pi 1000 / (rate x ms)), 0 below a microsecond.
float SmoothCompressor::coefficientFor (float milliseconds) const noexcept
{
    return milliseconds < 1.0e-3f ? 0.0f : (float) std::exp (expFactor / milliseconds);
}

void SmoothCompressor::setThreshold (float decibels) noexcept
{
    if (decibels == thresholdDecibels)
        return;

    thresholdDecibels = decibels;
    threshold = juce::Decibels::decibelsToGain (decibels, -200.0f);
    thresholdInverse = 1.0f / threshold;
}

void SmoothCompressor::setRatio (float newRatio) noexcept
{
    if (newRatio == ratio)
        return;

    ratio = newRatio;
    ratioInverse = 1.0f / ratio;
}

void SmoothCompressor::setAttack (float milliseconds) noexcept
{
    if (milliseconds == attackMs)
        return;

    attackMs = milliseconds;
    attackCoefficient = coefficientFor (milliseconds);
}

void SmoothCompressor::setRelease (float milliseconds) noexcept
{
    if (milliseconds == releaseMs)
        return;

    releaseMs = milliseconds;
    releaseCoefficient = coefficientFor (milliseconds);
}

void SmoothCompressor::setGainDecibels (float decibels) noexcept
{
    if (decibels == gainDecibels)
        return;

    gainDecibels = decibels;
    gain = juce::Decibels::decibelsToGain (decibels);
}

MORVIK_VECTOR_CLONES void SmoothCompressor::applyGain (juce::AudioBuffer<float>& detector, int numSamples) noexcept
{
    const float limit = threshold, inverse = thresholdInverse, makeup = gain;
    const auto exponent = vmath::splitExponent (ratioInverse - 1.0f);

    for (int c = 0; c < 2; ++c)
    {
        float* samples = detector.getWritePointer (c);
        const float* envelope = envelopes.getReadPointer (c);

        for (int i = 0; i < numSamples; ++i)
        {
            const float e = envelope[i];
            const float reduction = vmath::powPositiveSingle (e * inverse, exponent);
            samples[i] = ((e < limit ? 1.0f : reduction) * samples[i]) * makeup;
        }
    }
}
