#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <set>
#include <thread>

namespace
{
using Band = MorvikAudioProcessor::Band;
using Set = Band::CoefficientSet;

// |H(e^jw)| of a normalised biquad, evaluated in double precision from the five stored values.
double magnitude (const Set& c, double frequency, double sampleRate)
{
    const auto z = std::polar (1.0, -juce::MathConstants<double>::twoPi * frequency / sampleRate);
    const auto numerator = (double) c[0] + (double) c[1] * z + (double) c[2] * z * z;
    const auto denominator = 1.0 + (double) c[3] * z + (double) c[4] * z * z;
    return std::abs (numerator / denominator);
}

bool allFinite (const Set& c)
{
    return std::all_of (c.begin(), c.end(), [] (float v) { return std::isfinite (v); });
}

// No pole outside the unit circle: |a2| < 1 and |a1| <= 1 + a2. A cut at 20 Hz at very high rates
// rounds one pole onto the circle itself, where the matching zero of the cut cancels it.
bool stable (const Set& c) { return std::abs (c[4]) < 1.0f && std::abs (c[3]) <= 1.0f + c[4] + 1.0e-6f; }

// Filters both detector channels in place with the active bands, as the chain's detector pass runs
// them: newest coefficients first, both channels in the lanes of one vector. Returns the set band
// `watched` filtered with, as the audio side took it over (zeros if it did not run).
Set runBands (MorvikAudioProcessor& p, juce::AudioBuffer<float>& detector, int numSamples,
              const Band* watched = nullptr)
{
    Set used {};
    Band::withActiveBands (p.bands, [&] (auto& cascade) {
        for (size_t b = 0; b < cascade.c.size(); ++b)
            if (cascade.bands[b] == watched)
                used = cascade.c[b];
        for (int i = 0; i < numSamples; ++i)
        {
            const auto y = cascade (vmath::Float4 { detector.getSample (0, i), detector.getSample (1, i), 0.0f, 0.0f });
            detector.setSample (0, i, y[0]);
            detector.setSample (1, i, y[1]);
        }
    });
    return used;
}

void setBand (MorvikAudioProcessor& p, int band, int type, float frequency, float gain, float q)
{
    const juce::String b (band);
    test::setParameter (p, b + "Type", (float) type);
    test::setParameter (p, b + "Freq", frequency);
    test::setParameter (p, b + "Gain", gain);
    test::setParameter (p, b + "Q", q);
}
} // namespace

// A band runs when it is on and either cuts (types 0 and 4, at any gain) or has a gain other than
// exactly 0 dB; otherwise the chain skips it.
TEST (Bands, ActiveRule)
{
    MorvikAudioProcessor p;
    EXPECT_TRUE (p.bands[0].active.load()) << "active until the first callback";

    const std::tuple<const char*, float, bool> steps[] = {
        { "1Gain", 0.01f, true },  { "1Gain", 0.0f, false }, // a shelf at 0 dB
        { "1Type", 2.0f, false },  { "1Type", 0.0f, true },  { "1Type", 1.0f, false }, // a peak at 0 dB, a cut
        { "1Type", 4.0f, true },   { "1On", 0.0f, false },   { "1On", 1.0f, true },
        { "1Gain", -24.0f, true }, { "1Type", 3.0f, true }
    };
    for (const auto& [id, value, active] : steps)
    {
        test::setParameter (p, id, value);
        EXPECT_EQ (p.bands[0].active.load(), active) << id << " = " << value;
    }
}

TEST (Bands, OnAloneKeepsTheCoefficientsAndChangesWhileOffRecompute)
{
    auto p = test::makePreparedProcessor (48000.0, 64);
    auto& band = p->bands[1];
    setBand (*p, 2, 2, 1000.0f, 6.0f, 1.0f);
    const auto before = band.readCoefficients();

    test::setParameter (*p, "2On", 0.0f);
    EXPECT_EQ (band.readCoefficients(), before);

    test::setParameter (*p, "2Gain", -6.0f);
    const auto whileOff = band.readCoefficients();
    EXPECT_NE (whileOff, before);
    EXPECT_NEAR (magnitude (whileOff, 1000.0, 48000.0), juce::Decibels::decibelsToGain (-6.0), 1e-4);

    test::setParameter (*p, "2On", 1.0f);
    EXPECT_EQ (band.readCoefficients(), whileOff);
    EXPECT_TRUE (band.active.load());
}

