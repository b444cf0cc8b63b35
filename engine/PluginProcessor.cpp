#include "engine/PluginProcessor.h"
#include "editor/PluginEditor.h"
#include "engine/ParameterIds.h"
#include "engine/ParameterState.h"

#include <BinaryData.h>

#include <iostream>

namespace
{

struct EmbeddedResource
{
    const void* data;
    size_t size;
};

// The console responses the processor can select; this build ships one.
EmbeddedResource consoleImpulse (int index)
{
    switch (index)
    {
        case 3:
        default:
            return { BinaryData::console_impulse_wav, (size_t) BinaryData::console_impulse_wavSize };
    }
}
} // namespace

//==============================================================================
// The LV2 wrapper of the packaged framework enables every bus when it creates the processor and
// reads every input port without checking it is connected, so an optional side-chain there would
// silence the detector or crash hosts that leave the port open. The LV2 build has no side-chain.
juce::AudioProcessor::BusesProperties MorvikAudioProcessor::makeBuses()
{
    auto buses = BusesProperties().withInput ("Input", juce::AudioChannelSet::stereo(), true);

    if (juce::PluginHostType::getPluginLoadedAs() != wrapperType_LV2)
        buses = buses.withInput ("Sidechain", juce::AudioChannelSet::stereo(), false);

    return buses.withOutput ("Output", juce::AudioChannelSet::stereo(), true);
}

MorvikAudioProcessor::MorvikAudioProcessor()
    : juce::AudioProcessor (makeBuses()),
      apvts (*this, nullptr, "Parameters", createParameters()),
      bands { Band (*this, 1), Band (*this, 2), Band (*this, 3) }
{
    gainReductionMeter.store (-7.0f);
    inputLevelMeter.store (0.0f);

    globals = { apvts.getRawParameterValue ("Power"),     apvts.getRawParameterValue ("Compress"),
                apvts.getRawParameterValue ("Character"), apvts.getRawParameterValue ("Makeup"),
                apvts.getRawParameterValue ("Ratio"),     apvts.getRawParameterValue ("Attack"),
                apvts.getRawParameterValue ("Release"),   apvts.getRawParameterValue ("Mix"),
                apvts.getRawParameterValue ("Smooth") };

    for (auto& band : bands)
    {
        const juce::Identifier* ids[] = { &band.onId, &band.typeId, &band.freqId, &band.gainId, &band.qId };
        std::atomic<float>** pointers[] = { &band.on, &band.type, &band.freq, &band.gain, &band.q };

        for (int i = 0; i < 5; ++i)
            *pointers[i] = apvts.getRawParameterValue (ids[i]->toString());

        for (auto* id : ids)
            apvts.addParameterListener (id->toString(), &band);
    }
}

MorvikAudioProcessor::~MorvikAudioProcessor()
{
    for (auto& band : bands)
        for (auto* id : { &band.onId, &band.typeId, &band.freqId, &band.gainId, &band.qId })
            apvts.removeParameterListener (id->toString(), &band);
}

juce::String MorvikAudioProcessor::bandParameterId (int band, const juce::String& suffix) const
{
    return ParameterIds::band (band, suffix, wrapperType == wrapperType_LV2);
}

//==============================================================================
const juce::String MorvikAudioProcessor::getName() const { return "Morvik"; }

void MorvikAudioProcessor::releaseResources() {}

double MorvikAudioProcessor::getTailLengthSeconds() const { return 0.0; }

bool MorvikAudioProcessor::acceptsMidi() const { return false; }

bool MorvikAudioProcessor::producesMidi() const { return false; }

bool MorvikAudioProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* MorvikAudioProcessor::createEditor()
{
    return new MorvikAudioProcessorEditor (*this, apvts);
}

bool MorvikAudioProcessor::hasEditor() const { return true; }

int MorvikAudioProcessor::getNumPrograms() { return 1; }

int MorvikAudioProcessor::getCurrentProgram() { return 0; }

void MorvikAudioProcessor::setCurrentProgram (int) {}

const juce::String MorvikAudioProcessor::getProgramName (int) { return {}; }

void MorvikAudioProcessor::changeProgramName (int, const juce::String&) {}

void MorvikAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    destData.reset();
    juce::MemoryOutputStream stream (destData, false);
    ParameterState::copyExact (apvts).writeToStream (stream);
}

void MorvikAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (sizeInBytes > 0)
        ParameterState::restore (apvts, data, (size_t) sizeInBytes, ParameterState::Recall::exact);
}

bool MorvikAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();
    const auto input = layouts.getMainInputChannelSet();

    if (output == juce::AudioChannelSet::mono())
        return input == juce::AudioChannelSet::mono();

    if (output == juce::AudioChannelSet::stereo())
        return input == juce::AudioChannelSet::stereo();

    return false;
}

//==============================================================================
void MorvikAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    forEachChunk (buffer, getChunkSize(), [this] (juce::AudioBuffer<float>& chunk) { processChunk (chunk); });
}

