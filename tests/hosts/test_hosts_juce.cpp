// Loads the built VST3 and LV2 bundles through JUCE's own plug-in hosting, the way a host
// application does, and checks what a host sees: identity, buses, layouts, parameters and their
// texts, and the audio of the whole chain. (The saved state: test_hosts_recall.)

#include "HostTests.h"
#include "engine/dsp/ParameterTable.h"

#include <cmath>

namespace
{
using namespace hosttests;

constexpr int block = 480;

std::unique_ptr<juce::AudioPluginInstance> load (Format format) { return hosttests::load (format, block); }

juce::AudioBuffer<float> renderThrough (juce::AudioPluginInstance& instance, const juce::AudioBuffer<float>& input,
                                        const Settings& settings, const juce::AudioBuffer<float>* sidechain = nullptr,
                                        std::vector<hostkit::ParameterEvent> events = {})
{
    hostkit::RenderOptions options;
    options.events = std::move (events);
    return hosttests::renderThrough (instance, input, settings, block, sidechain, options);
}

juce::String textOf (juce::AudioPluginInstance& instance, const juce::String& id)
{
    auto* parameter = hostkit::findParameter (instance, id);
    return parameter != nullptr ? parameter->getText (parameter->getValue(), 1024) : "<missing " + id + ">";
}

juce::AudioBuffer<float> musicLike (double seconds) { return hostkit::makeMusicLike (rate, seconds, 7); }

class BothFormats : public ::testing::TestWithParam<Format>
{};

//==============================================================================
TEST_P (BothFormats, IdentityLatencyAndTail)
{
    auto instance = load (GetParam());
    ASSERT_NE (instance, nullptr);

    EXPECT_EQ (instance->getName(), "Morvik");
    EXPECT_FALSE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());

    instance->prepareToPlay (rate, block);
    EXPECT_EQ (instance->getLatencySamples(), 0);
    EXPECT_EQ (instance->getTailLengthSeconds(), 0.0);
    instance->releaseResources();
}

TEST_P (BothFormats, RendersFiniteAudioOfTheRightLength)
{
    const auto input = musicLike (1.3);

    for (const int blockSize : { 32, 441, 2048 })
    {
        auto instance = load (GetParam());
        ASSERT_NE (instance, nullptr);
        const auto output =
            hosttests::renderThrough (*instance, input, { { "Compress", "30" }, { "Character", "100" } }, blockSize);

        EXPECT_EQ (output.getNumSamples(), input.getNumSamples()) << "block " << blockSize;
        EXPECT_EQ (output.getNumChannels(), 2);
        EXPECT_TRUE (hostkit::allFinite (output)) << "block " << blockSize;
        EXPECT_GT (hostkit::rmsDb (output, 0, output.getNumSamples()), -40.0) << "the output should not be silent";
    }
}

TEST_P (BothFormats, SurvivesBeingRepreparedBetweenBlocks)
{
    // Ardour deactivates and re-prepares a VST3 plug-in in offline mode from its audio thread when
    // an export starts; any host may re-prepare when the block size or rate changes.
    const auto input = musicLike (1.5);
    auto steady = load (GetParam());
    auto interrupted = load (GetParam());
    ASSERT_NE (steady, nullptr);
    ASSERT_NE (interrupted, nullptr);
    // No colour: its console response is loaded on a background thread after every preparation, so
    // how much audio passes before it arrives depends on the wall clock, not on the audio.
    const Settings settings { { "Compress", "30" }, { "Character", "0" } };
    const auto reference = renderThrough (*steady, input, settings);

    hostkit::RenderOptions options;
    options.reprepareTimes = { 0.3, 0.31, 0.6 };
    const auto output = hosttests::renderThrough (*interrupted, input, settings, block, nullptr, options);

    EXPECT_EQ (output.getNumSamples(), input.getNumSamples());
    EXPECT_TRUE (hostkit::allFinite (output));
    // Once the detector has settled again the level matches the uninterrupted render.
    const int tail = (int) (0.4 * rate);
    EXPECT_NEAR (hostkit::rmsDb (output, output.getNumSamples() - tail, tail),
                 hostkit::rmsDb (reference, reference.getNumSamples() - tail, tail), 0.5);
}