// At +9 dB and Q 0.8 around 1 kHz: cuts give nothing on their stop side, Q at the corner and unity
// on their pass side; shelves the gain on their side and unity on the other; the peak the gain at
// its centre and unity far away. Frequency -1 stands for Nyquist; tolerances scale with magnitudes
// above 1.
TEST (Bands, ResponsesMatchTheFilterTypes)
{
    const double g = juce::Decibels::decibelsToGain (9.0), q = 0.8;
    const std::vector<std::tuple<double, double, double>> expected[] = {
        { { 0.0, 0.0, 1e-5 }, { 1000.0, q, 1e-3 }, { -1.0, 1.0, 1e-3 } }, // Low Cut
        { { 0.0, g, 1e-3 }, { -1.0, 1.0, 1e-3 } }, // Low Shelf
        { { 1000.0, g, 1e-3 }, { 0.0, 1.0, 1e-3 } }, // Peak
        { { 0.0, 1.0, 1e-3 }, { -1.0, g, 1e-3 } }, // High Shelf
        { { 0.0, 1.0, 1e-4 }, { 1000.0, q, 1e-3 }, { -1.0, 0.0, 1e-4 } }, // High Cut
    };
    for (const double rate : { 44100.0, 48000.0 })
    {
        auto p = test::makePreparedProcessor (rate, 64);
        for (int type = 0; type < 5; ++type)
        {
            setBand (*p, 3, type, 1000.0f, 9.0f, (float) q);
            for (const auto& [frequency, magnitudeThere, tolerance] : expected[type])
                EXPECT_NEAR (magnitude (p->bands[2].readCoefficients(), frequency < 0 ? rate / 2 : frequency, rate),
                             magnitudeThere, tolerance * std::max (1.0, magnitudeThere))
                    << rate << " Hz, type " << type << " at " << frequency;
        }
    }
}

TEST (Bands, ExtremesGiveFiniteStableSets)
{
    for (const double rate : { 8000.0, 22050.0, 32000.0, 44100.0, 48000.0, 96000.0, 384000.0 })
    {
        auto p = test::makePreparedProcessor (rate, 64);
        for (int type = 0; type < 5; ++type)
            for (const float f : { 20.0f, 1000.0f, 20000.0f })
                for (const float gain : { -24.0f, 0.0f, 24.0f })
                    for (const float q : { 0.2f, 20.0f })
                    {
                        setBand (*p, 1, type, f, gain, q);
                        const auto c = p->bands[0].readCoefficients();
                        ASSERT_TRUE (allFinite (c) && stable (c))
                            << rate << " " << type << " " << f << " " << gain << " " << q;
                    }
    }
}

// Before any rate is known the sets stay finite (the makers would divide by zero); preparation
// computes them, and preparing again clears the filters' history.
TEST (Bands, PreparationComputesTheSetsAndClearsTheFilters)
{
    MorvikAudioProcessor p;
    setBand (p, 1, 2, 1000.0f, 6.0f, 1.0f);
    for (auto& band : p.bands)
        EXPECT_TRUE (allFinite (band.readCoefficients()));

    p.prepareToPlay (48000.0, 64);
    EXPECT_NEAR (magnitude (p.bands[0].readCoefficients(), 1000.0, 48000.0), juce::Decibels::decibelsToGain (6.0),
                 1e-3);

    setBand (p, 1, 0, 200.0f, 0.0f, 0.7f);
    juce::AudioBuffer<float> detector (2, 64);
    detector.clear();
    detector.setSample (0, 0, 1.0f);
    detector.setSample (1, 0, 1.0f);
    runBands (p, detector, 64);

    p.prepareToPlay (44100.0, 64);
    p.prepareToPlay (44100.0, 64);
    detector.clear();
    runBands (p, detector, 64);
    EXPECT_EQ (detector.getMagnitude (0, 64), 0.0f) << "a cleared filter fed silence stays silent";
}

