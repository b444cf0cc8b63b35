#include "engine/Compressor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

//==============================================================================
// Allocation counting: the global allocation functions are replaced for this executable; they
// count only while `countingAllocations` is raised, which the tests do just around process().
namespace
{
std::atomic<bool> countingAllocations { false };
std::atomic<long> allocationCount { 0 };
std::atomic<long> deallocationCount { 0 };

void* countedAllocate (std::size_t size, std::size_t alignment = 0)
{
    if (countingAllocations.load (std::memory_order_relaxed))
        allocationCount.fetch_add (1, std::memory_order_relaxed);

    if (size == 0)
        size = 1;

    void* p = nullptr;

    if (alignment > alignof (std::max_align_t))
    {
        size = (size + alignment - 1) / alignment * alignment;
        p = std::aligned_alloc (alignment, size);
    }
    else
    {
        p = std::malloc (size);
    }

    return p;
}

void countedFree (void* p) noexcept
{
    if (p != nullptr && countingAllocations.load (std::memory_order_relaxed))
        deallocationCount.fetch_add (1, std::memory_order_relaxed);

    std::free (p);
}

void* allocateOrThrow (std::size_t size, std::size_t alignment = 0)
{
    if (void* p = countedAllocate (size, alignment))
        return p;

    throw std::bad_alloc();
}
} // namespace

void* operator new (std::size_t size) { return allocateOrThrow (size); }
void* operator new[] (std::size_t size) { return allocateOrThrow (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate (size); }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate (size); }
void* operator new (std::size_t size, std::align_val_t a) { return allocateOrThrow (size, (std::size_t) a); }
void* operator new[] (std::size_t size, std::align_val_t a) { return allocateOrThrow (size, (std::size_t) a); }
void* operator new (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return countedAllocate (size, (std::size_t) a); }
void* operator new[] (std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept { return countedAllocate (size, (std::size_t) a); }
void operator delete (void* p) noexcept { countedFree (p); }
void operator delete[] (void* p) noexcept { countedFree (p); }
void operator delete (void* p, std::size_t) noexcept { countedFree (p); }
void operator delete[] (void* p, std::size_t) noexcept { countedFree (p); }
void operator delete (void* p, const std::nothrow_t&) noexcept { countedFree (p); }
void operator delete[] (void* p, const std::nothrow_t&) noexcept { countedFree (p); }
void operator delete (void* p, std::align_val_t) noexcept { countedFree (p); }
void operator delete[] (void* p, std::align_val_t) noexcept { countedFree (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept { countedFree (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept { countedFree (p); }
void operator delete (void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree (p); }
void operator delete[] (void* p, std::align_val_t, const std::nothrow_t&) noexcept { countedFree (p); }

namespace
{
constexpr double rate = 48000.0;
constexpr int block = 512;

//==============================================================================
// Independent references, in double precision.

// The soft-knee curve with a 6 dB knee.
double referenceCurve (double value, double threshold, double ratio)
{
    const double x = std::max (std::abs (value), 1.0e-6);
    const double level = std::max (20.0 * std::log10 (x), -100.0);
    const double over = level - threshold;
    const double slope = 1.0 / ratio - 1.0;

    if (over <= -3.0)
        return 0.0;

    if (over <= 3.0)
        return slope * (over + 3.0) * (over + 3.0) / 12.0;

    return slope * over;
}

double referenceCoefficient (double seconds, double sampleRate)
{
    return seconds == 0.0 ? 0.0 : std::exp (-1.0 / (seconds * sampleRate));
}

double dbToGain (double db) { return db <= -100.0 ? 0.0 : std::pow (10.0, db / 20.0); }

double gainToDb (double gain) { return 20.0 * std::log10 (gain); }

float curveOf (GainComputer& computer, float value)
{
    computer.applyCompressionToBuffer (&value, 1);
    return value;
}

GainComputer makeGainComputer (float threshold, float ratio)
{
    GainComputer computer;
    computer.threshold = threshold;
    computer.ratio = ratio;
    computer.slope = 1.0f / ratio - 1.0f;
    return computer;
}

float levelFromDb (double db) { return (float) std::pow (10.0, db / 20.0); }

// A compressor prepared at 48 kHz with 512-sample chunks and the settings the chain writes.
void prepareAsChain (Compressor& compressor, double attackSeconds = 0.01, double releaseSeconds = 0.1)
{
    compressor.prepare (rate, block);
    compressor.stereoLink = 50.0f;
    compressor.gainComputer.threshold = -20.0f;
    compressor.gainComputer.ratio = 4.0f;
    compressor.gainComputer.slope = -0.75f;
    compressor.levelDetector.setAttack (attackSeconds);
    compressor.levelDetector.setRelease (releaseSeconds);
}

void fill (juce::AudioBuffer<float>& buffer, int channel, float value)
{
    juce::FloatVectorOperations::fill (buffer.getWritePointer (channel), value, buffer.getNumSamples());
}

// A detector-like signal: a sine whose amplitude jumps, so the chunk sees attacks and releases.
void fillBursts (juce::AudioBuffer<float>& buffer, int channel, long startSample, double frequency, double phase)
{
    auto* data = buffer.getWritePointer (channel);

    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const long t = startSample + i;
        const double amplitude = ((t / 700) % 3 == 0) ? 0.9 : ((t / 700) % 3 == 1 ? 0.05 : 0.3);
        data[i] = (float) (amplitude * std::sin (2.0 * juce::MathConstants<double>::pi * frequency * (double) t / rate + phase));
    }
}

bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (c, i)))
                return false;

    return true;
}

bool detectorIsFinite (const LevelDetector& d)
{
    return std::isfinite (d.avgAttack) && std::isfinite (d.avgRelease) && std::isfinite (d.peakState)
           && std::isfinite (d.rmsState) && std::isfinite (d.attackSmoother.state)
           && std::isfinite (d.releaseSmoother.state) && std::isfinite (d.attackTime)
           && std::isfinite (d.releaseTime) && std::isfinite (d.alphaAttack) && std::isfinite (d.alphaRelease)
           && std::isfinite (d.state);
}
} // namespace

//==============================================================================
TEST (GainComputer, ConstructionValues)
{
    GainComputer computer;
    EXPECT_EQ (computer.threshold, -20.0f);
    EXPECT_EQ (computer.ratio, 2.0f);
    EXPECT_EQ (computer.knee, 6.0f);
    EXPECT_EQ (computer.kneeHalf, 3.0f);
    EXPECT_EQ (computer.slope, -0.5f);
}

TEST (GainComputer, RatioFourBelowInsideAndAboveTheKnee)
{
    auto computer = makeGainComputer (-20.0f, 4.0f);

    // Worked by hand: slope -0.75, quadratic term divided by 12.
    EXPECT_EQ (curveOf (computer, levelFromDb (-40.0)), 0.0f);
    EXPECT_EQ (curveOf (computer, levelFromDb (-23.5)), 0.0f);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-20.0)), -0.5625, 1.0e-5);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-18.0)), -0.75 * 25.0 / 12.0, 1.0e-5);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-17.0)), -2.25, 1.0e-5); // top of the knee: both forms agree
    EXPECT_NEAR (curveOf (computer, levelFromDb (-10.0)), -7.5, 1.0e-5);
    EXPECT_NEAR (curveOf (computer, levelFromDb (0.0)), -15.0, 1.0e-5);

    // The sign of the sample does not matter.
    EXPECT_EQ (curveOf (computer, -levelFromDb (-10.0)), curveOf (computer, levelFromDb (-10.0)));
}

