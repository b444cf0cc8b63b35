#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "support/RealtimeCounters.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace
{
using Set = juce::AudioChannelSet;

void* volatile escape = nullptr;

// Input within +-1: the colour stage stays within about +10 dB and the makeup adds at most +30 dB.
constexpr float outputBound = 100.0f;

std::unique_ptr<MorvikAudioProcessor> makeProcessor (double rate, int blockSize, const Set& main, const Set& sidechain)
{
    auto processor = test::makePreparedProcessor (rate, blockSize, main, sidechain);
    processor->resizeAnalyserFeed ((int) rate);
    processor->analyserEnabled = true;
    return processor;
}

int channelsFor (const Set& main, const Set& sidechain)
{
    return main.size() + (sidechain.isDisabled() ? 0 : sidechain.size());
}

// All 24 parameters: each at random, or all at the same normalised value.
void setAll (MorvikAudioProcessor& processor, std::mt19937& rng, float normalised = -1.0f)
{
    for (auto* parameter : processor.getParameters())
        parameter->setValueNotifyingHost (
            normalised >= 0.0f ? normalised : std::uniform_real_distribution<float> (0.0f, 1.0f) (rng));
}

void fillNoise (juce::AudioBuffer<float>& buffer, std::mt19937& rng)
{
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, noise (rng));
}

// Largest absolute value over the main channels; infinity if any is not finite.
float mainPeak (const juce::AudioBuffer<float>& buffer, int mainChannels)
{
    juce::AudioBuffer<float> main (const_cast<float* const*> (buffer.getArrayOfReadPointers()), mainChannels,
                                   buffer.getNumSamples());
    return test::peakOrInfinity (main);
}

bool zeroOrNormal (double v) { return v == 0.0 || std::isnormal (v); }

// Reads the analyser feed the way the spectrum analyser does, so it keeps flowing.
void drainFeed (MorvikAudioProcessor& processor)
{
    auto& fifo = processor.analyserFifo;
    if (processor.analyserDataReady.exchange (false))
        fifo.finishedRead (fifo.getNumReady());
}

// Another thread moving all parameters at random, as fast as it can, for its lifetime.
struct Automation
{
    explicit Automation (MorvikAudioProcessor& p)
        : thread ([this, &p] {
              std::mt19937 rng (8);
              while (! stop.load())
                  setAll (p, rng, rng() % 4 == 0 ? (float) (rng() % 2) : -1.0f), ++rounds;
          })
    {}

    ~Automation()
    {
        // On a busy machine the thread may not have run yet; let it finish at least one round.
        while (rounds.load() == 0)
            std::this_thread::yield();

        stop = true;
        thread.join();
    }

    std::atomic<bool> stop { false };
    std::atomic<int> rounds { 0 };
    std::thread thread;
};
} // namespace

//==============================================================================
TEST (RealTime, CountersSeeAllocationsAndLocks)
{
    if (! realtime::available())
        GTEST_SKIP() << "counting is off under sanitizers";

    juce::CriticalSection section;
    std::mutex mutex;
    juce::SpinLock spin;
    const auto counts = realtime::countedOnOwnThread ([&] {
        std::vector<int> values (100);
        juce::HeapBlock<float> block (64);
        // Kept visible, or the compiler may drop an allocation that nothing uses.
        escape = values.data();
        escape = block.getData();
        const juce::ScopedLock scoped (section);
        const std::lock_guard<std::mutex> guard (mutex);
        const juce::ScopedTryLock attempt (section); // never waits, not counted
        const juce::SpinLock::ScopedLockType spinning (spin);
        const juce::SpinLock::ScopedTryLockType failing (spin); // fails without waiting, not counted
    });
    EXPECT_GE (counts.allocations, 4); // two allocations, two releases
    EXPECT_EQ (counts.locks, 3);
}

