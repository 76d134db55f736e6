#!/usr/bin/env python3
"""Prints the constants of dsp/math/correctly_rounded.h and .cpp (python3-mpmath, 300 bits).

Every double is the value rounded to nearest; the split constants keep only their leading bits so
that their products with the reduction's integer are exact.
"""
from mpmath import mp, mpf, pi, log, exp, tan, floor, ldexp, frexp

mp.prec = 300


def rnd(v, bits=53):
    """v rounded to nearest (ties to even) at `bits` significant bits."""
    if v == 0:
        return mpf(0)
    m, e = frexp(v)  # v = m * 2^e, 0.5 <= |m| < 1
    scaled = ldexp(m, bits)
    n = int(floor(scaled))
    frac = scaled - n
    if frac > 0.5 or (frac == 0.5 and n % 2 == 1):
        n += 1
    return ldexp(mpf(n), e - bits)


def hexd(v):
    return float(v).hex()


def split(v, bits):
    hi = rnd(v, bits)
    return hi, rnd(v - hi)


print("// 2^(j/64), j = 0 ... 63")
for j in range(64):
    print(f"    {hexd(rnd(mpf(2) ** (mpf(j) / 64)))},")

ln2 = log(2)
ln10 = log(10)
print("exp: 64/ln2 =", hexd(rnd(64 / ln2)))
hi, lo = split(ln2 / 64, 36)
print("ln2/64 hi, lo =", hexd(hi), hexd(lo))
print("exp10: 64*log2(10) =", hexd(rnd(64 * log(10, 2))))
hi, lo = split(log(2, 10) / 64, 36)
print("log10(2)/64 hi, lo =", hexd(hi), hexd(lo))
fact = 1
for n in range(1, 7):
    fact *= n
    print(f"n={n}: 1/n! {hexd(rnd(mpf(1) / fact))}  ln10^n/n! {hexd(rnd(ln10 ** n / fact))}"
          f"  ln2^n/n! {hexd(rnd(ln2 ** n / fact))}")

print("tan: 64/pi =", hexd(rnd(64 / pi)))
p1 = rnd(pi / 64, 30)
p2 = rnd(pi / 64 - p1, 30)
p3 = rnd(pi / 64 - p1 - p2)
print("pi/64 in three:", hexd(p1), hexd(p2), hexd(p3))
hi, lo = split(pi / 64, 53)
print("pi/64 hi, lo:", hexd(hi), hexd(lo))
print("// tan(j pi/64), j = -16 ... 16: hi, lo")
for j in range(-16, 17):
    t = tan(j * pi / 64)
    h = rnd(t)
    low = rnd(t - h) if abs(t - h) > mpf(2) ** -200 else mpf(0)  # tan(pi/4) is exactly 1
    print(f"    {{{hexd(h)}, {hexd(low)}}},")
for c in [mpf(1) / 3, mpf(2) / 15, mpf(17) / 315, mpf(62) / 2835, mpf(1382) / 155925]:
    print("tan coef", hexd(rnd(c)))
print("// bits 1 ... 256 of 1/pi")
v = 1 / pi
for w in range(4):
    v = v * 2 ** 64
    word = int(floor(v))
    v -= word
    print(f"    0x{word:016x}u,")