TEST (GainComputer, RatioTwentyActsAsTwentyToOne)
{
    auto computer = makeGainComputer (-20.0f, 20.0f);
    EXPECT_FLOAT_EQ (computer.slope, -0.95f);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-10.0)), -9.5, 1.0e-5);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-20.0)), -0.95 * 9.0 / 12.0, 1.0e-5);
    EXPECT_NEAR (curveOf (computer, levelFromDb (20.0)), -38.0, 1.0e-4);
}

TEST (GainComputer, MatchesTheReferenceCurveAcrossTheRange)
{
    for (const float ratio : { 1.0f, 2.0f, 4.0f, 20.0f })
    {
        for (const float threshold : { -60.0f, -20.0f, 0.0f })
        {
            auto computer = makeGainComputer (threshold, ratio);

            std::vector<float> levels;
            for (double db = -130.0; db <= 20.0; db += 0.01)
                levels.push_back (levelFromDb (db));

            std::vector<float> out (levels);
            computer.applyCompressionToBuffer (out.data(), (int) out.size());

            for (size_t i = 0; i < levels.size(); ++i)
            {
                ASSERT_NEAR (out[i], referenceCurve (levels[i], threshold, ratio), 2.0e-4)
                    << "level " << levels[i] << " threshold " << threshold << " ratio " << ratio;
                ASSERT_LE (out[i], 0.0f);

                if (i > 0)
                {
                    ASSERT_LE (out[i], out[i - 1] + 1.0e-6f) << "the curve must not rise with the level";
                }
            }
        }
    }
}

TEST (GainComputer, ThresholdZeroAgainstFullScale)
{
    auto computer = makeGainComputer (0.0f, 4.0f);
    EXPECT_EQ (curveOf (computer, 0.5f), 0.0f);
    EXPECT_NEAR (curveOf (computer, levelFromDb (-3.0)), 0.0, 1.0e-9);
    EXPECT_NEAR (curveOf (computer, 1.0f), -0.75 * 9.0 / 12.0, 1.0e-6);
}

TEST (GainComputer, LevelsBelowTheFloorReadAsMinus100Db)
{
    // With the threshold on the floor, every level at or below 1e-5 sits exactly on the threshold.
    auto computer = makeGainComputer (-100.0f, 4.0f);

    for (const float v : { 0.0f, 1.0e-12f, 1.0e-7f, 1.0e-6f, 5.0e-6f, -5.0e-6f, 1.0e-5f })
        EXPECT_NEAR (curveOf (computer, v), -0.5625, 1.0e-5) << v;

    EXPECT_NEAR (curveOf (computer, 2.0e-5f), referenceCurve (2.0e-5, -100.0, 4.0), 1.0e-4);

    // At an ordinary threshold, silence is no gain change at all.
    auto ordinary = makeGainComputer (-20.0f, 4.0f);
    EXPECT_EQ (curveOf (ordinary, 0.0f), 0.0f);
}

TEST (GainComputer, NonFiniteLevelsGiveFiniteGainChanges)
{
    auto computer = makeGainComputer (-20.0f, 4.0f);

    // NaN reads as the floor, infinity as the largest finite level.
    EXPECT_EQ (curveOf (computer, std::numeric_limits<float>::quiet_NaN()), 0.0f);
    const float infinite = curveOf (computer, std::numeric_limits<float>::infinity());
    EXPECT_TRUE (std::isfinite (infinite));
    EXPECT_NEAR (infinite, curveOf (computer, FLT_MAX), 1.0e-3);
    EXPECT_NEAR (curveOf (computer, -std::numeric_limits<float>::infinity()), infinite, 1.0e-3);
}

//==============================================================================
TEST (SmoothingFilter, FirstInputSeedsThenFollowsTheWeights)
{
    SmoothingFilter filter;
    EXPECT_EQ (filter.a, 1.0);
    EXPECT_EQ (filter.b, 0.0);
    EXPECT_EQ (filter.state, 0.0);
    EXPECT_TRUE (filter.first);

    filter.process (0.3);
    EXPECT_EQ (filter.state, 0.3);
    EXPECT_FALSE (filter.first);
    filter.process (0.7);
    EXPECT_EQ (filter.state, 0.7);

    SmoothingFilter weighted;
    weighted.a = 0.25;
    weighted.b = 0.75;
    weighted.process (4.0); // seeded with 4, then 0.25 x 4 + 0.75 x 4
    EXPECT_DOUBLE_EQ (weighted.state, 4.0);
    weighted.process (0.0);
    EXPECT_DOUBLE_EQ (weighted.state, 3.0);
}

