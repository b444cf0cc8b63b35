#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <random>
#include <thread>
#include <vector>

//==============================================================================
// Allocation and lock counting. The framework's buffers take their memory from malloc directly and
// the standard library's operator new ends there too, so the malloc family is where every
// allocation of the audio thread shows up; every blocking lock of the framework and the standard
// library (CriticalSection, std::mutex, condition variables, read-write locks) ends in a pthread
// mutex or read-write lock. Counting is switched on per thread, only around processBlock, so
// parameter changes, the analyser reader and the framework's own threads never count. Try-locks
// are allowed and not counted. Sanitizers replace these functions themselves; under them the
// counting tests are skipped.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define MORVIK_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define MORVIK_COUNTS_ALLOCATIONS 0
 #endif
#endif
#ifndef MORVIK_COUNTS_ALLOCATIONS
 #define MORVIK_COUNTS_ALLOCATIONS 1
#endif

namespace
{
__attribute__ ((tls_model ("initial-exec"))) thread_local bool countingOnThisThread = false;
std::atomic<long> allocations { 0 };
std::atomic<long> releases { 0 };
std::atomic<long> locks { 0 };

struct CountedScope
{
    CountedScope() { countingOnThisThread = true; }
    ~CountedScope() { countingOnThisThread = false; }
};
} // namespace

#if MORVIK_COUNTS_ALLOCATIONS
extern "C"
{
    void* __libc_malloc (size_t);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void* __libc_memalign (size_t, size_t);
    void __libc_free (void*);

    void* malloc (size_t size) noexcept
    {
        if (countingOnThisThread)
            allocations.fetch_add (1, std::memory_order_relaxed);
        return __libc_malloc (size);
    }

    void* calloc (size_t count, size_t size) noexcept
    {
        if (countingOnThisThread)
            allocations.fetch_add (1, std::memory_order_relaxed);
        return __libc_calloc (count, size);
    }

    void* realloc (void* pointer, size_t size) noexcept
    {
        if (countingOnThisThread)
            allocations.fetch_add (1, std::memory_order_relaxed);
        return __libc_realloc (pointer, size);
    }

    void* aligned_alloc (size_t alignment, size_t size) noexcept
    {
        if (countingOnThisThread)
            allocations.fetch_add (1, std::memory_order_relaxed);
        return __libc_memalign (alignment, size);
    }

    int posix_memalign (void** result, size_t alignment, size_t size) noexcept
    {
        if (countingOnThisThread)
            allocations.fetch_add (1, std::memory_order_relaxed);
        *result = __libc_memalign (alignment, size);
        return *result != nullptr || size == 0 ? 0 : ENOMEM;
    }

    void free (void* pointer) noexcept
    {
        if (countingOnThisThread && pointer != nullptr)
            releases.fetch_add (1, std::memory_order_relaxed);
        __libc_free (pointer);
    }

}

namespace
{
// The C library's own lock functions, looked up once past this executable's replacements.
template <typename Function>
Function* nextDefinition (std::atomic<Function*>& cache, const char* name) noexcept
{
    auto* function = cache.load (std::memory_order_acquire);
    if (function == nullptr)
    {
        function = reinterpret_cast<Function*> (dlsym (RTLD_NEXT, name));
        cache.store (function, std::memory_order_release);
    }
    return function;
}

std::atomic<int (*) (pthread_mutex_t*)> libcMutexLock { nullptr };
std::atomic<int (*) (pthread_rwlock_t*)> libcReadLock { nullptr };
std::atomic<int (*) (pthread_rwlock_t*)> libcWriteLock { nullptr };

// Resolved before main, while only one thread runs.
[[maybe_unused]] const bool lockFunctionsResolved = nextDefinition (libcMutexLock, "pthread_mutex_lock") != nullptr
                                                    && nextDefinition (libcReadLock, "pthread_rwlock_rdlock") != nullptr
                                                    && nextDefinition (libcWriteLock, "pthread_rwlock_wrlock") != nullptr;
} // namespace

