#pragma once

#include <juce_dsp/juce_dsp.h>

#include "engine/dsp/VectorMath.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <type_traits>
#include <vector>

// The saturation half of the colour stage: an additive polynomial that adds mostly even-order
// colour, a soft exponential waveshaper, input/output gains and a gentle low-pass, then a trim.
//
// While any gain or the amount ramps, the stages run one after the other as the framework's chain
// runs them. Once all have settled (0.3 s after the first preparation, for good) the same
// arithmetic runs fused: one vectorised pass for polynomial, gains and shaper, then the low-pass
// and trim with both channels in one loop.
//
// Once every ramp has settled a sample x becomes
//     LP (f (x + amount/100 * P (x)) * outGain) * trim
// with P and f given by the installed wave. The polynomial is not odd, so positive and negative
// peaks are shaped differently.
template <typename SampleType>
class Grain
{
public:
    using ShaperFunction = std::function<SampleType (SampleType)>;
    using Chain =
        juce::dsp::ProcessorChain<juce::dsp::Gain<SampleType>, juce::dsp::WaveShaper<SampleType, ShaperFunction>,
                                  juce::dsp::Gain<SampleType>>;

    enum ChainIndex
    {
        inGainIndex = 0,
        shaperIndex,
        outGainIndex
    };

    static constexpr double gainRampSeconds = 0.3;
    static constexpr double amountRampSeconds = 0.1;
    static constexpr SampleType trimDecibels = SampleType (-2);
    static constexpr SampleType lowPassCutoffHz = SampleType (10000);

    Grain();

    void prepare (const juce::dsp::ProcessSpec& spec);
    void process (const juce::dsp::ProcessContextReplacing<SampleType>& context);

    // Installs the shape, polynomial and filter cutoff of `wave` when it differs from the one
    // installed. This build has a single shape, so any wave number installs it.
    void setWave();

    // The saturation curve: sign (x) * (1 - e^(-4|x|)) / (1 - e^-4), so that f (+-1) = +-1 and the
    // output stays below 1 / (1 - e^-4) however hard it is driven.
    static SampleType wave3Shape (SampleType x) noexcept { return shape (x); }

    int currentWave = 4;
    int wave = 3;
    SampleType inGainDb = 0;
    SampleType outGainDb = 0;
    SampleType amountPercent = 10;
    juce::SmoothedValue<SampleType, juce::ValueSmoothingTypes::Linear> amount { SampleType (0) };
    juce::dsp::Gain<SampleType> trim;
    Chain chain;
    juce::Array<SampleType> polynomial { SampleType (0) };

private:
    static SampleType shape (SampleType x) noexcept;
    void setLowPassCutoff (SampleType cutoffHz);
    void addPolynomial (const juce::dsp::AudioBlock<SampleType>& block);
    void processFused (const juce::dsp::AudioBlock<SampleType>& block) noexcept;
    void lowPass (const juce::dsp::AudioBlock<SampleType>& block, SampleType gainAfter) noexcept;

    // The first-order TPT low-pass after the output gain, as the framework's: coefficient
    // G = g / (1 + g) with g = tan (pi fc / fs), one state per channel.
    SampleType lowPassCoefficient = 0;
    std::vector<SampleType> lowPassState;

    // The decibels last given to each gain; not a number until the first chunk sets them.
    SampleType appliedInGainDb = std::numeric_limits<SampleType>::quiet_NaN();
    SampleType appliedOutGainDb = std::numeric_limits<SampleType>::quiet_NaN();
    SampleType appliedTrimDb = std::numeric_limits<SampleType>::quiet_NaN();

    // The cutoff asked for, and the rate the filter runs at. At rates where the cutoff would not
    // lie below the Nyquist frequency the first-order filter goes unstable, so it is pulled below.
    SampleType requestedCutoffHz = lowPassCutoffHz;
    double filterSampleRate = 44100.0;
    size_t preparedChannels = 0;
};

//==============================================================================
template <typename SampleType>
Grain<SampleType>::Grain()
{
    setWave();
    setLowPassCutoff (lowPassCutoffHz);
}

template <typename SampleType>
MORVIK_VECTOR_INLINE SampleType Grain<SampleType>::shape (SampleType x) noexcept
{
    const auto sign = x < SampleType (0) ? SampleType (-1) : SampleType (1);
    if constexpr (std::is_same_v<SampleType, float>)
        return sign * (SampleType (1) - vmath::exp (SampleType (-4) * std::abs (x))) / SampleType (0.9816844);
    else
        return sign * (SampleType (1) - std::exp (SampleType (-4) * std::abs (x))) / SampleType (0.9816844);
}

