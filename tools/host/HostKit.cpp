#include "HostKit.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace hostkit
{
bool parseFormat (const juce::String& text, Format& format)
{
    if (text.equalsIgnoreCase ("vst3"))
    {
        format = Format::vst3;
        return true;
    }

    if (text.equalsIgnoreCase ("lv2"))
    {
        format = Format::lv2;
        return true;
    }

    return false;
}

juce::String formatName (Format format) { return format == Format::vst3 ? "VST3" : "LV2"; }

// A file named on the command line: relative to the working folder, with "." and ".." resolved.
static juce::File resolvePath (const juce::String& location)
{
    const auto absolute = juce::File::getCurrentWorkingDirectory().getChildFile (location).getFullPathName();
    return juce::File (juce::String (std::filesystem::path (absolute.toStdString()).lexically_normal().string()))
        .getLinkedTarget();
}

//==============================================================================
Host::Host() = default;
Host::~Host() = default;

juce::AudioPluginFormat& Host::getFormat (Format format)
{
    if (format == Format::vst3)
        return vst3;

    // Building the LV2 world reads every bundle in the default folders, so only do it on demand.
    // The user's own folder (~/.lv2) is left out: a copy of the plug-in installed there (the
    // project's setup installs one) would otherwise be found first and shadow the bundle under test.
    // JUCE reads it through HOME, so HOME points to an empty folder while the world is built.
    if (lv2 == nullptr)
    {
        const auto home = juce::SystemStats::getEnvironmentVariable ("HOME", {});
        const juce::TemporaryFile emptyHome;
        emptyHome.getFile().createDirectory();
        setenv ("HOME", emptyHome.getFile().getFullPathName().toRawUTF8(), 1);
        lv2 = std::make_unique<juce::LV2PluginFormat>();
        setenv ("HOME", home.toRawUTF8(), 1);
        emptyHome.getFile().deleteRecursively();
    }

    return *lv2;
}

juce::String readLv2PluginUri (const juce::File& bundle)
{
    const auto manifest = bundle.getChildFile ("manifest.ttl").loadFileAsString();
    juce::StringArray lines;
    lines.addLines (manifest);

    // The manifest names each plug-in as "<uri>" followed by "a lv2:Plugin" on the next line.
    for (int i = 0; i + 1 < lines.size(); ++i)
    {
        const auto line = lines[i].trim();

        if (line.startsWith ("<") && line.endsWith (">") && lines[i + 1].contains ("lv2:Plugin"))
            return line.substring (1, line.length() - 1);
    }

    return {};
}

// A bundle of the same folder name in one of the system's LV2 folders that is not `bundle` and
// differs from it in any file; empty if there is none.
static juce::String findShadowingInstall (const juce::File& bundle)
{
    const juce::StringArray folders { "/usr/lib/lv2", "/usr/local/lib/lv2", "/usr/lib64/lv2", "/usr/local/lib64/lv2" };

    for (const auto& folder : folders)
    {
        const auto candidate = juce::File (folder).getChildFile (bundle.getFileName());

        if (! candidate.isDirectory() || candidate.getLinkedTarget() == bundle.getLinkedTarget())
            continue;

        for (const auto& file : bundle.findChildFiles (juce::File::findFiles, true))
        {
            const auto installed = candidate.getChildFile (file.getRelativePathFrom (bundle));

            if (! installed.existsAsFile() || ! installed.hasIdenticalContentTo (file))
                return candidate.getFullPathName();
        }
    }

    return {};
}

std::unique_ptr<juce::AudioPluginInstance> Host::load (Format format, const juce::String& location, double sampleRate,
                                                       int blockSize, juce::String& error)
{
    auto& pluginFormat = getFormat (format);
    juce::String identifier = location;

    if (format == Format::vst3)
    {
        const auto bundle = resolvePath (location);

        if (! bundle.exists())
        {
            error = "no such VST3 bundle: " + bundle.getFullPathName();
            return nullptr;
        }

        identifier = bundle.getFullPathName();
    }
    else
    {
        const auto bundle = resolvePath (location);

        if (! location.contains ("://") && ! location.startsWith ("urn:"))
        {
            if (! bundle.isDirectory())
            {
                error = "no such LV2 bundle: " + bundle.getFullPathName();
                return nullptr;
            }

            identifier = readLv2PluginUri (bundle);

            if (identifier.isEmpty())
            {
                error = "no lv2:Plugin in " + bundle.getChildFile ("manifest.ttl").getFullPathName();
                return nullptr;
            }

            // An LV2 host takes the first bundle it finds for a URI, and JUCE's LV2 host always
            // reads the system folders first: a different copy installed there would be loaded
            // instead of this bundle, so refuse rather than test the wrong binary.
            const auto shadow = findShadowingInstall (bundle);

            if (shadow.isNotEmpty())
            {
                error = "a different copy of " + identifier + " is installed at " + shadow
                        + "; LV2 hosts load that one instead of " + bundle.getFullPathName()
                        + " (remove it or install this build)";
                return nullptr;
            }

            // JUCE's LV2 host finds plug-ins only through its search path: add the bundle's folder.
            const auto folder = bundle.getParentDirectory().getFullPathName();

            if (! lv2FoldersLoaded.contains (folder))
            {
                pluginFormat.searchPathsForPlugins (juce::FileSearchPath (folder), false, false);
                lv2FoldersLoaded.add (folder);
            }
        }
    }

    juce::OwnedArray<juce::PluginDescription> types;
    pluginFormat.findAllTypesForFile (types, identifier);

    if (types.isEmpty())
    {
        error = "the " + formatName (format) + " host found no plug-in in " + location;
        return nullptr;
    }

    auto instance = pluginFormat.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);

    if (instance == nullptr && error.isEmpty())
        error = "could not create an instance of " + types[0]->name;

    return instance;
}

