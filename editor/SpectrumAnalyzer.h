#pragma once

#include <juce_dsp/juce_dsp.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

class MorvikAudioProcessor;

//==============================================================================
// The spectrum of the detector signal, drawn behind the equaliser graph. It reads the mono feed the
// engine fills (what the compressor listens to), cuts it into half-overlapping Hann-windowed frames
// of 4096 samples, averages the magnitudes of the last four frames and paints the loudest bin of
// every pixel column on the graph's ten-octave axis, from -60 dB at the bottom to +6 dB at the top.
// Everything runs on the message thread; the members are public so the tests can inspect them.
class SpectrumAnalyzer : public juce::Component, private juce::Timer
{
public:
    explicit SpectrumAnalyzer (MorvikAudioProcessor& processor);
    ~SpectrumAnalyzer() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // The 33 ms tick: settles after a resize, then drains every complete frame from the feed. Public
    // so that tests can step it instead of waiting for the clock.
    void timerCallback() override;

    // One pixel column of the display: the inclusive range of transform bins it shows and its x.
    struct fftPoint
    {
        int firstBin = 0;
        int lastBin = 120;
        int x = 0;
    };

    static constexpr int fftOrder = 12;
    static constexpr int fftSize = 1 << fftOrder;
    static constexpr int numBins = fftSize / 2;
    static constexpr int numHistoryFrames = 4;
    static constexpr int settleTicks = 5;

    MorvikAudioProcessor& audioProcessor;
    juce::ColourGradient spectrumGradient;
    int settleCountdown = 0;
    juce::dsp::FFT fft { fftOrder };
    juce::dsp::WindowingFunction<float> window { (size_t) fftSize, juce::dsp::WindowingFunction<float>::hann, true };
    juce::AudioBuffer<float> fftData { 1, 2 * fftSize };
    // Channel 0 is the running sum; channels 1 to 4 hold the last four scaled frames.
    juce::AudioBuffer<float> averager { numHistoryFrames + 1, numBins };
    int averagerIndex = 1;
    juce::Path spectrumPath;
    juce::Path outlinePath;
    juce::PathStrokeType outlineStroke { 10.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt };
    juce::CriticalSection pathLock;
    int numPoints = 0;
    std::vector<fftPoint> fftPoints;
    std::vector<float> smoothed;

private:
    void rebuildColumnMap();
    void processFrame();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SpectrumAnalyzer)
};