extern "C"
{
    int pthread_mutex_lock (pthread_mutex_t* mutex) noexcept
    {
        if (countingOnThisThread)
            locks.fetch_add (1, std::memory_order_relaxed);
        return nextDefinition (libcMutexLock, "pthread_mutex_lock") (mutex);
    }

    int pthread_rwlock_rdlock (pthread_rwlock_t* lock) noexcept
    {
        if (countingOnThisThread)
            locks.fetch_add (1, std::memory_order_relaxed);
        return nextDefinition (libcReadLock, "pthread_rwlock_rdlock") (lock);
    }

    int pthread_rwlock_wrlock (pthread_rwlock_t* lock) noexcept
    {
        if (countingOnThisThread)
            locks.fetch_add (1, std::memory_order_relaxed);
        return nextDefinition (libcWriteLock, "pthread_rwlock_wrlock") (lock);
    }
}

void* operator new (std::size_t size)
{
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* operator new[] (std::size_t size)
{
    return operator new (size);
}

void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc (size == 0 ? 1 : size);
}

void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc (size == 0 ? 1 : size);
}

void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }
#endif

namespace
{
using Set = juce::AudioChannelSet;

// The largest output the chain can produce from input within +-1. The compressor only ever lowers
// the gain before its makeup of at most +30 dB (x 31.6); the colour stage in front of it is the
// console lift on a normalised seven-tap response plus a bounded saturation, and its "Character"
// blend is a convex mix with the dry signal, so it stays within about +10 dB of the input
// (x 3.16) even in its first milliseconds, before the response has arrived and the lift acts on
// the unfiltered signal. 31.6 x 3.16 = 100.
constexpr float outputBound = 100.0f;

std::unique_ptr<MorvikAudioProcessor> makeProcessor (double sampleRate, int blockSize, const Set& main, const Set& sidechain)
{
    auto processor = std::make_unique<MorvikAudioProcessor>();

    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (main);
    layout.inputBuses.add (sidechain);
    layout.outputBuses.add (main);
    EXPECT_TRUE (processor->setBusesLayout (layout));

    processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    return processor;
}

int channelsFor (const Set& main, const Set& sidechain)
{
    return main.size() + (sidechain.isDisabled() ? 0 : sidechain.size());
}

// Every parameter to a random normalised value, through the host-facing path.
void randomiseAll (MorvikAudioProcessor& processor, std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    for (auto* parameter : processor.getParameters())
        parameter->setValueNotifyingHost (unit (rng));
}

// Every parameter at its lowest, or every one at its highest, value.
void setAll (MorvikAudioProcessor& processor, float normalised)
{
    for (auto* parameter : processor.getParameters())
        parameter->setValueNotifyingHost (normalised);
}

struct Noise
{
    explicit Noise (unsigned seed, float amplitude = 1.0f) : rng (seed), values (-amplitude, amplitude) {}

    void fill (juce::AudioBuffer<float>& buffer)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, values (rng));
    }

    std::mt19937 rng;
    std::uniform_real_distribution<float> values;
};

// Largest absolute value over the main channels; infinity if any is not finite.
float mainPeak (const juce::AudioBuffer<float>& buffer, int mainChannels)
{
    float peak = 0.0f;
    for (int c = 0; c < mainChannels; ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const float v = buffer.getSample (c, i);
            if (! std::isfinite (v))
                return std::numeric_limits<float>::infinity();
            peak = std::max (peak, std::abs (v));
        }
    return peak;
}

bool zeroOrNormal (double v)
{
    return v == 0.0 || std::isnormal (v);
}

// Reads the analyser feed the way the spectrum analyser does, so it keeps flowing.
void drainFeed (MorvikAudioProcessor& processor)
{
    if (! processor.analyserDataReady.exchange (false))
        return;

    auto& fifo = processor.analyserFifo;
    while (fifo.getNumReady() >= 4096)
    {
        int start1, size1, start2, size2;
        fifo.prepareToRead (4096, start1, size1, start2, size2);
        fifo.finishedRead (2048);
    }
}
} // namespace

