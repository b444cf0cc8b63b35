// The editor's drawing costs on the message thread: one rebuild of the band response curve, one
// repaint of the meter's history plot, and one redraw of the graph grid at the largest window.
// Each reports the heap allocations it makes per iteration: the curve rebuild and the building of
// the meter's shapes must make none.

#include "editor/Frame.h"
#include "editor/FrequencyCurve.h"
#include "editor/Meter.h"
#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/PluginProcessor.h"
#include "support/AllocationCounter.h"

#include <benchmark/benchmark.h>

#include <cmath>

//==============================================================================
namespace
{
// Allocations per iteration of `work` on this thread, measured once outside the timed loop.
template <typename Work>
double allocationsPer (int iterations, Work&& work)
{
    const allocation::Watch watch;
    for (int i = 0; i < iterations; ++i)
        work();
    return (double) watch.calls() / iterations;
}
} // namespace

//==============================================================================
namespace
{
void set (MorvikAudioProcessor& processor, int band, const char* suffix, float plainValue)
{
    auto* parameter = processor.apvts.getParameter (ParameterIds::band (band, suffix, false));
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
}

// 3 x 600 band evaluations and both paths, for the graph at the largest window (720 x 270).
void curveRebuild (benchmark::State& state)
{
    MorvikAudioProcessor processor;
    processor.prepareToPlay (48000.0, 512);
    set (processor, 1, ParameterIds::bandType, ParameterTable::valueOf (BandType::lowCut));
    set (processor, 2, ParameterIds::bandGain, 6.0f);
    set (processor, 3, ParameterIds::bandGain, -9.0f);

    FrequencyCurve curve (processor);
    curve.setSize (720, 270);

    for (auto _ : state)
    {
        curve.drawFrequencyCurve();
        benchmark::DoNotOptimize (curve.curvePath.getBounds());
    }

    state.counters["allocations"] = allocationsPer (100, [&] { curve.drawFrequencyCurve(); });
}

// The curve's two filled shapes painted into the graph's area.
void curvePaint (benchmark::State& state)
{
    MorvikAudioProcessor processor;
    processor.prepareToPlay (48000.0, 512);
    set (processor, 2, ParameterIds::bandGain, 6.0f);
    FrequencyCurve curve (processor);
    curve.setSize (720, 270);
    juce::Image image (juce::Image::ARGB, 720, 270, true);

    for (auto _ : state)
    {
        juce::Graphics g (image);
        curve.paint (g);
    }
}

// One repaint of the history plot at the largest window's meter size (413 x 413), with reduction.
void meterRepaint (benchmark::State& state)
{
    Meter meter;
    meter.setSize (413, 413);
    auto& needle = meter.needle;
    for (size_t i = 0; i < needle.historyA.size(); ++i)
    {
        needle.historyA[i] = -6.0f - 5.0f * std::sin (0.15f * (float) i);
        needle.historyB[i] = 8.0f + 6.0f * std::sin (0.3f * (float) i);
    }
    juce::Image image (juce::Image::ARGB, 413, 413, true);

    for (auto _ : state)
    {
        juce::Graphics g (image);
        needle.paint (g);
    }

    state.counters["allocations"] = allocationsPer (100, [&] {
        juce::Graphics g (image);
        needle.paint (g);
    });
    state.counters["shapeAllocations"] = allocationsPer (100, [&] { needle.buildPaths(); });
}

// One redraw of the grid: the whole image (1800 x 1060), and the graph at the largest window.
void gridRedraw (benchmark::State& state)
{
    Frame frame;
    frame.setSize ((int) state.range (0), (int) state.range (1));

    for (auto _ : state)
        frame.resized();
}
} // namespace

BENCHMARK (curveRebuild)->Unit (benchmark::kMicrosecond);
BENCHMARK (curvePaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (meterRepaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (gridRedraw)->Args ({ 1800, 1060 })->Args ({ 720, 270 })->Unit (benchmark::kMicrosecond);
// The framework stays up for the whole run and goes before static destruction begins.
int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI framework;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
