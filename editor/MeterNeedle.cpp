#include "editor/MeterNeedle.h"

#include "editor/Look.h"

#include <cmath>
#include <tuple>

MeterNeedle::MeterNeedle()
{
    // 80 points of three values each (a marker and two coordinates), so building never grows them.
    for (auto* path : { &pathA1, &pathA2, &pathB1, &pathB2 })
        path->preallocateSpace (3 * (int) historyA.size() + 8);
    for (auto* shape : { &shapeA, &shapeB })
        shape->preallocateSpace (6 * (int) historyA.size() + 8);
}

void MeterNeedle::setMode (int)
{
    minDb = -30;
    repaint();
}

void MeterNeedle::resized()
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    gradient = juce::ColourGradient (transparentPelko, 0.5f * w, 0.1f * h, purplePelko, 0.5f * w, 0.7f * h, false);

    historyA.fill (0.0f);
    historyB.fill (0.0f);
    repaint();
}

void MeterNeedle::buildPaths() noexcept
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    const float cx = 0.5f * w, cy = 0.5f * h;
    const float baseRadius = 0.08f * juce::jmin (w, h) + 0.02f * h;
    const float maxRadius = 0.49f * h;
    const float scale = 3.0f * baseRadius - 0.01f * baseRadius;
    const float offset = 0.01f * baseRadius;
    const auto range = (float) (maxDb - minDb);
    const auto halfPi = juce::MathConstants<float>::halfPi;
    const auto pi = juce::MathConstants<float>::pi;

    // A value of 0 sits at three base radii; reduction pushes outwards, level pulls inwards. A
    // radius that is negative (or not a number) collapses to the centre; none leaves the meter.
    const auto radiusFor = [&] (float value) {
        const float r = (-value - (float) minDb) * scale / range + offset;
        return r > 0.0f ? juce::jmin (r, maxRadius) : 0.0f;
    };

    for (auto* path : { &pathA1, &pathA2, &pathB1, &pathB2, &shapeA, &shapeB })
        path->clear();

    const auto count = historyA.size();
    for (size_t i = 0; i < count; ++i)
    {
        // The first half of the history sweeps the upper half evenly; the older half spreads
        // quickly past the middle and slows towards the bottom.
        const float t = (float) i / (float) (count - 1);
        float angle;
        if (t <= 0.5f)
        {
            angle = 2.0f * t * halfPi - halfPi;
        }
        else
        {
            const float u = 2.0f * (t - 0.5f);
            angle = pi * u - halfPi * u * u;
        }

        const float rA = radiusFor (historyA[i]);
        const float rB = radiusFor (historyB[i]);
        const float s = std::sin (angle), c = std::cos (angle);

        const juce::Point<float> points[] = { { cx - c * rA, cy + s * rA },
                                              { cx + c * rA, cy + s * rA },
                                              { cx - c * rB, cy + s * rB },
                                              { cx + c * rB, cy + s * rB } };
        juce::Path* paths[] = { &pathA1, &pathA2, &pathB1, &pathB2 };

        for (size_t p = 0; p < 4; ++p)
        {
            if (i == 0)
                paths[p]->startNewSubPath (points[p]);
            else
                paths[p]->lineTo (points[p]);
        }
    }

    // Filling closes each half along the chord from its first to its last point.
    for (auto [shape, left, right] : { std::tuple { &shapeA, &pathA1, &pathA2 }, { &shapeB, &pathB1, &pathB2 } })
    {
        shape->addPath (*left);
        shape->closeSubPath();
        shape->addPath (*right);
        shape->closeSubPath();
    }
}

void MeterNeedle::paint (juce::Graphics& g)
{
    buildPaths();

    // The red darkens fully with no current reduction and is at full strength from 1 dB on.
    const float reduction = std::abs (historyA[0]);
    g.setColour (redPelko.darker (reduction < 1.0f ? 1.0f - reduction : 0.0f));
    g.fillPath (shapeA);

    const juce::PathStrokeType outline (3.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt);
    g.setColour (blackOpacityPelko);
    g.strokePath (pathA1, outline);
    g.strokePath (pathA2, outline);

    g.setGradientFill (gradient);
    g.fillPath (shapeA);

    g.setColour (greyDownPelko);
    g.fillPath (shapeB);

    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    g.fillEllipse (0.28f * w, 0.28f * h, 0.44f * w, 0.44f * h);
}
