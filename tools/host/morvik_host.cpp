// morvik_host: a command-line plug-in host on JUCE's VST3 and LV2 hosting, plus the few signal tools
// the host tests and the demo need. Run without arguments for the usage.

#include "Commands.h"
#include "EditorCommand.h"

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
} // namespace

int main (int argc, char* argv[])
{
    using namespace hostkit;
    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    if (args.isEmpty() || args[0] == "--help" || args[0] == "-h")
    {
        std::cout << usage << editorUsage;
        return args.isEmpty() ? 2 : 0;
    }

    // Plug-ins are created and driven from the message thread, which this thread becomes.
    juce::ScopedJuceInitialiser_GUI juce;
    const auto command = args[0];
    Options options;
    juce::String error;

    if (command == "info" || command == "render" || command == "host-values")
    {
        Format format;

        if (args.size() < 3 || ! parseFormat (args[1], format))
            return fail (command + " needs a format (vst3 or lv2) and a bundle\n" + usage);

        if (! parseOptions (args, 3, options, error))
            return fail (error);

        if (command == "host-values")
            return commands::hostValues (format, args[2], options);

        return command == "info" ? commands::info (format, args[2], options)
                                 : commands::render (format, args[2], options);
    }

    if (! parseOptions (args, 1, options, error))
        return fail (error);

    if (command == "editor")
        return runEditorCommand (options.single, options.sets);
    if (command == "demo-signal" || command == "sine")
        return commands::writeSignal (command, options);
    if (command == "stats")
        return commands::stats (options);
    if (command == "compare")
        return commands::compare (options);
    if (command == "envelope")
        return commands::envelope (options);
    if (command == "to-raw")
        return commands::toRaw (options);
    if (command == "trim")
        return commands::trim (options);

    return fail ("unknown command " + command + "\n" + usage + editorUsage);
}
