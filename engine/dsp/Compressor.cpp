#include "engine/dsp/Compressor.h"
#include "engine/dsp/VectorMath.h"

#include <cfloat>
#include <cmath>

void Compressor::prepare (double sampleRate, int blockSize)
{
    levelDetector.prepare (sampleRate);

    const int size = juce::jmax (0, blockSize);
    drySignal.setSize (2, size, false, false, false);
    drySignal.clear();

    leftLevels.resize ((size_t) size, 0.0f);
    rightLevels.resize ((size_t) size, 0.0f);
    maxLevels.resize ((size_t) size, 0.0f);

    makeupSmoother.reset (sampleRate, 0.05);
    mixSmoother.reset (sampleRate, 0.05);
    smoothersPrimed = false;
}

MORVIK_VECTOR_CLONES void Compressor::process (juce::AudioBuffer<float>& audio,
                                               const juce::AudioBuffer<float>& detector) noexcept
{
    const int n = audio.getNumSamples();

    // An empty chunk has nothing to measure: every state stays as it is.
    if (n <= 0)
        return;

    if (n > (int) leftLevels.size() || detector.getNumChannels() < 1 || detector.getNumSamples() < n)
        return;

    using FVO = juce::FloatVectorOperations;

    makeupSmoother.setTargetValue (makeupDb);
    mixSmoother.setTargetValue (mix);

    // The first chunk after preparation takes the current settings at once.
    if (! smoothersPrimed)
    {
        makeupSmoother.setCurrentAndTargetValue (makeupDb);
        mixSmoother.setCurrentAndTargetValue (mix);
        smoothersPrimed = true;
    }

    // Written so that a NaN link counts as no link.
    const float link = stereoLink > 0.0f ? juce::jmin (stereoLink, 100.0f) / 100.0f : 0.0f;

    gainReductionDb = 0.0f;

    float* left = leftLevels.data();
    float* right = rightLevels.data();
    float* loudest = maxLevels.data();

    // Rectify and link in one pass.
    const float* detectorLeft = detector.getReadPointer (0);
    const float* detectorRight = detector.getReadPointer (detector.getNumChannels() > 1 ? 1 : 0);
    const float own = 1.0f - link;

    for (int i = 0; i < n; ++i)
    {
        const float l = std::abs (detectorLeft[i]), r = std::abs (detectorRight[i]);
        const float m = juce::jmax (r, l);
        loudest[i] = m;
        left[i] = l * own + m * link;
        right[i] = r * own + m * link;
    }

    // One detector for both channels: the right block continues from the left block's tracks.
    levelDetector.processCrestFactor (left, n);
    levelDetector.processCrestFactor (right, n);

    // A non-finite detector must not reach the meter: NaN reads as silence, overflow as the
    // largest finite level.
    const float level = 10.0f * FVO::findMaximum (loudest, n);
    inputLevel = level >= 0.0f ? juce::jmin (level, FLT_MAX) : 0.0f;

    gainComputer.applyCompressionToBuffer (left, n);
    gainComputer.applyCompressionToBuffer (right, n);

    // One ballistics state: left block, then right block, then the next chunk's left block.
    levelDetector.applyBallistics (left, n);
    levelDetector.applyBallistics (right, n);

    gainReductionDb = juce::jmin (FVO::findMinimum (left, n), FVO::findMinimum (right, n));

    const int channels = juce::jmin (audio.getNumChannels(), drySignal.getNumChannels());

    // A settled mix of exactly 1 keeps the gained signal as it is: the dry copy would be weighted 0.
    const bool wetOnly = mix == 1.0f && ! mixSmoother.isSmoothing();

    if (! wetOnly)
        for (int c = 0; c < channels; ++c)
            drySignal.copyFrom (c, 0, audio, c, 0, n);

    // Makeup, dB to linear gain and the gain applied; the same makeup for both channels at each
    // sample. Without a ramp each channel takes one pass, and a mono output skips the right gain.
    if (makeupSmoother.isSmoothing())
    {
        for (int i = 0; i < n; ++i)
        {
            const float makeup = makeupSmoother.getNextValue();
            left[i] = vmath::decibelsToGain (left[i] + makeup);
            right[i] = vmath::decibelsToGain (right[i] + makeup);
        }

        if (channels > 0)
            FVO::multiply (audio.getWritePointer (0), left, n);

        if (channels > 1)
            FVO::multiply (audio.getWritePointer (1), right, n);
    }
    else
    {
        const float makeup = makeupDb;
        const float* gains[2] = { left, right };

        for (int c = 0; c < juce::jmin (channels, 2); ++c)
        {
            float* out = audio.getWritePointer (c);
            const float* changeDb = gains[c];

            for (int i = 0; i < n; ++i)
                out[i] *= vmath::decibelsToGain (changeDb[i] + makeup);
        }
    }

    if (wetOnly)
        return;

    if (mixSmoother.isSmoothing())
    {
        float* wet[2] = { nullptr, nullptr };
        const float* dry[2] = { nullptr, nullptr };

        for (int c = 0; c < channels; ++c)
        {
            wet[c] = audio.getWritePointer (c);
            dry[c] = drySignal.getReadPointer (c);
        }

        for (int i = 0; i < n; ++i)
        {
            const float w = mixSmoother.getNextValue();

            for (int c = 0; c < channels; ++c)
                wet[c][i] = wet[c][i] * w + dry[c][i] * (1.0f - w);
        }
    }
    else
    {
        for (int c = 0; c < channels; ++c)
        {
            float* out = audio.getWritePointer (c);
            FVO::multiply (out, mix, n);
            FVO::addWithMultiply (out, drySignal.getReadPointer (c), 1.0f - mix, n);
        }
    }
}