//==============================================================================
TEST (LevelDetector, ConstructionAndPreparation)
{
    LevelDetector detector;
    EXPECT_EQ (detector.avgAttack, 0.0);
    EXPECT_EQ (detector.avgRelease, 0.14);
    EXPECT_EQ (detector.maxAttack, 0.08);
    EXPECT_EQ (detector.maxRelease, 1.0);
    EXPECT_EQ (detector.attackTime, 0.01);
    EXPECT_EQ (detector.releaseTime, 0.14);
    EXPECT_EQ (detector.alphaAttack, 0.0);
    EXPECT_EQ (detector.alphaRelease, 0.0);
    EXPECT_FALSE (detector.autoAttack);
    EXPECT_FALSE (detector.autoRelease);

    detector.state = -6.0;
    detector.peakState = 0.4;
    detector.rmsState = 0.2;
    detector.prepare (rate);

    EXPECT_DOUBLE_EQ (detector.a1, std::exp (-1.0 / (0.2 * rate)));
    EXPECT_DOUBLE_EQ (detector.b1, 1.0 - detector.a1);
    EXPECT_DOUBLE_EQ (detector.alphaAttack, referenceCoefficient (0.01, rate));
    EXPECT_DOUBLE_EQ (detector.alphaRelease, referenceCoefficient (0.14, rate));
    EXPECT_EQ (detector.state, 0.0) << "preparation restarts the ballistics at 0 dB";
    EXPECT_EQ (detector.peakState, 0.4) << "preparation keeps the crest-factor history";
    EXPECT_EQ (detector.rmsState, 0.2);

    // A new rate recomputes the coefficients from the stored times.
    detector.setAttack (0.002);
    detector.prepare (96000.0);
    EXPECT_DOUBLE_EQ (detector.alphaAttack, referenceCoefficient (0.002, 96000.0));
    EXPECT_DOUBLE_EQ (detector.alphaRelease, referenceCoefficient (0.14, 96000.0));
}

TEST (LevelDetector, SetTimesStoreAndRecompute)
{
    LevelDetector detector;
    detector.prepare (rate);

    detector.setAttack (0.005);
    EXPECT_EQ (detector.attackTime, 0.005);
    EXPECT_DOUBLE_EQ (detector.alphaAttack, referenceCoefficient (0.005, rate));

    // An unchanged time does nothing, even if the coefficient no longer matches it.
    detector.alphaAttack = 0.5;
    detector.setAttack (0.005);
    EXPECT_EQ (detector.alphaAttack, 0.5);

    detector.setRelease (0.0);
    EXPECT_EQ (detector.releaseTime, 0.0);
    EXPECT_EQ (detector.alphaRelease, 0.0);

    // Bad times never give a coefficient outside 0..1 or a non-finite one.
    detector.setAttack (-1.0);
    EXPECT_EQ (detector.alphaAttack, 0.0);
    detector.setAttack (1.0e300);
    EXPECT_TRUE (std::isfinite (detector.alphaAttack));
    EXPECT_LE (detector.alphaAttack, 1.0);
    detector.setAttack (0.02);
    detector.setAttack (std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ (detector.attackTime, 0.02);
    EXPECT_DOUBLE_EQ (detector.alphaAttack, referenceCoefficient (0.02, rate));
}

TEST (LevelDetector, BallisticsChooseAttackWhenGoingDeeper)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.setAttack (0.001);
    detector.setRelease (0.5);

    const double aA = referenceCoefficient (0.001, rate);
    const double aR = referenceCoefficient (0.5, rate);

    // A step down to -10 dB follows the attack; a step back to 0 follows the release.
    std::vector<float> buffer (960, -10.0f);
    std::fill (buffer.begin() + 480, buffer.end(), 0.0f);
    detector.applyBallistics (buffer.data(), (int) buffer.size());

    EXPECT_NEAR (buffer[47], -10.0 * (1.0 - std::pow (aA, 48)), 1.0e-5); // one attack time: about -6.32 dB
    EXPECT_NEAR (buffer[47], -10.0 * (1.0 - std::exp (-1.0)), 1.0e-3);
    const double bottom = -10.0 * (1.0 - std::pow (aA, 480));
    EXPECT_NEAR (buffer[479], bottom, 1.0e-5);
    EXPECT_NEAR (buffer[959], bottom * std::pow (aR, 480), 1.0e-5);
    EXPECT_NEAR (detector.state, bottom * std::pow (aR, 480), 1.0e-9);
}

TEST (LevelDetector, BallisticsMatchADoublePrecisionReference)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.setAttack (0.003);
    detector.setRelease (0.08);

    const double aA = referenceCoefficient (0.003, rate);
    const double aR = referenceCoefficient (0.08, rate);
    double reference = 0.0;

    juce::Random random (42);

    for (int chunk = 0; chunk < 20; ++chunk)
    {
        std::vector<float> buffer (block);
        for (auto& v : buffer)
            v = -30.0f * random.nextFloat() * random.nextFloat();

        std::vector<float> input (buffer);
        detector.applyBallistics (buffer.data(), block);

        for (int i = 0; i < block; ++i)
        {
            const double coefficient = reference > (double) input[(size_t) i] ? aA : aR;
            reference = coefficient * reference + (1.0 - coefficient) * (double) input[(size_t) i];
            ASSERT_NEAR (buffer[(size_t) i], reference, 1.0e-5) << "chunk " << chunk << " sample " << i;
        }

        ASSERT_NEAR (detector.state, reference, 1.0e-9) << "the state carries over to the next call";
    }
}

TEST (LevelDetector, TimeZeroFollowsInstantly)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.setAttack (0.0);
    detector.setRelease (0.0);

    std::vector<float> buffer { -3.0f, -12.5f, 0.0f, -0.001f, -40.0f, -7.25f };
    const auto input = buffer;
    detector.applyBallistics (buffer.data(), (int) buffer.size());

    for (size_t i = 0; i < buffer.size(); ++i)
        EXPECT_EQ (buffer[i], input[i]);

    EXPECT_EQ (detector.state, -7.25);
}

