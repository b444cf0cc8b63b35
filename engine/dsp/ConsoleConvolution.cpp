#include "engine/dsp/ConsoleConvolution.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <numeric>

namespace
{
constexpr int historyLength = ConsoleConvolution::maxTaps - 1;

// The largest input sample the history keeps. The taps' absolute sum is at most sqrt (maxTaps) x 0.125
// x the lift (about 7.1), so no response turns a sample up to this into an infinity.
constexpr float largestKeptSample = FLT_MAX / 8.0f;

// History samples that taps will reach. One that is not a number, infinite or so large that the taps
// could overflow would spoil the output of every chunk that reads it; it is kept as silence instead.
void keepAsSilenceIfUnusable (float* samples, int count) noexcept
{
    for (int i = 0; i < count; ++i)
        if (! (std::abs (samples[i]) <= largestKeptSample))
            samples[i] = 0.0f;
}

float liftGain() noexcept { return juce::Decibels::decibelsToGain (ConsoleConvolution::outputGainDecibels); }

// The response that passes audio unchanged but for the lift.
juce::AudioBuffer<float> unitTaps()
{
    juce::AudioBuffer<float> taps (1, 1);
    taps.setSample (0, 0, liftGain());
    return taps;
}

// The silent ends of a response cut away, as the framework's convolution trims: a sample counts when
// it reaches -80 dB in any channel; a response with no such sample becomes one silent sample.
juce::AudioBuffer<float> trimmed (const juce::AudioBuffer<float>& response)
{
    const auto threshold = juce::Decibels::decibelsToGain (-80.0f);
    const int numChannels = response.getNumChannels();
    const int numSamples = response.getNumSamples();
    int offsetBegin = numSamples, offsetEnd = numSamples;

    for (int channel = 0; channel < numChannels; ++channel)
    {
        const auto* samples = response.getReadPointer (channel);
        int first = 0, last = 0;

        while (first < numSamples && ! (std::abs (samples[first]) >= threshold))
            ++first;

        while (last < numSamples && ! (std::abs (samples[numSamples - 1 - last]) >= threshold))
            ++last;

        offsetBegin = juce::jmin (offsetBegin, first);
        offsetEnd = juce::jmin (offsetEnd, last);
    }

    if (offsetBegin == numSamples)
    {
        juce::AudioBuffer<float> silent (numChannels, 1);
        silent.clear();
        return silent;
    }

    juce::AudioBuffer<float> result (numChannels, juce::jmax (1, numSamples - (offsetBegin + offsetEnd)));
    for (int channel = 0; channel < numChannels; ++channel)
        result.copyFrom (channel, 0, response.getReadPointer (channel, offsetBegin), result.getNumSamples());

    return result;
}

// The framework's own resampling of a response to the processing rate, with its rounding of the
// new length, so that the taps come out as its convolution would use them.
juce::AudioBuffer<float> resampled (const juce::AudioBuffer<float>& response, double fromRate, double toRate)
{
    if (fromRate == toRate)
        return response;

    const auto factorReading = fromRate / toRate;
    juce::AudioBuffer<float> original (response);
    juce::MemoryAudioSource memorySource (original, false);
    juce::ResamplingAudioSource resamplingSource (&memorySource, false, response.getNumChannels());

    const auto finalSize = juce::roundToInt (juce::jmax (1.0, response.getNumSamples() / factorReading));
    resamplingSource.setResamplingRatio (factorReading);
    resamplingSource.prepareToPlay (finalSize, fromRate);

    juce::AudioBuffer<float> result (response.getNumChannels(), finalSize);
    resamplingSource.getNextAudioBlock ({ &result, 0, result.getNumSamples() });
    return result;
}
} // namespace

