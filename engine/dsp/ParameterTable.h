#pragma once

#include "engine/dsp/ParameterIds.h"
#include "engine/dsp/ParameterText.h"

#include <juce_core/juce_core.h>

#include <iterator>

// Every fact about Morvik's 24 parameters: identifier, name, kind, range, default, label and how the
// value is written as text. The parameter layout builds the tree from this table, the preset maker
// checks its sources against it, and the editor and the tests read it. It needs nothing but the
// framework's core, so that the preset maker, which runs before the plug-in is built, can read it.

// The filter types of a detector band, in the order of the Type parameter's choices: the plain value
// of a band's Type is the index here.
enum class BandType
{
    lowCut,
    lowShelf,
    peak,
    highShelf,
    highCut
};

namespace ParameterTable
{
namespace ids = ParameterIds;
namespace text = ParameterText;

inline constexpr const char* bandTypeNames[] = { "Low Cut", "Low Shelf", "Peak", "High Shelf", "High Cut" };
inline constexpr int numBandTypes = (int) std::size (bandTypeNames);
static_assert (numBandTypes == (int) BandType::highCut + 1);

constexpr float valueOf (BandType type) noexcept { return (float) type; }

// While the editor is open, a change of a band's gain picks the band's type: below -23 dB bands 1 and
// 3 cut and band 2 is a low shelf; from -23 dB up bands 1 and 3 shelve and band 2 is a peak. Factory
// presets keep to the same rule, so that they load alike with the editor open or closed.
inline constexpr double couplingThresholdDb = -23.0;

constexpr BandType coupledType (int band, bool belowThreshold) noexcept
{
    if (band == 1)
        return belowThreshold ? BandType::lowCut : BandType::lowShelf;
    if (band == 2)
        return belowThreshold ? BandType::lowShelf : BandType::peak;
    return belowThreshold ? BandType::highCut : BandType::highShelf;
}

enum class Kind
{
    toggle,
    choice,
    number
};

using TextFunction = juce::String (*) (float value, int maximumLength);

struct Row
{
    int band; // 1 to 3 for a detector band's parameter, 0 for a global one
    const char* key; // a global parameter's identifier, a band parameter's suffix (ParameterIds::band)
    const char* name; // what hosts show; a band parameter's name is "Band<n> " and this
    Kind kind;
    // Step 0: no step of its own (the band frequencies' ten-octave mapping decides).
    float start, end, step, skew;
    float defaultValue;
    const char* label;
    TextFunction toText; // null: the framework's own texts ("On" or "Off", the choice's name)
};

// What each band's five parameters share, whichever band they belong to (forBand adds the rest).
namespace bandParameter
{
inline constexpr Row on { 0, ids::bandOn, "On", Kind::toggle, 0, 1, 1, 1, 1, "On", nullptr };
inline constexpr Row type { 0, ids::bandType, "Type", Kind::choice, 0, numBandTypes - 1, 1, 1, 0, "Type", nullptr };
inline constexpr Row freq {
    0, ids::bandFreq, "Freq", Kind::number, 20, 20000, 0, 1, 0, "Frequency", text::bandFrequency
};
inline constexpr Row gain { 0, ids::bandGain, "Gain", Kind::number, -24, 24, 0.01f, 1, 0, "Gain", text::bandGain };
inline constexpr Row q { 0, ids::bandQ, "Q", Kind::number, 0.2f, 20, 0.01f, 0.1f, 0, "Q", text::bandQ };
} // namespace bandParameter

constexpr Row forBand (int band, Row shared, float defaultValue) noexcept
{
    shared.band = band;
    shared.defaultValue = defaultValue;
    return shared;
}

// The 24 parameters in the order of the parameter tree.
inline constexpr Row rows[] = {
    { 0, ids::power, "On Button", Kind::toggle, 0, 1, 1, 1, 1, "", nullptr },
    { 0, ids::compress, "Compress", Kind::number, 0, 70, 0.1f, 1, 15, "", text::compress },
    { 0, ids::ratio, "Ratio", Kind::number, 1.1f, 20, 0.1f, 0.5f, 4, "", text::ratio },
    { 0, ids::attack, "Attack", Kind::number, 0, ids::attackAuto, 0.01f, 0.5f, 10, "ms", text::attack },
    { 0, ids::release, "Release", Kind::number, 5, ids::releaseAuto, 1, 0.35f, 40, "", text::release },
    { 0, ids::makeup, "Makeup", Kind::number, -8, 30, 0.1f, 1, 2, "", text::makeup },
    { 0, ids::character, "Character", Kind::number, 0, 100, 1, 1, 30, "%", text::character },
    { 0, ids::mix, "Mix", Kind::number, 0, 1, 0.001f, 1, 1, "%", text::mix },
    { 0, ids::smooth, "Smooth", Kind::number, 0, 100, 1, 1, 50, "%", text::smooth },

    forBand (1, bandParameter::on, 1),
    forBand (1, bandParameter::type, valueOf (BandType::lowShelf)),
    forBand (1, bandParameter::freq, 100),
    forBand (1, bandParameter::gain, 0),
    forBand (1, bandParameter::q, 0.8f),

    forBand (2, bandParameter::on, 1),
    forBand (2, bandParameter::type, valueOf (BandType::peak)),
    forBand (2, bandParameter::freq, 700),
    forBand (2, bandParameter::gain, 0),
    forBand (2, bandParameter::q, 1),

    forBand (3, bandParameter::on, 1),
    forBand (3, bandParameter::type, valueOf (BandType::highShelf)),
    forBand (3, bandParameter::freq, 4000),
    forBand (3, bandParameter::gain, 0),
    forBand (3, bandParameter::q, 0.8f),
};
static_assert (std::size (rows) == 24);

// The identifier lists of ParameterIds name the parameters in the table's order.
constexpr bool listsFollowTable() noexcept
{
    for (size_t i = 0; i < std::size (ids::globals); ++i)
        if (rows[i].key != ids::globals[i])
            return false;
    for (size_t i = 0; i < std::size (ids::bandSuffixes); ++i)
        if (rows[std::size (ids::globals) + i].key != ids::bandSuffixes[i])
            return false;
    return true;
}
static_assert (listsFollowTable());

// A row's identifier; see ParameterIds::band for the LV2 build's band identifiers.
inline juce::String idOf (const Row& row, bool lv2Names)
{
    return row.band == 0 ? juce::String (row.key) : ParameterIds::band (row.band, row.key, lv2Names);
}

inline juce::String nameOf (const Row& row)
{
    return row.band == 0 ? juce::String (row.name) : "Band" + juce::String (row.band) + " " + row.name;
}
} // namespace ParameterTable