//==============================================================================
TEST (RealTime, CountersSeeAllocationsAndLocks)
{
#if MORVIK_COUNTS_ALLOCATIONS
    const auto allocationsBefore = allocations.load();
    const auto locksBefore = locks.load();
    juce::CriticalSection section;
    std::mutex mutex;
    {
        CountedScope counting;
        std::vector<int> values (100);
        juce::HeapBlock<float> block (64);
        juce::ignoreUnused (values, block);

        const juce::ScopedLock scoped (section);
        const std::lock_guard<std::mutex> guard (mutex);
    }
    EXPECT_GE (allocations.load() - allocationsBefore, 2);
    EXPECT_GE (locks.load() - locksBefore, 2);

    // A try-lock never waits and is not counted.
    {
        CountedScope counting;
        const juce::ScopedTryLock attempt (section);
        EXPECT_TRUE (attempt.isLocked());
    }
    EXPECT_EQ (locks.load() - locksBefore, 2);
#else
    GTEST_SKIP() << "allocation counting is off under sanitizers";
#endif
}

// The audio thread allocates, frees and waits on nothing once prepareToPlay has run: not on the
// first chunk, not while parameters of every kind change, "Power" toggles, the feed is read, block
// lengths vary above and below the prepared size, and another thread automates everything.
TEST (RealTime, AudioThreadNeverAllocatesOrLocks)
{
#if MORVIK_COUNTS_ALLOCATIONS
    struct Case
    {
        Set main, sidechain;
    };

    for (const auto& layout : { Case { Set::stereo(), Set::stereo() }, Case { Set::mono(), Set::disabled() }, Case { Set::stereo(), Set::mono() } })
    {
        SCOPED_TRACE (layout.main.getDescription() + " / " + layout.sidechain.getDescription());
        constexpr int blockSize = 512;
        auto processor = makeProcessor (48000.0, blockSize, layout.main, layout.sidechain);
        processor->resizeAnalyserFeed (48000);
        processor->analyserEnabled = true;

        const int numChannels = channelsFor (layout.main, layout.sidechain);
        juce::AudioBuffer<float> block (numChannels, 3 * blockSize);
        juce::MidiBuffer midi;
        Noise noise (17);
        std::mt19937 rng (4);
        std::uniform_int_distribution<int> lengths (0, 3 * blockSize);

        allocations = 0;
        releases = 0;
        locks = 0;

        auto runBlock = [&] (int length)
        {
            block.setSize (numChannels, length, false, false, true);
            noise.fill (block);
            {
                CountedScope counting;
                processor->processBlock (block, midi);
            }
            EXPECT_LT (mainPeak (block, layout.main.size()), outputBound);
        };

        for (int b = 0; b < 300; ++b)
        {
            if (b % 3 == 0)
                randomiseAll (*processor, rng);
            if (b % 40 == 10)
                setAll (*processor, 0.0f); // includes "Power" off
            if (b % 40 == 25)
                setAll (*processor, 1.0f); // automatic attack and release, full makeup
            if (b % 7 == 0)
                test::setParameter (*processor, "Power", (b / 7) % 2 == 0 ? 0.0f : 1.0f);

            runBlock (b % 50 == 0 ? 0 : lengths (rng));
            drainFeed (*processor);
        }

        // The same with automation from another thread while the audio runs.
        std::atomic<bool> stop { false };
        std::thread automation ([&]
                                {
                                    std::mt19937 automationRng (8);
                                    while (! stop.load())
                                    {
                                        randomiseAll (*processor, automationRng);
                                        std::this_thread::yield();
                                    }
                                });

        for (int b = 0; b < 300; ++b)
        {
            runBlock (lengths (rng));
            drainFeed (*processor);
        }

        stop = true;
        automation.join();

        EXPECT_EQ (allocations.load(), 0);
        EXPECT_EQ (releases.load(), 0);
        EXPECT_EQ (locks.load(), 0);
    }
#else
    GTEST_SKIP() << "allocation counting is off under sanitizers";
#endif
}

//==============================================================================
// Robustness