void MorvikAudioProcessor::prepareToPlay (double newSampleRate, int samplesPerBlock)
{
    samplesPerBlock = juce::jmax (0, samplesPerBlock);

    sampleRate.store (newSampleRate);
    numChannels = (juce::uint32) getTotalNumOutputChannels();
    blockSize = (juce::uint32) samplesPerBlock;
    const auto spec = getProcessSpec();

    compressor.prepare (newSampleRate, samplesPerBlock);

    smoothCompressor.prepare ({ newSampleRate, blockSize, 2 });
    smoothCompressor.reset();

    smoothGain.prepare ({ newSampleRate, blockSize, 2 });
    smoothGain.reset();

    powerFadeBuffer.setSize (2, samplesPerBlock);
    powerFadeGain = 1.0f;
    powerFadeLength = juce::jmax (1, (int) (0.02 * newSampleRate));
    powerFadeInitialised = false;

    sidechainBuffer.setSize (2, samplesPerBlock);
    silentBuffer.setSize (2, samplesPerBlock);
    silentBuffer.clear();

    grain.prepare (spec);
    console.prepare (spec);

    if (formatManager.getNumKnownFormats() == 0)
        formatManager.registerBasicFormats();

    const auto impulse = consoleImpulse (irIndex);
    console.loadImpulseResponse (formatManager, impulse.data, impulse.size);

    // The blend starts at the current "Character" instead of ramping there from wherever it
    // stood (fully wet on the first preparation), which would colour the first 50 ms regardless.
    characterMixer.prepare (spec);
    characterMixer.setWetMixProportion (juce::jlimit (0.0f, 1.0f, globals.character->load() / 100.0f));
    characterMixer.reset();

    setLatencySamples (0);

    for (auto& band : bands)
        band.prepare();

    mainInputChannels = getMainBusNumInputChannels();
    totalOutputChannels = getTotalNumOutputChannels();
}

void MorvikAudioProcessor::processChunk (juce::AudioBuffer<float>& buffer)
{
    const int n = buffer.getNumSamples();
    const int B = buffer.getNumChannels();
    const int M = mainInputChannels;

    const float power = globals.power->load();
    const float compress = globals.compress->load();
    const float character = globals.character->load();
    const float makeup = globals.makeup->load();
    const float ratio = globals.ratio->load();
    const float attack = globals.attack->load();
    const float release = globals.release->load();
    const float mix = globals.mix->load();
    const float smooth = globals.smooth->load();

    // Nothing is sized before the first preparation, and a host that hands over fewer channels
    // than it negotiated gets its audio back untouched rather than read out of bounds.
    if (blockSize == 0 || totalOutputChannels <= 0 || totalOutputChannels > B || M > B || n > (int) blockSize)
        return;

    powerOff = power == 0.0f;

    auto& gainComputer = compressor.gainComputer;
    gainComputer.threshold = -compress;
    if (ratio != gainComputer.ratio)
    {
        gainComputer.ratio = ratio;
        gainComputer.slope = 1.0f / ratio - 1.0f;
    }

    auto& detector = compressor.levelDetector;
    if (attack == 50.01f)
    {
        detector.autoAttack = true;
    }
    else
    {
        detector.autoAttack = false;
        detector.setAttack ((double) attack * 0.001);
    }

    if (release == 1501.0f)
    {
        detector.autoRelease = true;
    }
    else
    {
        detector.autoRelease = false;
        detector.setRelease ((double) release * 0.001);
    }

    compressor.makeupDb = makeup;
    compressor.mix = mix;
    compressor.stereoLink = 50.0f;

    smoothCompressor.setRatio (ratio);
    smoothCompressor.setAttack ((float) (0.8 * attack));
    smoothCompressor.setRelease ((float) (0.6 * release));
    smoothCompressor.setThreshold ((float) (-0.6 * smooth));
    smoothGain.setGainDecibels ((float) (0.3 * smooth));

    characterMixer.setWetMixProportion (juce::jlimit (0.0f, 1.0f, character / 100.0f));

    juce::AudioBuffer<float> mainView (buffer.getArrayOfWritePointers(), totalOutputChannels, n);

    if (M == 1 && totalOutputChannels == 2)
        mainView.copyFrom (1, 0, mainView, 0, 0, n);

    sidechainBuffer.setSize (2, n, false, false, true);
    {
        const int s = (B >= 2 && M >= 2) ? 1 : 0;
        const auto* sidechainBus = getBus (true, 1);
        const bool sidechainDisabled = sidechainBus == nullptr || sidechainBus->getCurrentLayout().isDisabled();
        const int extra = B - M;

        int left = 0, right = s;
        if (! sidechainDisabled && extra == 1)
            left = right = M;
        else if (! sidechainDisabled && extra == 2)
            left = M, right = M + 1;

        sidechainBuffer.copyFrom (0, 0, buffer, left, 0, n);
        sidechainBuffer.copyFrom (1, 0, buffer, right, 0, n);
    }

    const float target = powerOff ? 0.0f : 1.0f;
    if (! powerFadeInitialised)
    {
        powerFadeGain = target;
        powerFadeInitialised = true;
    }

    const int C = juce::jmin (totalOutputChannels, 2);
    bool fading = false;
    if (powerFadeGain != target && n <= powerFadeBuffer.getNumSamples())
    {
        for (int c = 0; c < C; ++c)
            powerFadeBuffer.copyFrom (c, 0, mainView, c, 0, n);
        fading = true;
    }

    if (powerOff && powerFadeGain <= 0.0f)
    {
        gainReductionMeter.exchange (-7.0f);
        inputLevelMeter.exchange (0.0f);

        if (analyserEnabled.load())
        {
            const juce::AudioBuffer<float> silence (silentBuffer.getArrayOfWritePointers(), 2, n);
            const juce::SpinLock::ScopedTryLockType lock (analyserResizeLock);
            if (lock.isLocked())
                pushNextSampleToFifo (silence, M, analyserFifo, analyserBuffer);
        }

        powerFadeGain = target;
        return;
    }

    if (n > 0)
    {
        for (auto& band : bands)
            if (band.active.load (std::memory_order_relaxed))
                band.process (sidechainBuffer, n);

        juce::dsp::AudioBlock<float> detectorBlock (sidechainBuffer);
        smoothCompressor.process (juce::dsp::ProcessContextReplacing<float> (detectorBlock));
        smoothGain.process (juce::dsp::ProcessContextReplacing<float> (detectorBlock));

        juce::dsp::AudioBlock<float> mainBlock (mainView);
        const juce::dsp::ProcessContextReplacing<float> mainContext (mainBlock);
        characterMixer.pushDrySamples (mainBlock);
        console.process (mainContext);
        grain.process (mainContext);
        characterMixer.mixWetSamples (mainBlock);

        compressor.process (mainView, sidechainBuffer);

        gainReductionMeter.exchange (compressor.gainReductionDb);
        inputLevelMeter.exchange (compressor.inputLevel);
    }

    if (analyserEnabled.load())
    {
        const juce::SpinLock::ScopedTryLockType lock (analyserResizeLock);
        if (lock.isLocked())
            pushNextSampleToFifo (sidechainBuffer, M, analyserFifo, analyserBuffer);
    }

    if (fading)
    {
        const float increment = 1.0f / (float) powerFadeLength;
        float g = powerFadeGain;

        for (int i = 0; i < n; ++i)
        {
            g = target > g ? juce::jmin (g + increment, target) : juce::jmax (g - increment, target);

            for (int c = 0; c < C; ++c)
            {
                auto* out = mainView.getWritePointer (c);
                out[i] = out[i] * g + powerFadeBuffer.getSample (c, i) * (1.0f - g);
            }
        }

        powerFadeGain = g;
    }
    else
    {
        powerFadeGain = target;
    }
}

