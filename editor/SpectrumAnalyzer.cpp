#include "editor/SpectrumAnalyzer.h"

#include "editor/Look.h"
#include "engine/dsp/FrequencyMapping.h"
#include "engine/plugin/PluginProcessor.h"

#include <cmath>

SpectrumAnalyzer::SpectrumAnalyzer (MorvikAudioProcessor& processor)
    : audioProcessor (processor)
{
    averager.clear();
    fftPoints.resize ((size_t) numBins);
    {
        const juce::ScopedLock lock (pathLock);
        spectrumPath.preallocateSpace (fftSize);
    }
    setPaintingIsUnclipped (true);
    // About 30 frames a second, the rate the feed is drained and the display redrawn at.
    constexpr int tickMs = 33;
    startTimer (tickMs);
}

SpectrumAnalyzer::~SpectrumAnalyzer() { stopTimer(); }

void SpectrumAnalyzer::resized()
{
    settleCountdown = settleTicks;
    const auto width = (float) getWidth(), height = (float) getHeight();
    spectrumGradient = juce::ColourGradient (blueSpectre, width * 0.5f, height * 0.3f, blueSpectreDark, width * 0.5f,
                                             height * 0.9f, false);
}

//==============================================================================
void SpectrumAnalyzer::timerCallback()
{
    // Without fresh data nothing moves, not even the settling: the last picture stays.
    if (! isVisible() || ! audioProcessor.analyserDataReady.load())
        return;

    // After a resize the display waits for the size to settle before it maps the new width; the
    // feed is not read meanwhile.
    if (settleCountdown > 0)
    {
        if (--settleCountdown == 0)
            rebuildColumnMap();
        return;
    }

    while (audioProcessor.analyserFifo.getNumReady() >= fftSize)
        processFrame();

    audioProcessor.analyserDataReady.store (false);
    repaint();
}

void SpectrumAnalyzer::processFrame()
{
    auto& fifo = audioProcessor.analyserFifo;
    fftData.clear();
    float* frame = fftData.getWritePointer (0);
    const float* feed = audioProcessor.analyserBuffer.getReadPointer (0);

    int start1, size1, start2, size2;
    fifo.prepareToRead (fftSize, start1, size1, start2, size2);
    if (size1 > 0)
        juce::FloatVectorOperations::copy (frame, feed + start1, size1);
    if (size2 > 0)
        juce::FloatVectorOperations::copy (frame + size1, feed + start2, size2);
    // Release only half, so the next frame starts 2048 samples later and frames overlap by half.
    fifo.finishedRead ((size1 + size2) / 2);

    window.multiplyWithWindowingTable (frame, (size_t) fftSize);
    fft.performFrequencyOnlyForwardTransform (frame);

    // Scaled so that the sum of four frames shows a bin-centred sine at its peak amplitude: the
    // normalised window sums to 4096, so such a sine's bin holds 2048 x its amplitude.
    const float scale = 1.0f / (float) (numBins * numHistoryFrames);
    for (int bin = 0; bin < numBins; ++bin)
    {
        // A non-finite sample (a host feeding NaN or infinity) would poison the running sum for
        // good; such a frame counts as silence instead.
        const float magnitude = frame[bin] * scale;
        frame[bin] = std::isfinite (magnitude) ? magnitude : 0.0f;
    }

    const juce::ScopedLock lock (pathLock);
    averager.addFrom (0, 0, averager, averagerIndex, 0, numBins, -1.0f);
    averager.copyFrom (averagerIndex, 0, frame, numBins);
    averager.addFrom (0, 0, averager, averagerIndex, 0, numBins);
    averagerIndex = averagerIndex % numHistoryFrames + 1;
}

void SpectrumAnalyzer::rebuildColumnMap()
{
    const float scale = (float) getWidth() / FrequencyMapping::numOctaves;
    const float rate = (float) audioProcessor.sampleRate.load();

    // The graph's axis: ten octaves from 20 Hz. A bin at or below 20 Hz (DC, or every bin while no
    // rate is known) belongs to column 0; halves round to the even neighbour.
    const auto columnOf = [scale, rate] (int bin) {
        const float octaves = FrequencyMapping::octavesAbove ((float) bin * rate / (float) fftSize);
        if (! (octaves > 0.0f))
            return 0;
        return (int) std::lrint (juce::jmin (scale * octaves + 0.5f, 1.0e9f));
    };

    int bin = 0, x = 0, k = 0;
    while (bin < numBins)
    {
        auto& point = fftPoints[(size_t) k];
        point.firstBin = bin;
        point.x = x;

        int column = x;
        do
        {
            ++bin;
            column = columnOf (bin);
        } while (column <= x && bin < numBins);

        point.lastBin = bin - 1;
        ++k;
        x = column;
    }

    numPoints = k;
}

//==============================================================================
void SpectrumAnalyzer::paint (juce::Graphics& g)
{
    if (! isVisible() || settleCountdown > 0)
        return;

    const juce::ScopedLock lock (pathLock);
    const auto width = (float) getWidth(), height = (float) getHeight();

    // The shape is closed far below and to the left of the component, so only its top edge shows.
    spectrumPath.clear();
    spectrumPath.startNewSubPath (width, 800.0f);

    // A new column count starts every column at the top edge, from where it sinks to the signal.
    if (smoothed.size() != (size_t) numPoints)
        smoothed.assign ((size_t) numPoints, 0.0f);

    const float* levels = averager.getReadPointer (0);
    for (int i = numPoints - 1; i >= 0; --i)
    {
        const auto& point = fftPoints[(size_t) i];

        float level = 0.0f;
        for (int bin = point.firstBin; bin <= point.lastBin; ++bin)
            level = juce::jmax (level, levels[bin]);

        const float db = level > 0.0f ? juce::jmax (20.0f * std::log10 (level), -60.0f) : -60.0f;
        const float y = (db + 60.0f) * -height / 66.0f + height + 0.5f;

        // Rises at once, falls at a 20:1 rate per paint.
        auto& shown = smoothed[(size_t) i];
        shown = y < shown ? y : (shown * 20.0f + y) / 21.0f;

        spectrumPath.lineTo ((float) point.x, shown);
    }

    spectrumPath.lineTo (-width, height);

    outlineStroke.createStrokedPath (outlinePath, spectrumPath.createPathWithRoundedCorners (70.0f), {}, 1.0f);
    g.setColour (purpleCurveDark);
    g.fillPath (outlinePath);

    g.setGradientFill (spectrumGradient);
    g.fillPath (spectrumPath.createPathWithRoundedCorners (30.0f));
}