TEST (Robustness, EveryRateLayoutAndBlockLengthGivesBoundedOutput)
{
    const double rates[] = { 8000.0, 22050.0, 44100.0, 96000.0, 192000.0, 384000.0 };
    const Set mains[] = { Set::mono(), Set::stereo() };
    const Set sidechains[] = { Set::disabled(), Set::mono(), Set::stereo() };
    const int lengths[] = { 1, 7, 64, 511, 512, 513, 2000, 8192 };

    float largest = 0.0f;

    for (const double rate : rates)
    {
        for (const auto& main : mains)
        {
            for (const auto& sidechain : sidechains)
            {
                SCOPED_TRACE (juce::String (rate) + " Hz, " + main.getDescription() + " / " + sidechain.getDescription());
                auto processor = makeProcessor (rate, 512, main, sidechain);
                processor->resizeAnalyserFeed ((int) rate);
                processor->analyserEnabled = true;

                const int numChannels = channelsFor (main, sidechain);
                Noise noise (3);
                std::mt19937 rng (5);
                juce::MidiBuffer midi;

                for (int setting = 0; setting < 3; ++setting)
                {
                    if (setting == 1)
                        setAll (*processor, 1.0f);
                    else if (setting == 2)
                        randomiseAll (*processor, rng);
                    test::setParameter (*processor, "Power", 1.0f);

                    for (const int length : lengths)
                    {
                        juce::AudioBuffer<float> block (numChannels, length);
                        noise.fill (block);
                        processor->processBlock (block, midi);

                        const float peak = mainPeak (block, main.size());
                        ASSERT_LT (peak, outputBound) << "setting " << setting << ", length " << length;
                        largest = std::max (largest, peak);
                    }
                    drainFeed (*processor);
                }
            }
        }
    }

    std::printf ("largest output peak over rates and layouts: %.3f\n", (double) largest);
}

TEST (Robustness, SingleSampleAndVeryLongPreparedBlocks)
{
    for (const int prepared : { 0, 1, 8192 })
    {
        SCOPED_TRACE (prepared);
        auto processor = makeProcessor (44100.0, prepared, Set::stereo(), Set::disabled());
        Noise noise (6);
        juce::MidiBuffer midi;

        for (const int length : { 1, 2, 100, 8192, 9000 })
        {
            juce::AudioBuffer<float> block (2, length);
            noise.fill (block);
            const auto input = block;
            processor->processBlock (block, midi);
            ASSERT_LT (mainPeak (block, 2), outputBound);

            // Never prepared for any length: the audio passes untouched.
            if (prepared == 0)
            {
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < length; ++i)
                        ASSERT_EQ (block.getSample (c, i), input.getSample (c, i));
            }
        }
    }
}

TEST (Robustness, MisfitBuffersAreLeftUntouched)
{
    juce::MidiBuffer midi;
    Noise noise (12);

    // Never prepared.
    {
        MorvikAudioProcessor processor;
        juce::AudioBuffer<float> block (2, 300);
        noise.fill (block);
        const auto input = block;
        processor.processBlock (block, midi);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 300; ++i)
                ASSERT_EQ (block.getSample (c, i), input.getSample (c, i));
    }

    auto processor = makeProcessor (44100.0, 256, Set::stereo(), Set::disabled());

    // Fewer channels than prepared.
    {
        juce::AudioBuffer<float> block (1, 256);
        noise.fill (block);
        const auto input = block;
        processor->processBlock (block, midi);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ (block.getSample (0, i), input.getSample (0, i));
    }

    // A chunk longer than prepared, handed to processChunk directly.
    {
        juce::AudioBuffer<float> block (2, 257);
        noise.fill (block);
        const auto input = block;
        processor->processChunk (block);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 257; ++i)
                ASSERT_EQ (block.getSample (c, i), input.getSample (c, i));
    }

    // Channels, zero channels and an empty block.
    {
        juce::AudioBuffer<float> none (0, 256);
        processor->processBlock (none, midi);
        juce::AudioBuffer<float> empty (2, 0);
        processor->processBlock (empty, midi);
    }
}

