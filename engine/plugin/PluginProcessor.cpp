#include "engine/plugin/PluginProcessor.h"
#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/ParameterState.h"

#include <BinaryData.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

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
    gainReductionMeter.store (gainReductionAtRest);
    inputLevelMeter.store (inputLevelAtRest);

    namespace ids = ParameterIds;
    globals = { apvts.getRawParameterValue (ids::power),     apvts.getRawParameterValue (ids::compress),
                apvts.getRawParameterValue (ids::character), apvts.getRawParameterValue (ids::makeup),
                apvts.getRawParameterValue (ids::ratio),     apvts.getRawParameterValue (ids::attack),
                apvts.getRawParameterValue (ids::release),   apvts.getRawParameterValue (ids::mix),
                apvts.getRawParameterValue (ids::smooth) };

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

// createEditor is defined with the editor (editor/PluginEditor.cpp).

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

    smoothCompressor.prepare (newSampleRate, samplesPerBlock);
    powerFade.prepare (newSampleRate, samplesPerBlock);

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
    const auto settings = loadSettings();

    // Nothing is sized before the first preparation, and a host that hands over fewer channels
    // than it negotiated gets its audio back untouched rather than read out of bounds.
    if (blockSize == 0 || totalOutputChannels <= 0 || totalOutputChannels > B || M > B || n > (int) blockSize)
        return;

    powerOff = settings.power == 0.0f;
    applySettings (settings);

    juce::AudioBuffer<float> mainView (buffer.getArrayOfWritePointers(), totalOutputChannels, n);

    if (M == 1 && totalOutputChannels == 2)
        mainView.copyFrom (1, 0, mainView, 0, 0, n);

    routeDetector (buffer, n);
    powerFade.begin (mainView, ! powerOff);

    // Fully off: the audio passes untouched and every stage keeps its state for when the plug-in
    // is switched on again.
    if (powerFade.isFullyOff())
    {
        gainReductionMeter.exchange (gainReductionAtRest);
        inputLevelMeter.exchange (inputLevelAtRest);
        feedAnalyser (juce::AudioBuffer<float> (silentBuffer.getArrayOfWritePointers(), 2, n));
        return;
    }

    if (n > 0)
    {
        processDetector (n);
        processColour (mainView);
        compressor.process (mainView, sidechainBuffer);

        gainReductionMeter.exchange (compressor.gainReductionDb);
        inputLevelMeter.exchange (compressor.inputLevel);
    }

    feedAnalyser (sidechainBuffer);
    powerFade.finish (mainView);
}

// How the main settings drive the "Smooth" stage: its times follow the compressor's, scaled down, and
// each percent of "Smooth" lowers its threshold by 0.6 dB and lifts its make-up by 0.3 dB.
namespace
{
constexpr double smoothAttackPerAttack = 0.8, smoothReleasePerRelease = 0.6;
constexpr double smoothThresholdDbPerPercent = -0.6, smoothGainDbPerPercent = 0.3;
} // namespace

MorvikAudioProcessor::Settings MorvikAudioProcessor::loadSettings() const noexcept
{
    return { globals.power->load(),   globals.compress->load(), globals.character->load(),
             globals.makeup->load(),  globals.ratio->load(),    globals.attack->load(),
             globals.release->load(), globals.mix->load(),      globals.smooth->load() };
}

void MorvikAudioProcessor::applySettings (const Settings& s) noexcept
{
    auto& gainComputer = compressor.gainComputer;
    gainComputer.threshold = -s.compress;
    if (s.ratio != gainComputer.ratio)
    {
        gainComputer.ratio = s.ratio;
        gainComputer.slope = 1.0f / s.ratio - 1.0f;
    }

    // The top of each time range means automatic timing from the detector's crest factor.
    auto& detector = compressor.levelDetector;
    detector.autoAttack = s.attack == ParameterIds::attackAuto;
    if (! detector.autoAttack)
        detector.setAttack ((double) s.attack * 0.001);

    detector.autoRelease = s.release == ParameterIds::releaseAuto;
    if (! detector.autoRelease)
        detector.setRelease ((double) s.release * 0.001);

    compressor.makeupDb = s.makeup;
    compressor.mix = s.mix;
    compressor.stereoLink = stereoLinkPercent;

    // The Smooth stage takes the raw times, also at their automatic ends.
    smoothCompressor.setRatio (s.ratio);
    smoothCompressor.setAttack ((float) (smoothAttackPerAttack * s.attack));
    smoothCompressor.setRelease ((float) (smoothReleasePerRelease * s.release));
    smoothCompressor.setThreshold ((float) (smoothThresholdDbPerPercent * s.smooth));
    smoothCompressor.setGainDecibels ((float) (smoothGainDbPerPercent * s.smooth));

    characterMixer.setWetMixProportion (juce::jlimit (0.0f, 1.0f, s.character / 100.0f));
}

