#include "engine/SmoothCompressor.h"
#include "engine/VectorMath.h"

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

MORVIK_VECTOR_CLONES void SmoothCompressor::process (juce::AudioBuffer<float>& detector, int numSamples) noexcept
{
    numSamples = juce::jmin (numSamples, envelopes.getNumSamples(), detector.getNumSamples());
    if (numSamples <= 0 || detector.getNumChannels() < 2)
        return;

    float* in[2] = { detector.getWritePointer (0), detector.getWritePointer (1) };
    float* env[2] = { envelopes.getWritePointer (0), envelopes.getWritePointer (1) };

    // The peak envelopes, both channels in one loop so that their two recurrences overlap.
    const float attack = attackCoefficient, release = releaseCoefficient;
    float state0 = envelopeState[0], state1 = envelopeState[1];

    for (int i = 0; i < numSamples; ++i)
    {
        const float x0 = std::abs (in[0][i]), x1 = std::abs (in[1][i]);
        state0 = x0 + (x0 > state0 ? attack : release) * (state0 - x0);
        state1 = x1 + (x1 > state1 ? attack : release) * (state1 - x1);
        env[0][i] = state0;
        env[1][i] = state1;
    }

    envelopeState[0] = state0;
    envelopeState[1] = state1;

    // The gain above the threshold, then the make-up gain.
    const float limit = threshold, inverse = thresholdInverse, exponent = ratioInverse - 1.0f, makeup = gain;

    for (int c = 0; c < 2; ++c)
    {
        float* samples = in[c];
        const float* envelope = env[c];

        for (int i = 0; i < numSamples; ++i)
        {
            const float e = envelope[i];
            const float reduction = vmath::powPositive (e * inverse, exponent);
            samples[i] = ((e < limit ? 1.0f : reduction) * samples[i]) * makeup;
        }
    }
}
