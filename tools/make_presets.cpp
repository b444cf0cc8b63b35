// Factory preset maker: turns the readable preset sources (resources/presets/*.preset) into the
// binary value-tree files that the plug-in ships and loads (*.mrv).
//
//     morvik_make_presets <source folder> <output folder>
//
// A source holds one "id = value" line per parameter; "#" starts a comment. Every one of the 24
// parameters must be given exactly once, inside its range and on its step. Anything else stops the
// build with a message naming the file and line, so that a broken preset never ships. Nothing is
// written unless every source is valid.
//
// The parameter table below repeats the plug-in's layout because this tool runs before the plug-in
// is built; the preset tests check every written file against the real parameter tree.

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

#include "engine/ParameterIds.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{
enum class Kind
{
    toggle,
    choice,
    number
};

struct ParameterSpec
{
    const char* id;
    Kind kind;
    double start, end, step; // step 0: any value in the range
};

// The tops of the time ranges in the decimal form the sources write; as floats they are the
// automatic-time values.
constexpr double attackTop = 50.01, releaseTop = 1501.0;
static_assert ((float) attackTop == ParameterIds::attackAuto && (float) releaseTop == ParameterIds::releaseAuto);

const juce::StringArray bandTypes { "Low Cut", "Low Shelf", "Peak", "High Shelf", "High Cut" };

// The parameter tree's order.
const std::vector<ParameterSpec>& parameterSpecs()
{
    static const std::vector<ParameterSpec> specs = [] {
        namespace ids = ParameterIds;
        std::vector<ParameterSpec> list {
            { ids::power, Kind::toggle, 0.0, 1.0, 1.0 },          { ids::compress, Kind::number, 0.0, 70.0, 0.1 },
            { ids::ratio, Kind::number, 1.1, 20.0, 0.1 },         { ids::attack, Kind::number, 0.0, attackTop, 0.01 },
            { ids::release, Kind::number, 5.0, releaseTop, 1.0 }, { ids::makeup, Kind::number, -8.0, 30.0, 0.1 },
            { ids::character, Kind::number, 0.0, 100.0, 1.0 },    { ids::mix, Kind::number, 0.0, 1.0, 0.001 },
            { ids::smooth, Kind::number, 0.0, 100.0, 1.0 },
        };

        // Presets name the bands as the VST3 and standalone builds do ("1On"); the LV2 build reads
        // them under either name.
        static juce::StringArray bandIds;
        for (int band = 1; band <= 3; ++band)
            for (const char* suffix : ids::bandSuffixes)
                bandIds.add (ids::band (band, suffix, false));

        const ParameterSpec bandSpecs[] = { { nullptr, Kind::toggle, 0.0, 1.0, 1.0 },
                                            { nullptr, Kind::choice, 0.0, 4.0, 1.0 },
                                            { nullptr, Kind::number, 20.0, 20000.0, 0.0 },
                                            { nullptr, Kind::number, -24.0, 24.0, 0.01 },
                                            { nullptr, Kind::number, 0.2, 20.0, 0.01 } };

        for (int i = 0; i < bandIds.size(); ++i)
        {
            auto spec = bandSpecs[i % 5];
            spec.id = bandIds[i].toRawUTF8();
            list.push_back (spec);
        }

        return list;
    }();

    return specs;
}

const ParameterSpec* findSpec (const juce::String& id)
{
    for (auto& spec : parameterSpecs())
        if (id == spec.id)
            return &spec;
    return nullptr;
}

struct SourceError
{
    juce::String message;
};

// A plain decimal number: optional sign, digits, optional fraction. No exponent, no "inf", no "nan",
// so that what a reviewer reads is exactly the value that ships.
bool parseDecimal (const juce::String& text, double& result)
{
    auto p = text.getCharPointer();
    if (*p == '+' || *p == '-')
        ++p;

    int digits = 0;
    while (juce::CharacterFunctions::isDigit (*p))
        ++p, ++digits;

    if (*p == '.')
    {
        ++p;
        while (juce::CharacterFunctions::isDigit (*p))
            ++p, ++digits;
    }

    if (digits == 0 || ! p.isEmpty())
        return false;

    result = std::strtod (text.toRawUTF8(), nullptr);
    return std::isfinite (result);
}

