// Small per-sample building blocks of the band detectors.
//
// Each primitive is a value type written once over its lane type T (dsp/lanes.h): plain state
// that value-initialises to silence, a `reset()`, and one `step()` that takes the next input and
// returns the next output. T = float runs one band; a vector lane type runs several bands with
// the same per-lane arithmetic. Poles and tunings live in separate constant structs computed once
// per sample rate; a float constant stands for the same value in every lane. Everything is inline
// arithmetic in the written order, since the bands run these several hundred times per sample and
// their results must be reproducible bit for bit.
#pragma once

#include <cstdint>

#include "dsp/delay_ring.h"
#include "dsp/lanes.h"
#include "dsp/level_floor.h"
#include "dsp/phase_network.h"
#include "dsp/sample_rate.h"
#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// A one-pole coefficient p = exp(-k / fs) stored with its complement, so that every smoother
// multiplies by the same two rounded values.
template <class T = float>
struct Pole {
    T p = 0.0f;
    T complement = 1.0f;  // 1 - p

    static Pole at(const SampleRate& rate, float k) {
        const float p = rate.pole(k);
        return {p, 1.0f - p};
    }
};

// Second-order allpass in z^-2: H(z) = (a - z^-2) / (1 - a z^-2).
//   y[n] = a (x[n] + y[n-2]) - x[n-2]
// Its state is the input and output of the last two samples, kept by the parity of n: slot
// n & 1 holds x[n-2] and y[n-2] until step n replaces them by x[n] and y[n]. Nothing moves from
// slot to slot, which saves four stores a step in the band detectors' hundreds of sections.
template <class T = float>
struct AllpassSection {
    T inputs[2] = {};
    T outputs[2] = {};

    void reset() { *this = {}; }

    // `parity` is n & 1, alternating from one step to the next.
    T step(T x, float a, std::uint32_t parity) {
        const T y = a * (x + outputs[parity]) - inputs[parity];
        inputs[parity] = x;
        outputs[parity] = y;
        return y;
    }
};

// Envelope of a real signal through the 90-degree phase-difference network (dsp/phase_network.h),
// so that A^2 + B^2 tracks the squared amplitude with little ripple. Chain A's output is taken one
// sample late; that sample is part of the network's phase design. The squared sum is floored at
// -90 dB before the root, so the magnitude never falls below 0.0056234 (-45 dB) and the
// normalisers that divide by it stay bounded.
template <class T = float>
struct AnalyticMagnitude {
    AllpassSection<T> chainA[4];
    AllpassSection<T> chainB[4];
    T chainADelayed{};         // A[n-1]
    std::uint32_t parity = 0;  // n & 1

    void reset() { *this = {}; }

    T step(T x) {
        T a = x;
        for (int i = 0; i < 4; ++i) a = chainA[i].step(a, phaseNetworkChainA[i], parity);
        T b = x;
        for (int i = 0; i < 4; ++i) b = chainB[i].step(b, phaseNetworkChainB[i], parity);
        parity ^= 1u;
        const T power = chainADelayed * chainADelayed + b * b;
        chainADelayed = a;
        return squareRoot(larger(power, T(floorMinus90dB)));
    }
};

// Maximum of the 44 newest values: this sample's and the 43 before it (zeros before the first).
//
// The values arrive in blocks of 44. The window always spans the start of the current block up
// to this sample, whose running maximum `blockPeak` holds, and the rest of the previous block,
// whose maxima from each position to its end (`previousTail`) are computed once when a block is
// complete. So each sample costs two comparisons and a forty-fourth of a backward scan, instead
// of a scan of all 44 values. The values are levels (never negative, never NaN), whose maximum
// does not depend on the order in which they are compared.
template <class T = float>
struct SlidingWindowMaximum {
    static constexpr std::uint32_t window = 44;

    T previousTail[window] = {};  // max of the previous block from position j to its end
    T block[window] = {};         // the current block so far
    T blockPeak{};                // max of the current block so far
    std::uint32_t position = 0;   // of this sample in the current block

    void reset() { *this = SlidingWindowMaximum(); }

    T step(T v) {
        block[position] = v;
        blockPeak = position == 0 ? v : larger(v, blockPeak);
        const T peak =
            position + 1 < window ? larger(previousTail[position + 1], blockPeak) : blockPeak;
        if (++position == window) {
            position = 0;
            T tail = block[window - 1];
            previousTail[window - 1] = tail;
            for (std::uint32_t j = window - 1; j-- > 0;) {
                tail = larger(block[j], tail);
                previousTail[j] = tail;
            }
        }
        return peak;
    }
};

