// Save and reopen through JUCE's own hosting, ten times over, in both formats: every parameter comes
// back bit for bit as the host sees it, and the saved state itself stays byte for byte the same.
// The band frequencies are the ones that used to creep: their axis maps the two ways with slightly
// different constants.

#include "HostKit.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
using hostkit::Format;

constexpr double rate = 48000.0;
constexpr int block = 256;

// Every parameter away from its default; the frequencies both as a host would type them and at
// arbitrary points of their normalised axis.
const std::vector<std::pair<juce::String, juce::String>> settings {
    { "Power", "0" },     { "Compress", "33.3" }, { "Ratio", "8" },  { "Attack", "2.5" }, { "Release", "700" },
    { "Makeup", "-4.5" }, { "Character", "70" },  { "Mix", "0.25" }, { "Smooth", "12" },  { "1On", "0" },
    { "1Type", "0" },     { "1Gain", "3.5" },     { "1Q", "2" },     { "2On", "0" },      { "2Type", "4" },
    { "2Freq", "1000" },  { "2Gain", "-6" },      { "2Q", "0.5" },   { "3On", "0" },      { "3Type", "2" },
    { "3Gain", "12" },    { "3Q", "7" }
};
const std::vector<std::pair<juce::String, float>> normalisedSettings { { "1Freq", 0.3107f }, { "3Freq", 0.8912f } };

class Recall : public ::testing::TestWithParam<Format>
{
public:
    static void SetUpTestSuite()
    {
        juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        host = std::make_unique<hostkit::Host>();
    }

    static void TearDownTestSuite()
    {
        host.reset();
        juce.reset();
    }

protected:
    std::unique_ptr<juce::AudioPluginInstance> load()
    {
        juce::String error;
        auto instance = host->load (GetParam(), GetParam() == Format::vst3 ? MORVIK_VST3_BUNDLE : MORVIK_LV2_BUNDLE,
                                    rate, block, error);
        EXPECT_NE (instance, nullptr) << error;
        return instance;
    }

    // One block, so that values set by the host reach the plug-in and what it reports reaches the host.
    static void run (juce::AudioPluginInstance& instance)
    {
        instance.setRateAndBufferSizeDetails (rate, block);
        instance.prepareToPlay (rate, block);
        auto input = hostkit::makeSine (rate, (double) block / rate, 440.0, 0.1, 2);
        juce::AudioBuffer<float> output;
        juce::String error;
        hostkit::RenderOptions options;
        options.blockSize = block;
        EXPECT_TRUE (hostkit::render (instance, input, nullptr, output, options, error)) << error;
        instance.releaseResources();
    }

    // The 24 parameters as the host sees them (the formats add parameters of their own).
    static std::map<juce::String, float> values (juce::AudioPluginInstance& instance)
    {
        std::map<juce::String, float> result;
        for (const auto& [id, value] : settings)
            result[id] = hostkit::findParameter (instance, id)->getValue();
        for (const auto& [id, value] : normalisedSettings)
            result[id] = hostkit::findParameter (instance, id)->getValue();
        return result;
    }

    static inline std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
    static inline std::unique_ptr<hostkit::Host> host;
};

TEST_P (Recall, TenSaveAndReopenCyclesGiveBackEveryParameterBitForBit)
{
    juce::MemoryBlock state;
    std::map<juce::String, float> written;
    {
        auto first = load();
        ASSERT_NE (first, nullptr);

        for (const auto& [id, value] : settings)
        {
            juce::String error;
            ASSERT_TRUE (hostkit::setParameter (*first, id, value, error)) << error;
        }

        for (const auto& [id, value] : normalisedSettings)
            hostkit::findParameter (*first, id)->setValueNotifyingHost (value);

        run (*first);
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
        auto instance = load();
        ASSERT_NE (instance, nullptr);
        instance->setStateInformation (state.getData(), (int) state.getSize());
        run (*instance);

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

INSTANTIATE_TEST_SUITE_P (Hosts, Recall, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const auto& info) { return hostkit::formatName (info.param).toStdString(); });
} // namespace
