#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include "engine/dsp/Compressor.h"
#include "engine/dsp/ConsoleConvolution.h"
#include "engine/dsp/Grain.h"
#include "engine/dsp/ParameterTable.h"
#include "engine/dsp/PowerFade.h"
#include "engine/dsp/SmoothCompressor.h"
#include "engine/dsp/VectorMath.h"

#include <array>
#include <atomic>
#include <cfloat>
#include <cmath>

class MorvikAudioProcessor : public juce::AudioProcessor
{
public:
    //==============================================================================
#define MORVIK_PROCESSOR_DEFINES_BAND
#include "engine/plugin/Band.h"
#undef MORVIK_PROCESSOR_DEFINES_BAND

    //==============================================================================
    MorvikAudioProcessor();
    ~MorvikAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    using juce::AudioProcessor::processBlock;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    juce::AudioProcessorValueTreeState::ParameterLayout createParameters();

    // The identifier of band parameter `suffix` of band 1 to 3: "2Gain" and so on. LV2 names every
    // parameter in its manifest, where a name cannot start with a digit, and the framework's LV2
    // wrapper would turn "1On", "2On" and "3On" all into "_On"; the LV2 build calls them "Band1On"
    // etc. instead, and reads stored states and presets under either name.
    juce::String bandParameterId (int band, const juce::String& suffix) const;
    void pushNextSampleToFifo (const juce::AudioBuffer<float>& buffer, int channelsToSum, juce::AbstractFifo& fifo,
                               juce::AudioBuffer<float>& fifoBuffer);
    void loadPreset (juce::File file);

    // Called by a new editor before it raises analyserEnabled: sizes the feed to numSamples while
    // no push can be under way (a push that finds the feed busy is dropped instead of waiting).
    void resizeAnalyserFeed (int numSamples);

    juce::dsp::ProcessSpec getProcessSpec() const noexcept { return { sampleRate.load(), blockSize, numChannels }; }

    //==============================================================================
    int irIndex = 3;
    juce::StringArray bandTypeChoices { ParameterTable::bandTypeNames, ParameterTable::numBandTypes };

    std::atomic<bool> analyserDataReady { false };
    std::atomic<bool> analyserEnabled { false };
    juce::AbstractFifo analyserFifo { 1 };
    juce::AudioBuffer<float> analyserBuffer;

    // The processing spec. The rate is read by parameter threads and the editor while
    // prepareToPlay may be writing it, so it is atomic; the other two stay on the preparing and
    // audio threads.
    std::atomic<double> sampleRate { 0.0 };
    juce::uint32 blockSize = 0;
    juce::uint32 numChannels = 0;

    juce::AudioProcessorValueTreeState apvts;

    std::atomic<float> gainReductionMeter { 0.0f };
    std::atomic<float> inputLevelMeter { 0.0f };
    // What the meters read before the first chunk and while the plug-in is fully off.
    static constexpr float gainReductionAtRest = -7.0f, inputLevelAtRest = 0.0f;

    // The compressor always links the channels halfway; the editor shows it on its fixed STEREO LINK knob.
    static constexpr float stereoLinkPercent = 50.0f;

    ConsoleConvolution console;
    Grain<float> grain;

    bool powerOff = false;
    int editorWidth = 900;
    int editorHeight = 530;
    int totalOutputChannels = 0;

    juce::AudioFormatManager formatManager;

    std::array<Band, 3> bands;

    Compressor compressor;
    juce::dsp::DryWetMixer<float> characterMixer;
    // The "Smooth" pre-compressor of the detector and its make-up gain.
    SmoothCompressor smoothCompressor;
    juce::AudioBuffer<float> sidechainBuffer;
    juce::AudioBuffer<float> silentBuffer;
    PowerFade powerFade;

private:
    static BusesProperties makeBuses();

    void processChunk (juce::AudioBuffer<float>& buffer);

    // Cuts a block into chunks of at most chunkSize samples that refer to the block's own memory.
    // processBlock runs processChunk through it; it is a template so that it costs nothing extra.
    template <typename ChunkFunction>
    static void forEachChunk (juce::AudioBuffer<float>& buffer, int chunkSize, ChunkFunction&& processOne)
    {
        const int numSamples = buffer.getNumSamples();

        if (numSamples <= chunkSize)
        {
            processOne (buffer);
            return;
        }

        for (int start = 0; start < numSamples; start += chunkSize)
        {
            const int length = juce::jmin (chunkSize, numSamples - start);
            juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start, length);
            processOne (view);
        }
    }

    // The chunk size processBlock uses: the prepared block size, at least one sample.
    int getChunkSize() const noexcept { return blockSize >= 2 ? (int) blockSize : 1; }

    int mainInputChannels = 0;

    // The raw values of the nine global parameters, looked up once: a lookup by identifier is a
    // string search, and each chunk reads all nine.
    struct GlobalParameters
    {
        std::atomic<float>* power = nullptr;
        std::atomic<float>* compress = nullptr;
        std::atomic<float>* character = nullptr;
        std::atomic<float>* makeup = nullptr;
        std::atomic<float>* ratio = nullptr;
        std::atomic<float>* attack = nullptr;
        std::atomic<float>* release = nullptr;
        std::atomic<float>* mix = nullptr;
        std::atomic<float>* smooth = nullptr;
    } globals;

    // One chunk's values of the nine, each loaded once.
    struct Settings
    {
        float power, compress, character, makeup, ratio, attack, release, mix, smooth;
    };

    // The steps of processChunk, in the order it runs them.
    Settings loadSettings() const noexcept;
    void applySettings (const Settings& settings) noexcept;
    void routeDetector (const juce::AudioBuffer<float>& chunk, int numSamples) noexcept;
    void processDetector (int numSamples) noexcept;
    void processColour (juce::AudioBuffer<float>& main) noexcept;
    void feedAnalyser (const juce::AudioBuffer<float>& detector) noexcept;

    // Guards analyserBuffer and analyserFifo against a resize while the audio thread pushes. The
    // audio thread only ever tries it.
    juce::SpinLock analyserResizeLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvikAudioProcessor)
};