template <typename SampleType>
void Grain<SampleType>::setWave()
{
    if (wave == currentWave)
        return;

    static constexpr SampleType wave3Polynomial[] = { SampleType (0), SampleType (0), SampleType (1.2),
                                                      SampleType (8), SampleType (4), SampleType (7),
                                                      SampleType (2), SampleType (3), SampleType (1.5) };

    // A plain function pointer sits inside std::function without a heap block, and the array keeps
    // its storage across clearQuick, so a later change of wave would not allocate either.
    chain.template get<shaperIndex>().functionToUse = &Grain::wave3Shape;

    polynomial.clearQuick();
    polynomial.addArray (wave3Polynomial, (int) std::size (wave3Polynomial));

    setLowPassCutoff (SampleType (9000));
    currentWave = wave;
}

template <typename SampleType>
void Grain<SampleType>::setLowPassCutoff (SampleType cutoffHz)
{
    requestedCutoffHz = cutoffHz;

    const auto nyquist = SampleType (0.5 * filterSampleRate);
    const auto cutoff = cutoffHz < nyquist ? cutoffHz : SampleType (0.45 * filterSampleRate);
    const auto g = SampleType (std::tan (juce::MathConstants<double>::pi * cutoff / filterSampleRate));
    lowPassCoefficient = g / (1 + g);
}

template <typename SampleType>
void Grain<SampleType>::prepare (const juce::dsp::ProcessSpec& spec)
{
    auto safeSpec = spec;

    if (! (std::isfinite (safeSpec.sampleRate) && safeSpec.sampleRate > 0.0))
        safeSpec.sampleRate = 44100.0;

    safeSpec.maximumBlockSize = juce::jmax (safeSpec.maximumBlockSize, (juce::uint32) 1);
    safeSpec.numChannels = juce::jmax (safeSpec.numChannels, (juce::uint32) 1);

    auto& inGain = chain.template get<inGainIndex>();
    auto& outGain = chain.template get<outGainIndex>();

    inGain.prepare (safeSpec);
    outGain.prepare (safeSpec);
    lowPassState.assign (safeSpec.numChannels, SampleType (0));
    filterSampleRate = safeSpec.sampleRate;
    preparedChannels = safeSpec.numChannels;
    setLowPassCutoff (requestedCutoffHz);

    inGain.setRampDurationSeconds (gainRampSeconds);
    outGain.setRampDurationSeconds (gainRampSeconds);

    trim.prepare (safeSpec);
    trim.setRampDurationSeconds (gainRampSeconds);

    // A gain's preparation snaps it to its target, which is still silence the first time round:
    // the wet signal then fades in from nothing instead of starting with a click. Later
    // preparations find the targets already in place and do not ramp again.
    amount.reset (safeSpec.sampleRate, amountRampSeconds);
    amount.setTargetValue (amountPercent);

    inGainDb = 0;
    outGainDb = -3;

    inGain.reset();
    outGain.reset();
}

template <typename SampleType>
void Grain<SampleType>::process (const juce::dsp::ProcessContextReplacing<SampleType>& context)
{
    auto& inGain = chain.template get<inGainIndex>();
    auto& outGain = chain.template get<outGainIndex>();

    // A gain's target is recomputed (a power) only when its decibels change.
    const auto setDecibels = [] (juce::dsp::Gain<SampleType>& gain, SampleType& applied, SampleType decibels) {
        if (decibels != applied)
        {
            gain.setGainDecibels (decibels);
            applied = decibels;
        }
    };

    setDecibels (inGain, appliedInGainDb, inGainDb);
    setDecibels (outGain, appliedOutGainDb, outGainDb);
    setDecibels (trim, appliedTrimDb, trimDecibels);

    // The filter keeps one state per prepared channel; further channels are passed by.
    auto block = context.getOutputBlock();

    if (block.getNumChannels() > preparedChannels)
        block = block.getSubsetChannelBlock (0, preparedChannels);

    const auto numChannels = block.getNumChannels();
    const auto numSamples = block.getNumSamples();

    if (numChannels > 0 && numSamples > 0)
    {
        juce::dsp::ProcessContextReplacing<SampleType> stageContext (block);
        stageContext.isBypassed = context.isBypassed;

        const bool settled = ! amount.isSmoothing() && ! inGain.isSmoothing() && ! outGain.isSmoothing()
                             && ! trim.isSmoothing() && polynomial.size() == 9;

        if (context.isBypassed)
        {
            amount.skip ((int) (numChannels * numSamples));
            chain.process (stageContext);
            trim.process (stageContext);
        }
        else if (settled)
        {
            processFused (block);
        }
        else
        {
            addPolynomial (block);
            chain.process (stageContext);
            lowPass (block, SampleType (1));
            trim.process (stageContext);
        }
    }

    setWave();
}

