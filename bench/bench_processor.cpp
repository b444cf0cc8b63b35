// The whole processor's cost per stereo frame, driven directly (no host in between), at the rates
// and block sizes hosts commonly use, plus the heap one instance takes (created and prepared).

#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/PluginProcessor.h"
#include "support/AllocationCounter.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>

namespace
{
// Peak resident memory of this process so far, in KiB (Linux's VmHWM).
long peakResidentKiB()
{
    std::ifstream status ("/proc/self/status");
    for (std::string line; std::getline (status, line);)
        if (line.rfind ("VmHWM:", 0) == 0)
            return std::stol (line.substr (6));
    return -1;
}

void setParameter (MorvikAudioProcessor& processor, const char* id, float plainValue)
{
    auto* parameter = processor.apvts.getParameter (id);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
}

void processorCost (benchmark::State& state)
{
    const double rate = (double) state.range (0);
    const int block = (int) state.range (1);

    const auto before = allocation::liveBytes();
    auto processor = std::make_unique<MorvikAudioProcessor>();
    processor->setRateAndBufferSizeDetails (rate, block);
    processor->prepareToPlay (rate, block);
    const auto after = allocation::liveBytes();

    // A working setting: every stage runs, including two active detector bands and automatic
    // times. Otherwise the settings a host starts with, as bench_peers runs it.
    if (state.range (2) != 0)
    {
        setParameter (*processor, ParameterIds::compress, 24.0f);
        setParameter (*processor, ParameterIds::character, 60.0f);
        setParameter (*processor, ParameterIds::attack, ParameterIds::attackAuto);
        setParameter (*processor, ParameterIds::release, ParameterIds::releaseAuto);
        setParameter (*processor, "1Gain", -6.0f);
        setParameter (*processor, "2Gain", 4.0f);
    }

    juce::AudioBuffer<float> buffer (2, block);
    std::mt19937 random (3);
    std::normal_distribution<float> noise (0.0f, 0.1f);
    juce::AudioBuffer<float> source (2, 1 << 16);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < source.getNumSamples(); ++i)
            source.setSample (c, i, noise (random));

    juce::MidiBuffer midi;
    int position = 0;

    for (auto _ : state)
    {
        if (position + block > source.getNumSamples())
            position = 0;

        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, source, c, position, block);

        processor->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        position += block;
    }

    state.SetItemsProcessed (state.iterations() * block);
    state.counters["ns_per_frame"] = benchmark::Counter ((double) state.iterations() * block,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["instance_heap_KiB"] = (double) (after - before) / 1024.0;
    state.counters["peak_RSS_KiB"] = (double) peakResidentKiB();
}
} // namespace

BENCHMARK (processorCost)
    ->ArgsProduct ({ { 44100, 48000, 96000 }, { 32, 128, 512, 2048 }, { 1 } })
    ->ArgsProduct ({ { 48000 }, { 128, 512 }, { 0 } })
    ->ArgNames ({ "rate", "block", "working" })
    ->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