// Reads a value text for one parameter. Besides plain numbers, a band type may be given by its
// name, a switch as "on"/"off", and the automatic attack and release as "AUTO".
double parseValue (const ParameterSpec& spec, const juce::String& text)
{
    if (spec.kind == Kind::choice && bandTypes.contains (text, true))
        return (double) bandTypes.indexOf (text, true);

    if (spec.kind == Kind::toggle && (text.equalsIgnoreCase ("on") || text.equalsIgnoreCase ("off")))
        return text.equalsIgnoreCase ("on") ? 1.0 : 0.0;

    if (text.equalsIgnoreCase ("AUTO")
        && (juce::String (ParameterIds::attack) == spec.id || juce::String (ParameterIds::release) == spec.id))
        return spec.end;

    double value = 0.0;
    if (! parseDecimal (text, value))
        throw SourceError { "'" + text + "' is not a value for " + spec.id };

    if (value < spec.start || value > spec.end)
        throw SourceError { juce::String (spec.id) + " = " + text + " is outside its range " + juce::String (spec.start)
                            + " to " + juce::String (spec.end) };

    if (spec.step > 0.0)
    {
        const auto steps = (value - spec.start) / spec.step;
        if (std::abs (steps - std::round (steps)) > 1.0e-6)
            throw SourceError { juce::String (spec.id) + " = " + text + " is not on its step of "
                                + juce::String (spec.step) };
    }

    return value;
}

// With the editor open, a change of a band's gain sets the band's type by a -23 dB rule (bands 1
// and 3: cut below, shelf from -23 dB up; band 2: low shelf below, peak from -23 dB up). A preset
// whose types disagree with that rule would load differently with the editor open than closed.
void checkBandCoupling (const std::vector<double>& values)
{
    static const int typeBelow[3] = { 0, 1, 4 };
    static const int typeAtOrAbove[3] = { 1, 2, 3 };

    for (int band = 0; band < 3; ++band)
    {
        const auto base = (size_t) (9 + band * 5);
        const auto type = (int) values[base + 1];
        const auto gain = values[base + 3];
        const auto expected = gain < -23.0 ? typeBelow[band] : typeAtOrAbove[band];

        if (type != expected)
            throw SourceError {
                "band " + juce::String (band + 1) + " has type " + bandTypes[type] + " with gain " + juce::String (gain)
                + " dB; the editor turns that into " + bandTypes[expected]
                + " (bands 1 and 3 cut below -23 dB and shelve above, band 2 is a low shelf below and a peak above)"
            };
    }
}

// The values of one source, in the parameter tree's order.
std::vector<double> readSource (const juce::File& file)
{
    const auto& specs = parameterSpecs();
    std::vector<double> values (specs.size(), 0.0);
    std::vector<bool> seen (specs.size(), false);

    juce::StringArray lines;
    lines.addLines (file.loadFileAsString());

    for (int i = 0; i < lines.size(); ++i)
    {
        const auto where = "line " + juce::String (i + 1) + ": ";
        auto line = lines[i];

        if (line.containsChar ('#'))
            line = line.upToFirstOccurrenceOf ("#", false, false);
        line = line.trim();

        if (line.isEmpty())
            continue;

        if (! line.containsChar ('='))
            throw SourceError { where + "expected 'id = value', found '" + line + "'" };

        const auto id = line.upToFirstOccurrenceOf ("=", false, false).trim();
        const auto text = line.fromFirstOccurrenceOf ("=", false, false).trim();

        const auto* spec = findSpec (id);
        if (spec == nullptr)
            throw SourceError { where + "unknown parameter '" + id + "'" };

        const auto index = (size_t) (spec - specs.data());
        if (seen[index])
            throw SourceError { where + id + " is given twice" };

        try
        {
            values[index] = parseValue (*spec, text);
        }
        catch (const SourceError& error)
        {
            throw SourceError { where + error.message };
        }

        seen[index] = true;
    }

    juce::StringArray missing;
    for (size_t i = 0; i < specs.size(); ++i)
        if (! seen[i])
            missing.add (specs[i].id);

    if (! missing.isEmpty())
        throw SourceError { "missing parameter" + juce::String (missing.size() > 1 ? "s " : " ")
                            + missing.joinIntoString (", ") };

    checkBandCoupling (values);
    return values;
}

