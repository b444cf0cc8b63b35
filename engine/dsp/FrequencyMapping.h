#pragma once

#include <juce_core/juce_core.h>

#include <cmath>

// The ten-octave logarithmic axis from 20 Hz to 20480 Hz that the band frequencies and the editor's
// graph share: the frequency parameters map their normalised value along it, and the grid, the
// analyser and the response curve place frequencies on it.
namespace FrequencyMapping
{
inline constexpr float lowestHz = 20.0f;
inline constexpr float numOctaves = 10.0f;

// The frequency `octaves` above 20 Hz.
inline float hzAt (float octaves) noexcept { return lowestHz * std::exp2 (octaves); }
inline double hzAt (double octaves) noexcept { return (double) lowestHz * std::pow (2.0, octaves); }

// How many octaves `hz` lies above 20 Hz. The parameters divide by 0.693147, a touch below ln 2
// (stored normalised values depend on it); the graph divides by ln 2 in float.
inline constexpr float ln2 = 0.6931472f, parameterLn2 = 0.693147f;
inline float octavesAbove (float hz, float logOfTwo = ln2) noexcept { return std::log (hz / lowestHz) / logOfTwo; }

// The band frequency parameters' mapping between normalised values and Hz.
inline float toHz (float normalised) noexcept { return hzAt (numOctaves * normalised); }
inline float toNormalised (float hz) noexcept { return octavesAbove (hz, parameterLn2) / numOctaves; }

inline juce::NormalisableRange<float> makeRange()
{
    return { lowestHz, 20000.0f, [] (float, float, float normalised) { return toHz (normalised); },
             [] (float, float, float hz) { return toNormalised (hz); } };
}
} // namespace FrequencyMapping
