// What the host tests that go through JUCE's hosting or through headless Ardour share: one JUCE and
// one host for the whole program, loading the build's bundles, rendering with settings, the settled
// gain of a render, and render.sh runs started all at once.

#pragma once

#include "HostKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>

namespace hosttests
{
using hostkit::Format;
using Settings = std::vector<std::pair<juce::String, juce::String>>;

constexpr double rate = 48000.0;

inline juce::String bundleFor (Format format)
{
    return format == Format::vst3 ? MORVIK_VST3_BUNDLE : MORVIK_LV2_BUNDLE;
}
inline juce::String bundleFor (const juce::String& format)
{
    return bundleFor (format == "vst3" ? Format::vst3 : Format::lv2);
}

inline std::string formatLabel (const ::testing::TestParamInfo<Format>& info)
{
    return hostkit::formatName (info.param).toStdString();
}

// The host outlives every test and goes before JUCE does.
struct Environment : public ::testing::Environment
{
    void SetUp() override { juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
    void TearDown() override
    {
        host.reset();
        juce.reset();
    }

    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
    static inline std::unique_ptr<hostkit::Host> host;
};

inline const auto* environment = ::testing::AddGlobalTestEnvironment (new Environment());

inline std::unique_ptr<juce::AudioPluginInstance> load (Format format, int block)
{
    if (Environment::host == nullptr)
        Environment::host = std::make_unique<hostkit::Host>();

    juce::String error;
    auto instance = Environment::host->load (format, bundleFor (format), rate, block, error);
    EXPECT_NE (instance, nullptr) << error;
    return instance;
}

inline void set (juce::AudioPluginInstance& instance, const juce::String& id, const juce::String& value)
{
    juce::String error;
    ASSERT_TRUE (hostkit::setParameter (instance, id, value, error)) << error;
}

// Applies the settings, prepares a stereo instance and renders.
inline juce::AudioBuffer<float> renderThrough (juce::AudioPluginInstance& instance,
                                               const juce::AudioBuffer<float>& input, const Settings& settings,
                                               int block, const juce::AudioBuffer<float>* sidechain = nullptr,
                                               hostkit::RenderOptions options = {})
{
    for (const auto& [id, value] : settings)
        set (instance, id, value);

    instance.setRateAndBufferSizeDetails (rate, block);
    instance.prepareToPlay (rate, block);
    options.blockSize = block;
    juce::AudioBuffer<float> output;
    juce::String error;
    EXPECT_TRUE (hostkit::render (instance, input, sidechain, output, options, error)) << error;
    instance.releaseResources();
    return output;
}

// Output over input level in the last half second, where the ballistics have long settled.
inline double settledGainDb (const juce::AudioBuffer<float>& input, const juce::AudioBuffer<float>& output)
{
    const int length = (int) (0.5 * rate);
    const int start = input.getNumSamples() - length;
    return hostkit::rmsDb (output, start, length) - hostkit::rmsDb (input, start, length);
}

//==============================================================================
// Headless Ardour through scripts/ardour/render.sh

struct ScriptRun
{
    int exitCode = -1;
    juce::String output;
};

// Runs render.sh once per entry, all at once; each entry is the format ("vst3" or "lv2") followed by
// the arguments after the bundle and morvik_host.
inline std::map<juce::String, ScriptRun> runRenderScripts (const std::map<juce::String, juce::StringArray>& jobs)
{
    std::map<juce::String, std::unique_ptr<juce::ChildProcess>> processes;
    std::map<juce::String, ScriptRun> runs;

    for (const auto& [name, arguments] : jobs)
    {
        juce::StringArray command {
            "bash", juce::File (MORVIK_SOURCE_DIR).getChildFile ("scripts/ardour/render.sh").getFullPathName(),
            arguments[0], bundleFor (arguments[0]), MORVIK_HOST_PROGRAM
        };
        command.addArray (arguments, 1);
        processes[name] = std::make_unique<juce::ChildProcess>();
        if (! processes[name]->start (command))
            runs[name].output = "could not start render.sh";
    }

    for (auto& [name, process] : processes)
    {
        runs[name].output += process->readAllProcessOutput();
        process->waitForProcessToFinish (200000);
        runs[name].exitCode = (int) process->getExitCode();
    }

    return runs;
}

inline juce::AudioBuffer<float> readWav (const juce::File& file)
{
    juce::AudioBuffer<float> buffer;
    double fileRate = 0;
    juce::String error;
    EXPECT_TRUE (hostkit::readAudioFile (file, buffer, fileRate, error)) << error;
    EXPECT_EQ (fileRate, rate) << file.getFullPathName();
    return buffer;
}

// main() of the Ardour tests. CI installs Ardour, so its headless Lua host missing is a broken
// install, not a reason to skip.
inline int runArdourTests (int argc, char** argv)
{
    if (std::system ("command -v ardour7-lua > /dev/null 2>&1") != 0)
    {
        std::cout << "FAILED: ardour7-lua is not installed (Debian package ardour)" << std::endl;
        return 1;
    }

    ::testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
} // namespace hosttests
