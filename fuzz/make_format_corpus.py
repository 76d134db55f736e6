#!/usr/bin/env python3
"""Writes the seed corpora of the CLAP, LV2 and VST 3 host fuzzers into fuzz/clap_corpus,
fuzz/lv2_corpus and fuzz/vst3_corpus.

Each seed is a short script in its harness's input format (see clap_fuzzer.cpp, lv2_fuzzer.cpp and
vst3_fuzzer.cpp): an ordinary session with automation, and the abuses each format invites, for the
fuzzer to start its mutations from. Run it again after a change of a format; the files are kept in
the repository.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Indices into the harnesses' tables (fuzz_support.h).
ZERO, NEG_ZERO, ONE, NEG_ONE, HALF, NAN, SNAN, INF, NEG_INF, MAX, NEG_MAX, MIN, DENORM, \
    NEG_DENORM, HUGE, NEG_NAN = range(16)
RATE_0, RATE_NEG1, RATE_NEG, RATE_1, RATE_2, RATE_8K, RATE_22K, RATE_44K, RATE_48K, RATE_88K, \
    RATE_96K, RATE_192K, RATE_384K, RATE_3G, RATE_NAN, RATE_INF = range(16)
SILENCE, RAW, SPECIALS, NOISE, SINE, DC, CLICKS = range(7)


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def i32(v):
    return struct.pack("<i", v)


def noise(seed=12345, amplitude=HALF):
    return u8(NOISE) + u32(seed) + u8(amplitude)


def specials():
    return u8(SPECIALS) + u8(7) + b"".join(u8(v) for v in (NAN, INF, NEG_INF, MAX, DENORM, HUGE, SNAN, ZERO))


def double(bits_of=None, special=None):
    """A DOUBLE: a float special (below 16), a double special (16 ... 31), or 8 bytes of bits."""
    if special is not None:
        return u8(special)
    return u8(255) + struct.pack("<d", bits_of)


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(data)


# ---- CLAP --------------------------------------------------------------------------------------
ACTIVATE, DEACTIVATE, START, STOP, RESET, BLOCK, FLUSH, ROUND_TRIP, LOAD, CONFIG, TEXTS, THREADS = \
    range(12)


def clap_events(events):
    out = u8(len(events))
    for param, time, value in events:
        out += u8(0) + u8(param) + u8(time) + value
    return out


def clap_block(frames, layout=0x10, events=(), signal=None, out=64):
    return (u8(BLOCK) + u16(frames) + u8(layout) + (signal or noise()) + u8(SILENCE) +
            clap_events(events) + u8(out))


def clap_seeds():
    session = u8(3) + u8(ACTIVATE) + u8(RATE_48K) + u32(1) + u32(512) + u8(START)
    automation = [(0, 0, double(0.3)), (2, 17, double(0.5)), (5, 100, double(1.0)),
                  (1, 101, double(special=NAN)), (3, 511, double(special=INF + 16))]
    ordinary = session + clap_block(512, events=automation) + clap_block(0) + clap_block(300) + \
        u8(ROUND_TRIP) + clap_block(512)
    write("clap_corpus", "ordinary-session", ordinary)
    write("clap_corpus", "careless-order",
          u8(1) + clap_block(256) + u8(RESET) + u8(START) + u8(ACTIVATE) + u8(RATE_NAN) + u32(0) +
          u32(0) + u8(ACTIVATE) + u8(RATE_3G) + u32(9) + u32(1) + clap_block(8192) +
          u8(DEACTIVATE) + u8(CONFIG) + u32(1) + u8(ACTIVATE) + u8(RATE_8K) + u32(1) + u32(8) +
          clap_block(64, layout=0x20) + u8(STOP) + u8(RESET) + clap_block(64))
    write("clap_corpus", "hostile-audio-in-place",
          session + clap_block(777, layout=0x90, signal=specials()) + clap_block(100, layout=0x01) +
          clap_block(100, layout=0x4A) + clap_block(100, layout=0x00))
    write("clap_corpus", "states-and-texts",
          session + u8(LOAD) + u8(32) + bytes(32) + u8(LOAD) + u8(33) + bytes(33) + u8(LOAD) + u8(2) +
          b"ZC" + u8(THREADS) + u8(0) + u8(LOAD) + u8(32) + bytes(32) + u8(THREADS) + u8(1) +
          u8(TEXTS) + u8(1) + double(-40.0) + u8(64) + u8(6) + b"-40 dB" + u8(TEXTS) + u8(4) +
          double(special=HALF) + u8(3) + u8(2) + b"on" + u8(FLUSH) +
          clap_events([(5, 0, double(1.0)), (0, 200, double(special=NAN))]) + clap_block(512))


# ---- LV2 ---------------------------------------------------------------------------------------
CONNECT, CONTROL, LV2_ACTIVATE, LV2_DEACTIVATE, RUN, CONNECT_ALL, INSTANTIATE, EXTENSION = range(8)


def lv2_seeds():
    for index, name in ((0, "mono"), (1, "stereo")):
        enabled = 21 if index == 0 else 22
        ordinary = (u8(index) + u8(RATE_48K) + u8(CONNECT_ALL) + u8(CONTROL) + u8(enabled) +
                    u8(ONE) + u8(LV2_ACTIVATE) + u8(RUN) + u16(512) + u8(0) + noise() +
                    u8(SILENCE) + u8(CONTROL) + u8(3 + index) + u8(NAN) + u8(RUN) + u16(0) + u8(0) +
                    u8(SILENCE) + u8(SILENCE) + u8(RUN) + u16(4096) + u8(1) + noise(7) + noise(9))
        write("lv2_corpus", name + "-session", ordinary)
        careless = (u8(index) + u8(RATE_NAN) + u8(RUN) + u16(64) + u8(0) + noise() + u8(SILENCE) +
                    u8(CONNECT) + u8(0) + u8(1) + u8(CONNECT) + u8(1) + u8(2) + u8(CONNECT) + u8(200) +
                    u8(1) + u8(RUN) + u16(64) + u8(0) + specials() + specials() + u8(CONNECT_ALL) +
                    u8(CONTROL) + u8(enabled) + u8(ZERO) + u8(RUN) + u16(900) + u8(1) + noise() +
                    noise() + u8(INSTANTIATE) + u8(RATE_0) + u8(LV2_DEACTIVATE) + u8(CONNECT_ALL) +
                    u8(RUN) + u16(300) + u8(0) + specials() + u8(SILENCE) + u8(EXTENSION) + u8(5) +
                    b"urn:x")
        write("lv2_corpus", name + "-careless", careless)
        # The same session with no urid:map offered (the first byte's third, 1, is odd): the
        # goniometer's atom port is left as the host gave it.
        write("lv2_corpus", name + "-no-map", u8(index + 3) + ordinary[1:])


# ---- VST 3 -------------------------------------------------------------------------------------
SETUP, SWITCH, PROCESSING, ARRANGEMENTS, VST3_BLOCK, VST3_ROUND_TRIP, STATE, VST3_TEXTS, \
    CONVERSIONS, CONTROLLER, TERMINATE = range(11)


def vst3_points(queues):
    out = u8(len(queues))
    for param, points in queues:
        out += u8(param) + u8(len(points))
        for offset, value in points:
            out += u8(offset) + value
    return out


def vst3_block(frames, layout=0x09, queues=(), signal=None, out=0):
    return (u8(VST3_BLOCK) + u8(0) + u16(frames) + u8(layout) + (signal or noise()) + u8(SILENCE) +
            vst3_points(queues) + u8(out))


def vst3_seeds():
    automation = [(0, [(0, double(0.3)), (100, double(0.9)), (17, double(special=NAN))]),
                  (5, [(50, double(1.0)), (120, double(0.0))]), (6, [(3, double(0.5))])]
    write("vst3_corpus", "ordinary-session",
          vst3_block(512, queues=automation) + vst3_block(0) + u8(VST3_ROUND_TRIP) +
          vst3_block(480) + u8(VST3_TEXTS) + u8(1) + double(special=HALF) + u8(6) + b"-40 dB")
    write("vst3_corpus", "careless-order",
          u8(SWITCH) + u8(0) + vst3_block(256) + u8(SETUP) + u8(RATE_NAN) + i32(-1) + u8(0) +
          u8(SETUP) + u8(RATE_48K) + i32(512) + u8(1) + u8(ARRANGEMENTS) + u8(1) + u8(1) + u8(1) +
          u8(0) + u8(1) + u8(0) + u8(ARRANGEMENTS) + u8(2) + u8(1) + u8(3) + u8(3) + u8(1) + u8(1) +
          u8(SWITCH) + u8(1) + u8(PROCESSING) + u8(1) + vst3_block(300, layout=0x19) +
          u8(TERMINATE) + vst3_block(64, layout=0xC9))
    write("vst3_corpus", "states-and-conversions",
          u8(STATE) + u8(0) + u8(32) + bytes(32) + u8(STATE) + u8(1) + u8(33) + bytes(33) +
          u8(CONVERSIONS) + u8(0) + double(special=HUGE) + u8(CONTROLLER) + u8(2) +
          double(special=NAN) + vst3_block(700, layout=0x02, signal=specials()))


if __name__ == "__main__":
    clap_seeds()
    lv2_seeds()
    vst3_seeds()
