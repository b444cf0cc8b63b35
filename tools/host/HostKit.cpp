#include "HostKit.h"

#include <cstdlib>
#include <filesystem>

// Loading a bundle and choosing its buses.
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
} // namespace hostkit