//==============================================================================
static juce::AudioProcessor::BusesLayout makeLayout (juce::AudioPluginInstance& instance,
                                                     const juce::AudioChannelSet& in, const juce::AudioChannelSet& out,
                                                     const juce::AudioChannelSet& sidechain)
{
    auto layout = instance.getBusesLayout();

    if (! layout.inputBuses.isEmpty())
        layout.inputBuses.getReference (0) = in;

    if (! layout.outputBuses.isEmpty())
        layout.outputBuses.getReference (0) = out;

    for (int bus = 1; bus < layout.inputBuses.size(); ++bus)
        layout.inputBuses.getReference (bus) = bus == 1 ? sidechain : juce::AudioChannelSet::disabled();

    for (int bus = 1; bus < layout.outputBuses.size(); ++bus)
        layout.outputBuses.getReference (bus) = juce::AudioChannelSet::disabled();

    return layout;
}

static juce::AudioChannelSet channelSet (int channels)
{
    if (channels <= 0)
        return juce::AudioChannelSet::disabled();

    return channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
}

bool applyLayout (juce::AudioPluginInstance& instance, const BusRequest& request)
{
    const auto main = channelSet (request.mainChannels);
    const auto layout = makeLayout (instance, main, main, channelSet (request.sidechainChannels));

    if (request.sidechainChannels > 0 && instance.getBusCount (true) < 2)
        return false;

    return instance.setBusesLayout (layout);
}

bool layoutSupported (juce::AudioPluginInstance& instance, const juce::AudioChannelSet& in,
                      const juce::AudioChannelSet& out, const juce::AudioChannelSet& sidechain)
{
    return instance.checkBusesLayoutSupported (makeLayout (instance, in, out, sidechain));
}

//==============================================================================
juce::String hostParameterId (const juce::AudioProcessorParameter& parameter)
{
    if (auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&parameter))
        return hosted->getParameterID();

    if (auto* withId = dynamic_cast<const juce::AudioProcessorParameterWithID*> (&parameter))
        return withId->getParameterID();

    return juce::String (parameter.getParameterIndex());
}

static juce::String vst3NumberFor (const juce::String& id)
{
    // JUCE's VST3 wrapper numbers a parameter by the hash of its identifier with the top bit cleared.
    auto hash = (juce::uint32) id.hashCode();
    hash &= 0x7fffffffu;
    return juce::String (hash);
}

bool matchesId (const juce::AudioProcessorParameter& parameter, const juce::String& id)
{
    const auto hostId = hostParameterId (parameter);

    if (hostId == id || hostId.endsWith (":" + id) || hostId.endsWith ("#" + id) || hostId.endsWith ("/" + id))
        return true;

    // The LV2 build names the band parameters "Band1On" and so on.
    if (hostId.endsWith (":Band" + id) || hostId.endsWith ("#Band" + id))
        return true;

    if (hostId == vst3NumberFor (id))
        return true;

    return false;
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& id)
{
    for (auto* parameter : instance.getParameters())
        if (matchesId (*parameter, id))
            return parameter;

    for (auto* parameter : instance.getParameters())
        if (parameter->getName (1024) == id)
            return parameter;

    return nullptr;
}

static bool isInteger (const juce::String& text)
{
    const auto trimmed = text.trim();
    return trimmed.isNotEmpty() && trimmed.containsOnly ("-0123456789") && trimmed.getLastCharacter() != '-';
}

