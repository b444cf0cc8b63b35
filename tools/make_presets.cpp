// Factory preset maker: turns the readable preset sources (resources/presets/*.preset) into the
// binary value-tree files that the plug-in ships and loads (*.mrv).
//
//     morvik_make_presets <source folder> <output folder>
//
// A source holds one "id = value" line per parameter; "#" starts a comment. Every one of the 24
// parameters must be given exactly once, inside its range and on its step. Anything else stops the
// build with a message naming the file and line, so that a broken preset never ships. Nothing is
// written unless every source is valid. The parameters' ranges and steps come from the plug-in's own
// table (engine/dsp/ParameterTable.h), which needs nothing of the plug-in's build.

#include <juce_core/juce_core.h>
#include <juce_data_structures/juce_data_structures.h>

#include "engine/dsp/ParameterTable.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace
{
using ParameterTable::Kind;

struct ParameterSpec
{
    juce::String id;
    Kind kind;
    double start, end, step; // step 0: any value in the range
};

// The decimal that a float of the table was written as (1.1 for 1.1f): sources are checked and
// written in decimals, so that a value a reviewer reads is exactly the value that ships.
double decimal (float value)
{
    char text[32];
    const auto end = std::to_chars (text, text + sizeof (text), value).ptr;
    return std::strtod (juce::String (text, (size_t) (end - text)).toRawUTF8(), nullptr);
}

const juce::StringArray bandTypes (ParameterTable::bandTypeNames, ParameterTable::numBandTypes);

// The parameter tree's order. Presets name the bands as the VST3 and standalone builds do ("1On");
// the LV2 build reads them under either name.
const std::vector<ParameterSpec>& parameterSpecs()
{
    static const std::vector<ParameterSpec> specs = [] {
        std::vector<ParameterSpec> list;
        for (const auto& row : ParameterTable::rows)
            list.push_back ({ ParameterTable::idOf (row, false), row.kind, decimal (row.start), decimal (row.end),
                              decimal (row.step) });
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

    if (text.equalsIgnoreCase ("AUTO") && (spec.id == ParameterIds::attack || spec.id == ParameterIds::release))
        return spec.end;

    double value = 0.0;
    if (! parseDecimal (text, value))
        throw SourceError { "'" + text + "' is not a value for " + spec.id };

    if (value < spec.start || value > spec.end)
        throw SourceError { spec.id + " = " + text + " is outside its range " + juce::String (spec.start) + " to "
                            + juce::String (spec.end) };

    if (spec.step > 0.0)
    {
        const auto steps = (value - spec.start) / spec.step;
        if (std::abs (steps - std::round (steps)) > 1.0e-6)
            throw SourceError { spec.id + " = " + text + " is not on its step of " + juce::String (spec.step) };
    }

    return value;
}

// A preset whose band types disagree with the editor's coupling of type to gain would load
// differently with the editor open than closed.
void checkBandCoupling (const std::vector<double>& values)
{
    for (int band = 0; band < 3; ++band)
    {
        const auto base = (size_t) (9 + band * 5);
        const auto type = (int) values[base + 1];
        const auto gain = values[base + 3];
        const auto expected = (int) ParameterTable::coupledType (band + 1, gain < ParameterTable::couplingThresholdDb);

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
        child.setProperty ("id", specs[i].id, nullptr);
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
