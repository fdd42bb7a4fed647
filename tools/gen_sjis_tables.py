#!/usr/bin/env python3
"""Generates src/support/sjis_tables.cpp: the Shift_JIS-2004 conversion tables.

The double-byte half comes from Python's standard `shift_jis_2004` codec (the
JIS X 0213:2004 mapping); the single-byte half is JIS X 0201 (0x5C is the yen sign, 0x7E the overline). Run from anywhere:

    python3 tools/gen_sjis_tables.py            # writes src/support/sjis_tables.cpp
    python3 tools/gen_sjis_tables.py --check    # exit 1 if the file is stale
    python3 tools/gen_sjis_tables.py -o PATH    # writes PATH instead

The script checks the known counts of the mapping and stops with an error
when the codec of this Python disagrees with them.
"""

import argparse
import os
import sys

CODEC = "shift_jis_2004"

# Forward table: Shift-JIS code (one byte, or lead * 256 + trail) -> code point.
FORWARD_RANGES = [
    ("sjisForwardSingle", 0x0000, 0x00FF),  # one byte
    ("sjisForwardLow", 0x8000, 0x9FFF),     # lead bytes 0x80..0x9F
    ("sjisForwardHigh", 0xE000, 0xFCFF),    # lead bytes 0xE0..0xFC
]
# Reverse table: UTF-16 code unit -> code (below 0x100 one byte).
REVERSE_RANGES = [
    ("sjisReverseLow", 0x0000, 0x04FF),
    ("sjisReverseMid", 0x1E00, 0x9FFF),
    ("sjisReverseHigh", 0xF900, 0xFFFF),
]

EXPECTED_DOUBLE = 11208       # double-byte codes mapped to one code point
EXPECTED_ABOVE_BMP = 303      # ... of them above U+FFFF
EXPECTED_MAX_CODE_POINT = 0x2A6B2
EXPECTED_SEQUENCES = 25       # double-byte codes mapped to two code points (left unmapped)
EXPECTED_REVERSE = 11095      # reverse mappings inside REVERSE_RANGES


def single_byte(byte):
    """JIS X 0201; 0 = unmapped (0x00 maps to U+0000 = 0)."""
    if byte == 0x5C:
        return 0x00A5  # YEN SIGN
    if byte == 0x7E:
        return 0x203E  # OVERLINE
    if byte < 0x80:
        return byte
    if 0xA1 <= byte <= 0xDF:
        return 0xFF61 + (byte - 0xA1)  # half-width katakana
    return 0


def build_forward():
    forward = {}
    for byte in range(0x100):
        code_point = single_byte(byte)
        # The codec must agree with the single-byte rule where it maps the byte.
        try:
            decoded = bytes([byte]).decode(CODEC)
        except UnicodeDecodeError:
            decoded = None
        if code_point and decoded != chr(code_point):
            sys.exit(f"codec disagrees on byte 0x{byte:02X}: {decoded!r}")
        if code_point:
            forward[byte] = code_point

    sequences = 0
    for _, first, last in FORWARD_RANGES[1:]:
        for code in range(first, last + 1):
            raw = bytes([code >> 8, code & 0xFF])
            try:
                text = raw.decode(CODEC)
            except UnicodeDecodeError:
                continue
            if len(text) == 1:
                forward[code] = ord(text)
            elif len(text) == 2:
                # No byte of these lead ranges decodes alone, so two characters
                # are one code mapped to a sequence of two code points.
                sequences += 1
            else:
                sys.exit(f"unexpected decoding of 0x{code:04X}: {text!r}")
    return forward, sequences


def in_reverse_ranges(code_point):
    return any(first <= code_point <= last for _, first, last in REVERSE_RANGES)


def build_reverse(forward):
    reverse = {}
    for code, code_point in sorted(forward.items()):
        if not in_reverse_ranges(code_point):
            continue
        if code_point in reverse:
            sys.exit(f"U+{code_point:04X} has two codes: 0x{reverse[code_point]:04X}, 0x{code:04X}")
        reverse[code_point] = code
    return reverse


def check_counts(forward, sequences, reverse):
    double = {c: u for c, u in forward.items() if c > 0xFF}
    above = [u for u in double.values() if u > 0xFFFF]
    problems = []
    if len(double) != EXPECTED_DOUBLE:
        problems.append(f"{len(double)} double-byte mappings, expected {EXPECTED_DOUBLE}")
    if len(above) != EXPECTED_ABOVE_BMP:
        problems.append(f"{len(above)} above U+FFFF, expected {EXPECTED_ABOVE_BMP}")
    if max(above) != EXPECTED_MAX_CODE_POINT:
        problems.append(f"highest code point U+{max(above):X}, expected U+{EXPECTED_MAX_CODE_POINT:X}")
    if sequences != EXPECTED_SEQUENCES:
        problems.append(f"{sequences} codes map to sequences, expected {EXPECTED_SEQUENCES}")
    if len(reverse) != EXPECTED_REVERSE:
        problems.append(f"{len(reverse)} reverse mappings, expected {EXPECTED_REVERSE}")
    if problems:
        sys.exit("table check failed: " + "; ".join(problems))


def emit_array(lines, c_type, name, first, last, values, width):
    count = last - first + 1
    lines.append(f"// 0x{first:04X}..0x{last:04X}")
    lines.append(f"const {c_type} {name}[{count}] = {{")
    for row in range(first, last + 1, 16):
        cells = []
        for key in range(row, row + 16):
            value = values.get(key, 0)
            cells.append(f"0x{value:X}" if value else "0")
        lines.append(f"/* {row:0{width}X} */ " + ",".join(cells) + ",")
    lines.append("};")
    lines.append("")


def render(forward, reverse):
    lines = [
        "// GENERATED by tools/gen_sjis_tables.py from the standard Shift_JIS-2004",
        "// mapping (JIS X 0213:2004, Python's shift_jis_2004 codec; single bytes as",
        "// JIS X 0201). Do not edit: change the generator and run it again.",
        "//",
        "// Forward: code (one byte, or lead * 256 + trail) -> code point, 0 = unmapped;",
        "// the 25 codes that map to two code points are unmapped.",
        "// Reverse: UTF-16 code unit -> code (below 0x100 one byte), 0 = unmapped; the",
        "// exact inverse of the forward table for code points inside its ranges.",
        f"// {sum(1 for c in forward if c > 0xFF)} double-byte mappings"
        f" ({sum(1 for c, u in forward.items() if c > 0xFF and u > 0xFFFF)} above U+FFFF),"
        f" {len(reverse)} reverse mappings.",
        "#include \"support/sjis_tables.h\"",
        "",
    ]
    for name, first, last in FORWARD_RANGES:
        emit_array(lines, "uint32_t", name, first, last, forward, 4)
    for name, first, last in REVERSE_RANGES:
        emit_array(lines, "uint16_t", name, first, last, reverse, 4)
    return "\n".join(lines)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", default=os.path.join(root, "src", "support", "sjis_tables.cpp"))
    parser.add_argument("--check", action="store_true", help="only compare with the existing file")
    options = parser.parse_args()

    forward, sequences = build_forward()
    reverse = build_reverse(forward)
    check_counts(forward, sequences, reverse)
    text = render(forward, reverse)

    if options.check:
        try:
            with open(options.output, encoding="ascii") as existing:
                current = existing.read()
        except OSError:
            current = None
        if current != text:
            print(f"{options.output} is out of date; run {sys.argv[0]}", file=sys.stderr)
            return 1
        return 0
    with open(options.output, "w", encoding="ascii", newline="\n") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
