#include "editor/Look.h"

#include <algorithm>
#include <cmath>
#include <vector>

// The look's bitmaps at the sizes they are shown at: each resampled once and kept while in use.
namespace
{
// Along one axis of a resampling: the source pixels that make each destination pixel, and their
// weights, which sum to 1 for every destination pixel.
struct Taps
{
    std::vector<int> first, count;
    std::vector<float> weights; // count[d] entries for each destination pixel d, in order

    Taps (int sourceSize, int destSize)
    {
        const double ratio = (double) sourceSize / (double) destSize;

        for (int d = 0; d < destSize; ++d)
        {
            if (ratio > 1.0)
            {
                // The destination pixel's footprint, [from, to) in source pixels, averaged.
                const double from = d * ratio, to = from + ratio;
                const int start = (int) from, end = juce::jmin (sourceSize, (int) std::ceil (to));
                first.push_back (start);
                count.push_back (end - start);
                for (int s = start; s < end; ++s)
                    weights.push_back ((float) ((juce::jmin (to, s + 1.0) - juce::jmax (from, (double) s)) / ratio));
            }
            else
            {
                // Linear between the two source pixels whose centres are nearest.
                const double centre = juce::jlimit (0.0, sourceSize - 1.0, (d + 0.5) * ratio - 0.5);
                const int start = (int) centre;
                const auto fraction = (float) (centre - start);
                first.push_back (start);
                count.push_back (start + 1 < sourceSize ? 2 : 1);
                weights.push_back (start + 1 < sourceSize ? 1.0f - fraction : 1.0f);
                if (start + 1 < sourceSize)
                    weights.push_back (fraction);
            }
        }
    }
};
} // namespace

juce::Image Look::sized (const juce::Image& image, int width, int height)
{
    width = juce::jmax (1, width);
    height = juce::jmax (1, height);

    if (! image.isValid() || (image.getWidth() == width && image.getHeight() == height))
        return image;

    ++useCount;
    for (auto& entry : sizedImages)
        if (entry.source == image && entry.image.getWidth() == width && entry.image.getHeight() == height)
        {
            entry.lastUse = useCount;
            return entry.image;
        }

    // A window being resized passes through many sizes; only the recent ones stay.
    if (sizedImages.size() >= maxSizedImages)
        sizedImages.erase (std::min_element (sizedImages.begin(), sizedImages.end(),
                                             [] (const auto& a, const auto& b) { return a.lastUse < b.lastUse; }));

    sizedImages.push_back ({ image, resampled (image, width, height), useCount });
    return sizedImages.back().image;
}

juce::Image Look::resampled (const juce::Image& image, int width, int height)
{
    width = juce::jmax (1, width);
    height = juce::jmax (1, height);
    juce::Image result (juce::Image::ARGB, width, height, true);

    if (! image.isValid())
        return result;

    // Premultiplied components average correctly, so transparent pixels lend no colour to their
    // neighbours. Rows first, into floats (alpha, red, green, blue per pixel), then columns.
    const auto source = image.convertedToFormat (juce::Image::ARGB);
    const int sourceWidth = source.getWidth(), sourceHeight = source.getHeight();
    const Taps across (sourceWidth, width), down (sourceHeight, height);
    const auto rowLength = (size_t) width * 4;
    std::vector<float> rows ((size_t) sourceHeight * rowLength);

    {
        const juce::Image::BitmapData in (source, juce::Image::BitmapData::readOnly);
        for (int y = 0; y < sourceHeight; ++y)
        {
            const auto* line = in.getLinePointer (y);
            auto* sum = rows.data() + (size_t) y * rowLength;
            const auto* weight = across.weights.data();

            for (int x = 0; x < width; ++x, sum += 4)
            {
                const auto* p = line + across.first[(size_t) x] * in.pixelStride;
                float a = 0.0f, r = 0.0f, g = 0.0f, b = 0.0f;
                for (int k = across.count[(size_t) x]; --k >= 0; p += in.pixelStride)
                {
                    const auto& pixel = *reinterpret_cast<const juce::PixelARGB*> (p);
                    const auto w = *weight++;
                    a += w * pixel.getAlpha();
                    r += w * pixel.getRed();
                    g += w * pixel.getGreen();
                    b += w * pixel.getBlue();
                }
                sum[0] = a;
                sum[1] = r;
                sum[2] = g;
                sum[3] = b;
            }
        }
    }

    const juce::Image::BitmapData out (result, juce::Image::BitmapData::writeOnly);
    const auto toByte = [] (float v) { return (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (v)); };
    std::vector<float> sum (rowLength);
    const auto* weight = down.weights.data();

    for (int y = 0; y < height; ++y)
    {
        std::fill (sum.begin(), sum.end(), 0.0f);
        for (int k = 0; k < down.count[(size_t) y]; ++k)
        {
            const auto w = *weight++;
            const auto* row = rows.data() + (size_t) (down.first[(size_t) y] + k) * rowLength;
            for (size_t i = 0; i < rowLength; ++i)
                sum[i] += w * row[i];
        }

        for (int x = 0; x < width; ++x)
        {
            const auto* v = sum.data() + (size_t) x * 4;
            const auto alpha = toByte (v[0]);
            reinterpret_cast<juce::PixelARGB*> (out.getPixelPointer (x, y))
                ->setARGB (alpha, juce::jmin (alpha, toByte (v[1])), juce::jmin (alpha, toByte (v[2])),
                           juce::jmin (alpha, toByte (v[3])));
        }
    }

    return result;
}