//==============================================================================
// The whole chain, as a host hears it. (Power off from the start: test_hosts_ardour.)

TEST_P (BothFormats, PowerOffGivesTheInputExactlyOnceTheCrossfadeHasRun)
{
    const auto input = musicLike (1.0);
    const double switchTime = 0.5;
    auto instance = load (GetParam());
    ASSERT_NE (instance, nullptr);
    const auto output =
        renderThrough (*instance, input, { { "Compress", "40" }, { "Makeup", "6" }, { "Character", "100" } }, nullptr,
                       { { switchTime, "Power", "0" } });

    // The crossfade runs over 20 ms (960 samples at 48 kHz, one more when the float steps fall
    // short); the change itself lands at the start of the block that begins at the switch time.
    const int dryFrom = (int) (switchTime * rate) + 961 + 1;
    EXPECT_EQ (hostkit::maxAbsDifference (input, output, dryFrom, input.getNumSamples()), 0.0)
        << "after the power crossfade the plug-in must pass the audio untouched";
}

// Once their 50 ms ramps have ended, both blends weigh the processed signal by exactly 0 and their
// dry copy by exactly 1, so x * 0 + dry * 1 gives every input sample back bit for bit.
TEST_P (BothFormats, NoCharacterAndNoMixGiveTheInputAfterTheRamps)
{
    const auto input = musicLike (1.2);
    auto instance = load (GetParam());
    ASSERT_NE (instance, nullptr);
    // Start from a coloured, compressed setting so that the ramps to dry really run.
    const auto output = renderThrough (*instance, input, { { "Compress", "40" }, { "Character", "100" } }, nullptr,
                                       { { 0.1, "Character", "0" }, { 0.1, "Mix", "0" } });

    ASSERT_EQ (output.getNumSamples(), input.getNumSamples());
    EXPECT_GT (hostkit::maxAbsDifference (input, output, 0, (int) (0.1 * rate)), 0.1) << "nothing was processed";
    EXPECT_TRUE (hostkit::allFinite (output));
    EXPECT_EQ (hostkit::maxAbsDifference (input, output, (int) (0.15 * rate), input.getNumSamples()), 0.0);
}

// The gain a steady sine should settle to, from the static soft-knee curve: threshold -compress,
// knee 6 dB, slope 1/ratio - 1, then makeup.
double predictedGainDb (double amplitude, double compress, double ratio, double makeup)
{
    const double over = 20.0 * std::log10 (amplitude) + compress;
    const double slope = 1.0 / ratio - 1.0;
    const double knee = 6.0;
    double change = 0.0;

    if (over > knee / 2)
        change = slope * over;
    else if (over > -knee / 2)
        change = slope * (over + knee / 2) * (over + knee / 2) / (2.0 * knee);

    return change + makeup;
}

