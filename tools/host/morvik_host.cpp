// morvik_host: a command-line plug-in host on JUCE's VST3 and LV2 hosting, plus the few signal tools
// the host tests and the demo need. Run without arguments for the usage.

#include "DemoSignal.h"
#include "EditorCommand.h"
#include "HostKit.h"

#include <iostream>

namespace
{
const char* usage = R"(usage:
  morvik_host info <vst3|lv2> <bundle|uri> [--rate R] [--block N]
      name, buses, layouts, latency, tail and every parameter with its texts, as JSON
  morvik_host render <vst3|lv2> <bundle|uri> in.wav out.wav [options]
      --sidechain sc.wav    feed the side-chain bus (enables it; VST3)
      --set Id=value        set a parameter before the first block (plain units or a value text)
      --at SECONDS Id=value change a parameter at a time (cuts the block there)
      --block N             host block size (default 512)
      --rate R              sample rate (default: the input file's)
      --mono                run the plug-in mono in, mono out (uses the input's first channel)
      --reprepare SECONDS   deactivate and re-prepare the plug-in (offline mode) at that time
  morvik_host demo-signal out.wav [--rate R] [--seconds S]
      writes the synthesized demo groove (stereo float WAV)
  morvik_host sine out.wav [--freq F] [--amp A] [--seconds S] [--rate R] [--channels C]
  morvik_host stats file.wav [--from S] [--to S]
      frames, channels, rate, finite, peak and RMS (dBFS) as JSON
  morvik_host compare a.wav b.wav [--from S] [--to S]
      largest sample difference and both levels as JSON
  morvik_host envelope in.wav out.wav table.txt [--window MS]
      a table of time, input level, output level and their difference (dB) per window
  morvik_host to-raw in.wav out.raw
      int32 frames, int32 channels, then each channel's float32 samples in turn (little endian);
      the Ardour player reads this
  morvik_host trim in.wav out.wav [--skip N] [--like ref.wav]
      drops N leading frames and keeps as many frames as ref.wav has (float WAV out)
  morvik_host host-values <vst3|lv2> <bundle|uri> Id=value ...
      one line per setting: the parameter's name as hosts label it, a tab, and the value a host
      writes (the normalised value for VST3, the plain value for LV2)
)";

int fail (const juce::String& message)
{
    std::cerr << "morvik_host: " << message << std::endl;
    return 1;
}

// Options after the positional arguments: "--name value" pairs; --set and --at may repeat.
struct Options
{
    juce::StringArray positional;
    juce::StringPairArray single;
    juce::StringArray sets;
    std::vector<std::pair<double, juce::String>> timed;
    std::vector<double> reprepare;
    bool mono = false;
};

// Paths on the command line are relative to where the tool was started.
bool readArgumentFile (const juce::String& path, juce::AudioBuffer<float>& buffer, double& rate, juce::String& error)
{
    return hostkit::readAudioFile (juce::File::getCurrentWorkingDirectory().getChildFile (path), buffer, rate, error);
}

bool parseOptions (const juce::StringArray& args, int first, Options& options, juce::String& error)
{
    for (int i = first; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        if (arg == "--mono")
        {
            options.mono = true;
        }
        else if (arg == "--set")
        {
            if (++i >= args.size())
                return (error = "--set needs Id=value", false);
            options.sets.add (args[i]);
        }
        else if (arg == "--reprepare")
        {
            if (++i >= args.size())
                return (error = "--reprepare needs SECONDS", false);
            options.reprepare.push_back (args[i].getDoubleValue());
        }
        else if (arg == "--at")
        {
            if (i + 2 >= args.size())
                return (error = "--at needs SECONDS Id=value", false);
            options.timed.emplace_back (args[i + 1].getDoubleValue(), args[i + 2]);
            i += 2;
        }
        else if (arg.startsWith ("--"))
        {
            if (++i >= args.size())
                return (error = arg + " needs a value", false);
            options.single.set (arg.substring (2), args[i]);
        }
        else
        {
            options.positional.add (arg);
        }
    }

    return true;
}

bool splitAssignment (const juce::String& text, hostkit::ParameterEvent& event)
{
    if (! text.contains ("="))
        return false;

    event.id = text.upToFirstOccurrenceOf ("=", false, false).trim();
    event.value = text.fromFirstOccurrenceOf ("=", false, false).trim();
    return event.id.isNotEmpty();
}

juce::String channelSetName (const juce::AudioChannelSet& set)
{
    if (set.isDisabled())
        return "disabled";
    if (set == juce::AudioChannelSet::mono())
        return "mono";
    if (set == juce::AudioChannelSet::stereo())
        return "stereo";
    return set.getDescription();
}

juce::var describeBuses (juce::AudioPluginInstance& instance, bool isInput)
{
    juce::Array<juce::var> buses;

    for (int index = 0; index < instance.getBusCount (isInput); ++index)
    {
        auto* bus = instance.getBus (isInput, index);
        auto* object = new juce::DynamicObject();
        object->setProperty ("name", bus->getName());
        object->setProperty ("layout", channelSetName (bus->getCurrentLayout()));
        object->setProperty ("default", channelSetName (bus->getDefaultLayout()));
        object->setProperty ("enabled", bus->isEnabled());
        object->setProperty ("enabledByDefault", bus->isEnabledByDefault());
        buses.add (juce::var (object));
    }

    return buses;
}

juce::var describeLayouts (juce::AudioPluginInstance& instance)
{
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto off = juce::AudioChannelSet::disabled();

    struct Case
    {
        const char* name;
        juce::AudioChannelSet in, out, sidechain;
    };

    const Case cases[] = { { "mono->mono", mono, mono, off },
                           { "stereo->stereo", stereo, stereo, off },
                           { "mono->stereo", mono, stereo, off },
                           { "stereo->mono", stereo, mono, off },
                           { "stereo->stereo, stereo side-chain", stereo, stereo, stereo },
                           { "stereo->stereo, mono side-chain", stereo, stereo, mono },
                           { "mono->mono, stereo side-chain", mono, mono, stereo } };

    auto* object = new juce::DynamicObject();
    const bool hasSidechain = instance.getBusCount (true) > 1;

    for (const auto& c : cases)
    {
        if (! c.sidechain.isDisabled() && ! hasSidechain)
            continue;

        object->setProperty (c.name, hostkit::layoutSupported (instance, c.in, c.out, c.sidechain));
    }

    return juce::var (object);
}

juce::var describeParameters (juce::AudioPluginInstance& instance)
{
    juce::Array<juce::var> list;

    for (auto* parameter : instance.getParameters())
    {
        auto* object = new juce::DynamicObject();
        object->setProperty ("index", parameter->getParameterIndex());
        object->setProperty ("hostId", hostkit::hostParameterId (*parameter));
        object->setProperty ("name", parameter->getName (1024));
        object->setProperty ("label", parameter->getLabel());
        object->setProperty ("steps", parameter->getNumSteps());
        object->setProperty ("automatable", parameter->isAutomatable());
        object->setProperty ("default", parameter->getDefaultValue());
        object->setProperty ("textMin", parameter->getText (0.0f, 1024));
        object->setProperty ("textDefault", parameter->getText (parameter->getDefaultValue(), 1024));
        object->setProperty ("textMax", parameter->getText (1.0f, 1024));
        list.add (juce::var (object));
    }

    return list;
}

int info (hostkit::Format format, const juce::String& location, const Options& options)
{
    hostkit::Host host;
    juce::String error;
    const double rate = options.single.getValue ("rate", "48000").getDoubleValue();
    const int block = options.single.getValue ("block", "512").getIntValue();
    auto instance = host.load (format, location, rate, block, error);

    if (instance == nullptr)
        return fail (error);

    auto* object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("format", hostkit::formatName (format));
    object->setProperty ("name", instance->getName());
    object->setProperty ("inputs", describeBuses (*instance, true));
    object->setProperty ("outputs", describeBuses (*instance, false));
    object->setProperty ("layouts", describeLayouts (*instance));

    instance->prepareToPlay (rate, block);
    object->setProperty ("latencySamples", instance->getLatencySamples());
    object->setProperty ("tailSeconds", instance->getTailLengthSeconds());
    object->setProperty ("parameters", describeParameters (*instance));
    instance->releaseResources();

    std::cout << juce::JSON::toString (result).toStdString() << std::endl;
    return 0;
}

int render (hostkit::Format format, const juce::String& location, const Options& options)
{
    if (options.positional.size() < 2)
        return fail ("render needs in.wav and out.wav");

    juce::String error;
    juce::AudioBuffer<float> input;
    double fileRate = 0.0;

    if (! readArgumentFile (options.positional[0], input, fileRate, error))
        return fail (error);

    const double rate = options.single.containsKey ("rate") ? options.single["rate"].getDoubleValue() : fileRate;
    const int block = options.single.getValue ("block", "512").getIntValue();

    juce::AudioBuffer<float> sidechain;
    const bool useSidechain = options.single.containsKey ("sidechain");

    if (useSidechain)
    {
        double scRate = 0.0;
        if (! hostkit::readAudioFile (
                juce::File::getCurrentWorkingDirectory().getChildFile (options.single["sidechain"]), sidechain, scRate,
                error))
            return fail (error);
    }

    hostkit::Host host;
    auto instance = host.load (format, location, rate, block, error);

    if (instance == nullptr)
        return fail (error);

    hostkit::BusRequest request;
    request.mainChannels = options.mono ? 1 : 2;
    request.sidechainChannels = useSidechain ? 2 : 0;

    if (! hostkit::applyLayout (*instance, request))
        return fail ("the plug-in refused the layout (main " + juce::String (request.mainChannels)
                     + " channel(s), side-chain " + juce::String (request.sidechainChannels) + ")");

    if (input.getNumChannels() < request.mainChannels || options.mono)
    {
        juce::AudioBuffer<float> reshaped (request.mainChannels, input.getNumSamples());

        for (int channel = 0; channel < request.mainChannels; ++channel)
            reshaped.copyFrom (channel, 0, input, juce::jmin (channel, input.getNumChannels() - 1), 0,
                               input.getNumSamples());

        input = std::move (reshaped);
    }

    hostkit::RenderOptions renderOptions;
    renderOptions.blockSize = block;

    for (const auto& assignment : options.sets)
    {
        hostkit::ParameterEvent event;
        if (! splitAssignment (assignment, event))
            return fail ("bad --set " + assignment);
        if (! hostkit::setParameter (*instance, event.id, event.value, error))
            return fail (error);
    }

    for (const auto& time : options.reprepare)
        renderOptions.reprepareTimes.push_back (time);

    for (const auto& [time, assignment] : options.timed)
    {
        hostkit::ParameterEvent event;
        if (! splitAssignment (assignment, event))
            return fail ("bad --at " + assignment);
        event.timeSeconds = time;
        renderOptions.events.push_back (event);
    }

    instance->setRateAndBufferSizeDetails (rate, block);
    instance->prepareToPlay (rate, block);

    juce::AudioBuffer<float> output;

    if (! hostkit::render (*instance, input, useSidechain ? &sidechain : nullptr, output, renderOptions, error))
        return fail (error);

    instance->releaseResources();

    if (! hostkit::writeFloatWav (juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[1]), output,
                                  rate, error))
        return fail (error);

    std::cerr << "rendered " << output.getNumSamples() << " frames through " << instance->getName() << " ("
              << hostkit::formatName (format) << ")" << std::endl;
    return 0;
}

bool readRange (const juce::AudioBuffer<float>& buffer, double rate, const Options& options, int& start, int& length)
{
    start = (int) std::llround (options.single.getValue ("from", "0").getDoubleValue() * rate);
    int end = buffer.getNumSamples();

    if (options.single.containsKey ("to"))
        end = (int) std::llround (options.single["to"].getDoubleValue() * rate);

    start = juce::jlimit (0, buffer.getNumSamples(), start);
    end = juce::jlimit (start, buffer.getNumSamples(), end);
    length = end - start;
    return true;
}

int stats (const Options& options)
{
    if (options.positional.size() < 1)
        return fail ("stats needs a file");

    juce::AudioBuffer<float> buffer;
    double rate = 0.0;
    juce::String error;

    if (! readArgumentFile (options.positional[0], buffer, rate, error))
        return fail (error);

    int start = 0, length = 0;
    readRange (buffer, rate, options, start, length);

    auto* object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("frames", buffer.getNumSamples());
    object->setProperty ("channels", buffer.getNumChannels());
    object->setProperty ("rate", rate);
    object->setProperty ("finite", hostkit::allFinite (buffer));
    object->setProperty ("peakDb", hostkit::peakDb (buffer, start, length));
    object->setProperty ("rmsDb", hostkit::rmsDb (buffer, start, length));
    std::cout << juce::JSON::toString (result).toStdString() << std::endl;
    return 0;
}

int compare (const Options& options)
{
    if (options.positional.size() < 2)
        return fail ("compare needs two files");

    juce::AudioBuffer<float> a, b;
    double rateA = 0.0, rateB = 0.0;
    juce::String error;

    if (! readArgumentFile (options.positional[0], a, rateA, error)
        || ! readArgumentFile (options.positional[1], b, rateB, error))
        return fail (error);

    int start = 0, length = 0;
    readRange (a, rateA, options, start, length);

    auto* object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("framesA", a.getNumSamples());
    object->setProperty ("framesB", b.getNumSamples());
    object->setProperty ("maxAbsDifference", hostkit::maxAbsDifference (a, b, start, length));
    object->setProperty ("rmsDbA", hostkit::rmsDb (a, start, length));
    object->setProperty ("rmsDbB", hostkit::rmsDb (b, start, length));
    std::cout << juce::JSON::toString (result).toStdString() << std::endl;
    return 0;
}

int envelope (const Options& options)
{
    if (options.positional.size() < 3)
        return fail ("envelope needs in.wav out.wav table.txt");

    juce::AudioBuffer<float> in, out;
    double rate = 0.0, outRate = 0.0;
    juce::String error;

    if (! readArgumentFile (options.positional[0], in, rate, error)
        || ! readArgumentFile (options.positional[1], out, outRate, error))
        return fail (error);

    const double windowMs = options.single.getValue ("window", "10").getDoubleValue();
    const int window = juce::jmax (1, (int) std::llround (windowMs * 0.001 * rate));
    juce::String table;
    table << "# time_s input_rms_db output_rms_db output_minus_input_db\n";

    for (int start = 0; start + window <= juce::jmin (in.getNumSamples(), out.getNumSamples()); start += window)
    {
        const auto inDb = juce::jmax (-120.0, hostkit::rmsDb (in, start, window));
        const auto outDb = juce::jmax (-120.0, hostkit::rmsDb (out, start, window));
        // Where the input is near silence the difference says nothing about the gain.
        const auto difference = inDb > -50.0 ? outDb - inDb : 0.0;
        table << juce::String ((start + window * 0.5) / rate, 4) << " " << juce::String (inDb, 3) << " "
              << juce::String (outDb, 3) << " " << juce::String (difference, 3) << "\n";
    }

    if (! juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[2]).replaceWithText (table))
        return fail ("cannot write " + options.positional[2]);

