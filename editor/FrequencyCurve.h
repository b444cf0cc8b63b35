#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <complex>
#include <vector>

class MorvikAudioProcessor;

// The combined magnitude response of the three detector equaliser bands, drawn as a filled shape
// between the response and the 0 dB line plus a thin sliver at 0 dB, on the graph's axes.
//
// Band parameters change on any thread, host automation included, which calls listeners on the
// audio thread. So a change only marks the curve stale; the editor's timer calls rebuildIfStale on
// the message thread and repaints the graph when it rebuilt. Paths, magnitudes and painting are
// therefore message-thread only and need no lock.
class FrequencyCurve : public juce::Component, public juce::AudioProcessorValueTreeState::Listener
{
public:
    explicit FrequencyCurve (MorvikAudioProcessor& processor);
    ~FrequencyCurve() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Any thread: only marks the curve stale (one atomic store).
    void parameterChanged (const juce::String& parameterID, float newValue) override;

    // Message thread: rebuilds both paths from the bands' current coefficient sets. Allocates nothing.
    void drawFrequencyCurve();

    // Message thread: rebuilds when a band parameter changed, the sample rate differs from the one
    // the curve was drawn for, or a band had no coefficients yet; true when it did, and the caller
    // repaints the graph.
    bool rebuildIfStale();

    static constexpr int numPoints = 600;
    static constexpr int pointsPerOctave = 60;
    // Floor and ceiling of the drawn response; real band settings stay far inside both.
    static constexpr float floorDb = -100.0f;
    static constexpr float ceilingDb = 100.0f;

    MorvikAudioProcessor& audioProcessor;
    juce::ColourGradient lineGradient;
    juce::ColourGradient curveGradient;
    juce::Path curvePath;
    juce::Path zeroPath;
    std::vector<double> frequencies; // 20 Hz x 2^(i / 60)
    std::array<std::vector<double>, 3> bandMagnitudes; // last evaluated linear magnitude per band
    std::vector<double> totalMagnitude; // product over the bands that are on

private:
    std::atomic<bool> stale { false };
    // e^(-j 2 pi f / fs) at each frequency for the rate last drawn with; shared by the three bands.
    std::vector<std::complex<double>> unitCircle;
    double unitCircleRate = 0.0;
    // The rate the curve was drawn for; -1 while a band's coefficients for it were still missing.
    double drawnSampleRate = 0.0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FrequencyCurve)
};