// A steady 1 kHz sine settles to the gain the static curve predicts. The detector rectifies each
// sample, so it sees |A sin|, whose gain change is deepest at the peaks; with an attack much faster
// than the release, the ballistics hold the gain within a small ripple (well under 0.1 dB here) of
// the value at the peak, which is what the prediction uses. The colour stage is off (Character 0),
// the "Smooth" pre-compressor has a 0 dB threshold and 0 dB gain (Smooth 0) and so leaves a sine
// below full scale alone, and the bands are off. The remaining differences, the ripple and
// single-precision arithmetic, stay far below the 1 dB allowed.
TEST_P (BothFormats, SteadySinesFollowTheStaticCurveAboveInAndBelowTheKnee)
{
    struct Point
    {
        double amplitude, compress, ratio, makeup;
    };
    const Point points[] = {
        { 0.5, 30.0, 4.0, 5.0 }, // 24 dB over: -18 dB, +5 dB makeup
        { 0.25, 20.0, 20.0, 0.0 }, // "LIMITER": 8 dB over at 20:1
        { std::pow (10.0, -29.0 / 20.0), 30.0, 4.0, 5.0 }, // 1 dB over: in the knee
        { 0.01, 30.0, 4.0, 5.0 }, // 10 dB under: makeup only
    };

    for (const auto& point : points)
    {
        auto instance = load (GetParam());
        ASSERT_NE (instance, nullptr);
        const auto input = hostkit::makeSine (rate, 2.0, 1000.0, point.amplitude, 2);
        Settings settings { { "Compress", juce::String (point.compress) },
                            { "Ratio", juce::String (point.ratio) },
                            { "Makeup", juce::String (point.makeup) },
                            { "Attack", "1" },
                            { "Release", "500" },
                            { "Character", "0" },
                            { "Mix", "1" },
                            { "Smooth", "0" } };

        // LV2 cannot address the bands separately (see ParametersAreAllReachable); their default gains
        // of 0 dB keep them out of the detector anyway.
        if (GetParam() == Format::vst3)
            for (const auto* id : { "1On", "2On", "3On" })
                settings.emplace_back (id, "0");

        EXPECT_NEAR (settledGainDb (input, renderThrough (*instance, input, settings)),
                     predictedGainDb (point.amplitude, point.compress, point.ratio, point.makeup), 1.0)
            << "amplitude " << point.amplitude << ", Compress " << point.compress << ", Ratio " << point.ratio
            << ", Makeup " << point.makeup;
    }
}

INSTANTIATE_TEST_SUITE_P (Hosts, BothFormats, ::testing::Values (Format::vst3, Format::lv2), formatLabel);

//==============================================================================
// VST3: buses, layouts, parameters and the side-chain