float normalisedFor (const juce::AudioProcessorParameter& parameter, const juce::String& plainOrText)
{
    const auto steps = parameter.getNumSteps();
    const bool fewSteps = parameter.isDiscrete() && steps >= 2 && steps <= 64;

    if (! fewSteps)
        return juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));

    // A switch or a choice: a value text picks its step; a whole number is either the value in
    // the parameter's units (an LV2 integer port) or, when the plug-in cannot read it back as
    // such, the index of the step (VST3 switches and choices).
    for (int step = 0; step < steps; ++step)
    {
        const auto value = (float) step / (float) (steps - 1);

        if (parameter.getText (value, 1024).trim().equalsIgnoreCase (plainOrText.trim()))
            return value;
    }

    if (isInteger (plainOrText))
    {
        const auto asValue = juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));
        const auto readBack = parameter.getText (asValue, 1024).trim();

        if (isInteger (readBack) && readBack.getIntValue() == plainOrText.getIntValue())
            return asValue;

        const auto index = juce::jlimit (0, steps - 1, plainOrText.getIntValue());
        return (float) index / (float) (steps - 1);
    }

    return juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));
}

bool setParameter (juce::AudioPluginInstance& instance, const juce::String& id, const juce::String& plainOrText,
                   juce::String& error)
{
    auto* parameter = findParameter (instance, id);

    if (parameter == nullptr)
    {
        error = "no parameter \"" + id + "\"";
        return false;
    }

    const auto value = normalisedFor (*parameter, plainOrText);
    // The host's own path: a gesture around the change, as an automation write would do.
    parameter->beginChangeGesture();
    parameter->setValueNotifyingHost (value);
    parameter->endChangeGesture();
    return true;
}

//==============================================================================
bool render (juce::AudioPluginInstance& instance, const juce::AudioBuffer<float>& input,
             const juce::AudioBuffer<float>* sidechain, juce::AudioBuffer<float>& output, const RenderOptions& options,
             juce::String& error)
{
    const int numSamples = input.getNumSamples();
    const int mainIn = instance.getMainBusNumInputChannels();
    const int mainOut = instance.getMainBusNumOutputChannels();
    const int totalIn = instance.getTotalNumInputChannels();
    const int totalOut = instance.getTotalNumOutputChannels();
    const int sidechainChannels = totalIn - mainIn;
    const int blockSize = juce::jmax (1, options.blockSize);
    const double sampleRate = instance.getSampleRate() > 0 ? instance.getSampleRate() : 48000.0;

    output.setSize (input.getNumChannels(), numSamples);
    output.clear();

    struct Pending
    {
        int sample;
        juce::AudioProcessorParameter* parameter;
        float value;
    };

    std::vector<Pending> pending;

    for (const auto& event : options.events)
    {
        auto* parameter = findParameter (instance, event.id);

        if (parameter == nullptr)
        {
            error = "no parameter \"" + event.id + "\"";
            return false;
        }

        const auto sample = juce::jlimit (0, numSamples, (int) std::llround (event.timeSeconds * sampleRate));
        pending.push_back ({ sample, parameter, normalisedFor (*parameter, event.value) });
    }

    std::stable_sort (pending.begin(), pending.end(),
                      [] (const Pending& a, const Pending& b) { return a.sample < b.sample; });

    std::vector<int> reprepares;
    for (const auto time : options.reprepareTimes)
        reprepares.push_back (juce::jlimit (0, numSamples, (int) std::llround (time * sampleRate)));
    std::sort (reprepares.begin(), reprepares.end());
    size_t nextReprepare = 0;

    juce::AudioBuffer<float> block (juce::jmax (1, juce::jmax (totalIn, totalOut)), blockSize);
    juce::MidiBuffer midi;
    size_t nextEvent = 0;
    int position = 0;

    while (position < numSamples)
    {
        while (nextEvent < pending.size() && pending[nextEvent].sample <= position)
        {
            auto& event = pending[nextEvent++];
            event.parameter->beginChangeGesture();
            event.parameter->setValueNotifyingHost (event.value);
            event.parameter->endChangeGesture();
        }

        while (nextReprepare < reprepares.size() && reprepares[nextReprepare] <= position)
        {
            ++nextReprepare;
            instance.releaseResources();
            instance.setNonRealtime (true);
            instance.prepareToPlay (sampleRate, blockSize);
        }

        int length = juce::jmin (blockSize, numSamples - position);

        if (nextEvent < pending.size())
            length = juce::jmin (length, pending[nextEvent].sample - position);

        if (nextReprepare < reprepares.size())
            length = juce::jmin (length, reprepares[nextReprepare] - position);

        block.setSize (block.getNumChannels(), length, false, false, true);
        block.clear();

        for (int channel = 0; channel < mainIn; ++channel)
            block.copyFrom (channel, 0, input, juce::jmin (channel, input.getNumChannels() - 1), position, length);

        if (sidechain != nullptr && sidechainChannels > 0 && sidechain->getNumChannels() > 0)
        {
            const int available = juce::jlimit (0, length, sidechain->getNumSamples() - position);

            for (int channel = 0; channel < sidechainChannels && available > 0; ++channel)
                block.copyFrom (mainIn + channel, 0, *sidechain, juce::jmin (channel, sidechain->getNumChannels() - 1),
                                position, available);
        }

        instance.processBlock (block, midi);
        midi.clear();

        for (int channel = 0; channel < output.getNumChannels(); ++channel)
            output.copyFrom (channel, position, block, juce::jmin (channel, juce::jmax (0, mainOut - 1)), 0, length);

        position += length;
    }

    return true;
}

