// Cost of the colour stage on 512-sample stereo chunks at 48 kHz. The counter "ns_per_frame" is
// the time per stereo sample frame.

#include "engine/dsp/ConsoleConvolution.h"
#include "engine/dsp/Grain.h"

#include <BinaryData.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <thread>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 512;
constexpr int numChannels = 2;

juce::dsp::ProcessSpec benchSpec() { return { sampleRate, (juce::uint32) blockSize, (juce::uint32) numChannels }; }

void fillNoise (juce::AudioBuffer<float>& buffer)
{
    std::mt19937 random (1);
    std::uniform_real_distribution<float> uniform (-0.5f, 0.5f);

    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, uniform (random));
}

void reportFrames (benchmark::State& state)
{
    state.SetItemsProcessed (state.iterations() * blockSize);
    state.counters["ns_per_frame"] = benchmark::Counter (
        (double) blockSize, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each chunk starts from the same noise, so the work does not drift into denormals or silence.
template <typename Stage>
void runChunks (benchmark::State& state, Stage& stage)
{
    juce::ScopedNoDenormals noDenormals;
    juce::AudioBuffer<float> source (numChannels, blockSize), buffer (numChannels, blockSize);
    fillNoise (source);

    for (auto _ : state)
    {
        state.PauseTiming();
        buffer.makeCopyOf (source, true);
        state.ResumeTiming();

        juce::dsp::AudioBlock<float> block (buffer);
        stage.process (juce::dsp::ProcessContextReplacing<float> (block));
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        benchmark::ClobberMemory();
    }

    reportFrames (state);
}

void BM_ConsoleConvolution (benchmark::State& state)
{
    ConsoleConvolution console;
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    console.prepare (benchSpec());
    console.loadImpulseResponse (formats, BinaryData::console_impulse_wav,
                                 (size_t) BinaryData::console_impulse_wavSize);

    // Measure the installed console response, after the convolution's crossfade to it.
    juce::AudioBuffer<float> silence (numChannels, blockSize);
    juce::dsp::AudioBlock<float> silentBlock (silence);

    for (int attempt = 0; attempt < 1000 && console.getResponseLength() == 1; ++attempt)
    {
        silence.clear();
        console.process (juce::dsp::ProcessContextReplacing<float> (silentBlock));
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    for (int i = 0; i < 20; ++i)
    {
        silence.clear();
        console.process (juce::dsp::ProcessContextReplacing<float> (silentBlock));
    }

    if (console.getResponseLength() == 1)
        state.SkipWithError ("the console response was not installed");

    runChunks (state, console);
}

void BM_Grain (benchmark::State& state)
{
    Grain<float> grain;
    grain.prepare (benchSpec());

    // Past every ramp: the steady cost.
    juce::AudioBuffer<float> silence (numChannels, blockSize);
    juce::dsp::AudioBlock<float> silentBlock (silence);

    for (int i = 0; i < (int) (0.5 * sampleRate) / blockSize; ++i)
    {
        silence.clear();
        grain.process (juce::dsp::ProcessContextReplacing<float> (silentBlock));
    }

    runChunks (state, grain);
}

void BM_GrainDuringRamps (benchmark::State& state)
{
    // The first chunks after the first preparation, while the amount and the gains still ramp.
    Grain<float> grain;
    grain.prepare (benchSpec());
    runChunks (state, grain);
}

void BM_ColourStage (benchmark::State& state)
{
    struct Both
    {
        ConsoleConvolution console;
        Grain<float> grain;

        void process (const juce::dsp::ProcessContextReplacing<float>& context)
        {
            console.process (context);
            grain.process (context);
        }
    } both;

    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    both.grain.prepare (benchSpec());
    both.console.prepare (benchSpec());
    both.console.loadImpulseResponse (formats, BinaryData::console_impulse_wav,
                                      (size_t) BinaryData::console_impulse_wavSize);

    juce::AudioBuffer<float> silence (numChannels, blockSize);
    juce::dsp::AudioBlock<float> silentBlock (silence);

    for (int i = 0; i < 200 || both.console.getResponseLength() == 1; ++i)
    {
        if (i > 2000)
        {
            state.SkipWithError ("the console response was not installed");
            break;
        }

        silence.clear();
        both.process (juce::dsp::ProcessContextReplacing<float> (silentBlock));
        std::this_thread::sleep_for (std::chrono::microseconds (200));
    }

    runChunks (state, both);
}
} // namespace

BENCHMARK (BM_ConsoleConvolution);
BENCHMARK (BM_Grain);
BENCHMARK (BM_GrainDuringRamps)->Iterations (30);
BENCHMARK (BM_ColourStage);

BENCHMARK_MAIN();
