#include "HostKit.h"

#include <cmath>

// Audio files, level measurements and test signals.
namespace hostkit
{
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
} // namespace hostkit