template <typename SampleType>
void Grain<SampleType>::addPolynomial (const juce::dsp::AudioBlock<SampleType>& block)
{
    const auto* coefficients = polynomial.begin();
    const auto numCoefficients = polynomial.size();

    const auto add = [&] (auto&& nextAmount) {
        for (size_t channel = 0; channel < block.getNumChannels(); ++channel)
        {
            auto* samples = block.getChannelPointer (channel);

            for (size_t i = 0; i < block.getNumSamples(); ++i)
            {
                const auto x = samples[i];
                const auto a = nextAmount();

                auto p = SampleType (0);

                for (auto k = numCoefficients; --k >= 0;)
                    p = p * x + coefficients[k];

                samples[i] = x + (a / SampleType (100)) * p;
            }
        }
    };

    // The smoother advances once per sample of each channel, channel after channel, so during its
    // ramp a later channel runs further along than an earlier one. Once it has settled every step
    // would return the target anyway.
    if (amount.isSmoothing())
    {
        add ([this] { return amount.getNextValue(); });
    }
    else
    {
        const auto settledAmount = amount.getTargetValue();
        add ([settledAmount] { return settledAmount; });
    }
}

// Low-pass on every channel, both of a stereo pair in one loop so that their recurrences overlap,
// each result then multiplied by gainAfter. States that have decayed below 1e-8 are set to zero
// after each block, as the framework's filter does.
template <typename SampleType>
void Grain<SampleType>::lowPass (const juce::dsp::AudioBlock<SampleType>& block, SampleType gainAfter) noexcept
{
    const auto G = lowPassCoefficient;
    const auto numSamples = block.getNumSamples();
    size_t channel = 0;

    // A float pair runs in the lanes of one vector: the same operations, half the instructions.
    if constexpr (std::is_same_v<SampleType, float>)
    {
        for (; channel + 1 < block.getNumChannels(); channel += 2)
        {
            auto* a = block.getChannelPointer (channel);
            auto* b = block.getChannelPointer (channel + 1);
            vmath::Float4 state = { lowPassState[channel], lowPassState[channel + 1], 0.0f, 0.0f };

            for (size_t i = 0; i < numSamples; ++i)
            {
                const vmath::Float4 x = { a[i], b[i], 0.0f, 0.0f };
                const vmath::Float4 v = G * (x - state);
                const vmath::Float4 y = v + state;
                state = y + v;
                const vmath::Float4 out = y * gainAfter;
                a[i] = out[0];
                b[i] = out[1];
            }

            lowPassState[channel] = state[0];
            lowPassState[channel + 1] = state[1];
        }
    }

    for (; channel + 1 < block.getNumChannels(); channel += 2)
    {
        auto* a = block.getChannelPointer (channel);
        auto* b = block.getChannelPointer (channel + 1);
        auto sa = lowPassState[channel], sb = lowPassState[channel + 1];

        for (size_t i = 0; i < numSamples; ++i)
        {
            const auto va = G * (a[i] - sa), vb = G * (b[i] - sb);
            const auto ya = va + sa, yb = vb + sb;
            sa = ya + va;
            sb = yb + vb;
            a[i] = ya * gainAfter;
            b[i] = yb * gainAfter;
        }

        lowPassState[channel] = sa;
        lowPassState[channel + 1] = sb;
    }

    for (; channel < block.getNumChannels(); ++channel)
    {
        auto* a = block.getChannelPointer (channel);
        auto sa = lowPassState[channel];

        for (size_t i = 0; i < numSamples; ++i)
        {
            const auto va = G * (a[i] - sa);
            const auto ya = va + sa;
            sa = ya + va;
            a[i] = ya * gainAfter;
        }

        lowPassState[channel] = sa;
    }

    for (auto& state : lowPassState)
        if (! (state < SampleType (-1.0e-8) || state > SampleType (1.0e-8)))
            state = 0;
}

template <typename SampleType>
MORVIK_VECTOR_CLONES void Grain<SampleType>::processFused (const juce::dsp::AudioBlock<SampleType>& block) noexcept
{
    SampleType c[9];
    std::copy (polynomial.begin(), polynomial.end(), c);

    const auto scaledAmount = amount.getTargetValue() / SampleType (100);
    const auto inGain = chain.template get<inGainIndex>().getGainLinear();
    const auto outGain = chain.template get<outGainIndex>().getGainLinear();

    for (size_t channel = 0; channel < block.getNumChannels(); ++channel)
    {
        auto* samples = block.getChannelPointer (channel);

        for (size_t i = 0; i < block.getNumSamples(); ++i)
        {
            const auto x = samples[i];
            auto p = SampleType (0);

            for (int k = 8; k >= 0; --k)
                p = p * x + c[k];

            samples[i] = shape ((x + scaledAmount * p) * inGain) * outGain;
        }
    }

    lowPass (block, trim.getGainLinear());
}

extern template class Grain<float>;
