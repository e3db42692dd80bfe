#!/usr/bin/env python3
"""Makes the built-in substitution pair of the chat protocol.

Both alphabets are permutations of the same 160-character set: the printable ASCII
characters 0x20..0x7E without "[" and "]", plus the Windows-1251 codes 0xA8, 0xB8, 0xB9
and 0xC0..0xFF. Encoding maps plain[k] to wire[k]. The pair is drawn from a fixed seed with
a PRNG of our own (splitmix64), so the result never depends on the Python version, and the
wire alphabet is a single cycle over the plain one: no character maps to itself, so in
particular every character of "||" and "//end" is changed on the wire.

The pair is part of the protocol: changing the seed changes what every client must use.

Usage:
  make_alphabets.py                 write src/protocol/builtin_alphabets.h
  make_alphabets.py --check         exit 1 when that header is not what this script writes
  make_alphabets.py --print         print the pair as hex rows, as escaped text and as an
                                    encoding table in code order
  make_alphabets.py --encode TEXT   print TEXT (taken as Windows-1251) encoded, in hex
"""

import argparse
import pathlib
import sys

SEED = 0x4F52565F43484154  # fixed: the pair must be the same on every run
LENGTH = 160
HEADER = pathlib.Path(__file__).resolve().parent.parent / "src" / "protocol" / "builtin_alphabets.h"


def character_set():
    """The 160 characters in code order."""
    codes = [c for c in range(0x20, 0x7F) if c not in (0x5B, 0x5D)]
    codes += [0xA8, 0xB8, 0xB9] + list(range(0xC0, 0x100))
    assert len(codes) == LENGTH
    return codes


class SplitMix64:
    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        """A number in [0, n), without modulo bias."""
        limit = (1 << 64) - ((1 << 64) % n)
        while True:
            value = self.next()
            if value < limit:
                return value % n


def make_pair():
    rng = SplitMix64(SEED)
    plain = character_set()
    # Fisher-Yates for the plain order.
    for i in range(LENGTH - 1, 0, -1):
        j = rng.below(i + 1)
        plain[i], plain[j] = plain[j], plain[i]
    # Sattolo's variant gives one cycle through all 160 positions: a permutation without
    # fixed points, so wire[k] != plain[k] for every k.
    cycle = list(range(LENGTH))
    for i in range(LENGTH - 1, 0, -1):
        j = rng.below(i)
        cycle[i], cycle[j] = cycle[j], cycle[i]
    wire = [plain[cycle[k]] for k in range(LENGTH)]
    check_pair(plain, wire)
    return bytes(plain), bytes(wire)


def check_pair(plain, wire):
    expected = sorted(character_set())
    assert sorted(plain) == expected and sorted(wire) == expected
    encode = dict(zip(plain, wire))
    fixed = [c for c in plain if encode[c] == c]
    assert not fixed, "fixed points: %r" % fixed
    for c in b"|/end":
        assert encode[c] != c


def cpp_escape(data):
    """C++ string-literal text. A hex digit right after a \\x escape would extend that
    escape, so such a digit is written as an escape of its own."""
    out = []
    previous_hex = False
    for c in data:
        if c >= 0x80 or (previous_hex and chr(c) in "0123456789abcdefABCDEF"):
            out.append("\\x%02X" % c)
            previous_hex = True
            continue
        out.append("\\" + chr(c) if c in (0x22, 0x5C) else chr(c))
        previous_hex = False
    return "".join(out)


def literal_lines(data, per_line=16, indent="    "):
    lines = []
    for start in range(0, len(data), per_line):
        lines.append('%s"%s"' % (indent, cpp_escape(data[start:start + per_line])))
    return lines


def header_text(plain, wire):
    parts = [
        "// The built-in substitution pair, written by tools/make_alphabets.py: do not edit by hand,",
        "// change the script and run it again. Encoding maps kBuiltinPlainAlphabet[k] to",
        "// kBuiltinWireAlphabet[k]; clients must use the same pair.",
        "#pragma once",
        "",
        "#include <string_view>",
        "",
        "namespace orv {",
        "",
        "inline constexpr std::string_view kBuiltinPlainAlphabet =",
    ]
    body = literal_lines(plain)
    body[-1] += ";"
    parts += body
    parts += ["", "inline constexpr std::string_view kBuiltinWireAlphabet ="]
    body = literal_lines(wire)
    body[-1] += ";"
    parts += body
    parts += ["", "}  // namespace orv", ""]
    return "\n".join(parts)


def hex_rows(data, per_line=16):
    return [
        " ".join("%02X" % c for c in data[start:start + per_line])
        for start in range(0, len(data), per_line)
    ]


def print_pair(plain, wire):
    for title, data in (("plain", plain), ("wire", wire)):
        print("%s alphabet, hex, 16 per row:" % title)
        for row in hex_rows(data):
            print("  " + row)
        print("%s alphabet, escaped:" % title)
        print('  "%s"' % cpp_escape(data))
        print()


def print_code_order_table(plain, wire):
    """The same pair as an encoding table: every member of the set in code order, and the
    byte it travels as."""
    table = dict(zip(plain, wire))
    codes = character_set()
    print("encoding table, plain -> wire, set in code order:")
    for start in range(0, LENGTH, 8):
        row = codes[start:start + 8]
        print("  " + "  ".join("%02X>%02X" % (c, table[c]) for c in row))
    print()


def encode(plain, wire, text):
    table = {p: w for p, w in zip(plain, wire)}
    return bytes(table.get(c, c) for c in text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--check", action="store_true")
    group.add_argument("--print", action="store_true")
    group.add_argument("--encode", metavar="TEXT")
    parser.add_argument("--output", type=pathlib.Path, default=HEADER)
    args = parser.parse_args()

    plain, wire = make_pair()
    if args.print:
        print_pair(plain, wire)
        print_code_order_table(plain, wire)
        return 0
    if args.encode is not None:
        encoded = encode(plain, wire, args.encode.encode("cp1251"))
        for row in hex_rows(encoded):
            print(row)
        return 0
    text = header_text(plain, wire)
    if args.check:
        try:
            current = args.output.read_text(encoding="ascii")
        except OSError:
            current = None
        if current != text:
            print("%s is not up to date; run %s" % (args.output, sys.argv[0]), file=sys.stderr)
            return 1
        return 0
    args.output.write_text(text, encoding="ascii", newline="\n")
    print("wrote %s" % args.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())