// Parameters of an adaptive follower: base release time tau0 in seconds, the pole of its
// activity measure and the pole of its output smoother; one set per lane (C = T) or shared by
// every lane (C = float).
template <class C = float>
struct AdaptiveFollowerConstants {
    C tau0 = 1.0f;
    Pole<C> activity;
    Pole<C> smoothing;
};

// The release pole p = exp(-T / tau) of a release time tau, computed again only when tau changed
// in some lane since the last call. The pole is a function of tau alone, so reusing it gives the
// same bits, and an unchanged tau saves the division as well as the exponential.
template <class T = float>
struct CachedPole {
    // A quiet NaN, equal to no release time. (std::numeric_limits<float>::quiet_NaN() is the same
    // value, but a function that every unit would emit under one name: dsp/target.h.)
    T releaseTime = __builtin_nanf("");
    T value{};  // exp(-T / releaseTime)

    T of(T tau, float periodT) {
        if (!allEqual(tau, releaseTime)) {
            releaseTime = tau;
            value = exponential(-periodT / tau);
        }
        return value;
    }
};

// The release pole p = exp(-T / tau) of a release time tau that drifts slowly, as an average
// follower's does while its activity decays over seconds. The pole rounds to a non-decreasing
// function of tau (the division by a positive tau and the exponential are both correctly
// rounded, and rounding keeps order), so where two release times give the same pole, every one
// between them gives it too. Each lane keeps an interval of release times known to give its
// pole, and the pole is computed again only when tau leaves it in some lane. Each computation
// also tries a release time a little shorter (tau falls as the activity decays) and widens the
// interval to it where it gives the same pole: a falling release time then keeps its pole for
// hundreds of samples at a time.
template <class T = float>
struct PoleInterval {
    T shortest = T(__builtin_nanf(""));  // NaN: no interval yet
    T longest = T(__builtin_nanf(""));
    T value{};

    T of(T tau, float periodT) {
        if (allWithin(tau, shortest, longest)) [[likely]]
            return value;
        return computed(tau, periodT);
    }

  private:
    [[gnu::noinline]] T computed(T tau, float periodT) {
        const T pole = exponential(-periodT / tau);
        const T shorter = tau - tau * 0x1p-12f;
        const T shorterPole = exponential(-periodT / shorter);
        // A lane whose pole is unchanged keeps its interval, grown to tau; the others start one.
        const T low = whereEqual(pole, value, smaller(shortest, tau), tau);
        longest = whereEqual(pole, value, larger(longest, tau), tau);
        shortest = whereEqual(shorterPole, pole, smaller(low, shorter), low);
        value = pole;
        return value;
    }
};

// The poles an adaptive follower passes through, sample by sample, while its input stays below
// its output after a rise: the rise sets the activity to exactly 1 (for every pole of the
// activity above one half, p + (1 - p) rounds to 1), and from there it decays along one sequence,
// so the release time, and with it the pole, after k such samples is a function of k alone,
// until the activity has fallen to one half and the release time stays tau0.
//
// A follower that counts the samples since its last rise looks its pole up instead of taking an
// exponential, wherever the table covers every lane's count: entries up to `last`, or any count
// once the table is `settled`. A count means something only from the lane's first rise under the
// table's current filling, with the constants the table was filled for: the engine fills the
// tables anew whenever its constants change, and each new filling voids every follower's counts
// (`filling`). Elsewhere (before a lane's first rise, past the entries filled so far, or where a
// rise does not give exactly 1, which `usable` records once per filling) the follower takes the
// exponential as before. Either way the pole is exp(-T / tau) of the same tau, so the bits are the
// same. The table is plain data, filled a few entries at a time (`extend`) so that no single call
// takes long.
template <std::size_t N>
struct ReleaseTable {
    // Entries past `last` are never read, so the poles need no initial value: an engine's table
    // then costs memory only where it is filled (dsp/zeroed_block.h). Everything else starts
    // empty, as all zeros, which is also what a zeroed block holds.
    float pole[N];
    float last = 0.0f;          // index of the last entry filled, a whole number
    float activity = 0.0f;      // of the next entry
    float lastRelease = 0.0f;   // release time of the last entry
    bool settled = false;       // the last entry's release time is tau0, as every later one is
    bool usable = false;        // a rise sets the activity to exactly 1
    std::uint32_t filling = 0;  // counts the starts: a follower's count holds for one filling only