TEST (Bands, LowRatesWithEveryBandAtTheTopStayBounded)
{
    for (const double rate : { 8000.0, 22050.0, 32000.0 })
    {
        auto p = test::makePreparedProcessor (rate, 256);
        setBand (*p, 1, 0, 20000.0f, 0.0f, 20.0f);
        setBand (*p, 2, 2, 20000.0f, 24.0f, 20.0f);
        setBand (*p, 3, 3, 20000.0f, 24.0f, 0.2f);

        std::mt19937 random (7);
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
        juce::AudioBuffer<float> detector (2, 256);
        float peak = 0.0f;

        for (int block = 0; block < 200; ++block)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 256; ++i)
                    detector.setSample (c, i, noise (random));

            runBands (*p, detector, 256);

            peak = std::max (peak, test::peakOrInfinity (detector));
        }

        EXPECT_TRUE (std::isfinite (peak)) << rate;
        EXPECT_LT (peak, 2000.0f) << rate; // three bands of at most +24 dB each on unit noise
    }
}

// Two threads change one band's parameters while a third filters with it and a fourth reads its
// set as the editor's curve does. Every set anyone sees must be one an update produced, and once
// the writers stop the set must match the final parameters.
TEST (Bands, HandOverIsNeverTorn)
{
    constexpr double rate = 48000.0;
    const float frequencies[] = { 150.0f, 2500.0f }, qs[] = { 0.4f, 6.0f }, gains[] = { -12.0f, 9.0f };

    // Every set an update can produce, worked out on a separate instance.
    std::set<Set> possible;
    auto reference = test::makePreparedProcessor (rate, 64);
    for (auto f : frequencies)
        for (auto q : qs)
            for (auto g : gains)
            {
                setBand (*reference, 2, 2, f, g, q);
                possible.insert (reference->bands[1].readCoefficients());
            }
    ASSERT_EQ (possible.size(), 8u);

    auto p = test::makePreparedProcessor (rate, 64);
    setBand (*p, 2, 2, frequencies[0], gains[0], qs[0]);
    auto& band = p->bands[1];

    // The audio side keeps the set it holds whenever a pull overlaps a write, so it must start
    // from one of the sets above rather than the one preparation gave it.
    juce::AudioBuffer<float> detector (2, 64);
    detector.clear();
    runBands (*p, detector, 64);

    std::atomic<bool> stop { false };
    std::atomic<int> torn { 0 }, reads { 0 }, chunks { 0 };

    // The writers start once both readers are running, so every update can meet a reader.
    const auto writer = [&] (unsigned seed, int rounds, auto&& write) {
        return std::thread ([&, seed, rounds, write] {
            while (reads.load() == 0 || chunks.load() == 0)
                std::this_thread::yield();
            std::mt19937 random (seed);
            for (int i = 0; i < rounds; ++i)
                write (random);
        });
    };
    auto shapeWriter = writer (1, 4000, [&] (std::mt19937& random) {
        test::setParameter (*p, "2Freq", frequencies[random() % 2]);
        test::setParameter (*p, "2Q", qs[random() % 2]);
    });
    auto gainWriter =
        writer (2, 8000, [&] (std::mt19937& random) { test::setParameter (*p, "2Gain", gains[random() % 2]); });
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 64);
        for (; ! stop.load(); ++chunks)
        {
            buffer.clear();
            torn += possible.count (runBands (*p, buffer, 64, &band)) == 0 ? 1 : 0;
        }
    });
    std::thread curve ([&] {
        for (; ! stop.load(); ++reads)
            torn += possible.count (band.readCoefficients()) == 0 ? 1 : 0;
    });

    shapeWriter.join();
    gainWriter.join();
    stop = true;
    audio.join();
    curve.join();
    EXPECT_EQ (torn.load(), 0);

    // The last completed update reflects the final values of all three parameters (the reference
    // gets them through the host's normalisation, which can move the last bit).
    setBand (*reference, 2, 2, test::getParameter (*p, "2Freq"), test::getParameter (*p, "2Gain"),
             test::getParameter (*p, "2Q"));
    const auto last = band.readCoefficients(), wanted = reference->bands[1].readCoefficients();
    for (size_t i = 0; i < last.size(); ++i)
        EXPECT_NEAR (last[i], wanted[i], 1.0e-5f * std::max (1.0f, std::abs (wanted[i]))) << i;

    // And the audio side catches up with it on its next chunk.
    EXPECT_EQ (runBands (*p, detector, 64, &band), last);
}
