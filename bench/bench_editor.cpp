// The editor's cost on the message thread: opening it (construction, layout and the first frame of
// the whole window, every child included) and one full repaint at the default and the largest size,
// all with the software renderer.

#include "editor/PluginEditor.h"
#include "engine/plugin/PluginProcessor.h"

#include <benchmark/benchmark.h>

namespace
{
std::unique_ptr<MorvikAudioProcessor> makeProcessor()
{
    auto processor = std::make_unique<MorvikAudioProcessor>();
    processor->setRateAndBufferSizeDetails (48000.0, 512);
    processor->prepareToPlay (48000.0, 512);
    return processor;
}

// Paints the whole window, children included, into a software image, as a host's first frame would.
void paintWindow (juce::Component& editor, juce::Image& frame)
{
    juce::Graphics g (frame);
    editor.paintEntireComponent (g, true);
}

// Construction to the first painted frame. "cold" drops the artwork from the image cache first, as
// in the first window a process opens; "warm" is a reopened window.
void openEditor (benchmark::State& state)
{
    const bool cold = state.range (0) != 0;
    auto processor = makeProcessor();
    juce::Image frame (juce::Image::ARGB, 900, 530, true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        if (cold)
        {
            state.PauseTiming();
            juce::ImageCache::releaseUnusedImages();
            state.ResumeTiming();
        }

        std::unique_ptr<juce::AudioProcessorEditor> editor (processor->createEditorIfNeeded());
        paintWindow (*editor, frame);
        benchmark::DoNotOptimize (frame.getPixelAt (450, 265));

        state.PauseTiming();
        editor.reset();
        state.ResumeTiming();
    }

    state.SetLabel (cold ? "cold image cache" : "warm image cache");
}
BENCHMARK (openEditor)->Arg (1)->Arg (0)->Unit (benchmark::kMillisecond)->Iterations (20);

// One full repaint of an open window at width x height.
void repaintEditor (benchmark::State& state)
{
    const int width = (int) state.range (0), height = (int) state.range (1);
    auto processor = makeProcessor();
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor->createEditorIfNeeded());
    editor->setSize (width, height);
    juce::Image frame (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());
    paintWindow (*editor, frame);

    for (auto _ : state)
    {
        paintWindow (*editor, frame);
        benchmark::DoNotOptimize (frame.getPixelAt (width / 2, height / 2));
    }

    state.counters["pixels"] = width * height;
}
BENCHMARK (repaintEditor)->Args ({ 900, 530 })->Args ({ 1800, 1060 })->Unit (benchmark::kMillisecond);

// The window's own background alone (gradients, textured panels, ring, border, logo), without the
// controls drawn over it.
void paintBackground (benchmark::State& state)
{
    const int width = (int) state.range (0), height = (int) state.range (1);
    auto processor = makeProcessor();
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor->createEditorIfNeeded());
    editor->setSize (width, height);
    juce::Image frame (juce::Image::ARGB, width, height, true, juce::SoftwareImageType());

    for (auto _ : state)
    {
        juce::Graphics g (frame);
        editor->paint (g);
        benchmark::DoNotOptimize (frame.getPixelAt (width / 2, height / 2));
    }
}
BENCHMARK (paintBackground)->Args ({ 900, 530 })->Args ({ 1800, 1060 })->Unit (benchmark::kMillisecond);
} // namespace

// The framework must be up for the whole run and shut down before static destruction.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI gui;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