    // Empties the table and fills its first entry, the pole right after a rise.
    template <class C = float>
    void start(const AdaptiveFollowerConstants<C>& c, float periodT);

    // Whether nothing is left to fill: the table is settled, or full.
    bool complete() const { return settled || last + 1.0f >= static_cast<float>(N); }

    // Fills up to `entries` more entries.
    template <class C = float>
    void extend(const AdaptiveFollowerConstants<C>& c, float periodT, std::size_t entries);

    template <class C = float>
    void fill(const AdaptiveFollowerConstants<C>& c, float periodT) {
        start(c, periodT);
        extend(c, periodT, N);
    }

    // Whether every lane's count of samples since the rise, `count` (NaN where unknown), has
    // its entry: the pole looked up at min(count, last) is then the follower's.
    template <class T>
    bool covers(T count) const {
        return usable && allAtMost(count, T(settled ? __builtin_inff() : last));
    }
};

// Peak follower whose release time lengthens while the input keeps rising above its own output.
//   rising = (v - y) > 0                         the input is above the smoothed output
//   h      = max(rising, p_h h + (1 - p_h) rising)  activity: instant on, decays with p_h
//   tau    = tau0 + max(2 (h - 0.5), 0)          release time, tau0 ... tau0 + 1 s
//   p      = exp(-T / tau)
//   e      = max(v, p e + (1 - p) v)             instant attack, release with tau
//   y      = p_s y + (1 - p_s) e                 output
// Both outcomes of `rising` are followed from the last activity, and each lane then takes the
// one that happened: the same operations per lane, but the exponential no longer waits for this
// sample's comparison with the output, so it runs alongside the rest of the recursion. While
// the input rises the activity is 1 and its pole never changes; the other outcome's pole changes
// only while the activity lies between one half and 1. Each is computed again only when its
// release time changed.
//
// `Poles` keeps the poles of the two outcomes between samples: CachedPole, or PoleInterval for a
// release time that drifts slowly.
template <class T = float, class Poles = CachedPole<T>>
struct AdaptiveFollower {
    T activity{};  // h
    T envelope{};  // e
    T output{};    // y
    Poles poleIfRising;
    Poles poleIfNotRising;

    // For a ReleaseTable: the samples since the input last rose under the table's current
    // filling (NaN where the lane has not risen since, or since a reset), and the table's pole for
    // the next step if the input does not rise then, looked up a step early so that the lookup
    // does not wait on this step's comparison with the output. `aheadLast` is the table's last
    // entry at the time (the table grows between runs).
    T sinceRise = T(__builtin_nanf(""));
    T aheadPole{};
    float aheadLast = __builtin_nanf("");
    std::uint32_t tableFilling = 0;

    void reset() { *this = {}; }

    template <class C>
    T step(T v, const AdaptiveFollowerConstants<C>& c, float periodT) {
        const T activityIfRising = activityAfter(T(1.0f), c);
        const T activityIfNotRising = activityAfter(T(0.0f), c);
        const T pIfRising = poleIfRising.of(releaseTime(activityIfRising, c), periodT);
        const T pIfNotRising = poleIfNotRising.of(releaseTime(activityIfNotRising, c), periodT);

        return follow(v, c, activityIfRising, activityIfNotRising, pIfRising, pIfNotRising);
    }

    // The same step, with the pole of the falling outcome looked up in `table` (being filled for
    // these constants) where the table covers every lane's count.
    template <std::size_t N>
    T step(T v, const AdaptiveFollowerConstants<>& c, float periodT, const ReleaseTable<N>& table) {
        if (tableFilling != table.filling) {
            // A table restarted, for other constants perhaps: no lane's count holds for it.
            sinceRise = T(__builtin_nanf(""));
            tableFilling = table.filling;
            aheadLast = __builtin_nanf("");
        }
        if (!(aheadLast == table.last)) {
            aheadPole = lookUp(table.pole, smaller(sinceRise + 1.0f, T(table.last)));
            aheadLast = table.last;
        }
        const T activityIfRising = activityAfter(T(1.0f), c);
        const T activityIfNotRising = activityAfter(T(0.0f), c);
        const T pIfRising = poleIfRising.of(releaseTime(activityIfRising, c), periodT);
        const T pIfNotRising =
            table.covers(sinceRise + 1.0f)
                ? aheadPole
                : poleIfNotRising.of(releaseTime(activityIfNotRising, c), periodT);

        // The next step's entry: the one after this step's if the input does not rise now, else
        // the first after a rise.
        const T followingPole = lookUp(table.pole, smaller(sinceRise + 2.0f, T(table.last)));
        const float poleAfterRise = table.pole[table.last < 1.0f ? 0 : 1];
        const T rise = v - output;
        sinceRise = wherePositive(rise, T(0.0f), sinceRise + 1.0f);
        aheadPole = wherePositive(rise, T(poleAfterRise), followingPole);
        return follow(v, c, activityIfRising, activityIfNotRising, pIfRising, pIfNotRising);
    }

