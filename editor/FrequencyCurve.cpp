#include "editor/FrequencyCurve.h"

#include "editor/Look.h"
#include "editor/Utils.h"
#include "engine/plugin/PluginProcessor.h"

#include <algorithm>
#include <cmath>

namespace
{
// Every path holds one marker and two coordinates per point: the start, 599 points, two corners
// and the closing marker.
constexpr int pathSpace = 3 * FrequencyCurve::numPoints + 8;

template <typename Function>
void forEachBandParameter (MorvikAudioProcessor& processor, Function&& function)
{
    for (auto& band : processor.bands)
        for (auto* id : { &band.onId, &band.typeId, &band.freqId, &band.gainId, &band.qId })
            function (id->toString());
}
} // namespace

FrequencyCurve::FrequencyCurve (MorvikAudioProcessor& processor)
    : audioProcessor (processor),
      frequencies ((size_t) numPoints),
      totalMagnitude ((size_t) numPoints, 1.0),
      unitCircle ((size_t) numPoints)
{
    setPaintingIsUnclipped (true);

    for (size_t i = 0; i < frequencies.size(); ++i)
        frequencies[i] = FrequencyMapping::hzAt ((double) i / (double) pointsPerOctave);

    for (auto& magnitudes : bandMagnitudes)
        magnitudes.assign ((size_t) numPoints, 1.0);

    curvePath.preallocateSpace (pathSpace);
    zeroPath.preallocateSpace (pathSpace);

    forEachBandParameter (audioProcessor,
                          [this] (const juce::String& id) { audioProcessor.apvts.addParameterListener (id, this); });
}

FrequencyCurve::~FrequencyCurve()
{
    forEachBandParameter (audioProcessor,
                          [this] (const juce::String& id) { audioProcessor.apvts.removeParameterListener (id, this); });
}

void FrequencyCurve::parameterChanged (const juce::String&, float) { stale.store (true, std::memory_order_release); }

bool FrequencyCurve::rebuildIfStale()
{
    // Cleared before rebuilding: a change that lands during the rebuild marks it stale again. The
    // engine's preparation announces neither a new rate nor the sets it recomputes for it; a rate
    // that differs from the one drawn with brings the curve up to date at the next tick.
    const bool changed = stale.exchange (false, std::memory_order_acq_rel);
    if (! changed && audioProcessor.sampleRate.load() == drawnSampleRate)
        return false;

    drawFrequencyCurve();
    return true;
}

void FrequencyCurve::resized()
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    curveGradient = juce::ColourGradient (purpleCurveDark, w / 2.0f, h / 2.0f, purpleCurve, 0.0f, 0.0f, true);
    lineGradient = juce::ColourGradient (purpleCurveDark, w / 2.0f, h / 2.0f, purpleCurveLight, 0.0f, 0.0f, true);
    drawFrequencyCurve();
}

void FrequencyCurve::drawFrequencyCurve()
{
    const double rate = audioProcessor.sampleRate.load();

    if (rate != unitCircleRate && rate > 0.0)
    {
        for (size_t i = 0; i < unitCircle.size(); ++i)
            unitCircle[i] = std::polar (1.0, -juce::MathConstants<double>::twoPi * frequencies[i] / rate);
        unitCircleRate = rate;
    }

    drawnSampleRate = rate;
    std::fill (totalMagnitude.begin(), totalMagnitude.end(), 1.0);

    // Until a rate is known there is no response to show (the Standalone without an audio device
    // never learns one): the curve stays flat.
    for (size_t b = 0; b < bandMagnitudes.size() && rate > 0.0; ++b)
    {
        auto& band = audioProcessor.bands[b];
        if (! (band.on->load() > 0.5f))
            continue;

        // A set of zeros is one the engine has not computed for this rate yet; the band counts as
        // flat, and the curve is drawn again at the next tick, when the set may have arrived.
        const auto set = band.readCoefficients();
        if (std::all_of (set.begin(), set.end(), [] (float c) { return c == 0.0f; }))
        {
            drawnSampleRate = -1.0;
            continue;
        }

        // |(b0 + b1 z + b2 z^2) / (1 + a1 z + a2 z^2)| at z = e^(-jw), from one consistent set.
        auto& magnitudes = bandMagnitudes[b];
        const double b0 = set[0], b1 = set[1], b2 = set[2], a1 = set[3], a2 = set[4];

        for (size_t i = 0; i < magnitudes.size(); ++i)
        {
            const auto z = unitCircle[i];
            const auto z2 = z * z;
            magnitudes[i] = std::abs ((b0 + b1 * z + b2 * z2) / (1.0 + a1 * z + a2 * z2));
        }

        juce::FloatVectorOperations::multiply (totalMagnitude.data(), magnitudes.data(), numPoints);
    }

    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const float zeroY = graphY (0.0f, h) - 0.5f;

    curvePath.clear();
    zeroPath.clear();
    curvePath.startNewSubPath (0.0f, h / 2.0f);
    zeroPath.startNewSubPath (0.0f, h / 2.0f);

    // Point 0 at 20 Hz is not drawn: the start at the left edge stands in for it.
    for (size_t i = 1; i < frequencies.size(); ++i)
    {
        const float x = graphX ((float) frequencies[i], w);
        const auto m = (float) totalMagnitude[i];
        // Zero, not-a-number and underflow all count as the floor; infinity stops at the ceiling.
        const float db = m > 0.0f ? juce::jlimit (floorDb, ceilingDb, 20.0f * std::log10 (m)) : floorDb;

        curvePath.lineTo (x, graphY (db, h) - 0.5f);
        zeroPath.lineTo (x, zeroY);
    }

    for (auto* path : { &curvePath, &zeroPath })
    {
        path->lineTo (w, h / 2.0f);
        path->lineTo (0.0f, h / 2.0f);
        path->closeSubPath();
    }
}

void FrequencyCurve::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();

    // Keeps the centre in place, doubles the gradients' horizontal reach and shrinks their vertical
    // reach to a fifth: the radial gradients become wide flat ellipses.
    const juce::AffineTransform stretch (2.0f, 0.0f, -0.5f * w, 0.0f, 0.2f, 0.4f * h);

    g.setFillType (juce::FillType (curveGradient).transformed (stretch));
    g.fillPath (curvePath);
    g.setFillType (juce::FillType (lineGradient).transformed (stretch));
    g.fillPath (zeroPath);
}
