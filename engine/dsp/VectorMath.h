#pragma once

#include <cstdint>
#include <cstring>

// Logarithms and exponentials of float samples that the compiler can vectorise: the C library's
// logf, powf and expf are calls it cannot, and they dominated the compressor and colour stage.
//
// What reaches the audio directly (the compressor's gain, Grain's shaper) is evaluated in double
// precision with a relative error below 1e-10 (the exp2 series is cut after u^9 with |u| <= 0.3466,
// leaving u^10/10! < 7e-12), so the float a caller rounds the result to is within half a float step
// of the exact value plus 1e-10: at most one float step (2^-23 relative, 1.04e-6 dB) from what the
// C library's float functions give, and equal to it unless the exact value lies within 1e-10 of a
// rounding boundary. The detector's level and the Smooth stage's power use the single-precision
// forms at the end, with the bounds stated there. Everything is branch-free: no table, no early
// return. Inlined into the loops that call them, which is what lets those loops vectorise.
#if defined(__GNUC__)
#define MORVIK_VECTOR_INLINE inline __attribute__ ((always_inline))
#else
#define MORVIK_VECTOR_INLINE inline
#endif

// The loops that use these functions are built twice, for the x86-64 baseline and for x86-64-v3
// (AVX2: twice the lanes, and fused multiply-add, which halves the work of the series), and the
// loader picks the one the processor can run. A fused step rounds once where the separate steps
// round twice: the double-precision result moves by a few double steps (1e-15 relative) at most, so
// the error bound below still holds and the float a caller rounds to is the same unless the exact
// value lies within 1e-15 of a float rounding boundary, and then one float step away. The float
// multiply-adds of those loops (Grain's polynomial, the compressor's stereo link) fuse as well and
// may round one float step differently; the whole-chain yardstick test bounds what reaches the output.
#if defined(__GNUC__) && defined(__x86_64__) && ! defined(__clang__) && ! defined(__SANITIZE_ADDRESS__) \
    && ! defined(__SANITIZE_THREAD__)
#define MORVIK_VECTOR_CLONES __attribute__ ((target_clones ("arch=x86-64-v3", "default")))
#else
#define MORVIK_VECTOR_CLONES
#endif

namespace vmath
{
// Four float lanes, for loops that carry one recurrence per channel: the channels' identical
// operations run as one packed instruction, lane by lane with the same rounding as the scalar
// operation, so the results are bit for bit those of one channel after the other.
using Float4 = float __attribute__ ((vector_size (16)));
using Mask4 = std::int32_t __attribute__ ((vector_size (16)));

MORVIK_VECTOR_INLINE Float4 abs (Float4 x) noexcept { return (Float4) ((Mask4) x & 0x7fffffff); }

// Lane by lane: whenTrue where the mask is set, else whenFalse. No branch.
MORVIK_VECTOR_INLINE Float4 select (Mask4 mask, Float4 whenTrue, Float4 whenFalse) noexcept
{
    return (Float4) ((mask & (Mask4) whenTrue) | (~mask & (Mask4) whenFalse));
}

// 2^z, with z clamped to the float range [-126, 127]: results that small are zero to any audio.
// Not-a-number in gives not-a-number out.
MORVIK_VECTOR_INLINE double exp2 (double z) noexcept
{
    z = z < -126.0 ? -126.0 : z;
    z = z > 127.0 ? 127.0 : z;

    // Round to nearest by the 1.5 x 2^52 trick, which exact float arithmetic leaves intact.
    constexpr double shifter = 6755399441055744.0;
    const double n = (z + shifter) - shifter;
    const double u = (z - n) * 0.6931471805599453; // ln 2

    double p = 1.0 / 362880.0; // 1/9!
    p = p * u + 1.0 / 40320.0;
    p = p * u + 1.0 / 5040.0;
    p = p * u + 1.0 / 720.0;
    p = p * u + 1.0 / 120.0;
    p = p * u + 1.0 / 24.0;
    p = p * u + 1.0 / 6.0;
    p = p * u + 0.5;
    p = p * u + 1.0;
    p = p * u + 1.0;

    // 2^n as a float built from its exponent bits.
    const std::uint32_t scaleBits = (std::uint32_t) ((int) n + 127) << 23;
    float scale;
    std::memcpy (&scale, &scaleBits, sizeof (scale));
    return p * (double) scale;
}

// 10^(decibels / 20) as the framework's decibelsToGain with a floor of -100 dB computes it (the
// product decibels x 0.05 in float, then the power), and exactly 0 at or below the floor.
MORVIK_VECTOR_INLINE float decibelsToGain (float decibels) noexcept
{
    const float exponent = decibels * 0.05f;
    const float gain = (float) exp2 ((double) exponent * 3.3219280948873622); // log2 (10)
    return decibels > -100.0f ? gain : 0.0f;
}

// e^x for a float, as the C library's expf gives it within one float step.
MORVIK_VECTOR_INLINE float exp (float x) noexcept { return (float) exp2 ((double) x * 1.4426950408889634); }

// Single-precision forms for the detector, where a level is measured, curved and smoothed before any
// gain reaches the audio: a vector holds twice as many floats as doubles, so these take half the
// instructions of the forms above. Their errors, against the exact value:
// - log2Single: the series is cut after t^9 (t^10/11 < 3e-9 relative) and each float operation rounds
//   once, so the result lies within 1e-7 of log2 (x) plus half a float step of the result; as a
//   level in dB (x 6.02) that is within 7e-7 dB plus the roundings, at most three float steps of
//   the correctly rounded decibels.
// - exp2Single: the series is cut after u^7 (u^8/8! < 6e-9 relative), within 2.5e-7 relative of 2^z,
//   that is two float steps.
// The detector's smoothing averages such rounding over hundreds of samples; the whole-chain
// yardstick test bounds what reaches the output.
// x = 2^exponent m with m in [sqrt (1/2), sqrt (2)), and log2 (m) in single precision.
struct Log2Parts
{
    float exponent, mantissaLog2;
};

MORVIK_VECTOR_INLINE Log2Parts log2Parts (float x) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &x, sizeof (bits));
    int exponent = (int) (bits >> 23) - 127;
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float m;
    std::memcpy (&m, &bits, sizeof (m));

    const bool upper = m > 1.41421356f;
    m = upper ? m * 0.5f : m;
    exponent = upper ? exponent + 1 : exponent;

    // m - 1 is exact here; ln (m) = 2 atanh (t).
    const float t = (m - 1.0f) / (m + 1.0f);
    const float t2 = t * t;
    float series = 1.0f / 9.0f;
    series = series * t2 + 1.0f / 7.0f;
    series = series * t2 + 1.0f / 5.0f;
    series = series * t2 + 1.0f / 3.0f;
    series = series * t2 + 1.0f;

    return { (float) exponent, 2.88539008f * t * series }; // 2 / ln 2
}

