#pragma once

#include <juce_core/juce_core.h>

// The one place that names Morvik's 24 parameters. The processor, the editor, the preset maker and
// the tests all take their identifiers from here, so a renamed parameter cannot be missed anywhere.
namespace ParameterIds
{
inline constexpr const char* power = "Power";
inline constexpr const char* compress = "Compress";
inline constexpr const char* ratio = "Ratio";
inline constexpr const char* attack = "Attack";
inline constexpr const char* release = "Release";
inline constexpr const char* makeup = "Makeup";
inline constexpr const char* character = "Character";
inline constexpr const char* mix = "Mix";
inline constexpr const char* smooth = "Smooth";

// The nine global parameters in the order the layout declares them.
inline constexpr const char* globals[] = { power, compress, ratio, attack, release, makeup, character, mix, smooth };

// The top of the Attack and Release ranges stands for automatic timing; their texts say "AUTO".
inline constexpr float attackAuto = 50.01f;
inline constexpr float releaseAuto = 1501.0f;

// Suffixes of the five parameters of each detector band, in the order the layout declares them.
inline constexpr const char* bandOn = "On";
inline constexpr const char* bandType = "Type";
inline constexpr const char* bandFreq = "Freq";
inline constexpr const char* bandGain = "Gain";
inline constexpr const char* bandQ = "Q";
inline constexpr const char* bandSuffixes[] = { bandOn, bandType, bandFreq, bandGain, bandQ };

// The identifier of band parameter `suffix` of band 1 to 3: "2Gain" and so on. LV2 names every
// parameter in its manifest, where a name cannot start with a digit, and the framework's LV2 wrapper
// would turn "1On", "2On" and "3On" all into "_On"; the LV2 build calls them "Band1On" etc. instead,
// and reads stored states and presets under either name.
inline juce::String band (int bandNumber, const juce::String& suffix, bool lv2Names)
{
    return (lv2Names ? "Band" : "") + juce::String (bandNumber) + suffix;
}
} // namespace ParameterIds