//==============================================================================
bool readAudioFile (const juce::File& file, juce::AudioBuffer<float>& buffer, double& sampleRate, juce::String& error)
{
    juce::AudioFormatManager manager;
    manager.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (manager.createReaderFor (file));

    if (reader == nullptr)
    {
        error = "cannot read " + file.getFullPathName();
        return false;
    }

    buffer.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&buffer, 0, (int) reader->lengthInSamples, 0, true, true);
    sampleRate = reader->sampleRate;
    return true;
}

bool writeFloatWav (const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate,
                    juce::String& error)
{
    file.deleteFile();
    file.getParentDirectory().createDirectory();
    auto stream = std::make_unique<juce::FileOutputStream> (file);

    if (! stream->openedOk())
    {
        error = "cannot write " + file.getFullPathName();
        return false;
    }

    juce::WavAudioFormat wav;
    // 32 bits makes JUCE's WAV writer store IEEE floats, so a render is written without rounding.
    std::unique_ptr<juce::AudioFormatWriter> writer (
        wav.createWriterFor (stream.get(), sampleRate, (unsigned int) buffer.getNumChannels(), 32, {}, 0));

    if (writer == nullptr)
    {
        error = "no WAV writer for " + file.getFullPathName();
        return false;
    }

    stream.release();
    return writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples());
}

//==============================================================================
double rmsDb (const juce::AudioBuffer<float>& buffer, int start, int numSamples)
{
    double sum = 0.0;
    long count = 0;

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
    {
        const auto* data = buffer.getReadPointer (channel);

        for (int i = start; i < juce::jmin (buffer.getNumSamples(), start + numSamples); ++i)
        {
            sum += (double) data[i] * (double) data[i];
            ++count;
        }
    }

    if (count == 0 || sum <= 0.0)
        return -300.0;

    return 10.0 * std::log10 (sum / (double) count);
}

double peakDb (const juce::AudioBuffer<float>& buffer, int start, int numSamples)
{
    double peak = 0.0;

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
    {
        const auto* data = buffer.getReadPointer (channel);

        for (int i = start; i < juce::jmin (buffer.getNumSamples(), start + numSamples); ++i)
            peak = juce::jmax (peak, std::abs ((double) data[i]));
    }

    return peak > 0.0 ? 20.0 * std::log10 (peak) : -300.0;
}

bool allFinite (const juce::AudioBuffer<float>& buffer)
{
    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
    {
        const auto* data = buffer.getReadPointer (channel);

        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (data[i]))
                return false;
    }

    return true;
}

double maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int start,
                         int numSamples)
{
    double worst = 0.0;
    const int channels = juce::jmin (a.getNumChannels(), b.getNumChannels());
    const int end = juce::jmin (juce::jmin (a.getNumSamples(), b.getNumSamples()), start + numSamples);

    for (int channel = 0; channel < channels; ++channel)
        for (int i = start; i < end; ++i)
            worst =
                juce::jmax (worst, std::abs ((double) a.getSample (channel, i) - (double) b.getSample (channel, i)));

    return worst;
}

juce::AudioBuffer<float> makeSine (double sampleRate, double seconds, double frequency, double amplitude, int channels)
{
    const int numSamples = (int) std::llround (seconds * sampleRate);
    juce::AudioBuffer<float> buffer (channels, numSamples);

    for (int i = 0; i < numSamples; ++i)
    {
        const auto value =
            (float) (amplitude * std::sin (juce::MathConstants<double>::twoPi * frequency * (double) i / sampleRate));

        for (int channel = 0; channel < channels; ++channel)
            buffer.setSample (channel, i, value);
    }

    return buffer;
}

juce::AudioBuffer<float> makeMusicLike (double sampleRate, double seconds, int seed)
{
    auto buffer = makeSine (sampleRate, seconds, 110.0, 0.4, 2);
    juce::Random random (seed);

    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const double t = i / sampleRate;
        const double burst = std::exp (-std::fmod (t, 0.25) * 20.0);
        buffer.addSample (0, i, (float) (0.3 * burst * (random.nextFloat() * 2.0f - 1.0f)));
        buffer.addSample (1, i, (float) (0.2 * std::sin (juce::MathConstants<double>::twoPi * 660.0 * t)));
    }

    return buffer;
}
} // namespace hostkit