//==============================================================================
TEST (CrestFactor, OffChangesNothing)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.setAttack (0.02);

    std::vector<float> buffer (block, 0.5f);
    detector.processCrestFactor (buffer.data(), block);

    EXPECT_EQ (detector.peakState, 0.0);
    EXPECT_EQ (detector.rmsState, 0.0);
    EXPECT_EQ (detector.avgAttack, 0.0);
    EXPECT_EQ (detector.avgRelease, 0.14);
    EXPECT_EQ (detector.attackTime, 0.02);
    EXPECT_TRUE (detector.attackSmoother.first);
}

TEST (CrestFactor, SteadyLevelGivesLongestTimes)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    std::vector<float> buffer (block, 0.5f);
    detector.processCrestFactor (buffer.data(), block);
    detector.processCrestFactor (buffer.data(), block);

    EXPECT_NEAR (detector.avgAttack, 0.16, 1.0e-12);
    EXPECT_NEAR (detector.avgRelease, 1.84, 1.0e-12);
    EXPECT_NEAR (detector.attackTime, 0.16, 1.0e-12);
    EXPECT_NEAR (detector.releaseTime, 1.84, 1.0e-12);
    EXPECT_NEAR (detector.alphaAttack, referenceCoefficient (0.16, rate), 1.0e-12);
    EXPECT_NEAR (detector.alphaRelease, referenceCoefficient (1.84, rate), 1.0e-12);
}

TEST (CrestFactor, OnlyTheSwitchedSideIsReplaced)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.setRelease (0.3);
    detector.autoAttack = true;

    std::vector<float> buffer (block, 0.5f);
    detector.processCrestFactor (buffer.data(), block);

    EXPECT_NEAR (detector.attackTime, 0.16, 1.0e-12);
    EXPECT_NEAR (detector.avgRelease, 1.84, 1.0e-12) << "both averages are measured";
    EXPECT_EQ (detector.releaseTime, 0.3);
    EXPECT_DOUBLE_EQ (detector.alphaRelease, referenceCoefficient (0.3, rate));

    // Switching the automatic side off hands it back to the manual time at once.
    detector.autoAttack = false;
    detector.setAttack (0.004);
    EXPECT_EQ (detector.attackTime, 0.004);
}

TEST (CrestFactor, SineGivesAboutHalfTheTimes)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    // A rectified 1 kHz sine, both detector blocks alike, for two seconds.
    std::vector<float> buffer (block);
    long t = 0;

    for (int chunk = 0; chunk < 2 * (int) rate / block; ++chunk)
    {
        for (auto& v : buffer)
            v = (float) std::abs (0.7 * std::sin (2.0 * juce::MathConstants<double>::pi * 1000.0 * (double) t++ / rate + 0.3));

        detector.processCrestFactor (buffer.data(), block);
        detector.processCrestFactor (buffer.data(), block);
    }

    EXPECT_NEAR (detector.attackTime, 0.08, 0.08 * 0.015);
    EXPECT_NEAR (detector.releaseTime, 0.92, 0.92 * 0.015);
    EXPECT_LE (detector.attackTime, 0.16);
}

TEST (CrestFactor, SkippedSamplesStillCountInTheAverage)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    // 511 steady values (crest factor 1) and one value whose ratio is not a number.
    std::vector<float> buffer (block, 0.5f);
    buffer[block - 1] = std::numeric_limits<float>::quiet_NaN();
    detector.processCrestFactor (buffer.data(), block);

    EXPECT_NEAR (detector.avgAttack, 0.16 * 511.0 / 512.0, 1.0e-12);
    EXPECT_NEAR (detector.avgRelease, 1.84 * 511.0 / 512.0, 1.0e-12);
    EXPECT_NEAR (detector.attackTime, 0.16 * 511.0 / 512.0, 1.0e-12);
}

TEST (CrestFactor, SilenceIsSkippedWithoutNaN)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    std::vector<float> silence (block, 0.0f);
    detector.processCrestFactor (silence.data(), block);
    detector.processCrestFactor (silence.data(), block);

    EXPECT_EQ (detector.peakState, 0.0);
    EXPECT_EQ (detector.rmsState, 0.0);
    EXPECT_EQ (detector.avgAttack, 0.0);
    EXPECT_EQ (detector.avgRelease, 0.0);
    EXPECT_EQ (detector.attackTime, 0.0);
    EXPECT_EQ (detector.releaseTime, 0.0);
    EXPECT_EQ (detector.alphaAttack, 0.0);
    EXPECT_EQ (detector.alphaRelease, 0.0);
    EXPECT_TRUE (detectorIsFinite (detector));
}

TEST (CrestFactor, LongSilenceDecaysToZeroAndTheNextBlockReseeds)
{
    juce::ScopedNoDenormals noDenormals;

    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    std::vector<float> loud (block, 1.0f);
    detector.processCrestFactor (loud.data(), block);
    ASSERT_GT (detector.peakState, 0.0);

    // With denormals flushed the tracks reach exactly 0 after roughly 7 million values.
    std::vector<float> silence (4800, 0.0f);
    int blocks = 0;

    while ((detector.peakState != 0.0 || detector.rmsState != 0.0) && blocks < 4000)
    {
        detector.processCrestFactor (silence.data(), (int) silence.size());
        ++blocks;
    }

    EXPECT_EQ (detector.peakState, 0.0);
    EXPECT_EQ (detector.rmsState, 0.0);
    EXPECT_TRUE (detectorIsFinite (detector));

    // Both tracks are 0 again, so both start from the next block's first value.
    const float first = 0.3f;
    detector.processCrestFactor (&first, 1);
    const double s = (double) first * (double) first;
    const double seeded = detector.a1 * (double) first + detector.b1 * s;
    EXPECT_DOUBLE_EQ (detector.peakState, std::max (seeded, s));
    EXPECT_DOUBLE_EQ (detector.rmsState, seeded);
    EXPECT_NEAR (detector.attackTime, 0.16, 1.0e-12);
}

TEST (CrestFactor, EmptyBlockKeepsTheTimes)
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = true;
    detector.autoRelease = true;

    std::vector<float> buffer (block, 0.5f);
    detector.processCrestFactor (buffer.data(), block);

    const LevelDetector before = detector;
    detector.processCrestFactor (buffer.data(), 0);

    EXPECT_EQ (detector.avgAttack, before.avgAttack);
    EXPECT_EQ (detector.avgRelease, before.avgRelease);
    EXPECT_EQ (detector.attackTime, before.attackTime);
    EXPECT_EQ (detector.releaseTime, before.releaseTime);
    EXPECT_EQ (detector.peakState, before.peakState);
    EXPECT_EQ (detector.rmsState, before.rmsState);
}

