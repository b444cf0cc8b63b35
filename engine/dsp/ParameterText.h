#pragma once

#include "engine/dsp/ParameterIds.h"

#include <juce_core/juce_core.h>

#include <cstdio>

// How the parameters' values are written as text (the parameter table names each parameter's rule).
// Free functions with the framework's signature, so that hosts, the editor and the tests all see
// exactly the same texts. Each ignores the maximum length: hosts always get the whole text.
namespace ParameterText
{
namespace detail
{
// Fixed notation with d decimals, the way the standard library rounds it.
inline juce::String fixed (double value, int decimals)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.*f", decimals, value);
    return text;
}

// The standard library's default notation: six significant digits, no trailing zeros.
inline juce::String general (double value)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%g", value);
    return text;
}
} // namespace detail

inline juce::String compress (float value, int) { return detail::fixed (value, 1) + " dB"; }

inline juce::String ratio (float value, int)
{
    if (value > 19.9f)
        return "LIMITER";
    return detail::fixed (value, 1);
}

inline juce::String attack (float value, int)
{
    if (value == ParameterIds::attackAuto)
        return "AUTO";
    return detail::fixed (value, 2) + " ms";
}

inline juce::String release (float value, int)
{
    if (value == ParameterIds::releaseAuto)
        return "AUTO";
    if (value <= 100.0f)
        return detail::fixed (value, 2) + " ms";
    if (value >= 1000.0f)
        return detail::fixed (value * 0.001f, 2) + " s";
    return detail::fixed (value, 1) + " ms";
}

inline juce::String makeup (float value, int) { return detail::fixed (value, 1) + " dB "; }

inline juce::String character (float value, int)
{
    if (value == 0.0f)
        return "CLEAN";
    if (value == 100.0f)
        return "HOT !";
    return detail::fixed (value, 1) + " %";
}

inline juce::String mix (float value, int) { return detail::fixed (value * 100.0f, 1) + " %"; }

inline juce::String smooth (float value, int) { return juce::String ((int) value) + " %"; }

inline juce::String bandFrequency (float value, int)
{
    if (value < 100.0f)
        return detail::fixed (value, 1) + " Hz";
    if (value < 1000.0f)
        return detail::general (value) + " Hz";
    if (value < 10000.0f)
        return detail::fixed (value / 1000.0f, 2) + " kHz";
    if (value < 20000.0f)
        return detail::fixed (value / 1000.0f, 1) + " kHz";
    return "20 kHz";
}

inline juce::String bandGain (float value, int) { return detail::fixed (value, 2) + " dB"; }

inline juce::String bandQ (float value, int) { return detail::fixed (value, 2); }

// The leading decimal number of a text, 0 when it starts with none.
inline float leadingNumber (const juce::String& text) { return text.getFloatValue(); }
} // namespace ParameterText