    return 0;
}

int toRaw (const Options& options)
{
    if (options.positional.size() < 2)
        return fail ("to-raw needs in.wav and out.raw");

    juce::AudioBuffer<float> buffer;
    double rate = 0.0;
    juce::String error;

    if (! readArgumentFile (options.positional[0], buffer, rate, error))
        return fail (error);

    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[1]);
    file.deleteFile();
    juce::FileOutputStream stream (file);

    if (! stream.openedOk())
        return fail ("cannot write " + file.getFullPathName());

    stream.writeInt (buffer.getNumSamples());
    stream.writeInt (buffer.getNumChannels());

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            stream.writeFloat (buffer.getSample (channel, i));

    return stream.getStatus().wasOk() ? 0 : fail ("cannot write " + file.getFullPathName());
}

int trim (const Options& options)
{
    if (options.positional.size() < 2)
        return fail ("trim needs in.wav and out.wav");

    juce::AudioBuffer<float> buffer;
    double rate = 0.0;
    juce::String error;

    if (! readArgumentFile (options.positional[0], buffer, rate, error))
        return fail (error);

    const int skip = juce::jlimit (0, buffer.getNumSamples(), options.single.getValue ("skip", "0").getIntValue());
    int frames = buffer.getNumSamples() - skip;

    if (options.single.containsKey ("like"))
    {
        juce::AudioBuffer<float> reference;
        double referenceRate = 0.0;

        if (! readArgumentFile (options.single["like"], reference, referenceRate, error))
            return fail (error);

        frames = juce::jmin (frames, reference.getNumSamples());
    }

    juce::AudioBuffer<float> trimmed (buffer.getNumChannels(), frames);

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
        trimmed.copyFrom (channel, 0, buffer, channel, skip, frames);

    if (! hostkit::writeFloatWav (juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[1]),
                                  trimmed, rate, error))
        return fail (error);

    return 0;
}