// The detector is a copy of the side-chain when one is routed, else of the main input. A side-chain
// bus counts only when enabled and when its channels actually arrive in the chunk: a host may
// enable the bus and still hand over the main channels alone, and the detector must not read past
// them. One side-chain channel feeds both detector channels.
void MorvikAudioProcessor::routeDetector (const juce::AudioBuffer<float>& chunk, int n) noexcept
{
    const int B = chunk.getNumChannels();
    const int M = mainInputChannels;

    sidechainBuffer.setSize (2, n, false, false, true);

    const int s = (B >= 2 && M >= 2) ? 1 : 0;
    const auto* sidechainBus = getBus (true, 1);
    const bool sidechainDisabled = sidechainBus == nullptr || sidechainBus->getCurrentLayout().isDisabled();
    const int extra = B - M;

    int left = 0, right = s;
    if (! sidechainDisabled && extra == 1)
        left = right = M;
    else if (! sidechainDisabled && extra == 2)
        left = M, right = M + 1;

    sidechainBuffer.copyFrom (0, 0, chunk, left, 0, n);
    sidechainBuffer.copyFrom (1, 0, chunk, right, 0, n);
}

// Detector equaliser bands, then the Smooth stage. The detector is only measured, never heard. The
// bands run inside the Smooth stage's envelope pass, so that all their recurrences overlap.
void MorvikAudioProcessor::processDetector (int n) noexcept
{
    Band::withActiveBands (bands,
                           [this, n] (auto& cascade) { smoothCompressor.process (sidechainBuffer, n, cascade); });
}

// The console and Grain colour inside the "Character" blend: the blend's dry side is the main audio
// before the colour stage.
void MorvikAudioProcessor::processColour (juce::AudioBuffer<float>& main) noexcept
{
    juce::dsp::AudioBlock<float> mainBlock (main);
    const juce::dsp::ProcessContextReplacing<float> mainContext (mainBlock);
    characterMixer.pushDrySamples (mainBlock);
    console.process (mainContext);
    grain.process (mainContext);
    characterMixer.mixWetSamples (mainBlock);
}

void MorvikAudioProcessor::feedAnalyser (const juce::AudioBuffer<float>& detector) noexcept
{
    if (! analyserEnabled.load())
        return;

    const juce::SpinLock::ScopedTryLockType lock (analyserResizeLock);
    if (lock.isLocked())
        pushNextSampleToFifo (detector, mainInputChannels, analyserFifo, analyserBuffer);
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

    // The channels' sum. A sum that is not a number or infinite (from such an input, in the chunk
    // that brought it) is fed as silence, so that it cannot wait in the feed.
    const auto feed = [&buffer, &fifoBuffer, channelsToSum] (int destination, int source, int count) {
        float* out = fifoBuffer.getWritePointer (0, destination);
        juce::FloatVectorOperations::copy (out, buffer.getReadPointer (0, source), count);

        for (int c = 1; c < channelsToSum; ++c)
            juce::FloatVectorOperations::add (out, buffer.getReadPointer (c, source), count);

        for (int i = 0; i < count; ++i)
            out[i] = std::abs (out[i]) <= FLT_MAX ? out[i] : 0.0f;
    };

    if (size1 > 0)
        feed (start1, 0, size1);
    if (size2 > 0)
        feed (start2, size1, size2);

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
namespace
{
// Factory presets take about a kilobyte; anything far larger is not one of ours.
constexpr size_t largestPreset = 1 << 20;

// Reads a preset file whole, or returns false. Only a regular file is read: a FIFO would hold the
// message thread until a writer came, and a device (a link to /dev/zero, say) never ends. The type
// is checked before opening, so no device is ever opened, and again on what was opened, since the
// entry may have been replaced in between; opening without waiting keeps a FIFO put there in the
// meantime from blocking the open itself. A file that grows past the limit while it is read is
// refused.
bool readPresetFile (const juce::File& file, juce::MemoryBlock& contents)
{
    const auto path = file.getFullPathName();
    const auto isSmallRegularFile = [] (const struct stat& info) {
        return S_ISREG (info.st_mode) && info.st_size >= 0 && (juce::uint64) info.st_size <= largestPreset;
    };

    struct stat info
    {};
    if (::stat (path.toRawUTF8(), &info) != 0 || ! isSmallRegularFile (info))
        return false;

    const int descriptor = ::open (path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return false;

    bool complete = ::fstat (descriptor, &info) == 0 && isSmallRegularFile (info);
    char buffer[8192];

    while (complete)
    {
        const auto numRead = ::read (descriptor, buffer, sizeof (buffer));

        if (numRead == 0)
            break;

        if (numRead < 0)
            complete = errno == EINTR;
        else if (contents.getSize() + (size_t) numRead > largestPreset)
            complete = false;
        else
            contents.append (buffer, (size_t) numRead);
    }

    ::close (descriptor);
    return complete;
}
} // namespace

void MorvikAudioProcessor::loadPreset (juce::File file)
{
    juce::MemoryBlock contents;

    // A preset that is not a complete parameter state is refused like one that cannot be opened:
    // replacing the state with a broken tree would corrupt what the host saves from then on.
    if (! readPresetFile (file, contents) || ! ParameterState::restore (apvts, contents.getData(), contents.getSize()))
        std::cout << "LOAD PRESET ERROR" << std::endl;
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter() { return new MorvikAudioProcessor(); }