TEST (CrestFactor, NonFiniteBlocksDoNotStick)
{
    for (const float bad : { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity() })
    {
        LevelDetector detector;
        detector.prepare (rate);
        detector.autoAttack = true;
        detector.autoRelease = true;

        std::vector<float> steady (block, 0.5f);
        detector.processCrestFactor (steady.data(), block);

        std::vector<float> broken (steady);
        broken[100] = bad;
        detector.processCrestFactor (broken.data(), block);
        EXPECT_TRUE (detectorIsFinite (detector)) << bad;

        std::vector<float> allBroken (block, bad);
        detector.processCrestFactor (allBroken.data(), block);
        EXPECT_TRUE (detectorIsFinite (detector)) << bad;

        detector.processCrestFactor (steady.data(), block);
        EXPECT_TRUE (detectorIsFinite (detector)) << bad;
        EXPECT_NEAR (detector.attackTime, 0.16, 1.0e-12) << bad;
        EXPECT_NEAR (detector.releaseTime, 1.84, 1.0e-12) << bad;
    }
}

//==============================================================================
TEST (Compressor, ConstructionAndPreparation)
{
    Compressor compressor;
    EXPECT_EQ (compressor.makeupDb, 0.0f);
    EXPECT_EQ (compressor.mix, 1.0f);
    EXPECT_EQ (compressor.gainReductionDb, 0.0f);
    EXPECT_EQ (compressor.inputLevel, 0.0f);
    EXPECT_EQ (compressor.stereoLink, 100.0f);
    EXPECT_FALSE (compressor.smoothersPrimed);
    EXPECT_TRUE (compressor.leftLevels.empty());

    compressor.prepare (rate, block);
    EXPECT_EQ (compressor.drySignal.getNumChannels(), 2);
    EXPECT_EQ (compressor.drySignal.getNumSamples(), block);
    EXPECT_EQ (compressor.leftLevels.size(), (size_t) block);
    EXPECT_EQ (compressor.rightLevels.size(), (size_t) block);
    EXPECT_EQ (compressor.maxLevels.size(), (size_t) block);
    EXPECT_EQ (compressor.levelDetector.sampleRate, rate);
}

// The whole chunk against an independent double-precision model: rectify, 50 % link, curve,
// one ballistics state over left then right block, makeup, gain and mix.
TEST (Compressor, MatchesAReferenceModelOverManyChunks)
{
    Compressor compressor;
    prepareAsChain (compressor, 0.004, 0.06);
    compressor.makeupDb = 3.0f;
    compressor.mix = 0.7f;

    const double aA = referenceCoefficient (0.004, rate);
    const double aR = referenceCoefficient (0.06, rate);
    double state = 0.0;

    const int n = 300;
    juce::AudioBuffer<float> audio (2, n), detector (2, n);

    for (int chunk = 0; chunk < 30; ++chunk)
    {
        fillBursts (detector, 0, (long) chunk * n, 220.0, 0.0);
        fillBursts (detector, 1, (long) chunk * n + 350, 330.0, 1.0);
        fillBursts (audio, 0, (long) chunk * n, 440.0, 0.5);
        fillBursts (audio, 1, (long) chunk * n, 550.0, 0.2);
        juce::AudioBuffer<float> input (audio);

        compressor.process (audio, detector);

        std::vector<double> gains[2];
        double deepest = 0.0, loudest = 0.0;

        for (int c = 0; c < 2; ++c)
        {
            for (int i = 0; i < n; ++i)
            {
                const double l = std::abs ((double) detector.getSample (0, i));
                const double r = std::abs ((double) detector.getSample (1, i));
                const double m = std::max (l, r);
                loudest = std::max (loudest, m);
                const double linked = 0.5 * (c == 0 ? l : r) + 0.5 * m;
                const double change = referenceCurve (linked, -20.0, 4.0);
                const double coefficient = state > change ? aA : aR;
                state = coefficient * state + (1.0 - coefficient) * change;
                deepest = std::min (deepest, state);
                gains[c].push_back (dbToGain (state + 3.0));
            }
        }

        for (int c = 0; c < 2; ++c)
        {
            for (int i = 0; i < n; ++i)
            {
                const double x = input.getSample (c, i);
                const double expected = x * gains[c][(size_t) i] * 0.7 + x * 0.3;
                ASSERT_NEAR (audio.getSample (c, i), expected, 2.0e-5 + 2.0e-4 * std::abs (expected))
                    << "chunk " << chunk << " channel " << c << " sample " << i;
            }
        }

        EXPECT_NEAR (compressor.gainReductionDb, deepest, 1.0e-3) << chunk;
        EXPECT_NEAR (compressor.inputLevel, 10.0 * loudest, 1.0e-5) << chunk;
        EXPECT_LE (compressor.gainReductionDb, 0.0f);
    }
}

// A steady detector: the curve gives a constant change g; after k chunks the state has run over
// 2nk values, left block first.
TEST (Compressor, OneStateRunsOverBothBlocksAndCarriesOver)
{
    Compressor compressor;
    prepareAsChain (compressor, 0.01, 0.1);

    const int n = block;
    juce::AudioBuffer<float> audio (2, n), detector (2, n);
    fill (detector, 0, levelFromDb (-6.0));
    fill (detector, 1, levelFromDb (-6.0));

    const double g = referenceCurve (levelFromDb (-6.0), -20.0, 4.0); // -10.5 dB
    const double a = referenceCoefficient (0.01, rate);

    for (int chunk = 0; chunk < 4; ++chunk)
    {
        fill (audio, 0, 1.0f);
        fill (audio, 1, 1.0f);
        compressor.process (audio, detector);

        const double valuesBefore = 2.0 * n * chunk;

        for (int i = 0; i < n; i += 37)
        {
            const double left = g * (1.0 - std::pow (a, valuesBefore + i + 1));
            const double right = g * (1.0 - std::pow (a, valuesBefore + n + i + 1));
            ASSERT_NEAR (gainToDb (audio.getSample (0, i)), left, 1.0e-3) << chunk << " " << i;
            ASSERT_NEAR (gainToDb (audio.getSample (1, i)), right, 1.0e-3) << chunk << " " << i;
        }

        // The deepest value of the chunk is the end of the right block.
        EXPECT_NEAR (compressor.gainReductionDb, g * (1.0 - std::pow (a, valuesBefore + 2.0 * n)), 1.0e-3);
    }

    // Preparation restarts the state at 0 dB.
    compressor.prepare (rate, block);
    fill (audio, 0, 1.0f);
    fill (audio, 1, 1.0f);
    compressor.process (audio, detector);
    EXPECT_NEAR (gainToDb (audio.getSample (0, 0)), g * (1.0 - a), 1.0e-3);
}