int hostValues (hostkit::Format format, const juce::String& location, const Options& options)
{
    hostkit::Host host;
    juce::String error;
    auto instance = host.load (format, location, 48000.0, 512, error);

    if (instance == nullptr)
        return fail (error);

    for (const auto& assignment : options.positional)
    {
        hostkit::ParameterEvent event;

        if (! splitAssignment (assignment, event))
            return fail ("bad setting " + assignment);

        auto* parameter = hostkit::findParameter (*instance, event.id);

        if (parameter == nullptr)
            return fail ("no parameter \"" + event.id + "\"");

        const auto normalised = hostkit::normalisedFor (*parameter, event.value);
        // LV2 hosts write plain values: JUCE's LV2 host maps its normalised value linearly onto
        // the port's range, so the plain value comes back through that same mapping.
        const double written = format == hostkit::Format::vst3 ? (double) normalised
                                                               : parameter->getText (normalised, 1024).getDoubleValue();
        const auto text = format == hostkit::Format::lv2 && parameter->isDiscrete() && parameter->getNumSteps() <= 64
                              ? juce::String (juce::roundToInt (normalised * (float) (parameter->getNumSteps() - 1)))
                              : juce::String (written, 9);
        std::cout << parameter->getName (1024) << "\t" << text << std::endl;
    }

    return 0;
}

