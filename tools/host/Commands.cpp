#include "Commands.h"

#include <iostream>

namespace hostkit
{
int fail (const juce::String& message)
{
    std::cerr << "morvik_host: " << message << std::endl;
    return 1;
}

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
} // namespace hostkit
