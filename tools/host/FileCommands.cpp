#include "Commands.h"
#include "DemoSignal.h"

#include <iostream>

namespace hostkit::commands
{
namespace
{
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
} // namespace

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
} // namespace hostkit::commands