int writeSignal (const juce::String& kind, const Options& options)
{
    if (options.positional.size() < 1)
        return fail (kind + " needs an output file");

    const double rate = options.single.getValue ("rate", "48000").getDoubleValue();
    juce::AudioBuffer<float> buffer;

    if (kind == "demo-signal")
    {
        buffer = hostkit::makeDemoSignal (rate, options.single.getValue ("seconds", "9").getDoubleValue());
    }
    else
    {
        buffer = hostkit::makeSine (rate, options.single.getValue ("seconds", "2").getDoubleValue(),
                                    options.single.getValue ("freq", "1000").getDoubleValue(),
                                    options.single.getValue ("amp", "0.5").getDoubleValue(),
                                    options.single.getValue ("channels", "2").getIntValue());
    }

    juce::String error;

    if (! hostkit::writeFloatWav (juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[0]), buffer,
                                  rate, error))
        return fail (error);

    return 0;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h")
    {
        std::cout << usage << hostkit::editorUsage;
        return args.isEmpty() ? 2 : 0;
    }

    // Plug-ins are created and driven from the message thread, which this thread becomes.
    juce::ScopedJuceInitialiser_GUI juce;
    const auto command = args[0];
    Options options;
    juce::String error;

    if (command == "info" || command == "render" || command == "host-values")
    {
        hostkit::Format format;

        if (args.size() < 3 || ! hostkit::parseFormat (args[1], format))
            return fail (command + " needs a format (vst3 or lv2) and a bundle\n" + usage);

        if (! parseOptions (args, 3, options, error))
            return fail (error);

        if (command == "host-values")
            return hostValues (format, args[2], options);

        return command == "info" ? info (format, args[2], options) : render (format, args[2], options);
    }

    if (! parseOptions (args, 1, options, error))
        return fail (error);

    if (command == "editor")
        return hostkit::runEditorCommand (options.single, options.sets);
    if (command == "demo-signal" || command == "sine")
        return writeSignal (command, options);
    if (command == "stats")
        return stats (options);
    if (command == "compare")
        return compare (options);
    if (command == "envelope")
        return envelope (options);
    if (command == "to-raw")
        return toRaw (options);
    if (command == "trim")
        return trim (options);

    return fail ("unknown command " + command + "\n" + usage + hostkit::editorUsage);
}
