// The spectrum analyser's message-thread cost: one drained frame (the transform and the four-frame
// average, plus handing the frame's 2048 new samples to the feed) and one paint at the graph's
// default and largest widths. At 48 kHz the feed completes 48000 / 2048 = 23.4 frames a second and
// the 33 ms timer paints about 30 times a second.

#include "editor/SpectrumAnalyzer.h"
#include "engine/plugin/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace
{
constexpr int hop = SpectrumAnalyzer::fftSize / 2;

// Writes samples into the feed as the audio thread does and raises the ready flag.
void feed (MorvikAudioProcessor& processor, const float* samples, int numSamples)
{
    juce::AudioBuffer<float> block (const_cast<float**> (&samples), 1, numSamples);
    processor.pushNextSampleToFifo (block, 1, processor.analyserFifo, processor.analyserBuffer);
}

// A music-like mix: a bass note, a chord with its overtones and some noise.
std::vector<float> mix (double rate, int numSamples)
{
    std::mt19937 rng (5);
    std::normal_distribution<float> noise (0.0f, 0.05f);
    std::vector<float> samples ((size_t) numSamples);
    for (int i = 0; i < numSamples; ++i)
    {
        const double t = i / rate, w = juce::MathConstants<double>::twoPi * t;
        double s = 0.3 * std::sin (55.0 * w);
        for (double f : { 261.6, 329.6, 392.0 })
            for (int h = 1; h <= 5; ++h)
                s += 0.05 / h * std::sin (f * h * w);
        samples[(size_t) i] = (float) s + noise (rng);
    }
    return samples;
}

struct Fixture
{
    explicit Fixture (int width)
    {
        processor.prepareToPlay (48000.0, 512);
        processor.resizeAnalyserFeed (48000);
        analyser.setVisible (true);
        analyser.setSize (width, (int) (width * 0.375f));
        for (int tick = 0; tick < SpectrumAnalyzer::settleTicks; ++tick)
        {
            processor.analyserDataReady = true;
            analyser.timerCallback();
        }
        // Four frames of signal in the average, so the paint draws a real spectrum.
        feed (processor, signal.data(), 5 * hop);
        analyser.timerCallback();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    SpectrumAnalyzer analyser { processor };
    std::vector<float> signal = mix (48000.0, 48000);
};

void drainedFrame (benchmark::State& state)
{
    Fixture fixture (360);
    int position = 0;
    for (auto _ : state)
    {
        // One hop of new samples completes exactly one frame with the half left from the last.
        feed (fixture.processor, fixture.signal.data() + position, hop);
        fixture.analyser.timerCallback();
        position = (position + hop) % (48000 - hop);
    }
    state.counters["frames_per_s_at_48k"] = 48000.0 / hop;
}

void paint (benchmark::State& state)
{
    Fixture fixture ((int) state.range (0));
    juce::Image image (juce::Image::ARGB, fixture.analyser.getWidth(), fixture.analyser.getHeight(), true,
                       juce::SoftwareImageType());
    juce::Graphics g (image);
    for (auto _ : state)
        fixture.analyser.paint (g);
    state.counters["columns"] = fixture.analyser.numPoints;
}
} // namespace

BENCHMARK (drainedFrame)->Unit (benchmark::kMicrosecond);
BENCHMARK (paint)->Arg (360)->Arg (720)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