// Minutes of silence after loud noise: the output stays finite, and neither it nor the
// compressor's decaying state turns into denormal numbers.
TEST (Robustness, LongSilenceLeavesNoDenormals)
{
    struct Run
    {
        double rate;
        double seconds;
    };

    // The slowest decays are set in seconds (the crest-factor tracks smooth over 0.2 s, so a
    // double state needs about 140 s to fall through the normal range); three minutes at the
    // lowest rate cover that, the higher rates run long enough for every per-sample decay.
    for (const auto run : { Run { 8000.0, 180.0 }, Run { 22050.0, 30.0 }, Run { 48000.0, 30.0 } })
    {
        SCOPED_TRACE (run.rate);
        constexpr int blockSize = 1024;
        auto processor = makeProcessor (run.rate, blockSize, Set::stereo(), Set::disabled());
        test::setParameter (*processor, "Release", 5.0f);
        test::setParameter (*processor, "Makeup", 30.0f);
        test::setParameter (*processor, "Character", 100.0f);
        juce::MidiBuffer midi;

        juce::AudioBuffer<float> block (2, blockSize);
        Noise noise (1);
        for (int b = 0; b < (int) (run.rate / blockSize); ++b)
        {
            noise.fill (block);
            processor->processBlock (block, midi);
        }

        const int silentBlocks = (int) (run.seconds * run.rate / blockSize);
        bool outputClean = true;
        bool detectorClean = true;
        for (int b = 0; b < silentBlocks; ++b)
        {
            block.clear();
            processor->processBlock (block, midi);

            // Checking every sample of minutes of audio costs more than the audio; check the
            // first blocks fully and then every 16th.
            if (b < 64 || b % 16 == 0)
            {
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                    {
                        outputClean = outputClean && zeroOrNormal (block.getSample (c, i));
                        detectorClean = detectorClean && zeroOrNormal (processor->sidechainBuffer.getSample (c, i));
                    }
            }
        }

        EXPECT_TRUE (outputClean);
        EXPECT_TRUE (detectorClean);

        const auto& detector = processor->compressor.levelDetector;
        for (const double value : { detector.state, detector.peakState, detector.rmsState, detector.avgAttack, detector.avgRelease,
                                    detector.attackSmoother.state, detector.releaseSmoother.state })
        {
            EXPECT_TRUE (std::isfinite (value));
            EXPECT_TRUE (zeroOrNormal (value)) << value;
        }
        EXPECT_TRUE (zeroOrNormal (processor->compressor.gainReductionDb));
        EXPECT_TRUE (zeroOrNormal (processor->compressor.inputLevel));
    }
}

// Full-scale noise while another thread moves all 24 parameters at random as fast as it can.
TEST (Robustness, RandomAutomationFromAnotherThreadKeepsOutputBounded)
{
    for (const auto& main : { Set::stereo(), Set::mono() })
    {
        SCOPED_TRACE (main.getDescription());
        constexpr int blockSize = 256;
        auto processor = makeProcessor (48000.0, blockSize, main, Set::stereo());
        processor->resizeAnalyserFeed (48000);
        processor->analyserEnabled = true;

        std::atomic<bool> stop { false };
        std::atomic<int> changes { 0 };
        std::thread automation ([&]
                                {
                                    std::mt19937 rng (99);
                                    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
                                    std::uniform_int_distribution<int> which (0, processor->getParameters().size() - 1);
                                    while (! stop.load())
                                    {
                                        auto* parameter = processor->getParameters()[which (rng)];
                                        const float r = unit (rng);
                                        // A third of the moves go to an end of the range.
                                        parameter->setValueNotifyingHost (r < 0.15f ? 0.0f : r > 0.85f ? 1.0f : unit (rng));
                                        ++changes;
                                    }
                                });

        const int numChannels = channelsFor (main, Set::stereo());
        juce::AudioBuffer<float> block (numChannels, blockSize);
        juce::MidiBuffer midi;
        Noise noise (23);
        float largest = 0.0f;

        for (int b = 0; b < 1500; ++b)
        {
            noise.fill (block);
            processor->processBlock (block, midi);
            const float peak = mainPeak (block, main.size());
            ASSERT_LT (peak, outputBound) << "block " << b;
            largest = std::max (largest, peak);
            drainFeed (*processor);
        }

        stop = true;
        automation.join();
        EXPECT_GT (changes.load(), 0);
        std::printf ("largest output peak under automation (%s): %.3f\n", main.getDescription().toRawUTF8(), (double) largest);
    }
}