juce::AudioBuffer<float> ConsoleConvolution::makeTaps (const juce::AudioBuffer<float>& response, double responseRate,
                                                       double processingRate)
{
    if (response.getNumChannels() < 1 || response.getNumSamples() < 1 || ! (responseRate > 0.0)
        || ! (processingRate > 0.0))
        return {};

    // A response so short at its own rate that it grows past the longest filter at the processing
    // rate is refused before the resampler makes it.
    const auto trimmedResponse = trimmed (response);
    if (trimmedResponse.getNumSamples() * processingRate / responseRate > maxTaps + 1)
        return {};

    auto taps = resampled (trimmedResponse, responseRate, processingRate);
    if (taps.getNumSamples() > maxTaps)
        return {};

    // Normalised to 0.125 over the stronger channel's sum of squares, summed in float in order.
    float largestEnergy = 0.0f;
    for (int channel = 0; channel < taps.getNumChannels(); ++channel)
    {
        const auto* samples = taps.getReadPointer (channel);
        largestEnergy = juce::jmax (largestEnergy, std::accumulate (samples, samples + taps.getNumSamples(), 0.0f,
                                                                    [] (float sum, float s) { return sum + s * s; }));
    }

    const float normalisation = largestEnergy < 1.0e-8f ? 1.0f : 0.125f / std::sqrt (largestEnergy);
    taps.applyGain (normalisation);
    taps.applyGain (liftGain());
    return taps;
}

void ConsoleConvolution::prepare (const juce::dsp::ProcessSpec& spec)
{
    preparedRate = std::isfinite (spec.sampleRate) && spec.sampleRate > 0.0 ? spec.sampleRate : 44100.0;
    preparedBlockSize = (int) juce::jmax (spec.maximumBlockSize, (juce::uint32) 1);

    history.setSize (2, historyLength + preparedBlockSize);
    history.clear();
    blendScratch.setSize (3, preparedBlockSize);

    previousWeight.reset (preparedRate, blendSeconds);
    previousWeight.setCurrentAndTargetValue (0.0f);

    // The response in use is rebuilt for the new rate; it stays in use without a blend.
    currentTaps = currentImpulseRate > 0.0 ? makeTaps (currentImpulse, currentImpulseRate, preparedRate)
                                           : juce::AudioBuffer<float>();
    if (currentTaps.getNumSamples() == 0)
        currentTaps = unitTaps();

    const juce::SpinLock::ScopedLockType lock (impulseLock);
    if (impulsePending)
    {
        pendingTaps = makeTaps (pendingImpulse, pendingSampleRate, preparedRate);
        impulsePending = pendingTaps.getNumSamples() > 0;
    }
}

void ConsoleConvolution::loadImpulseResponse (juce::AudioFormatManager& formatManager, const void* data,
                                              size_t numBytes)
{
    if (data == nullptr || numBytes == 0 || formatManager.getNumKnownFormats() == 0)
        return;

    juce::MemoryBlock encoded (data, numBytes);

    // The manager rewinds the stream before each format it tries; the reader that accepts it
    // takes the stream over, and when none does the manager deletes it.
    std::unique_ptr<juce::AudioFormatReader> reader (
        formatManager.createReaderFor (std::make_unique<juce::MemoryInputStream> (encoded, true)));

    if (reader == nullptr)
        return;

    const auto rate = reader->sampleRate;

    if (reader->numChannels < 1 || ! (std::isfinite (rate) && rate > 0.0))
        return;

    // At most two channels of a response are used. The buffer is as long as the lead-in plus the
    // used frames; the tail past the used frames stays silent and is trimmed away.
    const auto numChannels = juce::jmin ((int) reader->numChannels, 2);
    juce::AudioBuffer<float> impulse (numChannels, firstImpulseFrame + numImpulseFrames);
    impulse.clear();

    if (! reader->read (impulse.getArrayOfWritePointers(), numChannels, firstImpulseFrame, numImpulseFrames))
        return;

    // A response that is silent (or not a number) where the console lives would mute or poison
    // the wet signal; keep the current response instead.
    auto hasSignal = false;

    for (int channel = 0; channel < numChannels; ++channel)
    {
        for (int i = 0; i < numImpulseFrames; ++i)
        {
            const auto sample = impulse.getSample (channel, i);

            if (! std::isfinite (sample))
                return;

            hasSignal = hasSignal || sample != 0.0f;
        }
    }

    auto taps = makeTaps (impulse, (float) rate, preparedRate);
    if (! hasSignal || taps.getNumSamples() == 0)
        return;

    {
        const juce::SpinLock::ScopedLockType lock (impulseLock);
        pendingSampleRate = (float) rate;
        std::swap (pendingImpulse, impulse);
        std::swap (pendingTaps, taps);
        impulsePending = true;
    }

    // Whatever the pending slot held before (a response not taken, or what the audio thread
    // swapped out at its last hand-over) is freed here, on this thread, after the lock.
}

