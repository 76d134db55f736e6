// Second-order and first-order filter sections shared by every stage of the chain.
//
// Each section keeps its coefficients apart from its state: the coefficients are computed once
// per rate (or per block, or per sample for the moving cutoffs) and the state is a pair of
// floats. Every formula is evaluated in float, in the written order, with the stored reciprocal
// of a0 multiplied in, so that the output is the same bit for bit on every build.
#pragma once

// Butterworth (Q = 1/sqrt 2) section prewarped to k = 1 / tan(pi f / fs):
//   a0 = (k + sqrt2) k + 1,  a1 = 2 (1 - k^2),  a2 = (k - sqrt2) k + 1
//   w[n]  = x[n] - (a1 w[n-1] + a2 w[n-2]) / a0
//   low   = (w[n] + 2 w[n-1] + w[n-2]) / a0
//   high  = k^2 (w[n] - 2 w[n-1] + w[n-2]) / a0
struct ButterworthCoefficients {
    float a1 = 0.0f;
    float a2 = 0.0f;
    float invA0 = 0.0f;
    float kSquared = 0.0f;  // the highpass numerator gain
    float a0 = 0.0f;

    static ButterworthCoefficients at(float k) {
        ButterworthCoefficients c;
        c.a0 = (k + 1.4142135f) * k + 1.0f;
        c.a1 = 2.0f * (1.0f - k * k);
        c.a2 = (k - 1.4142135f) * k + 1.0f;
        c.invA0 = 1.0f / c.a0;
        c.kSquared = k * k;
        return c;
    }

    friend bool operator==(const ButterworthCoefficients&,
                           const ButterworthCoefficients&) = default;
};

struct ButterworthSection {
    float w1 = 0.0f;
    float w2 = 0.0f;

    void reset() { *this = {}; }

    // Runs the recursion and returns the unscaled lowpass sum w + 2 w1 + w2 (before 1/a0).
    float lowpassSum(float in, const ButterworthCoefficients& c) {
        const float w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const float sum = (w + 2.0f * w1) + w2;
        w2 = w1;
        w1 = w;
        return sum;
    }

    float lowpass(float in, const ButterworthCoefficients& c) {
        return lowpassSum(in, c) * c.invA0;
    }

    float highpass(float in, const ButterworthCoefficients& c) {
        const float w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const float out = (c.kSquared * ((w - 2.0f * w1) + w2)) * c.invA0;
        w2 = w1;
        w1 = w;
        return out;
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

struct EllipticSection {
    float w1 = 0.0f;
    float w2 = 0.0f;

    void reset() { *this = {}; }

    float step(float in, const EllipticCoefficients& c) {
        const float w = in - (c.a1 * w1 + c.a2 * w2) * c.invA0;
        const float out = (c.b0 * (w + w2) + c.b1 * w1) * c.invA0;
        w2 = w1;
        w1 = w;
        return out;
    }
};
