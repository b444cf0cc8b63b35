#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_dsp/juce_dsp.h>

// The console half of the colour stage: a very short convolution with the embedded console
// response, followed by a fixed lift that brings the normalised response back up to level.
//
// The response is a handful of taps, so it runs as a direct filter: an FFT engine would cost
// several times more per sample and twice that again at small blocks. It is built on the
// preparing thread as the framework's convolution would build it (trimmed, resampled to the
// processing rate, normalised), with the lift folded in, and parked in a pending slot. The audio
// thread takes it with a try-lock at the start of a chunk and blends over to it from the previous
// response in 0.05 s, as the framework's convolution does, but on the first chunk after the
// response was parked instead of whenever a loader thread gets round to it: two offline renders
// of the same input are equal from their first sample. Nothing here allocates or waits on the
// audio thread.
class ConsoleConvolution
{
public:
    // Frames of the stored response that make up the console: the first ones are lead-in.
    static constexpr int firstImpulseFrame = 10;
    static constexpr int numImpulseFrames = 7;
    static constexpr float outputGainDecibels = 17.0f;
    // The framework's blend between the previous and a new response.
    static constexpr double blendSeconds = 0.05;
    // Longest response at the processing rate. The console response has 4 taps at 48 kHz and 15 at
    // 192 kHz; a response that would need more is refused.
    static constexpr int maxTaps = 64;

    void prepare (const juce::dsp::ProcessSpec& spec);
    void process (const juce::dsp::ProcessContextReplacing<float>& context) noexcept;

    // Decodes a response from encoded audio data (any registered format) and parks it for the
    // audio thread. Runs on the preparing thread after prepare; data that no format can read, or
    // that holds no usable response, leaves the console with the response it already has.
    void loadImpulseResponse (juce::AudioFormatManager& formatManager, const void* data, size_t numBytes);

    // A decoded response (one or two channels) as it runs at processingRate: its silent ends
    // trimmed away (below -80 dB), resampled from responseRate, scaled to a norm of 0.125 in its
    // stronger channel and lifted by outputGainDecibels. Empty when it would exceed maxTaps.
    static juce::AudioBuffer<float> makeTaps (const juce::AudioBuffer<float>& response, double responseRate,
                                              double processingRate);

    // Taps of the response in use (1 until a response has been taken over).
    int getResponseLength() const noexcept { return currentTaps.getNumSamples(); }
    const juce::AudioBuffer<float>& getCurrentTaps() const noexcept { return currentTaps; }

    // The pending slot, guarded by impulseLock: the decoded response and its rate, and its taps at
    // the prepared rate.
    juce::AudioBuffer<float> pendingImpulse;
    float pendingSampleRate = 44100.0f;
    juce::AudioBuffer<float> pendingTaps;
    bool impulsePending = false;
    juce::SpinLock impulseLock;

private:
    void takePendingResponse() noexcept;
    void filter (const juce::AudioBuffer<float>& taps, const float* history, float* out, int channel,
                 int numSamples) const noexcept;

    double preparedRate = 44100.0;
    int preparedBlockSize = 0;

    // The response in use and, while the blend runs, the one before it.
    juce::AudioBuffer<float> currentTaps, previousTaps;
    juce::LinearSmoothedValue<float> previousWeight;

    // The decoded response in use, kept to rebuild its taps when the rate changes.
    juce::AudioBuffer<float> currentImpulse;
    double currentImpulseRate = 0.0;

    // Per channel: the last maxTaps - 1 input samples followed by room for one chunk.
    juce::AudioBuffer<float> history;
    // The previous response's output and the blend weights while the blend runs.
    juce::AudioBuffer<float> blendScratch;
};
