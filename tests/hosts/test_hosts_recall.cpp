// Save and reopen through JUCE's own hosting, ten times over, in both formats: every parameter comes
// back bit for bit as the host sees it, and the saved state itself stays byte for byte the same.
// The band frequencies are the ones that used to creep: their axis maps the two ways with slightly
// different constants.

#include "HostTests.h"

namespace
{
using namespace hosttests;

constexpr int block = 256;

// Every parameter away from its default (Attack and Release at their AUTO ends); the frequencies
// both as a host would type them and at arbitrary points of their normalised axis.
const Settings settings { { "Power", "0" },      { "Compress", "33.3" }, { "Ratio", "8" },      { "Attack", "50.01" },
                          { "Release", "1501" }, { "Makeup", "-4.5" },   { "Character", "70" }, { "Mix", "0.25" },
                          { "Smooth", "12" },    { "1On", "0" },         { "1Type", "0" },      { "1Gain", "3.5" },
                          { "1Q", "2" },         { "2On", "0" },         { "2Type", "4" },      { "2Freq", "1000" },
                          { "2Gain", "-6" },     { "2Q", "0.5" },        { "3On", "0" },        { "3Type", "2" },
                          { "3Gain", "12" },     { "3Q", "7" } };
const std::vector<std::pair<juce::String, float>> normalisedSettings { { "1Freq", 0.3107f }, { "3Freq", 0.8912f } };

// One block, so that values set by the host reach the plug-in and what it reports reaches the host.
void runOneBlock (juce::AudioPluginInstance& instance, const Settings& toSet = {})
{
    renderThrough (instance, hostkit::makeSine (rate, (double) block / rate, 440.0, 0.1, 2), toSet, block);
}

// The 24 parameters as the host sees them (the formats add parameters of their own).
std::map<juce::String, float> values (juce::AudioPluginInstance& instance)
{
    std::map<juce::String, float> result;
    for (const auto& [id, value] : settings)
        result[id] = hostkit::findParameter (instance, id)->getValue();
    for (const auto& [id, value] : normalisedSettings)
        result[id] = hostkit::findParameter (instance, id)->getValue();
    return result;
}

class Recall : public ::testing::TestWithParam<Format>
{};

TEST_P (Recall, TenSaveAndReopenCyclesGiveBackEveryParameterBitForBit)
{
    juce::MemoryBlock state;
    std::map<juce::String, float> written;
    {
        auto first = load (GetParam(), block);
        ASSERT_NE (first, nullptr);

        for (const auto& [id, value] : normalisedSettings)
            hostkit::findParameter (*first, id)->setValueNotifyingHost (value);

        runOneBlock (*first, settings);
        written = values (*first);
        ASSERT_EQ (written.size(), 24u);
        first->getStateInformation (state);

        for (const auto& [id, value] : written)
            EXPECT_NE (value, hostkit::findParameter (*first, id)->getDefaultValue()) << id;
    }

    // The host's own view of a frequency it set is the normalised value it sent; the plug-in holds
    // the nearest frequency its axis gives, whose normalised value can differ in the last places.
    // From the first reopening on, every value is the plug-in's own and must not move again.
    std::map<juce::String, float> reopened;

    for (int cycle = 1; cycle <= 10; ++cycle)
    {
        auto instance = load (GetParam(), block);
        ASSERT_NE (instance, nullptr);
        instance->setStateInformation (state.getData(), (int) state.getSize());
        runOneBlock (*instance);

        if (cycle == 1)
        {
            reopened = values (*instance);
            for (const auto& [id, value] : reopened)
                EXPECT_NEAR (value, written[id], id.contains ("Freq") ? 1.0e-6 : 0.0) << id;
        }

        for (const auto& [id, value] : values (*instance))
            EXPECT_EQ (value, reopened[id]) << id << ", cycle " << cycle;

        juce::MemoryBlock saved;
        instance->getStateInformation (saved);
        ASSERT_EQ (saved, state) << "cycle " << cycle;
    }
}

INSTANTIATE_TEST_SUITE_P (Hosts, Recall, ::testing::Values (Format::vst3, Format::lv2), formatLabel);
} // namespace
