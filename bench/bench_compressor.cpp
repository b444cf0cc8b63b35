#include "engine/dsp/Compressor.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int frames = 512;

void fillSignal (juce::AudioBuffer<float>& buffer, double frequency, double amplitudeRate)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
    {
        auto* data = buffer.getWritePointer (c);

        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const double t = (double) i / sampleRate;
            const double envelope = 0.5 + 0.45 * std::sin (2.0 * juce::MathConstants<double>::pi * amplitudeRate * t);
            data[i] =
                (float) (envelope * std::sin (2.0 * juce::MathConstants<double>::pi * frequency * (1.0 + 0.1 * c) * t));
        }
    }
}

// One 512-frame stereo chunk per iteration. Argument 0: manual times; 1: automatic attack and release.
void compressorProcess (benchmark::State& state)
{
    juce::ScopedNoDenormals noDenormals;

    const bool automatic = state.range (0) != 0;

    Compressor compressor;
    compressor.prepare (sampleRate, frames);
    compressor.stereoLink = 50.0f;
    compressor.gainComputer.threshold = -18.0f;
    compressor.gainComputer.ratio = 4.0f;
    compressor.gainComputer.slope = -0.75f;
    compressor.levelDetector.autoAttack = automatic;
    compressor.levelDetector.autoRelease = automatic;
    compressor.levelDetector.setAttack (0.01);
    compressor.levelDetector.setRelease (0.15);
    compressor.makeupDb = 4.0f;
    compressor.mix = 0.8f;

    juce::AudioBuffer<float> source (2, frames), audio (2, frames), detector (2, frames);
    fillSignal (source, 440.0, 3.0);
    fillSignal (detector, 110.0, 7.0);

    for (auto _ : state)
    {
        audio.copyFrom (0, 0, source, 0, 0, frames);
        audio.copyFrom (1, 0, source, 1, 0, frames);
        compressor.process (audio, detector);
        benchmark::DoNotOptimize (audio.getReadPointer (0));
        benchmark::DoNotOptimize (compressor.gainReductionDb);
        benchmark::ClobberMemory();
    }

    const auto processedFrames = (int64_t) state.iterations() * frames;
    state.SetItemsProcessed (processedFrames);
    // Seconds per frame; the console shows it with an SI prefix ("n" is nanoseconds).
    state.counters["time_per_frame"] =
        benchmark::Counter ((double) processedFrames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
} // namespace

BENCHMARK (compressorProcess)->ArgName ("automatic")->Arg (0)->Arg (1);

BENCHMARK_MAIN();
