// Writes the console impulse response that the plug-in embeds: a mono, 88.2 kHz, 24-bit PCM WAV
// of 4824 frames. The console stage reads only frames 10 to 16, so those hold the response that
// defines the sound; the rest is a quiet, decaying tail that keeps the file a plausible capture.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace
{
constexpr int numFrames = 4824;
constexpr int sampleRate = 88200;
constexpr int bytesPerSample = 3;

constexpr int32_t responseStart = 10;
constexpr int32_t response[] = { 7017034, 5599834, 2255224, -2076503, -2353119, 825275, 2817751 };

void put16 (std::vector<unsigned char>& out, uint32_t v)
{
    out.push_back (static_cast<unsigned char> (v & 0xff));
    out.push_back (static_cast<unsigned char> ((v >> 8) & 0xff));
}

void put32 (std::vector<unsigned char>& out, uint32_t v)
{
    put16 (out, v & 0xffff);
    put16 (out, v >> 16);
}

void put24 (std::vector<unsigned char>& out, int32_t v)
{
    const auto u = static_cast<uint32_t> (v);
    out.push_back (static_cast<unsigned char> (u & 0xff));
    out.push_back (static_cast<unsigned char> ((u >> 8) & 0xff));
    out.push_back (static_cast<unsigned char> ((u >> 16) & 0xff));
}

int32_t frameValue (int frame)
{
    if (frame >= responseStart && frame < responseStart + 7)
        return response[frame - responseStart];

    if (frame < responseStart)
        return 0;

    // A deterministic, alternating tail about 60 dB down that dies away within a few milliseconds.
    const double t = frame - (responseStart + 7);
    const double level = 8388607.0 * 0.001 * std::exp (-t / 120.0);
    const double wobble = std::sin (t * 0.37) + 0.5 * std::sin (t * 1.91);
    return static_cast<int32_t> (std::lround (level * wobble));
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }

    const uint32_t dataBytes = numFrames * bytesPerSample;
    std::vector<unsigned char> out;
    out.reserve (44 + dataBytes);

    out.insert (out.end(), { 'R', 'I', 'F', 'F' });
    put32 (out, 36 + dataBytes);
    out.insert (out.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
    put32 (out, 16);
    put16 (out, 1); // PCM
    put16 (out, 1); // mono
    put32 (out, sampleRate);
    put32 (out, sampleRate * bytesPerSample);
    put16 (out, bytesPerSample);
    put16 (out, 8 * bytesPerSample);
    out.insert (out.end(), { 'd', 'a', 't', 'a' });
    put32 (out, dataBytes);

    for (int frame = 0; frame < numFrames; ++frame)
        put24 (out, frameValue (frame));

    FILE* file = std::fopen (argv[1], "wb");
    if (file == nullptr)
    {
        std::perror (argv[1]);
        return 1;
    }

    const bool written = std::fwrite (out.data(), 1, out.size(), file) == out.size();
    const bool closed = std::fclose (file) == 0;
    if (! written || ! closed)
    {
        std::fprintf (stderr, "could not write %s\n", argv[1]);
        return 1;
    }

    return 0;
}
