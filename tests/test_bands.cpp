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

void expectSetsNear (const Set& a, const Set& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR (a[i], b[i], 1.0e-5f * std::max (1.0f, std::abs (b[i]))) << i;
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

TEST (Bands, ActiveRule)
{
    MorvikAudioProcessor p;
    auto& band = p.bands[0];
    EXPECT_TRUE (band.active.load()) << "active until the first callback";

    test::setParameter (p, "1Gain", 0.0f);
    test::setParameter (p, "1Gain", 0.01f);
    EXPECT_TRUE (band.active.load());
    test::setParameter (p, "1Gain", 0.0f);
    EXPECT_FALSE (band.active.load()) << "a shelf at exactly 0 dB is skipped";

    test::setParameter (p, "1Type", 2.0f);
    EXPECT_FALSE (band.active.load()) << "so is a peak";
    test::setParameter (p, "1Type", 0.0f);
    EXPECT_TRUE (band.active.load()) << "a cut runs at any gain";
    test::setParameter (p, "1Type", 1.0f);
    EXPECT_FALSE (band.active.load());
    test::setParameter (p, "1Type", 4.0f);
    EXPECT_TRUE (band.active.load());

    test::setParameter (p, "1On", 0.0f);
    EXPECT_FALSE (band.active.load());
    test::setParameter (p, "1On", 1.0f);
    EXPECT_TRUE (band.active.load());

    test::setParameter (p, "1Gain", -24.0f);
    test::setParameter (p, "1Type", 3.0f);
    EXPECT_TRUE (band.active.load());
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

TEST (Bands, ResponsesMatchTheFilterTypes)
{
    for (const double rate : { 44100.0, 48000.0 })
    {
        SCOPED_TRACE (rate);
        auto p = test::makePreparedProcessor (rate, 64);
        auto& band = p->bands[2];
        const float f0 = 1000.0f, q = 0.8f, gainDb = 9.0f;
        const double g = juce::Decibels::decibelsToGain ((double) gainDb);

        setBand (*p, 3, 0, f0, gainDb, q); // Low Cut: nothing at DC, Q at the corner, unity at the top
        auto c = band.readCoefficients();
        EXPECT_NEAR (magnitude (c, 0.0, rate), 0.0, 1e-5);
        EXPECT_NEAR (magnitude (c, f0, rate), q, 1e-3);
        EXPECT_NEAR (magnitude (c, rate / 2, rate), 1.0, 1e-3);

        setBand (*p, 3, 4, f0, gainDb, q); // High Cut: the mirror image
        c = band.readCoefficients();
        EXPECT_NEAR (magnitude (c, 0.0, rate), 1.0, 1e-4);
        EXPECT_NEAR (magnitude (c, f0, rate), q, 1e-3);
        EXPECT_NEAR (magnitude (c, rate / 2, rate), 0.0, 1e-4);

        setBand (*p, 3, 1, f0, gainDb, q); // Low Shelf: the gain below, unity above
        c = band.readCoefficients();
        EXPECT_NEAR (magnitude (c, 0.0, rate), g, 1e-3 * g);
        EXPECT_NEAR (magnitude (c, rate / 2, rate), 1.0, 1e-3);

        setBand (*p, 3, 3, f0, gainDb, q); // High Shelf
        c = band.readCoefficients();
        EXPECT_NEAR (magnitude (c, 0.0, rate), 1.0, 1e-3);
        EXPECT_NEAR (magnitude (c, rate / 2, rate), g, 1e-3 * g);

        setBand (*p, 3, 2, f0, gainDb, q); // Peak: the gain at the centre, unity far away
        c = band.readCoefficients();
        EXPECT_NEAR (magnitude (c, f0, rate), g, 1e-3 * g);
        EXPECT_NEAR (magnitude (c, 0.0, rate), 1.0, 1e-3);
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
                        ASSERT_TRUE (allFinite (c)) << rate << " " << type << " " << f << " " << gain << " " << q;
                        ASSERT_TRUE (stable (c)) << rate << " " << type << " " << f << " " << gain << " " << q;
                    }
    }
}

TEST (Bands, NothingNonFiniteBeforeTheFirstPreparation)
{
    MorvikAudioProcessor p;
    setBand (p, 1, 2, 1000.0f, 6.0f, 1.0f);
    for (auto& band : p.bands)
    {
        EXPECT_TRUE (allFinite (band.readCoefficients()));
    }

    p.prepareToPlay (48000.0, 64);
    EXPECT_NEAR (magnitude (p.bands[0].readCoefficients(), 1000.0, 48000.0), juce::Decibels::decibelsToGain (6.0),
                 1e-3);
}

TEST (Bands, PreparingAgainClearsTheFilters)
{
    auto p = test::makePreparedProcessor (48000.0, 64);
    setBand (*p, 1, 0, 200.0f, 0.0f, 0.7f);
    auto& band = p->bands[0];

    juce::AudioBuffer<float> detector (2, 64);
    detector.clear();
    detector.setSample (0, 0, 1.0f);
    detector.setSample (1, 0, 1.0f);
    band.process (detector, 64);

    p->prepareToPlay (44100.0, 64);
    p->prepareToPlay (44100.0, 64);

    // A cleared filter fed silence stays silent.
    detector.clear();
    band.process (detector, 64);
    EXPECT_EQ (detector.getMagnitude (0, 64), 0.0f);
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

            for (auto& band : p->bands)
                if (band.active.load())
                    band.process (detector, 256);

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
    const float frequencies[] = { 150.0f, 2500.0f };
    const float qs[] = { 0.4f, 6.0f };
    const float gains[] = { -12.0f, 9.0f };

    // Every set an update can produce, worked out on a separate instance.
    std::set<Set> possible;
    {
        auto reference = test::makePreparedProcessor (rate, 64);
        for (auto f : frequencies)
            for (auto q : qs)
                for (auto g : gains)
                {
                    setBand (*reference, 2, 2, f, g, q);
                    possible.insert (reference->bands[1].readCoefficients());
                }
    }
    ASSERT_EQ (possible.size(), 8u);

    auto p = test::makePreparedProcessor (rate, 64);
    setBand (*p, 2, 2, frequencies[0], gains[0], qs[0]);
    auto& band = p->bands[1];

    // The audio side keeps the set it holds whenever a pull overlaps a write, so it must start
    // from one of the sets above rather than the one preparation gave it.
    {
        juce::AudioBuffer<float> detector (2, 64);
        band.process (detector, 64);
    }

    std::atomic<bool> stop { false };
    std::atomic<int> torn { 0 }, reads { 0 }, chunks { 0 };

    // The writers start once both readers are running, so every update can meet a reader.
    const auto waitForReaders = [&] {
        while (reads.load() == 0 || chunks.load() == 0)
            std::this_thread::yield();
    };

    std::thread shapeWriter ([&] {
        waitForReaders();
        std::mt19937 random (1);
        for (int i = 0; i < 4000; ++i)
        {
            test::setParameter (*p, "2Freq", frequencies[random() % 2]);
            test::setParameter (*p, "2Q", qs[random() % 2]);
        }
    });
    std::thread gainWriter ([&] {
        waitForReaders();
        std::mt19937 random (2);
        for (int i = 0; i < 8000; ++i)
            test::setParameter (*p, "2Gain", gains[random() % 2]);
    });
    std::thread audio ([&] {
        juce::AudioBuffer<float> detector (2, 64);
        while (! stop.load())
        {
            detector.clear();
            band.process (detector, 64);
            Set held;
            std::copy_n (band.coefficients->coefficients.begin(), 5, held.begin());
            if (possible.count (held) == 0)
                ++torn;
            ++chunks;
        }
    });
    std::thread curve ([&] {
        while (! stop.load())
        {
            if (possible.count (band.readCoefficients()) == 0)
                ++torn;
            ++reads;
        }
    });

    shapeWriter.join();
    gainWriter.join();
    stop = true;
    audio.join();
    curve.join();

    EXPECT_EQ (torn.load(), 0);
    EXPECT_GT (reads.load(), 0);
    EXPECT_GT (chunks.load(), 0);

    // The last completed update reflects the final values of all three parameters (the check
    // instance gets them through the host's normalisation, which can move the last bit).
    auto check = test::makePreparedProcessor (rate, 64);
    setBand (*check, 2, 2, test::getParameter (*p, "2Freq"), test::getParameter (*p, "2Gain"),
             test::getParameter (*p, "2Q"));
    expectSetsNear (band.readCoefficients(), check->bands[1].readCoefficients());

    // And the audio side catches up with it on its next chunk.
    juce::AudioBuffer<float> detector (2, 64);
    band.process (detector, 64);
    Set held;
    std::copy_n (band.coefficients->coefficients.begin(), 5, held.begin());
    EXPECT_EQ (held, band.readCoefficients());
}
