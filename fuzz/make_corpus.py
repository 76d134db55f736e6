#!/usr/bin/env python3
"""Writes the seed corpus of zelko-host-fuzzer into fuzz/corpus.

Each seed is a short script in the harness's input format (see host_fuzzer.cpp): ordinary host
sessions and the classic abuses, for the fuzzer to start its mutations from. Run it again after a
change of the format; the files are kept in the repository.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

# Action kinds.
DISPATCH, SET_PARAM, GET_PARAM, BLOCK, EVENTS, RATE, BLOCK_SIZE, MAINS, CLOSE, TEXTS = range(10)
# Indices into the harness's table of special values.
ZERO, NEG_ZERO, ONE, NEG_ONE, HALF, NAN, SNAN, INF, NEG_INF, MAX, NEG_MAX, MIN, DENORM, \
    NEG_DENORM, HUGE, NEG_NAN = range(16)
# Indices into the harness's table of special rates.
RATE_0, RATE_NEG1, RATE_NEG, RATE_1, RATE_2, RATE_8K, RATE_22K, RATE_44K, RATE_48K, RATE_88K, \
    RATE_96K, RATE_192K, RATE_384K, RATE_3G, RATE_NAN, RATE_INF = range(16)

# Signal kinds.
SILENCE, RAW, SPECIALS, NOISE, SINE, DC, CLICKS = range(7)


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def i32(v):
    return struct.pack("<i", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def i64(v):
    return struct.pack("<q", v)


def special(index):
    return u8(index)


def raw_float(value):
    return u8(0xFF) + struct.pack("<f", value)


def index(i):
    return u8(i + 1) if -1 <= i <= 6 else u8(0xFF) + i32(i)


def dispatch(opcode, idx=0, value=0, opt=special(ZERO), pointer=1, text=b""):
    body = u8(DISPATCH) + u8(opcode + 10) + i32(idx) + i64(value) + opt + u8(pointer)
    if pointer == 2:
        body += u8(len(text)) + text
    return body


def set_param(i, value):
    return u8(SET_PARAM) + index(i) + value


def get_param(i):
    return u8(GET_PARAM) + index(i)


def signal(kind, *args):
    return u8(kind) + b"".join(args)


def block(frames, first, second=signal(SILENCE), entry=0):
    return u8(BLOCK) + u16(frames) + u8(entry) + first + second


def double_block(frames, entry=3):
    """The double-precision entry takes no signal: its inputs are left as they are."""
    return u8(BLOCK) + u16(frames) + u8(entry)


def noise(seed, amplitude):
    return signal(NOISE, u32(seed), amplitude)


def midi(events):
    body = u8(EVENTS) + u8(len(events))
    for type_, delta, data in events:
        body += u8(0 if type_ == 1 else 128 + type_) + u8(0) + u16(delta) + bytes(data)
    return body


def rate(pick):
    return u8(RATE) + u8(pick)


def mains(on):
    return u8(MAINS) + u8(1 if on else 0)


def block_size(n):
    return u8(BLOCK_SIZE) + i64(n)


def texts(i):
    return u8(TEXTS) + index(i)


CLOSE_ACTION = u8(CLOSE)
HOST = u8(1)

SEEDS = {
    "no-host-version": u8(0),
    "ordinary-session": HOST + dispatch(0) + rate(RATE_44K) + block_size(512) + mains(True)
    + block(512, noise(1, special(ONE))) + block(512, signal(SINE, u16(440), special(HALF)))
    + mains(False) + CLOSE_ACTION,
    "special-samples": HOST + mains(True)
    + block(4096, signal(SPECIALS, u8(15), *[u8(i) for i in range(16)]))
    + block(2048, noise(7, special(ONE))),
    "raw-extremes-in-place": HOST
    + block(1000, signal(RAW, u8(3), struct.pack("<4f", 3.4e38, -3.4e38, 1e-40, 0.25)),
            signal(RAW, u8(0), struct.pack("<f", float("nan"))), entry=4),
    "parameter-abuse": HOST + set_param(0, special(NAN)) + set_param(1, special(INF))
    + set_param(2, special(NEG_INF)) + set_param(3, special(MAX)) + set_param(4, special(SNAN))
    + set_param(-1, special(ONE)) + set_param(5, special(ONE)) + set_param(0x7FFFFFFF, special(HALF))
    + get_param(0) + get_param(1) + get_param(2) + get_param(3) + get_param(4) + get_param(-1)
    + texts(0) + texts(1) + texts(2) + texts(3) + texts(4) + block(1024, noise(3, special(ONE))),
    "automation-per-block": HOST + b"".join(
        set_param(i % 5, raw_float((i * 0.137) % 1.3 - 0.1)) + block(64, noise(i + 11, special(ONE)))
        for i in range(40)),
    "midi-everything": HOST + mains(True) + midi([
        (1, 0, [0x90, 60, 100, 0]), (1, 10, [0x80, 60, 0, 0]), (1, 5, [0x9F, 64, 0, 0]),
        (1, 0, [0xB0, 123, 0, 0]), (1, 0, [0xB0, 126, 0, 0]), (1, 0, [0xB0, 7, 99, 0]),
        (1, 3, [0xE0, 0, 64, 0]), (1, 3, [0xE0, 127, 127, 0]), (0x06, 0, [0xF0, 1, 2, 0xF7]),
        (1, 60000, [0x90, 127, 127, 0])]) + block(256, noise(5, special(ONE))),
    "sample-rate-abuse": HOST + rate(RATE_0) + block(300, noise(9, special(ONE)))
    + rate(RATE_NAN) + rate(RATE_INF) + rate(RATE_NEG) + block(300, noise(9, special(ONE)))
    + rate(RATE_192K) + block(2000, noise(9, special(ONE))) + rate(RATE_3G)
    + rate(RATE_22K) + block(1500, signal(CLICKS, u16(99), special(ONE))),
    "dispatch-sweep": HOST + b"".join(dispatch(op, 0, 0) for op in range(-10, 101) if op != 1),
    "dispatch-sweep-null": HOST + b"".join(
        dispatch(op, -1, -1, pointer=0) for op in range(-10, 101) if op != 1),
    "dispatch-texts": HOST + dispatch(4, pointer=2, text=b"A program name well past 24 chars")
    + dispatch(51, pointer=2, text=b"receiveVstMidiEvent") + dispatch(51, pointer=2, text=b"bypass")
    + dispatch(2, value=-5) + dispatch(2, value=1 << 40) + dispatch(5) + dispatch(29, 0, 0)
    + dispatch(63, 16) + dispatch(63, 3) + dispatch(42, value=1) + dispatch(69, value=0),
    "largest-blocks": HOST + block_size(64) + block(8192, noise(21, special(ONE)))
    + block(8192, noise(22, special(HUGE)), entry=4) + block(8192, signal(DC, special(MAX))),
    "lifecycle-churn": HOST + block(128, noise(2, special(ONE))) + mains(True) + mains(True)
    + mains(False) + block(128, noise(2, special(ONE))) + dispatch(0) + dispatch(0)
    + block(0, signal(SILENCE)) + block(64, noise(2, special(ONE)), entry=2)
    + block(64, noise(2, special(ONE)), entry=3) + CLOSE_ACTION,
    # Every channel pointer left out in turn, for each entry, then all of them at once.
    "missing-buffers": HOST + b"".join(
        block(256, noise(31, special(ONE)), entry=(kind | missing))
        + double_block(256, entry=(3 | missing))
        for missing in (0x08, 0x10, 0x20, 0x40, 0x80, 0x14, 0x30, 0xC0, 0xF8)
        for kind in (0, 2)) + block(256, noise(31, special(ONE))),
}


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(CORPUS, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {CORPUS}")


if __name__ == "__main__":
    main()