TEST (Compressor, IdenticalChannelsKeepTheirLevelsUnderTheLink)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.levelDetector.setAttack (0.0);
    compressor.levelDetector.setRelease (0.0);

    juce::AudioBuffer<float> audio (2, 64), detector (2, 64);
    fill (audio, 0, 1.0f);
    fill (audio, 1, 1.0f);
    fill (detector, 0, levelFromDb (-10.0));
    fill (detector, 1, levelFromDb (-10.0));
    compressor.process (audio, detector);
    EXPECT_NEAR (gainToDb (audio.getSample (0, 10)), -7.5, 1.0e-3);
    EXPECT_NEAR (gainToDb (audio.getSample (1, 10)), -7.5, 1.0e-3);

    // A quiet left channel is pulled halfway towards the louder right one.
    fill (audio, 0, 1.0f);
    fill (audio, 1, 1.0f);
    fill (detector, 0, 0.0f);
    fill (detector, 1, levelFromDb (-10.0));
    compressor.process (audio, detector);
    EXPECT_NEAR (gainToDb (audio.getSample (0, 10)), referenceCurve (0.5 * levelFromDb (-10.0), -20.0, 4.0), 1.0e-3);
    EXPECT_NEAR (gainToDb (audio.getSample (1, 10)), -7.5, 1.0e-3);
}

TEST (Compressor, MakeupRampAcrossChunkBoundaries)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.makeupDb = 2.0f;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    detector.clear();

    auto run = [&]
    {
        fill (audio, 0, 1.0f);
        fill (audio, 1, 1.0f);
        compressor.process (audio, detector);
    };

    // The first chunk after preparation applies the makeup at once.
    run();
    for (int i = 0; i < block; ++i)
        ASSERT_EQ (audio.getSample (0, i), juce::Decibels::decibelsToGain (2.0f, -100.0f));

    // 2 -> 8 dB: 2400 steps of 0.0025 dB; four whole chunks and 352 samples of the fifth.
    compressor.makeupDb = 8.0f;
    const float full = juce::Decibels::decibelsToGain (8.0f, -100.0f);
    int step = 0;
    float previous = 0.0f;

    for (int chunk = 0; chunk < 6; ++chunk)
    {
        run();

        for (int i = 0; i < block; ++i, ++step)
        {
            const float left = audio.getSample (0, i);
            ASSERT_EQ (left, audio.getSample (1, i)) << "both channels share one makeup value";

            if (step < 2399)
            {
                ASSERT_NEAR (gainToDb (left), 2.0 + 0.0025 * (step + 1), 1.0e-3) << step;
                ASSERT_LT (left, full) << step;
                ASSERT_GT (left, previous) << step;
            }
            else
            {
                ASSERT_EQ (left, full) << "the ramp ends 352 samples into the fifth chunk; step " << step;
            }

            previous = left;
        }

        if (chunk == 3)
        {
            EXPECT_TRUE (compressor.makeupSmoother.isSmoothing());
        }

        if (chunk == 4)
        {
            EXPECT_FALSE (compressor.makeupSmoother.isSmoothing()) << "the sixth chunk takes the constant path";
        }
    }

    EXPECT_EQ (2399 - 4 * block, 351);
}

TEST (Compressor, MakeupChangeDuringARampRestartsIt)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.makeupDb = 2.0f;

    const int n = 500;
    juce::AudioBuffer<float> audio (2, n), detector (2, n);
    detector.clear();

    auto run = [&]
    {
        fill (audio, 0, 1.0f);
        fill (audio, 1, 1.0f);
        compressor.process (audio, detector);
    };

    run();
    compressor.makeupDb = 8.0f;
    run();
    run(); // 1000 of 2400 steps: 4.5 dB reached

    compressor.makeupDb = 5.0f;
    int step = 0;

    for (int chunk = 0; chunk < 6; ++chunk)
    {
        run();

        for (int i = 0; i < n; ++i, ++step)
        {
            const double expected = step < 2399 ? 4.5 + 0.5 * (step + 1) / 2400.0 : 5.0;
            ASSERT_NEAR (gainToDb (audio.getSample (0, i)), expected, 1.0e-3) << step;
        }
    }

    EXPECT_FALSE (compressor.makeupSmoother.isSmoothing());
}

TEST (Compressor, FirstChunkAfterPreparationSnaps)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.makeupDb = 2.0f;
    compressor.mix = 1.0f;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    detector.clear();

    auto run = [&]
    {
        fill (audio, 0, 1.0f);
        fill (audio, 1, 1.0f);
        compressor.process (audio, detector);
    };

    run();
    compressor.makeupDb = 8.0f;
    compressor.mix = 0.5f;
    run();
    ASSERT_TRUE (compressor.makeupSmoother.isSmoothing());

    compressor.prepare (rate, block);
    EXPECT_FALSE (compressor.smoothersPrimed);
    compressor.makeupDb = -4.0f;
    compressor.mix = 0.25f;
    run();

    EXPECT_TRUE (compressor.smoothersPrimed);
    const float gain = juce::Decibels::decibelsToGain (-4.0f, -100.0f);
    for (int i = 0; i < block; ++i)
        ASSERT_NEAR (audio.getSample (1, i), gain * 0.25f + 0.75f, 1.0e-6) << i;
}

