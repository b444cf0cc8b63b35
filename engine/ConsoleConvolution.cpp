#include "engine/ConsoleConvolution.h"

#include <cmath>

namespace
{
// A spec the framework's stages can work with: they divide by the rate, size FFTs from the block
// size and keep one state per channel. The convolution itself handles mono and stereo only.
juce::dsp::ProcessSpec usableSpec (const juce::dsp::ProcessSpec& spec)
{
    auto result = spec;

    if (! (std::isfinite (result.sampleRate) && result.sampleRate > 0.0))
        result.sampleRate = 44100.0;

    result.maximumBlockSize = juce::jmax (result.maximumBlockSize, (juce::uint32) 1);
    result.numChannels = juce::jlimit ((juce::uint32) 1, (juce::uint32) 2, result.numChannels);
    return result;
}
} // namespace

void ConsoleConvolution::prepare (const juce::dsp::ProcessSpec& spec)
{
    const auto safeSpec = usableSpec (spec);

    // Until the console response arrives the convolution should pass audio unchanged. Its own
    // initial unit sample is stored for 44.1 kHz and gets resampled and scaled to any other rate
    // (at 48 kHz it attenuates by about 2 dB, at 88.2 kHz it becomes a two-tap low-pass), so a unit
    // sample at the processing rate is queued here; the preparation below applies it at once.
    // Once a response has been handed over, the convolution rebuilds that one for the new rate.
    if (! responseHandedOver)
    {
        juce::AudioBuffer<float> unit (1, 1);
        unit.setSample (0, 0, 1.0f);
        convolution.loadImpulseResponse (std::move (unit), safeSpec.sampleRate, juce::dsp::Convolution::Stereo::yes,
                                         juce::dsp::Convolution::Trim::no, juce::dsp::Convolution::Normalise::no);
    }

    convolution.prepare (safeSpec);
    convolutionBlockSize = safeSpec.maximumBlockSize;
    convolutionChannels = safeSpec.numChannels;

    outputGain.prepare (safeSpec);
    outputGain.setRampDurationSeconds (outputGainRampSeconds);

    convolution.reset();
    outputGain.reset();
    outputGainPrimed = false;
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

    // The convolution keeps at most two channels of a response, so there is no point in
    // decoding more. The buffer is as long as the lead-in plus the used frames; the tail past
    // the used frames stays silent and is trimmed away by the convolution.
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

    if (! hasSignal)
        return;

    {
        const juce::SpinLock::ScopedLockType lock (impulseLock);
        pendingSampleRate = (float) rate;
        pendingImpulse = std::move (impulse);
        impulsePending = true;
    }

    // Whatever the pending slot held before was swapped into `impulse` and is freed here, on this
    // thread, after the lock has been released.
}

void ConsoleConvolution::takePendingImpulse() noexcept
{
    if (! impulseLock.tryEnter())
        return;

    if (impulsePending)
    {
        // In this framework version a moved buffer travels inside a fixed-size command through a
        // preallocated queue to the loader thread, which trims, resamples, normalises and builds
        // the engine there (and frees the buffer afterwards). The move leaves the slot empty, so
        // nothing is allocated or freed here.
        convolution.loadImpulseResponse (std::move (pendingImpulse), (double) pendingSampleRate,
                                         juce::dsp::Convolution::Stereo::yes, juce::dsp::Convolution::Trim::yes,
                                         juce::dsp::Convolution::Normalise::yes);
        impulsePending = false;
        responseHandedOver = true;
    }

    impulseLock.exit();
}

void ConsoleConvolution::process (const juce::dsp::ProcessContextReplacing<float>& context)
{
    takePendingImpulse();

    auto& block = context.getOutputBlock();
    const auto numSamples = block.getNumSamples();
    const auto numChannels = juce::jmin (block.getNumChannels(), convolutionChannels);

    if (numChannels > 0 && convolutionBlockSize > 0)
    {
        auto convolved = block.getSubsetChannelBlock (0, numChannels);

        for (size_t start = 0; start < numSamples; start += convolutionBlockSize)
        {
            auto piece = convolved.getSubBlock (start, juce::jmin (convolutionBlockSize, numSamples - start));
            juce::dsp::ProcessContextReplacing<float> pieceContext (piece);
            pieceContext.isBypassed = context.isBypassed;
            convolution.process (pieceContext);
        }
    }

    outputGain.setGainDecibels (outputGainDecibels);

    // The lift is fixed; after a preparation it must not ramp up from wherever it stood.
    if (! outputGainPrimed)
    {
        outputGain.reset();
        outputGainPrimed = true;
    }

    outputGain.process (context);
}