// After prepareToPlay the audio thread allocates, frees and waits on nothing: not on the first
// chunk, nor while all parameters change, "Power" toggles, lengths vary from 0 to three times the
// prepared size, the feed is read, and another thread automates everything at full-scale noise (the
// output staying bounded throughout) while host automation on the audio thread updates the bands
// that thread is writing too (the band's listener called as the parameter tree calls it there; the
// tree's own dispatch locks are the framework's). Under sanitizers nothing is counted, but the run
// still races the audio thread against the automation thread for the thread sanitizer to see.
TEST (RealTime, AudioThreadNeverAllocatesOrLocks)
{
    for (const auto& [main, sidechain] : { std::pair { Set::stereo(), Set::stereo() },
                                           { Set::mono(), Set::stereo() },
                                           { Set::mono(), Set::disabled() } })
    {
        auto processor = makeProcessor (48000.0, 512, main, sidechain);
        const int channels = channelsFor (main, sidechain);
        juce::AudioBuffer<float> block (channels, 3 * 512);
        juce::MidiBuffer midi;
        std::mt19937 rng (4);
        realtime::Counts counts;

        const juce::String gainIds[] = { processor->bands[0].gainId.toString(), processor->bands[1].gainId.toString(),
                                         processor->bands[2].gainId.toString() };
        auto run = [&] (int b, bool automated = false) {
            block.setSize (channels, b % 50 == 0 ? 0 : (int) (rng() % (3 * 512 + 1)), false, false, true);
            fillNoise (block, rng);
            {
                const realtime::Watch watch;
                if (automated)
                    processor->bands[(size_t) b % 3].parameterChanged (gainIds[b % 3], 0.0f);
                processor->processBlock (block, midi);
                counts += watch.counts();
            }
            EXPECT_LT (mainPeak (block, main.size()), outputBound) << main.getDescription() << ", block " << b;
            drainFeed (*processor);
        };

        for (int b = 0; b < 200; ++b)
        {
            setAll (*processor, rng, b % 40 == 10 ? 0.0f : b % 40 == 25 ? 1.0f : -1.0f);
            test::setParameter (*processor, ParameterIds::power, (float) ((b / 7) % 2));
            run (b);
        }
        {
            Automation automation (*processor);
            for (int b = 1; b < 600; ++b)
                run (b, true);
        }

        EXPECT_EQ (counts, realtime::Counts {}) << main.getDescription() << " / " << sidechain.getDescription();
    }
}

//==============================================================================
TEST (Robustness, EveryRateLayoutAndBlockLengthGivesBoundedOutput)
{
    for (const double rate : { 8000.0, 44100.0, 96000.0, 384000.0 })
        for (const auto& main : { Set::mono(), Set::stereo() })
            for (const auto& sidechain : { Set::disabled(), Set::mono(), Set::stereo() })
            {
                auto processor = makeProcessor (rate, 512, main, sidechain);
                std::mt19937 rng (5);
                juce::MidiBuffer midi;

                for (int setting = 0; setting < 3; ++setting) // defaults, all at maximum, random
                {
                    if (setting > 0)
                        setAll (*processor, rng, setting == 1 ? 1.0f : -1.0f);
                    test::setParameter (*processor, ParameterIds::power, 1.0f);

                    for (const int length : { 1, 7, 511, 512, 513, 8192 })
                    {
                        juce::AudioBuffer<float> block (channelsFor (main, sidechain), length);
                        fillNoise (block, rng);
                        processor->processBlock (block, midi);
                        ASSERT_LT (mainPeak (block, main.size()), outputBound)
                            << rate << " Hz, " << main.getDescription() << " / " << sidechain.getDescription()
                            << ", setting " << setting << ", length " << length;
                    }
                    drainFeed (*processor);
                }
            }
}