void ConsoleConvolution::takePendingResponse() noexcept
{
    // A blend in progress finishes first, as in the framework's convolution.
    if (previousWeight.isSmoothing() || ! impulseLock.tryEnter())
        return;

    if (impulsePending)
    {
        // Swaps only: the buffers that leave go to the pending slot, where the preparing thread
        // frees them.
        std::swap (previousTaps, currentTaps);
        std::swap (currentTaps, pendingTaps);
        std::swap (currentImpulse, pendingImpulse);
        currentImpulseRate = pendingSampleRate;
        impulsePending = false;

        previousWeight.setCurrentAndTargetValue (1.0f);
        previousWeight.setTargetValue (0.0f);

        for (int channel = 0; channel < history.getNumChannels(); ++channel)
            keepAsSilenceIfUnusable (history.getWritePointer (channel), historyLength);
    }

    impulseLock.exit();
}

void ConsoleConvolution::filter (const juce::AudioBuffer<float>& taps, const float* input, float* out, int channel,
                                 int numSamples) const noexcept
{
    const float* h = taps.getReadPointer (juce::jmin (channel, taps.getNumChannels() - 1));
    const int length = taps.getNumSamples();

    for (int i = 0; i < numSamples; ++i)
        out[i] = h[0] * input[i];

    for (int k = 1; k < length; ++k)
    {
        const float tap = h[k];
        const float* delayed = input - k;

        for (int i = 0; i < numSamples; ++i)
            out[i] += tap * delayed[i];
    }
}

void ConsoleConvolution::process (const juce::dsp::ProcessContextReplacing<float>& context) noexcept
{
    if (context.isBypassed || preparedBlockSize == 0)
        return;

    takePendingResponse();

    auto& block = context.getOutputBlock();
    const int numSamples = (int) block.getNumSamples();
    const int numChannels = (int) block.getNumChannels();
    const int filtered = juce::jmin (numChannels, 2);
    const float lift = liftGain();

    // Channels past the second get the lift alone.
    for (int channel = filtered; channel < numChannels; ++channel)
        juce::FloatVectorOperations::multiply (block.getChannelPointer ((size_t) channel), lift, numSamples);

    // The newest history samples that the next chunk's taps reach. Only these are checked: an older
    // sample is never read again, unless a longer response is taken over, which checks them all.
    const int reach =
        juce::jmin (historyLength, juce::jmax (currentTaps.getNumSamples(), previousTaps.getNumSamples()) - 1);

    for (int start = 0; start < numSamples; start += preparedBlockSize)
    {
        const int length = juce::jmin (preparedBlockSize, numSamples - start);
        const bool blending = previousWeight.isSmoothing();
        float* weights = blendScratch.getWritePointer (2);

        if (blending)
            for (int i = 0; i < length; ++i)
                weights[i] = previousWeight.getNextValue();

        for (int channel = 0; channel < filtered; ++channel)
        {
            float* out = block.getChannelPointer ((size_t) channel) + start;
            float* past = history.getWritePointer (channel);
            float* input = past + historyLength;
            std::memcpy (input, out, sizeof (float) * (size_t) length);

            filter (currentTaps, input, out, channel, length);

            // The framework's blend: previous x w + current x (1 - w), w falling from 1 to 0.
            if (blending)
            {
                float* before = blendScratch.getWritePointer (channel);
                filter (previousTaps, input, before, channel, length);

                for (int i = 0; i < length; ++i)
                    out[i] = out[i] * (weights[i] * -1.0f + 1.0f) + before[i] * weights[i];
            }

            std::memmove (past, past + length, sizeof (float) * (size_t) historyLength);
            keepAsSilenceIfUnusable (past + historyLength - reach, reach);
        }
    }
}
