// Morvik beside the open-source compressors packaged in Debian, all loaded as plug-ins through the
// same JUCE hosting and fed the same stereo signal (the demo groove, looped). For each plug-in,
// sample rate (44.1, 48, 96 kHz) and host block size (32, 128, 512, 2048) it measures the time per
// stereo frame; before that, the heap an instance takes (creation, preparation at 96 kHz / 2048 and
// one second of audio). At the end it prints a table and Morvik's ratio to the median of the peers.
// Every plug-in runs with its default settings; peers with a side-chain input get the main signal
// there too (they key on themselves).
//
// usage: bench_peers [--benchmark_min_time=0.2] [--benchmark_filter=...]

#include "DemoSignal.h"
#include "HostKit.h"
#include "support/AllocationCounter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace
{
struct Subject
{
    std::string label;
    hostkit::Format format;
    std::string location;
    bool morvik;
};

const std::vector<Subject> allSubjects {
    { "Morvik (LV2)", hostkit::Format::lv2, MORVIK_LV2_BUNDLE, true },
    { "Morvik (VST3)", hostkit::Format::vst3, MORVIK_VST3_BUNDLE, true },
    { "LSP Compressor Stereo", hostkit::Format::lv2, "http://lsp-plug.in/plugins/lv2/compressor_stereo", false },
    { "LSP Sidechain Compressor Stereo", hostkit::Format::lv2, "http://lsp-plug.in/plugins/lv2/sc_compressor_stereo",
      false },
    { "x42 Dynamic Compressor Stereo", hostkit::Format::lv2, "http://gareus.org/oss/lv2/darc#stereo", false },
    { "Calf Compressor", hostkit::Format::lv2, "http://calf.sourceforge.net/plugins/Compressor", false },
    { "Calf Sidechain Compressor", hostkit::Format::lv2, "http://calf.sourceforge.net/plugins/SidechainCompressor",
      false },
    { "ZamCompX2", hostkit::Format::lv2, "urn:zamaudio:ZamCompX2", false },
    { "ACE Compressor stereo (Ardour)", hostkit::Format::lv2, "urn:ardour:a-comp#stereo", false },
};

const std::vector<double> rates { 44100.0, 48000.0, 96000.0 };
const std::vector<int> blocks { 32, 128, 512, 2048 };

hostkit::Host& host()
{
    static hostkit::Host instance;
    return instance;
}

std::unique_ptr<juce::AudioPluginInstance> create (const Subject& subject, double rate, int block)
{
    juce::String error;
    auto instance = host().load (subject.format, subject.location, rate, block, error);

    if (instance == nullptr)
        return nullptr;

    // Every port connected: JUCE's LV2 host leaves the ports of disabled buses unconnected, which
    // some plug-ins do not expect. Morvik keeps its own defaults (side-chain off).
    if (! subject.morvik)
        instance->enableAllBuses();

    instance->setRateAndBufferSizeDetails (rate, block);
    instance->prepareToPlay (rate, block);
    return instance;
}

// The signal at a rate, made once.
const juce::AudioBuffer<float>& signalAt (double rate)
{
    static std::map<double, juce::AudioBuffer<float>> cache;
    auto found = cache.find (rate);

    if (found == cache.end())
        found = cache.emplace (rate, hostkit::makeDemoSignal (rate, 9.0)).first;

    return found->second;
}

// Plays the signal through an instance block by block, from a running position.
class Player
{
public:
    Player (juce::AudioPluginInstance& instanceToUse, double rate, int blockSize)
        : instance (instanceToUse),
          signal (signalAt (rate)),
          block (blockSize),
          buffer (juce::jmax (2, juce::jmax (instanceToUse.getTotalNumInputChannels(),
                                             instanceToUse.getTotalNumOutputChannels())),
                  blockSize)
    {}

    void next()
    {
        if (position + block > signal.getNumSamples())
            position = 0;

        const int inputs = juce::jmax (1, instance.getTotalNumInputChannels());

        // Main channels first, then any side-chain channels, all from the same stereo signal.
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        {
            if (channel < inputs)
                buffer.copyFrom (channel, 0, signal, channel % 2, position, block);
            else
                buffer.clear (channel, 0, block);
        }

        instance.processBlock (buffer, midi);
        position += block;
    }

private:
    juce::AudioPluginInstance& instance;
    const juce::AudioBuffer<float>& signal;
    int block;
    juce::AudioBuffer<float> buffer;
    juce::MidiBuffer midi;
    int position = 0;
};

void runBenchmark (benchmark::State& state, const Subject& subject, double rate, int block)
{
    auto instance = create (subject, rate, block);

    if (instance == nullptr)
    {
        state.SkipWithError ("could not load the plug-in");
        return;
    }

    Player player (*instance, rate, block);

    // Half a second first, so that lazy set-up and the first ramps are out of the way.
    for (int done = 0; done < (int) (rate * 0.5); done += block)
        player.next();

    for (auto _ : state)
        player.next();

    state.SetItemsProcessed ((int64_t) state.iterations() * block);
    state.counters["ns_per_frame"] = benchmark::Counter (
        (double) block * 1.0e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    instance->releaseResources();
}

std::string configName (double rate, int block)
{
    char text[32];
    std::snprintf (text, sizeof (text), "%gk/%d", rate / 1000.0, block);
    return text;
}

struct Measured
{
    // subject -> config -> ns of each repetition; the summary shows their median
    std::map<std::string, std::map<std::string, std::vector<double>>> nsPerFrame;
};

Measured measured;

// Passes everything to the console and keeps each run's time per frame for the summary.
class CollectingReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns (const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
        {
            if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;

            // The registered name is "peers/<subject>/<rate>k/<block>".
            const auto name = run.run_name.function_name;
            const auto first = name.find ('/');
            const auto last = name.rfind ('/', name.rfind ('/') - 1);
            const auto subject = name.substr (first + 1, last - first - 1);
            const auto config = name.substr (last + 1);
            const auto block = std::stoi (config.substr (config.find ('/') + 1));
            const double seconds = run.real_accumulated_time / (double) run.iterations;
            measured.nsPerFrame[subject][config].push_back (seconds * 1.0e9 / (double) block);
        }

        ConsoleReporter::ReportRuns (runs);
    }
};

double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;

    std::sort (values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

long vmHighWaterKiB()
{
    std::ifstream status ("/proc/self/status");
    std::string line;

    while (std::getline (status, line))
        if (line.rfind ("VmHWM:", 0) == 0)
            return std::stol (line.substr (6));

    return -1;
}

// Heap taken by one instance: created, prepared at 96 kHz with 2048-sample blocks and run for a
// second. A first instance stays alive meanwhile, so library loading and one-time set-up are not
// counted.
struct Memory
{
    double peakKiB = -1, retainedKiB = -1;
};

Memory instanceMemory (const Subject& subject)
{
    // The signal is made once and kept (about 7 MiB at 96 kHz): made before the count starts, so that
    // it is not charged to whichever plug-in is measured first.
    signalAt (96000.0);
    auto first = create (subject, 96000.0, 2048);

    if (first == nullptr)
        return {};

    const auto before = allocation::liveBytes();
    allocation::resetPeak();
    Memory memory;
    {
        auto second = create (subject, 96000.0, 2048);
        Player player (*second, 96000.0, 2048);

        for (int done = 0; done < 96000; done += 2048)
            player.next();

        memory.retainedKiB = (double) (allocation::liveBytes() - before) / 1024.0;
        memory.peakKiB = (double) (allocation::peakBytes() - before) / 1024.0;
        second->releaseResources();
    }
    first->releaseResources();
    return memory;
}
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    // Only the plug-ins that load here take part.
    std::vector<Subject> subjects;
    std::map<std::string, Memory> memory;

    for (const auto& subject : allSubjects)
    {
        juce::String error;

        if (host().load (subject.format, subject.location, 48000.0, 512, error) == nullptr)
        {
            std::printf ("skipping %s: %s\n", subject.label.c_str(), error.toRawUTF8());
            continue;
        }

        subjects.push_back (subject);
        memory[subject.label] = instanceMemory (subject);
    }

    for (const auto& subject : subjects)
        for (const auto rate : rates)
            for (const auto block : blocks)
                benchmark::RegisterBenchmark (
                    ("peers/" + subject.label + "/" + configName (rate, block)).c_str(),
                    [subject, rate, block] (benchmark::State& state) { runBenchmark (state, subject, rate, block); })
                    ->Unit (benchmark::kMicrosecond)
                    ->MinTime (0.1);

    benchmark::Initialize (&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks (&reporter);
    benchmark::Shutdown();

    // The summary.
    std::vector<std::string> configs;
    for (const auto rate : rates)
        for (const auto block : blocks)
            configs.push_back (configName (rate, block));

    std::printf ("\nTime per stereo frame in ns (lower is better); default settings, the same signal for all\n");
    std::printf ("%-32s", "plug-in");
    for (const auto& config : configs)
        std::printf ("%11s", config.c_str());
    std::printf ("%12s%12s\n", "heap KiB", "peak KiB");

    std::map<std::string, std::vector<double>> peerValues;

    for (const auto& subject : subjects)
    {
        std::printf ("%-32s", subject.label.c_str());

        for (const auto& config : configs)
        {
            const auto& row = measured.nsPerFrame[subject.label];
            const auto found = row.find (config);

            if (found == row.end())
            {
                std::printf ("%11s", "-");
                continue;
            }

            std::printf ("%11.1f", median (found->second));

            if (! subject.morvik)
                peerValues[config].push_back (median (found->second));
        }

        const auto& m = memory[subject.label];
        std::printf ("%12.0f%12.0f\n", m.retainedKiB, m.peakKiB);
    }

    std::printf ("%-32s", "median of peers");
    for (const auto& config : configs)
    {
        if (peerValues[config].empty())
            std::printf ("%11s", "-");
        else
            std::printf ("%11.1f", median (peerValues[config]));
    }
    std::printf ("\n");

    for (const auto& subject : subjects)
    {
        if (! subject.morvik)
            continue;

        std::printf ("%-32s", (subject.label + " / median").c_str());
        std::vector<double> ratios;

        for (const auto& config : configs)
        {
            const auto row = measured.nsPerFrame[subject.label];
            const auto peers = median (peerValues[config]);

            if (row.count (config) == 0 || peers <= 0.0)
            {
                std::printf ("%11s", "-");
                continue;
            }

            ratios.push_back (median (row.at (config)) / peers);
            std::printf ("%11.2f", ratios.back());
        }

        std::printf ("   (median ratio %.2f)\n", median (ratios));
    }

    std::printf ("\nProcess heap high-water mark (VmHWM): %ld KiB\n", vmHighWaterKiB());
    return 0;
}