MORVIK_VECTOR_INLINE float log2Single (float x) noexcept
{
    const auto parts = log2Parts (x);
    return parts.exponent + parts.mantissaLog2;
}

// Adding and subtracting 1.5 x 2^23 rounds a float of magnitude below 2^22 to the nearest integer.
MORVIK_VECTOR_INLINE float roundToInteger (float z) noexcept
{
    constexpr float shifter = 12582912.0f;
    return (z + shifter) - shifter;
}

// 2^n for an integer n in [-126, 127], built from its exponent bits.
MORVIK_VECTOR_INLINE float powerOfTwo (float n) noexcept
{
    const std::uint32_t bits = (std::uint32_t) ((int) n + 127) << 23;
    float result;
    std::memcpy (&result, &bits, sizeof (result));
    return result;
}

MORVIK_VECTOR_INLINE float exp2Single (float z) noexcept
{
    z = z < -126.0f ? -126.0f : z;
    z = z > 127.0f ? 127.0f : z;

    const float n = roundToInteger (z);
    const float u = (z - n) * 0.693147181f; // z - n is exact; ln 2

    float p = 1.0f / 5040.0f;
    p = p * u + 1.0f / 720.0f;
    p = p * u + 1.0f / 120.0f;
    p = p * u + 1.0f / 24.0f;
    p = p * u + 1.0f / 6.0f;
    p = p * u + 0.5f;
    p = p * u + 1.0f;
    p = p * u + 1.0f;

    return p * powerOfTwo (n);
}

// 20 log10 (x) in single precision, for a positive, finite, normal float.
MORVIK_VECTOR_INLINE float levelToDecibels (float x) noexcept { return log2Single (x) * 6.02059991f; }

// An exponent for powPositiveSingle, split once so that its high part times any exponent of a float
// is exact: the high part keeps 12 significant bits, a float's exponent needs at most 8 more.
struct PowerExponent
{
    float whole = 0.0f, high = 0.0f, low = 0.0f;
};

inline PowerExponent splitExponent (float y) noexcept
{
    // The high part is y with the last 12 of its 23 stored mantissa bits cleared; y - high is exact.
    std::uint32_t bits;
    std::memcpy (&bits, &y, sizeof (bits));
    bits &= 0xfffff000u;
    float high;
    std::memcpy (&high, &bits, sizeof (high));
    return { y, high, y - high };
}

// x^y for x >= 1 finite and y < 0, with pow (inf, y) = 0 and not-a-number passed on. With
// x = 2^e m, y e is split into an exact product whose whole part only scales the result and a
// fraction that joins y log2 (m), so the power's argument keeps its precision however large x is:
// within two float steps of x^y (1.7e-6 dB) for every x and every y in (-1, 0).
MORVIK_VECTOR_INLINE float powPositiveSingle (float x, const PowerExponent& y) noexcept
{
    const auto parts = log2Parts (x);
    const float exact = y.high * parts.exponent;
    const float whole = roundToInteger (exact);
    const float fraction = (exact - whole) + (y.low * parts.exponent + y.whole * parts.mantissaLog2);

    const float result = exp2Single (fraction) * powerOfTwo (whole < -126.0f ? -126.0f : whole);
    const float limit = x == x ? 0.0f : x;
    return x < 3.4028234663852886e38f ? result : limit;
}
} // namespace vmath
