#include "DemoSignal.h"

#include <cmath>

namespace hostkit
{
namespace
{
constexpr double twoPi = juce::MathConstants<double>::twoPi;

struct Mixer
{
    juce::AudioBuffer<float>& out;
    double rate;

    // Adds a mono voice with a constant-power pan (-1 left .. +1 right).
    template <typename Voice>
    void add (double startSeconds, double lengthSeconds, double pan, Voice&& voice)
    {
        const int start = (int) std::llround (startSeconds * rate);
        const int length = (int) std::llround (lengthSeconds * rate);
        const double angle = (pan + 1.0) * juce::MathConstants<double>::pi * 0.25;
        const float left = (float) std::cos (angle);
        const float right = (float) std::sin (angle);

        for (int i = 0; i < length && start + i < out.getNumSamples(); ++i)
        {
            const auto value = (float) voice ((double) i / rate);
            out.addSample (0, start + i, value * left);
            out.addSample (1, start + i, value * right);
        }
    }
};

double noteHz (int midiNote) { return 440.0 * std::pow (2.0, (midiNote - 69) / 12.0); }
} // namespace

juce::AudioBuffer<float> makeDemoSignal (double sampleRate, double seconds)
{
    juce::AudioBuffer<float> out (2, (int) std::llround (seconds * sampleRate));
    out.clear();
    Mixer mix { out, sampleRate };
    juce::Random random (20240611);

    const double beat = 0.5; // 120 BPM
    const int bars = 4;
    // A minor, F, C, G: roots for the bass, triads for the pad.
    const int roots[bars] = { 33, 29, 36, 31 };
    const int chords[bars][3] = { { 57, 60, 64 }, { 53, 57, 60 }, { 60, 64, 67 }, { 55, 59, 62 } };

    for (int bar = 0; bar < bars; ++bar)
    {
        const double barStart = bar * 4 * beat;
        const double level = bar < 2 ? 0.45 : 1.0; // a quiet verse, then the loud part

        // Kick on 1 and 3, plus a pickup before 3 in every second bar: a falling sine with a click.
        std::vector<double> kicks { 0.0, 2.0 };
        if (bar % 2 == 1)
            kicks.push_back (1.5);

        for (auto position : kicks)
        {
            mix.add (barStart + position * beat, 0.45, 0.0, [level] (double t) {
                // The phase of a sine whose pitch falls from 155 Hz to 45 Hz.
                const double phase = twoPi * (45.0 * t + 110.0 * (1.0 - std::exp (-t * 30.0)) / 30.0);
                return level * 0.9 * std::sin (phase) * std::exp (-t * 7.0);
            });
        }

        // Snare on 2 and 4: a 190 Hz body and a burst of brightened noise.
        for (auto position : { 1.0, 3.0 })
        {
            double previous = 0.0;
            mix.add (barStart + position * beat, 0.3, 0.1, [level, &random, &previous] (double t) {
                const double white = random.nextDouble() * 2.0 - 1.0;
                const double bright = white - previous; // first difference: tilts the noise up
                previous = white;
                return level
                       * (0.35 * std::sin (twoPi * 190.0 * t) * std::exp (-t * 25.0)
                          + 0.45 * bright * std::exp (-t * 18.0));
            });
        }

        // Closed hi-hat on every eighth, accents on the beats.
        for (int eighth = 0; eighth < 8; ++eighth)
        {
            const double accent = eighth % 2 == 0 ? 1.0 : 0.6;
            double previous = 0.0;
            mix.add (barStart + eighth * beat * 0.5, 0.08, 0.45, [level, accent, &random, &previous] (double t) {
                const double white = random.nextDouble() * 2.0 - 1.0;
                const double bright = white - previous;
                previous = white;
                return level * accent * 0.12 * bright * std::exp (-t * 60.0);
            });
        }

        // Bass: eighth notes on the root, a few harmonics of a saw, short release.
        const double bassHz = noteHz (roots[bar]);
        for (int eighth = 0; eighth < 8; ++eighth)
        {
            const double octave = eighth == 7 ? 2.0 : 1.0;
            mix.add (barStart + eighth * beat * 0.5, beat * 0.5, -0.1, [bassHz, octave, level] (double t) {
                double saw = 0.0;
                for (int harmonic = 1; harmonic <= 6; ++harmonic)
                    saw += std::sin (twoPi * bassHz * octave * harmonic * t) / harmonic;

                const double envelope =
                    std::min (1.0, t * 400.0) * std::exp (-t * 4.0) * std::min (1.0, (0.25 - t) * 200.0);
                return (0.3 + 0.1 * level) * 0.5 * saw * std::max (0.0, envelope);
            });
        }

        // Pad: each chord note twice, detuned and panned apart, slow attack; the last chord rings on.
        const double padLength = bar == bars - 1 ? 4 * beat + 1.0 : 4 * beat;
        for (auto note : chords[bar])
        {
            for (int side = 0; side < 2; ++side)
            {
                const double hz = noteHz (note) * (side == 0 ? 0.997 : 1.003);
                mix.add (barStart, padLength, side == 0 ? -0.7 : 0.7, [hz, padLength] (double t) {
                    const double attack = std::min (1.0, t / 0.25);
                    const double release = std::min (1.0, std::max (0.0, (padLength - t) / 0.3));
                    return 0.05 * attack * release
                           * (std::sin (twoPi * hz * t) + 0.3 * std::sin (twoPi * 2.0 * hz * t));
                });
            }
        }
    }

    const auto peak = out.getMagnitude (0, out.getNumSamples());

    if (peak > 0.0f)
        out.applyGain (juce::Decibels::decibelsToGain (-1.0f) / peak);

    return out;
}
} // namespace hostkit