    template <class C>
    T activityAfter(T rising, const AdaptiveFollowerConstants<C>& c) const {
        const T decayed = c.activity.p * activity + c.activity.complement * rising;
        return larger(rising, decayed);
    }

    template <class C>
    static T releaseTime(T h, const AdaptiveFollowerConstants<C>& c) {
        const T lengthening = 2.0f * (h - 0.5f);
        return c.tau0 + larger(lengthening, T(0.0f));
    }

  private:
    template <class C>
    T follow(T v, const AdaptiveFollowerConstants<C>& c, T activityIfRising, T activityIfNotRising,
             T pIfRising, T pIfNotRising) {
        // The input rises where v - y > 0. The complement 1 - p of each outcome is taken before
        // the choice, off the path from one sample's output to the next.
        const T rise = v - output;
        activity = wherePositive(rise, activityIfRising, activityIfNotRising);
        const T p = wherePositive(rise, pIfRising, pIfNotRising);
        const T complement = wherePositive(rise, 1.0f - pIfRising, 1.0f - pIfNotRising);
        const T released = p * envelope + complement * v;
        envelope = larger(v, released);
        output = c.smoothing.p * output + c.smoothing.complement * envelope;
        return output;
    }
};

template <std::size_t N>
template <class C>
void ReleaseTable<N>::start(const AdaptiveFollowerConstants<C>& c, float periodT) {
    activity = 1.0f;
    last = -1.0f;
    settled = false;
    // The largest activity a rise can give, from an activity of 1: where it is 1, a rise from any
    // activity (never above 1) gives exactly 1.
    AdaptiveFollower<float> risen;
    risen.activity = 1.0f;
    usable = risen.activityAfter(1.0f, c) == 1.0f;
    ++filling;
    extend(c, periodT, 1);
}

template <std::size_t N>
template <class C>
void ReleaseTable<N>::extend(const AdaptiveFollowerConstants<C>& c, float periodT,
                             std::size_t entries) {
    AdaptiveFollower<float> follower;
    follower.activity = activity;
    for (std::size_t i = 0; i < entries && !complete(); ++i) {
        const std::size_t k = static_cast<std::size_t>(last + 1.0f);
        lastRelease = AdaptiveFollower<float>::releaseTime(follower.activity, c);
        pole[k] = exponential(-periodT / lastRelease);
        last = static_cast<float>(k);
        settled = lastRelease == c.tau0;
        follower.activity = follower.activityAfter(0.0f, c);
    }
    activity = follower.activity;
}

// A peak hold and the one-pole smoother after it: the band gate and the held envelope levels.
//   h = max(v, p_r h + (1 - p_r) v)     instant attack, release with p_r
//   y = p_s y + (1 - p_s) h             smoothed
// The release pole is one per lane (C = T) or shared by every lane (C = float).
template <class T = float>
struct SmoothedPeak {
    T held{};    // h
    T output{};  // y

    void reset() { *this = {}; }

    template <class C>
    T step(T v, const Pole<C>& release, const Pole<>& smoothing) {
        const T released = release.p * held + release.complement * v;
        held = larger(v, released);
        output = smoothing.p * output + smoothing.complement * held;
        return output;
    }
};

// First-order bilinear lowpass prewarped to O = 1 / tan(pi f / fs), unity gain at DC:
//   y[n] = (v[n] + v[n-1] - (1 - O) y[n-1]) / (1 + O)
struct FirstOrderLowpassConstants {
    float oneMinusO = 0.0f;
    float onePlusO = 1.0f;

    static FirstOrderLowpassConstants at(const SampleRate& rate, float hz) {
        const float o = rate.prewarp(hz);
        return {1.0f - o, 1.0f + o};
    }
};

template <class T = float>
struct FirstOrderLowpass {
    T previousInput{};
    T output{};

    void reset() { *this = {}; }

    T step(T v, const FirstOrderLowpassConstants& c) {
        output = ((v + previousInput) - c.oneMinusO * output) / c.onePlusO;
        previousInput = v;
        return output;
    }
};

}  // namespace ZELKO_TARGET_NAMESPACE