// Minutes of silence after loud noise: neither the output nor the compressor's decaying state
// turns into denormal numbers. The slowest decay (0.2 s crest-factor smoothing in double) needs
// about 140 s to fall through the normal range.
TEST (Robustness, LongSilenceLeavesNoDenormals)
{
    constexpr double rate = 8000.0;
    constexpr int blockSize = 1024;
    auto processor = makeProcessor (rate, blockSize, Set::stereo(), Set::disabled());
    test::setParameter (*processor, ParameterIds::release, 5.0f);
    test::setParameter (*processor, ParameterIds::makeup, 30.0f);
    test::setParameter (*processor, ParameterIds::character, 100.0f);
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    std::mt19937 rng (1);

    for (int b = 0; b < 8; ++b)
    {
        fillNoise (block, rng);
        processor->processBlock (block, midi);
    }

    bool clean = true;
    for (int b = 0; b < (int) (180.0 * rate / blockSize); ++b)
    {
        block.clear();
        processor->processBlock (block, midi);
        drainFeed (*processor);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < blockSize; i += 7)
                clean = clean && zeroOrNormal (block.getSample (c, i))
                        && zeroOrNormal (processor->sidechainBuffer.getSample (c, i));
    }
    EXPECT_TRUE (clean);

    const auto& d = processor->compressor.levelDetector;
    for (const double value :
         { d.state, d.peakState, d.rmsState, d.avgAttack, d.avgRelease, d.attackSmoother.state, d.releaseSmoother.state,
           (double) processor->compressor.gainReductionDb, (double) processor->compressor.inputLevel })
        EXPECT_TRUE (zeroOrNormal (value)) << value;
}

//==============================================================================
// Host automation reaches parameter listeners on the audio thread. With the editor open, automating
// all 15 band parameters there costs what it costs with the editor closed: no allocation, and only
// the locks the framework's dispatch takes on every change whoever listens (the parameter's
// listener list, and the parameter tree's around its listeners when the value changed). The
// response curve only marks itself stale; the editor's timer rebuilds it on the message thread, and
// that rebuild, like building the meter's shapes, allocates nothing and takes no lock either.
TEST (RealTime, BandAutomationWithTheEditorOpenAddsNoAllocationOrLock)
{
    if (! realtime::available())
        GTEST_SKIP() << "counting is off under sanitizers";

    const juce::ScopedJuceInitialiser_GUI gui;
    auto processor = makeProcessor (48000.0, 512, Set::stereo(), Set::disabled());
    std::vector<juce::RangedAudioParameter*> bandParameters;
    for (int band = 1; band <= 3; ++band)
        for (auto* suffix : ParameterIds::bandSuffixes)
            bandParameters.push_back (processor->apvts.getParameter (ParameterIds::band (band, suffix, false)));

    // Counts over 20 rounds of every band parameter, each change followed by a block, on a thread
    // of its own standing in for the host's audio thread, from the same starting values each time.
    juce::AudioBuffer<float> block (2, 512);
    juce::MidiBuffer midi;
    const auto automate = [&] {
        for (auto* parameter : bandParameters)
            parameter->setValueNotifyingHost (0.5f);
        std::mt19937 rng (9);
        return realtime::countedOnOwnThread ([&] {
            for (int round = 0; round < 20; ++round)
                for (auto* parameter : bandParameters)
                {
                    fillNoise (block, rng);
                    parameter->setValueNotifyingHost (std::uniform_real_distribution<float> (0.0f, 1.0f) (rng));
                    processor->processBlock (block, midi);
                }
        });
    };

    const auto closed = automate();
    EXPECT_EQ (closed.allocations, 0);

    std::unique_ptr<juce::AudioProcessorEditor> opened (processor->createEditorIfNeeded());
    auto& editor = dynamic_cast<MorvikAudioProcessorEditor&> (*opened);
    const auto drawn = editor.getFrequencyCurve().curvePath.getBounds();
    EXPECT_EQ (automate(), closed);
    EXPECT_EQ (editor.getFrequencyCurve().curvePath.getBounds(), drawn); // nothing drawn on the audio thread

    bool rebuilt = false;
    realtime::Counts drawing;
    {
        const realtime::Watch watch;
        rebuilt = editor.getFrequencyCurve().rebuildIfStale();
        editor.getMeter().needle.historyA.fill (-12.0f);
        editor.getMeter().needle.buildPaths();
        drawing = watch.counts();
    }
    EXPECT_TRUE (rebuilt);
    EXPECT_EQ (drawing, realtime::Counts {});
}
