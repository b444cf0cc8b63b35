#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_dsp/juce_dsp.h>

// The console half of the colour stage: a very short convolution with the embedded console
// response, followed by a fixed lift that brings the normalised response back up to level.
//
// The response is decoded on the preparing thread and parked in a pending slot; the audio thread
// picks it up with a try-lock and hands it to the framework's convolution, which builds the new
// engine on its own background thread and crossfades to it. Nothing here allocates or waits on
// the audio thread.
class ConsoleConvolution
{
public:
    // Frames of the stored response that make up the console: the first ones are lead-in.
    static constexpr int firstImpulseFrame = 10;
    static constexpr int numImpulseFrames = 7;
    static constexpr float outputGainDecibels = 17.0f;
    static constexpr double outputGainRampSeconds = 0.02;

    void prepare (const juce::dsp::ProcessSpec& spec);
    void process (const juce::dsp::ProcessContextReplacing<float>& context);

    // Decodes a response from encoded audio data (any registered format) and parks it for the
    // audio thread. Runs on the preparing thread; data that no format can read, or that holds no
    // usable response, leaves the console with the response it already has.
    void loadImpulseResponse (juce::AudioFormatManager& formatManager, const void* data, size_t numBytes);

    bool outputGainPrimed = false;
    juce::dsp::Convolution convolution;
    juce::AudioBuffer<float> pendingImpulse;
    float pendingSampleRate = 44100.0f;
    bool impulsePending = false;
    juce::SpinLock impulseLock;
    juce::dsp::Gain<float> outputGain;

private:
    void takePendingImpulse() noexcept;

    // What the convolution was prepared for. Its internal buffers hold no more than this, so
    // anything larger that reaches process is fed to it in pieces or passed by.
    size_t convolutionBlockSize = 0;
    size_t convolutionChannels = 0;

    // Set by the audio thread once it has passed a response to the convolution; read only while
    // preparing, when no chunk runs.
    bool responseHandedOver = false;
};
