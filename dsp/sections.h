// Second-order and first-order filter sections shared by every stage of the chain.
//
// Each section keeps its coefficients apart from its state: the coefficients are computed once
// per rate (or per block, or per sample for the moving cutoffs) and the state is a pair of
// values. Each is written once over its lane type T (dsp/lanes.h): float for one signal, a vector
// lane type for several bands side by side, double for the noise reduction's precise detector.
// Every formula is evaluated in the written order, with the stored reciprocal of a0 multiplied
// in, so that the output is the same bit for bit on every build.
#pragma once

#include "dsp/lanes.h"
#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// Butterworth (Q = 1/sqrt 2) section prewarped to k = 1 / tan(pi f / fs):
//   a0 = (k + sqrt2) k + 1,  a1 = 2 (1 - k^2),  a2 = (k - sqrt2) k + 1
//   w[n]  = x[n] - (a1 w[n-1] + a2 w[n-2]) / a0
//   low   = (w[n] + 2 w[n-1] + w[n-2]) / a0
//   high  = k^2 (w[n] - 2 w[n-1] + w[n-2]) / a0
// sqrt 2 rounded to T: 1.4142135f in float.
template <class T>
inline constexpr T butterworthSqrt2 = static_cast<T>(1.4142135623730951);
static_assert(butterworthSqrt2<float> == 1.4142135f);

template <class T = float>
struct ButterworthCoefficients {
    T a1{};
    T a2{};
    T invA0{};
    T kSquared{};  // the highpass numerator gain
    T a0{};

    static ButterworthCoefficients at(T k) {
        constexpr T sqrt2 = butterworthSqrt2<T>;
        ButterworthCoefficients c;
        c.a0 = (k + sqrt2) * k + T(1);
        c.a1 = T(2) * (T(1) - k * k);
        c.a2 = (k - sqrt2) * k + T(1);
        c.invA0 = T(1) / c.a0;
        c.kSquared = k * k;
        return c;
    }

    friend bool operator==(const ButterworthCoefficients&,
                           const ButterworthCoefficients&) = default;
};

// The coefficients are one per lane (C = T) or shared by every lane (C = float).
template <class T = float>
struct ButterworthSection {
    T w1{};
    T w2{};

    void reset() { *this = {}; }

    // Runs the recursion and returns the unscaled lowpass sum w + 2 w1 + w2 (before 1/a0).
    template <class C>
    T lowpassSum(T in, const ButterworthCoefficients<C>& c) {
        const T w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const T sum = (w + T(2) * w1) + w2;
        w2 = w1;
        w1 = w;
        return sum;
    }

    template <class C>
    T lowpass(T in, const ButterworthCoefficients<C>& c) {
        return lowpassSum(in, c) * c.invA0;
    }

    template <class C>
    T highpass(T in, const ButterworthCoefficients<C>& c) {
        const T w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const T out = (c.kSquared * ((w - T(2) * w1) + w2)) * c.invA0;
        w2 = w1;
        w1 = w;
        return out;
    }
};

// The band filter of one band: two highpass sections at its low edge, then two lowpass sections
// at its high edge (fourth-order Linkwitz-Riley slopes on both sides).
template <class T = float>
struct BandFilter {
    ButterworthSection<T> highpass1;
    ButterworthSection<T> highpass2;
    ButterworthSection<T> lowpass1;
    ButterworthSection<T> lowpass2;

    void reset() { *this = {}; }

    template <class C>
    T step(T in, const ButterworthCoefficients<C>& lowEdge,
           const ButterworthCoefficients<C>& highEdge) {
        const T high = highpass2.highpass(highpass1.highpass(in, lowEdge), lowEdge);
        return lowpass2.lowpass(lowpass1.lowpass(high, highEdge), highEdge);
    }
};

// Analog prototype (b2 s^2 + b0) / (s^2 + a1' s + a0') of one elliptic section.
struct EllipticPrototype {
    float b2;
    float b0;
    float a1p;
    float a0p;
};

// The prototype prewarped to k:
//   a0 = k^2 + a1' k + a0',  a1 = 2 (a0' - k^2),  a2 = k^2 - a1' k + a0'
//   B0 = b2 k^2 + b0,        B1 = 2 (b0 - b2 k^2)
//   w[n] = x[n] - (a1 w[n-1] + a2 w[n-2]) / a0;  y = (B0 (w[n] + w[n-2]) + B1 w[n-1]) / a0
struct EllipticCoefficients {
    float a1 = 0.0f;
    float a2 = 0.0f;
    float invA0 = 0.0f;
    float b0 = 0.0f;
    float b1 = 0.0f;

    static EllipticCoefficients at(float k, const EllipticPrototype& p) {
        EllipticCoefficients c;
        const float a0 = (k * k + p.a1p * k) + p.a0p;
        c.a1 = 2.0f * (p.a0p - k * k);
        c.a2 = (k * k - p.a1p * k) + p.a0p;
        c.invA0 = 1.0f / a0;
        c.b0 = (p.b2 * k) * k + p.b0;
        c.b1 = 2.0f * (p.b0 - (p.b2 * k) * k);
        return c;
    }

    friend bool operator==(const EllipticCoefficients&, const EllipticCoefficients&) = default;
};

template <class T = float>
struct EllipticSection {
    T w1{};
    T w2{};

    void reset() { *this = {}; }

    T step(T in, const EllipticCoefficients& c) {
        const T w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const T out = (c.b0 * (w + w2) + c.b1 * w1) * c.invA0;
        w2 = w1;
        w1 = w;
        return out;
    }
};

}  // namespace ZELKO_TARGET_NAMESPACE