TEST (Vst3, BusesAreInputSidechainAndOutput)
{
    auto instance = load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    ASSERT_EQ (instance->getBusCount (true), 2);
    ASSERT_EQ (instance->getBusCount (false), 1);
    EXPECT_EQ (instance->getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (instance->getBus (true, 1)->getName(), "Sidechain");
    EXPECT_EQ (instance->getBus (false, 0)->getName(), "Output");

    for (const auto* bus : { instance->getBus (true, 0), instance->getBus (true, 1), instance->getBus (false, 0) })
        EXPECT_EQ (bus->getDefaultLayout(), juce::AudioChannelSet::stereo()) << bus->getName();

    EXPECT_TRUE (instance->getBus (true, 0)->isEnabled());
    EXPECT_FALSE (instance->getBus (true, 1)->isEnabled()) << "the side-chain starts disabled";
    EXPECT_TRUE (instance->getBus (false, 0)->isEnabled());
}

TEST (Vst3, MonoAndStereoWithAnySidechainSetAreAcceptedMixedSetsRefused)
{
    auto instance = load (Format::vst3);
    ASSERT_NE (instance, nullptr);
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();

    for (const auto& sidechain : { juce::AudioChannelSet::disabled(), mono, stereo })
    {
        EXPECT_TRUE (hostkit::layoutSupported (*instance, mono, mono, sidechain)) << sidechain.getDescription();
        EXPECT_TRUE (hostkit::layoutSupported (*instance, stereo, stereo, sidechain)) << sidechain.getDescription();
        EXPECT_FALSE (hostkit::layoutSupported (*instance, mono, stereo, sidechain)) << sidechain.getDescription();
        EXPECT_FALSE (hostkit::layoutSupported (*instance, stereo, mono, sidechain)) << sidechain.getDescription();
    }

    // And the host can switch to mono and render there.
    ASSERT_TRUE (hostkit::applyLayout (*instance, { 1, 0 }));
    EXPECT_EQ (instance->getMainBusNumInputChannels(), 1);
    EXPECT_EQ (instance->getMainBusNumOutputChannels(), 1);
    const auto input = hostkit::makeSine (rate, 0.3, 440.0, 0.3, 1);
    const auto output = renderThrough (*instance, input, {});
    EXPECT_EQ (output.getNumSamples(), input.getNumSamples());
    EXPECT_TRUE (hostkit::allFinite (output));
}

TEST (Vst3, TheTwentyFourParametersWithTheirIdentifiersAndNames)
{
    auto instance = load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    // JUCE's VST3 wrapper adds its own "Bypass" parameter; everything else is the plug-in's.
    const auto& parameters = instance->getParameters();
    EXPECT_EQ (
        std::count_if (parameters.begin(), parameters.end(), [] (auto* p) { return p->getName (1024) != "Bypass"; }),
        24);

    // The table itself is checked by test_parameters; here the host must see what it says.
    for (size_t i = 0; i < std::size (ParameterTable::rows); ++i)
    {
        const auto id = ParameterTable::idOf (ParameterTable::rows[i], false);
        const auto name = ParameterTable::nameOf (ParameterTable::rows[i]);
        auto* parameter = hostkit::findParameter (*instance, id);
        ASSERT_NE (parameter, nullptr) << id;
        // Found by the number the wrapper derives from the identifier, so automation written by a
        // host stays attached to the same parameter across builds.
        EXPECT_TRUE (hostkit::matchesId (*parameter, id)) << id;
        EXPECT_EQ (parameter->getName (1024), name) << id;
        EXPECT_EQ (parameter->getParameterIndex(), (int) i) << id << " keeps its place in the list";
        EXPECT_TRUE (parameter->isAutomatable()) << id;
    }
}

TEST (Vst3, ParameterTextsAsTheHostShowsThem)
{
    auto instance = load (Format::vst3);
    ASSERT_NE (instance, nullptr);

    const std::vector<std::tuple<juce::String, juce::String, juce::String>> cases {
        { "Power", "0", "Off" },         { "Power", "1", "On" },
        { "Compress", "15", "15.0 dB" }, { "Compress", "70", "70.0 dB" },
        { "Ratio", "4", "4.0" },         { "Ratio", "20", "LIMITER" },
        { "Attack", "10", "10.00 ms" },  { "Attack", "50.01", "AUTO" },
        { "Release", "40", "40.00 ms" }, { "Release", "500", "500.0 ms" },
        { "Release", "1000", "1.00 s" }, { "Release", "1501", "AUTO" },
        { "Makeup", "2", "2.0 dB " },    { "Character", "0", "CLEAN" },
        { "Character", "100", "HOT !" }, { "Character", "30", "30.0 %" },
        { "Mix", "0.5", "50.0 %" },      { "Smooth", "50", "50 %" },
        { "1Type", "2", "Peak" },        { "2Type", "High Cut", "High Cut" },
        { "1Freq", "1000", "1.00 kHz" }, { "3Freq", "20000", "20 kHz" },
        { "2Gain", "-24", "-24.00 dB" }, { "3Q", "0.2", "0.20" },
    };

    for (const auto& [id, value, text] : cases)
    {
        set (*instance, id, value);
        EXPECT_EQ (textOf (*instance, id), text) << id << " set to " << value;
    }
}

// A key on the side-chain drives the gain, not the main input: threshold -20 dB, 4:1, no makeup,
// colour and "Smooth" off, bands off.
TEST (Vst3, TheSidechainAloneDrivesTheGain)
{
    const Settings settings { { "Compress", "20" }, { "Ratio", "4" },     { "Makeup", "0" }, { "Attack", "1" },
                              { "Release", "300" }, { "Character", "0" }, { "Smooth", "0" }, { "1On", "0" },
                              { "2On", "0" },       { "3On", "0" } };
    const auto quiet = hostkit::makeSine (rate, 1.5, 440.0, 0.05, 2); // -26 dBFS: under the knee
    const auto loud = hostkit::makeSine (rate, 1.5, 200.0, 0.5, 2); // -6 dBFS: 14 dB over
    const auto silence = hostkit::makeSine (rate, 1.5, 200.0, 0.0, 2);

    for (const auto& [main, key, expected] : { std::make_tuple (&quiet, &loud, predictedGainDb (0.5, 20.0, 4.0, 0.0)),
                                               std::make_tuple (&loud, &silence, 0.0) })
    {
        auto instance = load (Format::vst3);
        ASSERT_NE (instance, nullptr);
        ASSERT_TRUE (hostkit::applyLayout (*instance, { 2, 2 }));
        ASSERT_EQ (instance->getTotalNumInputChannels(), 4);
        EXPECT_NEAR (settledGainDb (*main, renderThrough (*instance, *main, settings, key)), expected,
                     expected == 0.0 ? 0.1 : 1.0)
            << (key == &silence ? "a silent side-chain means no gain reduction" : "the gain must follow the key");
    }
}

//==============================================================================
// LV2: what the packaged wrapper offers

TEST (Lv2, OnlyMainBusesAndFixedStereoPorts)
{
    auto instance = load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    // The LV2 build has no side-chain bus: JUCE's LV2 wrapper would enable it unasked and read
    // its ports without a null check.
    ASSERT_EQ (instance->getBusCount (true), 1);
    ASSERT_EQ (instance->getBusCount (false), 1);
    EXPECT_EQ (instance->getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (instance->getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (instance->getMainBusNumInputChannels(), 2);
    EXPECT_EQ (instance->getMainBusNumOutputChannels(), 2);

    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto off = juce::AudioChannelSet::disabled();
    EXPECT_TRUE (hostkit::layoutSupported (*instance, stereo, stereo, off));
    EXPECT_FALSE (hostkit::layoutSupported (*instance, mono, stereo, off));
    EXPECT_FALSE (hostkit::layoutSupported (*instance, stereo, mono, off));
}

TEST (Lv2, GlobalParametersInTheirOwnUnits)
{
    auto instance = load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    // LV2 carries plain values; JUCE's LV2 host shows them as numbers (no plug-in texts).
    const std::vector<std::tuple<juce::String, juce::String, juce::String, juce::String>> ranges {
        { "Compress", "Compress", "0", "70" },
        { "Ratio", "Ratio", "1.1", "20" },
        { "Attack", "Attack", "0", "50.01" },
        { "Release", "Release", "5", "1501" },
        { "Makeup", "Makeup", "-8", "30" },
        { "Character", "Character", "0", "100" },
        { "Mix", "Mix", "0", "1" },
        { "Smooth", "Smooth", "0", "100" },
        { "Power", "On Button", "Off", "On" }
    };

    for (const auto& [id, name, low, high] : ranges)
    {
        auto* parameter = hostkit::findParameter (*instance, id);
        ASSERT_NE (parameter, nullptr) << id;
        EXPECT_EQ (parameter->getName (1024), name) << id;
        EXPECT_EQ (parameter->getText (0.0f, 1024), low) << id;
        EXPECT_EQ (parameter->getText (1.0f, 1024), high) << id;
    }

    set (*instance, "Compress", "15");
    EXPECT_EQ (textOf (*instance, "Compress"), "15");
    set (*instance, "Attack", "50.01");
    EXPECT_EQ (textOf (*instance, "Attack"), "50.01");
}

TEST (Lv2, ParametersAreAllReachable)
{
    auto instance = load (Format::lv2);
    ASSERT_NE (instance, nullptr);

    // Every identifier must reach a parameter of its own. JUCE's LV2 wrapper turns an identifier
    // into a Turtle name and replaces a leading digit by '_', so "1On", "2On" and "3On" would all
    // become "_On" and the hosts could address only one band.
    std::map<juce::String, juce::String> byHostId;

    for (const auto& row : ParameterTable::rows)
    {
        const auto id = ParameterTable::idOf (row, false), name = ParameterTable::nameOf (row);
        auto* parameter = hostkit::findParameter (*instance, id);
        ASSERT_NE (parameter, nullptr) << id << " is not reachable through LV2";
        const auto hostId = hostkit::hostParameterId (*parameter);
        EXPECT_EQ (byHostId.count (hostId), 0u)
            << id << " shares the LV2 parameter " << hostId << " with " << byHostId[hostId];
        byHostId[hostId] = id;
        EXPECT_EQ (parameter->getName (1024), name) << id;
    }
}
} // namespace
