// Renders through the built VST3 and LV2 bundles inside Ardour running headless (ardour7-lua,
// Dummy backend), through scripts/ardour/render.sh, and checks what comes out. All renders start
// at once (each in its own temporary HOME and session) and the tests then read their results.
// Without ardour7-lua the whole program fails.

#include "HostTests.h"

#include <cmath>

namespace
{
using namespace hosttests;

class Ardour : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<juce::TemporaryFile> (".morvik-ardour-test");
        folder->getFile().createDirectory();

        // Inputs: a sine far above the threshold, a signal with transients and a spread spectrum,
        // a quiet sine, a loud key and silence.
        write ("loud", hostkit::makeSine (rate, 1.5, 1000.0, 0.5, 2));
        write ("music", hostkit::makeMusicLike (rate, 1.5, 11));
        write ("quiet", hostkit::makeSine (rate, 1.5, 440.0, 0.05, 2));
        write ("key", hostkit::makeSine (rate, 1.5, 200.0, 0.5, 2));
        write ("silence", hostkit::makeSine (rate, 1.5, 200.0, 0.0, 2));

        const juce::StringArray compressing { "Compress=30", "Ratio=4",     "Makeup=5", "Attack=1",
                                              "Release=500", "Character=0", "Smooth=0" };
        const juce::StringArray keyed { "Compress=20", "Ratio=4",  "Makeup=0", "Attack=1", "Release=300",
                                        "Character=0", "Smooth=0", "1On=0",    "2On=0",    "3On=0" };
        const juce::StringArray off { "Power=0", "Compress=40", "Character=100", "Makeup=6" };

        std::map<juce::String, juce::StringArray> jobs;
        const auto add = [&jobs] (const juce::String& name, const juce::String& input, const juce::String& key,
                                  const juce::StringArray& settings) {
            juce::StringArray arguments { name.upToFirstOccurrenceOf ("-", false, false),
                                          file (input).getFullPathName(), file ("out-" + name).getFullPathName() };
            if (key.isNotEmpty())
                arguments.addArray (juce::StringArray { "--sidechain", file (key).getFullPathName() });
            arguments.addArray (settings);
            inputs[name] = input;
            jobs[name] = arguments;
        };

        for (const juce::String format : { "lv2", "vst3" })
        {
            add (format + "-compress", "loud", {}, compressing);
            add (format + "-off", "music", {}, off);
        }

        add ("vst3-key-loud", "quiet", "key", keyed);
        add ("vst3-key-silent", "loud", "silence", keyed);
        runs = runRenderScripts (jobs);
    }

    static void TearDownTestSuite()
    {
        if (folder != nullptr)
            folder->getFile().deleteRecursively();
        folder.reset();
    }

protected:
    struct Result
    {
        juce::AudioBuffer<float> input, output;
    };

    // The rendered job, or a failure that carries render.sh's log.
    static bool result (const juce::String& name, Result& out)
    {
        const auto& run = runs.at (name);
        EXPECT_EQ (run.exitCode, 0) << name << ": render.sh failed:\n" << run.output;
        if (run.exitCode != 0)
            return false;

        out = { readWav (file (inputs.at (name))), readWav (file ("out-" + name)) };
        return out.input.getNumSamples() > 0;
    }

private:
    static juce::File file (const juce::String& name) { return folder->getFile().getChildFile (name + ".wav"); }

    static void write (const juce::String& name, const juce::AudioBuffer<float>& buffer)
    {
        juce::String error;
        EXPECT_TRUE (hostkit::writeFloatWav (file (name), buffer, rate, error)) << error;
    }

    static inline std::unique_ptr<juce::TemporaryFile> folder;
    static inline std::map<juce::String, juce::String> inputs;
    static inline std::map<juce::String, ScriptRun> runs;
};

// The static curve predicts -18 dB for a sine 24 dB over a -30 dB threshold at 4:1, plus 5 dB of
// makeup; the JUCE-hosted tests explain the 1 dB tolerance.
TEST_F (Ardour, BothFormatsRenderACompressedFileOnTheStaticCurve)
{
    for (const char* name : { "lv2-compress", "vst3-compress" })
    {
        SCOPED_TRACE (name);
        Result r;
        ASSERT_TRUE (result (name, r));
        EXPECT_EQ (r.output.getNumSamples(), r.input.getNumSamples());
        EXPECT_EQ (r.output.getNumChannels(), 2);
        EXPECT_TRUE (hostkit::allFinite (r.output));
        EXPECT_LT (hostkit::rmsDb (r.output, 0, r.output.getNumSamples()),
                   hostkit::rmsDb (r.input, 0, r.input.getNumSamples()) - 6.0);
        EXPECT_NEAR (settledGainDb (r.input, r.output), -0.75 * (20.0 * std::log10 (0.5) + 30.0) + 5.0, 1.0);
    }
}

TEST_F (Ardour, BothFormatsWithPowerOffReturnTheInputExactly)
{
    for (const char* name : { "lv2-off", "vst3-off" })
    {
        SCOPED_TRACE (name);
        Result r;
        ASSERT_TRUE (result (name, r));
        ASSERT_EQ (r.output.getNumSamples(), r.input.getNumSamples());
        // Power off from the start: no crossfade, so every sample must come back untouched.
        EXPECT_EQ (hostkit::maxAbsDifference (r.input, r.output, 0, r.input.getNumSamples()), 0.0);
    }
}

TEST_F (Ardour, Vst3SidechainKeyAloneDrivesTheGain)
{
    Result loud, silent;
    ASSERT_TRUE (result ("vst3-key-loud", loud));
    ASSERT_TRUE (result ("vst3-key-silent", silent));
    // The key is 14 dB over the -20 dB threshold: 4:1 gives -10.5 dB, although the track itself
    // is 6 dB under the threshold.
    EXPECT_NEAR (settledGainDb (loud.input, loud.output), -0.75 * 14.0, 1.0);
    // A silent key leaves a track 14 dB over the threshold alone.
    EXPECT_NEAR (settledGainDb (silent.input, silent.output), 0.0, 0.1);
}
} // namespace

int main (int argc, char** argv) { return hosttests::runArdourTests (argc, argv); }