TEST (Compressor, MixRampBlendsBothChannelsPerSample)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.makeupDb = 6.0f;
    compressor.mix = 1.0f;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    detector.clear();

    auto run = [&]
    {
        fill (audio, 0, 1.0f);
        fill (audio, 1, 1.0f);
        compressor.process (audio, detector);
    };

    run();
    compressor.mix = 0.0f;
    const double g = dbToGain (6.0);
    int step = 0;

    for (int chunk = 0; chunk < 6; ++chunk)
    {
        run();

        for (int i = 0; i < block; ++i, ++step)
        {
            const double w = step < 2399 ? 1.0 - (step + 1) / 2400.0 : 0.0;
            ASSERT_NEAR (audio.getSample (0, i), g * w + (1.0 - w), 1.0e-4) << step;
            ASSERT_EQ (audio.getSample (0, i), audio.getSample (1, i));
        }
    }

    EXPECT_EQ (audio.getSample (0, block - 1), 1.0f);
}

TEST (Compressor, MixZeroGivesTheInputExactly)
{
    Compressor compressor;
    prepareAsChain (compressor, 0.001, 0.05);
    compressor.makeupDb = 12.0f;
    compressor.mix = 0.0f;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);

    for (int chunk = 0; chunk < 5; ++chunk)
    {
        fillBursts (detector, 0, (long) chunk * block, 100.0, 0.0);
        fillBursts (detector, 1, (long) chunk * block, 150.0, 0.0);
        fillBursts (audio, 0, (long) chunk * block, 440.0, 0.0);
        fillBursts (audio, 1, (long) chunk * block, 660.0, 0.0);
        const juce::AudioBuffer<float> input (audio);

        compressor.process (audio, detector);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < block; ++i)
                ASSERT_EQ (audio.getSample (c, i), input.getSample (c, i)) << chunk << " " << c << " " << i;

        EXPECT_LT (compressor.gainReductionDb, -1.0f) << "the detector still works";
    }
}

TEST (Compressor, MonoAudioUsesTheLeftGainAndTheRightDetectorStillCounts)
{
    Compressor mono, stereo, leftOnly;
    for (auto* c : { &mono, &stereo, &leftOnly })
        prepareAsChain (*c, 0.002, 0.05);

    juce::AudioBuffer<float> detector (2, block), leftDetector (2, block);

    for (int chunk = 0; chunk < 6; ++chunk)
    {
        fillBursts (detector, 0, (long) chunk * block, 120.0, 0.0);
        fillBursts (detector, 1, (long) chunk * block + 700, 90.0, 0.0);
        leftDetector.copyFrom (0, 0, detector, 0, 0, block);
        leftDetector.copyFrom (1, 0, detector, 0, 0, block);

        juce::AudioBuffer<float> monoAudio (1, block), stereoAudio (2, block), leftOnlyAudio (1, block);
        fill (monoAudio, 0, 0.5f);
        fill (stereoAudio, 0, 0.5f);
        fill (stereoAudio, 1, 0.5f);
        fill (leftOnlyAudio, 0, 0.5f);

        mono.process (monoAudio, detector);
        stereo.process (stereoAudio, detector);
        leftOnly.process (leftOnlyAudio, leftDetector);

        for (int i = 0; i < block; ++i)
            ASSERT_EQ (monoAudio.getSample (0, i), stereoAudio.getSample (0, i)) << chunk << " " << i;

        EXPECT_EQ (mono.gainReductionDb, stereo.gainReductionDb);
        EXPECT_EQ (mono.inputLevel, stereo.inputLevel);
        EXPECT_EQ (mono.levelDetector.state, stereo.levelDetector.state);

        // The dry copy holds only the one channel.
        EXPECT_EQ (mono.drySignal.getMagnitude (1, 0, block), 0.0f);
    }

    // Without the right detector channel the mono result is different: it fed link and state.
    fill (detector, 1, 0.95f);
    bool differs = false;
    juce::AudioBuffer<float> a (1, block), b (1, block);
    fill (a, 0, 0.5f);
    fill (b, 0, 0.5f);
    mono.process (a, detector);
    leftOnly.process (b, leftDetector);
    for (int i = 0; i < block; ++i)
        differs = differs || a.getSample (0, i) != b.getSample (0, i);
    EXPECT_TRUE (differs);
    EXPECT_EQ (mono.inputLevel, 9.5f);
    EXPECT_NE (mono.inputLevel, leftOnly.inputLevel);
}

TEST (Compressor, InputLevelCountsTheDetectorNotTheAudio)
{
    Compressor compressor;
    prepareAsChain (compressor);

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    fill (audio, 0, 0.95f);
    fill (audio, 1, -0.95f);
    fill (detector, 0, 0.01f);
    fill (detector, 1, 0.02f);
    detector.setSample (1, 200, -0.5f);

    compressor.process (audio, detector);
    EXPECT_EQ (compressor.inputLevel, 5.0f);

    detector.clear();
    compressor.process (audio, detector);
    EXPECT_EQ (compressor.inputLevel, 0.0f);
}

TEST (Compressor, SilentDetectorWithAutomaticTimesPassesTheAudio)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.levelDetector.autoAttack = true;
    compressor.levelDetector.autoRelease = true;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    detector.clear();
    fill (audio, 0, 0.25f);
    fill (audio, 1, 0.25f);
    compressor.process (audio, detector);

    EXPECT_EQ (compressor.gainReductionDb, 0.0f);
    EXPECT_EQ (compressor.levelDetector.alphaAttack, 0.0);
    EXPECT_EQ (compressor.levelDetector.alphaRelease, 0.0);
    EXPECT_EQ (audio.getSample (0, 100), 0.25f);
    EXPECT_EQ (audio.getSample (1, 511), 0.25f);
}

