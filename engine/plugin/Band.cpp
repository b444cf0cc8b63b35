#include "engine/dsp/ParameterIds.h"
#include "engine/dsp/ParameterTable.h"
#include "engine/plugin/PluginProcessor.h"

#include <cmath>
#include <thread>

// Coefficient hand-over
// ---------------------
// A band's parameters change on any thread, the audio thread among them (host automation calls the
// listener there), while the audio thread filters with the band's set and the editor's curve reads
// it. Writers compute a new set under writerLock and publish it into five atomics guarded by a
// sequence counter that is odd while a write is in progress. A reader takes the counter, copies the
// five values and checks the counter again: an odd or changed counter means it overlapped a write.
//
// - No writer waits for the lock: it marks an update pending and makes one attempt at the lock. The
//   holder, once it has let go, takes the lock again while an update is pending and computes again,
//   so an update whose writer found the lock taken still lands. The flag and the framework's lock are
//   sequentially consistent: a writer that finds the lock taken and a holder that has just let go
//   cannot both miss the flag. Only preparation, which never runs on the audio thread, waits. A
//   holder in a parameter callback has published the newest set before the listeners after it (the
//   curve's, which marks the curve stale) hear of its own change.
// - The audio thread never waits as a reader either: in pullCoefficients it makes one attempt per
//   chunk and, if it overlapped a write, keeps filtering with the set it already holds and tries
//   again next chunk.
// - The curve retries until it has a clean copy; a write is a handful of stores, so it never waits
//   long.
// - Nothing is allocated or freed after construction: the filters share `coefficients`, whose five
//   values the audio thread overwrites in place.
// - The holder clears the pending flag before it reads the raw parameter values, so whichever
//   computation comes last has read the newest values and its set is the one that stays.

namespace
{
constexpr float gainFloorDb = -100.0f;

// Above this fraction of the sample rate a band would sit at or past Nyquist, where the biquad
// makers describe unstable filters. Only rates below about 41 kHz ever reach it.
constexpr float highestStableFraction = 0.49f;
} // namespace

MorvikAudioProcessor::Band::Band (MorvikAudioProcessor& owner, int index)
    : onId (owner.bandParameterId (index, ParameterIds::bandOn)),
      typeId (owner.bandParameterId (index, ParameterIds::bandType)),
      freqId (owner.bandParameterId (index, ParameterIds::bandFreq)),
      gainId (owner.bandParameterId (index, ParameterIds::bandGain)),
      qId (owner.bandParameterId (index, ParameterIds::bandQ)),
      processor (owner),
      coefficients (new juce::dsp::IIR::Coefficients<float> (0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f))
{
    for (auto& value : published)
        value.store (0.0f, std::memory_order_relaxed);
}

MorvikAudioProcessor::Band::~Band() = default;

void MorvikAudioProcessor::Band::parameterChanged (const juce::String& parameterID, float)
{
    // A change of "On" alone leaves the coefficients as they are.
    if (parameterID != onId.toString())
        updateFilter();

    const float typeValue = type->load();
    const bool isOn = on->load() > 0.5f;
    // A cut filters even at 0 dB; any other type is flat there.
    const bool needed = gain->load() != 0.0f || typeValue == ParameterTable::valueOf (BandType::lowCut)
                        || typeValue == ParameterTable::valueOf (BandType::highCut);
    active.store (isOn && needed);
}

bool MorvikAudioProcessor::Band::computeCoefficients (CoefficientSet& out) const noexcept
{
    const int t = (int) type->load();
    if (t < 0 || t >= ParameterTable::numBandTypes)
        return false;

    const auto fs = (float) processor.sampleRate.load();
    // With no rate yet the makers would divide by zero; the previous set stays until prepare.
    if (! (fs > 0.0f))
        return false;

    const float f = juce::jmin (freq->load(), highestStableFraction * fs);
    const float Q = q->load();
    const float g = juce::Decibels::decibelsToGain (gain->load(), gainFloorDb);

    using Makers = juce::dsp::IIR::ArrayCoefficients<float>;
    std::array<float, 6> raw {};

    switch ((BandType) t)
    {
        case BandType::lowCut:
            raw = Makers::makeHighPass (fs, f, Q);
            break;
        case BandType::lowShelf:
            raw = Makers::makeLowShelf (fs, f, Q, g);
            break;
        case BandType::peak:
            raw = Makers::makePeakFilter (fs, f, Q, g);
            break;
        case BandType::highShelf:
            raw = Makers::makeHighShelf (fs, f, Q, g);
            break;
        case BandType::highCut:
            raw = Makers::makeLowPass (fs, f, Q);
            break;
    }

    // The framework's assignment: divide by a0, keep b0 b1 b2 a1 a2; an a0 of zero stores zeros.
    const float a0 = raw[3];
    const float scale = a0 == 0.0f ? 0.0f : 1.0f / a0;
    out = { raw[0] * scale, raw[1] * scale, raw[2] * scale, raw[4] * scale, raw[5] * scale };

    for (auto value : out)
        if (! std::isfinite (value))
            return false;

    return true;
}

void MorvikAudioProcessor::Band::publish (const CoefficientSet& set) noexcept
{
    const auto start = sequence.load (std::memory_order_relaxed);
    sequence.store (start + 1, std::memory_order_relaxed);
    std::atomic_thread_fence (std::memory_order_release);

    for (size_t i = 0; i < set.size(); ++i)
        published[i].store (set[i], std::memory_order_relaxed);

    sequence.store (start + 2, std::memory_order_release);
}

void MorvikAudioProcessor::Band::updateFilter()
{
    updatePending.store (true);
    if (writerLock.tryEnter())
        publishWhilePending();
}

void MorvikAudioProcessor::Band::publishWhilePending() noexcept
{
    do
    {
        updatePending.exchange (false);

        CoefficientSet set;
        if (computeCoefficients (set))
            publish (set);

        writerLock.exit();
    } while (updatePending.load() && writerLock.tryEnter());
}

bool MorvikAudioProcessor::Band::tryRead (CoefficientSet& set, juce::uint32& at) const noexcept
{
    at = sequence.load (std::memory_order_acquire);

    for (size_t i = 0; i < set.size(); ++i)
        set[i] = published[i].load (std::memory_order_relaxed);

    std::atomic_thread_fence (std::memory_order_acquire);
    return (at & 1u) == 0 && sequence.load (std::memory_order_relaxed) == at;
}

MorvikAudioProcessor::Band::CoefficientSet MorvikAudioProcessor::Band::readCoefficients() const noexcept
{
    CoefficientSet set;
    juce::uint32 at;

    while (! tryRead (set, at))
        std::this_thread::yield();

    return set;
}

void MorvikAudioProcessor::Band::pullCoefficients() noexcept
{
    if (sequence.load (std::memory_order_relaxed) == pulledSequence)
        return;

    CoefficientSet set;
    juce::uint32 at;
    if (! tryRead (set, at))
        return;

    std::copy (set.begin(), set.end(), coefficients->coefficients.getRawDataPointer());
    pulledSequence = at;
}

void MorvikAudioProcessor::Band::prepare()
{
    state = {};

    // Preparation never runs on the audio thread, so it may wait for the lock.
    writerLock.enter();
    publishWhilePending();

    // Preparation runs while no chunk runs, so the newest set can go straight into the filters.
    CoefficientSet set;
    while (! tryRead (set, pulledSequence))
        std::this_thread::yield();

    std::copy (set.begin(), set.end(), coefficients->coefficients.getRawDataPointer());
}