//==============================================================================
void MorvikAudioProcessor::pushNextSampleToFifo (const juce::AudioBuffer<float>& buffer, int channelsToSum,
                                                 juce::AbstractFifo& fifo, juce::AudioBuffer<float>& fifoBuffer)
{
    const int n = buffer.getNumSamples();
    if (fifo.getFreeSpace() < n)
        return;

    int start1, size1, start2, size2;
    fifo.prepareToWrite (n, start1, size1, start2, size2);

    if (size1 > 0)
        fifoBuffer.copyFrom (0, start1, buffer, 0, 0, size1);
    if (size2 > 0)
        fifoBuffer.copyFrom (0, start2, buffer, 0, size1, size2);

    for (int c = 1; c < channelsToSum; ++c)
    {
        if (size1 > 0)
            fifoBuffer.addFrom (0, start1, buffer, c, 0, size1);
        if (size2 > 0)
            fifoBuffer.addFrom (0, start2, buffer, c, size1, size2);
    }

    fifo.finishedWrite (size1 + size2);
    analyserDataReady.exchange (true);
}

void MorvikAudioProcessor::resizeAnalyserFeed (int numSamples)
{
    // A feed needs at least one slot: with none, even an empty block would be refused.
    numSamples = juce::jmax (1, numSamples);

    const juce::SpinLock::ScopedLockType lock (analyserResizeLock);
    analyserFifo.setTotalSize (numSamples);
    analyserBuffer.setSize (1, numSamples);
    analyserFifo.reset();
    analyserBuffer.clear();
}

//==============================================================================
void MorvikAudioProcessor::loadPreset (juce::File file)
{
    // Factory presets are a few hundred bytes; anything far larger is not one of ours.
    constexpr juce::int64 largestPreset = 1 << 20;

    juce::FileInputStream stream (file);

    juce::MemoryBlock contents;
    const bool readable =
        stream.openedOk() && stream.getTotalLength() <= largestPreset && stream.readIntoMemoryBlock (contents) > 0;

    // A preset that is not a complete parameter state is refused like one that cannot be opened:
    // replacing the state with a broken tree would corrupt what the host saves from then on.
    if (! readable || ! ParameterState::restore (apvts, contents.getData(), contents.getSize()))
        std::cout << "LOAD PRESET ERROR" << std::endl;
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter() { return new MorvikAudioProcessor(); }