TEST (Compressor, ZeroLengthChunkChangesNothing)
{
    Compressor compressor;
    prepareAsChain (compressor);
    compressor.levelDetector.autoAttack = true;
    compressor.levelDetector.autoRelease = true;
    compressor.makeupDb = 2.0f;

    juce::AudioBuffer<float> audio (2, block), detector (2, block);
    fillBursts (detector, 0, 0, 200.0, 0.0);
    fillBursts (detector, 1, 0, 300.0, 0.0);
    fill (audio, 0, 1.0f);
    fill (audio, 1, 1.0f);
    compressor.process (audio, detector);
    compressor.makeupDb = 6.0f;
    compressor.process (audio, detector);

    const LevelDetector before = compressor.levelDetector;
    const float reduction = compressor.gainReductionDb, level = compressor.inputLevel;
    const float makeupNow = compressor.makeupSmoother.getCurrentValue();

    compressor.makeupDb = -3.0f;
    juce::AudioBuffer<float> empty (2, 0);
    compressor.process (empty, detector);

    const auto& after = compressor.levelDetector;
    EXPECT_EQ (after.state, before.state);
    EXPECT_EQ (after.peakState, before.peakState);
    EXPECT_EQ (after.rmsState, before.rmsState);
    EXPECT_EQ (after.avgAttack, before.avgAttack);
    EXPECT_EQ (after.avgRelease, before.avgRelease);
    EXPECT_EQ (after.attackTime, before.attackTime);
    EXPECT_EQ (after.releaseTime, before.releaseTime);
    EXPECT_EQ (after.alphaAttack, before.alphaAttack);
    EXPECT_EQ (after.alphaRelease, before.alphaRelease);
    EXPECT_EQ (compressor.gainReductionDb, reduction);
    EXPECT_EQ (compressor.inputLevel, level);
    EXPECT_EQ (compressor.makeupSmoother.getCurrentValue(), makeupNow);
    EXPECT_EQ (compressor.makeupSmoother.getTargetValue(), 6.0f);
}

TEST (Compressor, NonFiniteDetectorChunkRecovers)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();

    for (const bool automatic : { false, true })
    {
        for (const int pattern : { 0, 1, 2 })
        {
            Compressor compressor;
            prepareAsChain (compressor, 0.002, 0.05);
            compressor.levelDetector.autoAttack = automatic;
            compressor.levelDetector.autoRelease = automatic;
            compressor.makeupDb = 4.0f;

            juce::AudioBuffer<float> audio (2, block), detector (2, block);
            long t = 0;

            auto run = [&] (bool broken)
            {
                fillBursts (detector, 0, t, 200.0, 0.0);
                fillBursts (detector, 1, t, 300.0, 0.0);
                fillBursts (audio, 0, t, 440.0, 0.0);
                fillBursts (audio, 1, t, 660.0, 0.0);
                t += block;

                if (broken)
                {
                    if (pattern == 0) // scattered NaN and infinity
                    {
                        detector.setSample (0, 17, nan);
                        detector.setSample (1, 300, inf);
                        detector.setSample (0, 301, -inf);
                    }
                    else // a whole chunk of either
                    {
                        fill (detector, 0, pattern == 1 ? nan : inf);
                        fill (detector, 1, pattern == 1 ? nan : -inf);
                    }
                }

                compressor.process (audio, detector);
            };

            for (int i = 0; i < 4; ++i)
                run (false);

            run (true);
            EXPECT_TRUE (allFinite (audio)) << automatic << " " << pattern;
            EXPECT_TRUE (detectorIsFinite (compressor.levelDetector)) << automatic << " " << pattern;
            EXPECT_TRUE (std::isfinite (compressor.gainReductionDb));
            EXPECT_TRUE (std::isfinite (compressor.inputLevel));

            for (int i = 0; i < 4; ++i)
            {
                run (false);
                EXPECT_TRUE (allFinite (audio)) << automatic << " " << pattern;
                EXPECT_TRUE (detectorIsFinite (compressor.levelDetector));
                EXPECT_TRUE (std::isfinite (compressor.gainReductionDb));
                EXPECT_LT (compressor.inputLevel, 10.0f);
            }

            if (automatic)
            {
                EXPECT_GT (compressor.levelDetector.attackTime, 0.0);
                EXPECT_LE (compressor.levelDetector.attackTime, 0.1600001);
            }
        }
    }
}

TEST (Compressor, ProcessAllocatesNothing)
{
    Compressor compressor;
    prepareAsChain (compressor);

    juce::AudioBuffer<float> stereo (2, block), mono (1, block), detector (2, block);
    std::vector<juce::AudioBuffer<float>> views;
    for (const int n : { 1, 7, 128, 300, 511, 512 })
        views.emplace_back (stereo.getArrayOfWritePointers(), 2, n);

    juce::Random random (7);
    long calls = 0;

    for (int chunk = 0; chunk < 400; ++chunk)
    {
        fillBursts (detector, 0, (long) chunk * block, 200.0, 0.0);
        fillBursts (detector, 1, (long) chunk * block, 310.0, 0.0);
        fillBursts (stereo, 0, (long) chunk * block, 440.0, 0.0);
        fillBursts (stereo, 1, (long) chunk * block, 550.0, 0.0);
        fill (mono, 0, 0.5f);

        // Settings change as the chain would write them.
        compressor.gainComputer.threshold = -random.nextFloat() * 40.0f;
        const float ratio = 1.0f + random.nextFloat() * 19.0f;
        compressor.gainComputer.ratio = ratio;
        compressor.gainComputer.slope = 1.0f / ratio - 1.0f;
        compressor.levelDetector.autoAttack = (chunk / 7) % 2 == 0;
        compressor.levelDetector.autoRelease = (chunk / 5) % 2 == 0;
        if (! compressor.levelDetector.autoAttack)
            compressor.levelDetector.setAttack (random.nextFloat() * 0.05);
        if (! compressor.levelDetector.autoRelease)
            compressor.levelDetector.setRelease (random.nextFloat() * 1.5);
        if (chunk % 3 == 0)
            compressor.makeupDb = random.nextFloat() * 24.0f - 12.0f;
        if (chunk % 4 == 0)
            compressor.mix = random.nextFloat();

        auto& audio = chunk % 5 == 4 ? mono : views[(size_t) chunk % views.size()];

        countingAllocations = true;
        compressor.process (audio, detector);
        countingAllocations = false;
        ++calls;
    }

    EXPECT_EQ (calls, 400);
    EXPECT_EQ (allocationCount.load(), 0);
    EXPECT_EQ (deallocationCount.load(), 0);
}