// The preset browser takes the category from the first character and shows the name from the third.
void checkFileName (const juce::File& file)
{
    const auto name = file.getFileNameWithoutExtension();

    if (name.length() < 3 || ! juce::String ("012345").containsChar (name[0]) || name[1] != '_'
        || name.substring (2).trim().isEmpty())
        throw SourceError {
            "the name must be a category digit 0 to 5, '_' and the display name, as in '0_Gentle Glue.preset'"
        };
}

juce::ValueTree makeTree (const std::vector<double>& values)
{
    juce::ValueTree tree ("Parameters");
    const auto& specs = parameterSpecs();

    for (size_t i = 0; i < specs.size(); ++i)
    {
        juce::ValueTree child ("PARAM");
        child.setProperty ("id", juce::String (specs[i].id), nullptr);
        child.setProperty ("value", values[i], nullptr);
        tree.appendChild (child, nullptr);
    }

    return tree;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 3)
    {
        std::cerr << "usage: morvik_make_presets <source folder> <output folder>" << std::endl;
        return 2;
    }

    const auto cwd = juce::File::getCurrentWorkingDirectory();
    const auto sourceFolder = cwd.getChildFile (juce::String::fromUTF8 (argv[1]));
    const auto outputFolder = cwd.getChildFile (juce::String::fromUTF8 (argv[2]));

    if (! sourceFolder.isDirectory())
    {
        std::cerr << "morvik_make_presets: no preset source folder " << sourceFolder.getFullPathName() << std::endl;
        return 1;
    }

    auto sources = sourceFolder.findChildFiles (juce::File::findFiles, false, "*.preset");
    sources.sort();

    if (sources.isEmpty())
    {
        std::cerr << "morvik_make_presets: no *.preset files in " << sourceFolder.getFullPathName() << std::endl;
        return 1;
    }

    std::vector<std::pair<juce::File, juce::ValueTree>> presets;
    int failures = 0;

    for (auto& source : sources)
    {
        try
        {
            checkFileName (source);
            presets.emplace_back (outputFolder.getChildFile (source.getFileNameWithoutExtension() + ".mrv"),
                                  makeTree (readSource (source)));
        }
        catch (const SourceError& error)
        {
            std::cerr << source.getFullPathName() << ": " << error.message << std::endl;
            ++failures;
        }
    }

    if (failures > 0)
    {
        std::cerr << "morvik_make_presets: " << failures << " bad preset source" << (failures > 1 ? "s" : "")
                  << ", nothing written" << std::endl;
        return 1;
    }

    if (! outputFolder.createDirectory())
    {
        std::cerr << "morvik_make_presets: cannot create " << outputFolder.getFullPathName() << std::endl;
        return 1;
    }

    for (auto& [file, tree] : presets)
    {
        juce::MemoryOutputStream stream;
        tree.writeToStream (stream);

        if (! file.replaceWithData (stream.getData(), stream.getDataSize()))
        {
            std::cerr << "morvik_make_presets: cannot write " << file.getFullPathName() << std::endl;
            return 1;
        }
    }

    std::cout << "morvik_make_presets: wrote " << presets.size() << " presets to " << outputFolder.getFullPathName()
              << std::endl;
    return 0;
}
