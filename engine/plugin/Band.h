// MorvikAudioProcessor::Band, the processor's nested class for one detector equaliser band, and its
// filter cascade. The processor holds its three bands by value, which needs the class complete
// inside the processor's own definition: PluginProcessor.h includes this file there. Include
// engine/plugin/PluginProcessor.h, not this file.
#ifndef MORVIK_PROCESSOR_DEFINES_BAND
#error "engine/plugin/Band.h is part of MorvikAudioProcessor: include engine/plugin/PluginProcessor.h"
#endif

// One detector equaliser band: five parameters, one coefficient set shared by its two
// filters, and the flag that lets the chain skip it. See Band.cpp for the hand-over.
class Band : public juce::AudioProcessorValueTreeState::Listener
{
public:
    Band (MorvikAudioProcessor& processor, int index);
    ~Band() override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void updateFilter();
    void prepare();

    // Audio thread: brings the published set into the filters if a newer complete one exists.
    void pullCoefficients() noexcept;

    // Audio thread: the active bands of one chunk as one filter, applied a sample at a time, so
    // that a caller can run it inside its own pass over the samples and their recurrences
    // overlap. Coefficients and states live in locals for the chunk; finish() stores the states,
    // set to zero below 1e-8 as the framework's biquad does after each block, and when not
    // finite. The same arithmetic as the framework's biquads one band after the other.
    template <size_t numBands>
    struct Cascade
    {
        explicit Cascade (Band* const* activeBands) noexcept
            : bands (activeBands)
        {
            for (size_t b = 0; b < numBands; ++b)
            {
                std::copy_n (bands[b]->coefficients->coefficients.begin(), 5, c[b].begin());

                for (size_t k = 0; k < 2; ++k)
                    s[b][k] = vmath::Float4 { bands[b]->state[0][k], bands[b]->state[1][k], 0.0f, 0.0f };
            }
        }

        // Both detector channels at once: channel 0 in lane 0, channel 1 in lane 1.
        vmath::Float4 operator() (vmath::Float4 x) noexcept
        {
            for (size_t b = 0; b < numBands; ++b)
            {
                // Transposed direct form II, operation for operation.
                const vmath::Float4 y = (x * c[b][0]) + s[b][0];
                s[b][0] = (x * c[b][1]) - (y * c[b][3]) + s[b][1];
                s[b][1] = (x * c[b][2]) - (y * c[b][4]);
                x = y;
            }

            return x;
        }

        void finish() noexcept
        {
            for (size_t b = 0; b < numBands; ++b)
            {
                for (size_t channel = 0; channel < 2; ++channel)
                {
                    for (size_t k = 0; k < 2; ++k)
                    {
                        // A state that is not a number or infinite (from such a detector sample,
                        // or an overflow) would stay in the filter for good.
                        const float value = s[b][k][channel];
                        const bool kept = (value < -1.0e-8f || value > 1.0e-8f) && std::abs (value) <= FLT_MAX;
                        bands[b]->state[channel][k] = kept ? value : 0.0f;
                    }
                }
            }
        }

        Band* const* bands;
        std::array<std::array<float, 5>, numBands> c {};
        // Per band, the two states with the channels in lanes 0 and 1.
        std::array<std::array<vmath::Float4, 2>, numBands> s {};
    };

    // Audio thread: brings in each active band's newest coefficients and calls
    // function (cascade) with the cascade of the active bands, in order, then stores its states.
    template <typename Function>
    static void withActiveBands (std::array<Band, 3>& bands, Function&& function) noexcept
    {
        Band* active[3] = {};
        size_t count = 0;

        for (auto& band : bands)
        {
            if (band.active.load (std::memory_order_relaxed))
            {
                band.pullCoefficients();
                active[count++] = &band;
            }
        }

        const auto run = [&] (auto cascade) {
            function (cascade);
            cascade.finish();
        };

        if (count == 0)
            run (Cascade<0> (active));
        else if (count == 1)
            run (Cascade<1> (active));
        else if (count == 2)
            run (Cascade<2> (active));
        else
            run (Cascade<3> (active));
    }

    // Five stored coefficients, normalised by a0, in the framework's order b0 b1 b2 a1 a2.
    using CoefficientSet = std::array<float, 5>;

    // Any thread: a consistent copy of the last completed update. Never blocks a writer or the
    // audio thread; it retries while an update is being written.
    CoefficientSet readCoefficients() const noexcept;

    std::atomic<bool> active { true };
    juce::Identifier onId, typeId, freqId, gainId, qId;
    std::atomic<float>* on = nullptr;
    std::atomic<float>* type = nullptr;
    std::atomic<float>* freq = nullptr;
    std::atomic<float>* gain = nullptr;
    std::atomic<float>* q = nullptr;
    MorvikAudioProcessor& processor;

private:
    // The set the audio thread filters with.
    juce::dsp::IIR::Coefficients<float>::Ptr coefficients;
    // Transposed direct form II states per detector channel, as the framework's biquad keeps them.
    std::array<std::array<float, 2>, 2> state {};

    bool computeCoefficients (CoefficientSet& out) const noexcept;
    void publish (const CoefficientSet& set) noexcept;
    // Holding writerLock: publishes, lets go, and takes it again while an update is pending.
    void publishWhilePending() noexcept;
    // One attempt at a copy of the published set and its sequence; false if it overlapped a write.
    bool tryRead (CoefficientSet& set, juce::uint32& at) const noexcept;

    // Sequence-counted published set: odd while a writer is storing it.
    std::atomic<juce::uint32> sequence { 0 };
    std::array<std::atomic<float>, 5> published {};
    // Serialises writers. Only prepare waits for it; parameter callbacks, the audio thread's
    // among them, make one attempt and otherwise leave their update to the holder.
    juce::SpinLock writerLock;
    // Set by every writer before its attempt, cleared by the holder before it computes.
    std::atomic<bool> updatePending { false };
    // Audio thread only: the sequence of the set the filters hold.
    juce::uint32 pulledSequence = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Band)
};
