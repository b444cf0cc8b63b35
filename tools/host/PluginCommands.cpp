#include "Commands.h"

#include <iostream>

namespace hostkit::commands
{
namespace
{
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
} // namespace

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
} // namespace hostkit::commands
