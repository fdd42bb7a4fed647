#!/usr/bin/env python3
"""The program's icon in the forms the builds need, from the PNGs that
rsvg-convert renders of data/notalumen.svg:

  icon_files.py ico OUT.ico PNG...      a Windows icon (sizes below 256 as
                                        32-bit bitmaps, which every Windows
                                        reads; 256 as PNG, Vista and later)
  icon_files.py pixels OUT.cpp PNG      the picture as 0xAARRGGBB words for
                                        the desktop window (SDL_SetWindowIcon)

Only what rsvg-convert writes is read: 8-bit RGBA, not interlaced."""
import struct
import sys
import zlib


def read_png(path):
    """Width, height and rows of (r, g, b, a) bytes."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        sys.exit(f"{path}: expected 8-bit RGBA without interlace")
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                predictor = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + predictor) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def bitmap_entry(width, height, rows):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    for row in reversed(rows):
        for x in range(width):
            r, g, b, a = row[x * 4:x * 4 + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def write_ico(out, pngs):
    entries = []
    for path in pngs:
        width, height, rows = read_png(path)
        body = open(path, "rb").read() if width >= 256 else bitmap_entry(width, height, rows)
        entries.append((width, height, body))
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    bodies = b""
    for width, height, body in entries:
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
        bodies += body
    open(out, "wb").write(directory + bodies)


def write_pixels(out, png):
    width, height, rows = read_png(png)
    if width != height:
        sys.exit(f"{png}: the icon must be square")
    words = []
    for row in rows:
        for x in range(width):
            r, g, b, a = row[x * 4:x * 4 + 4]
            words.append(f"0x{a:02X}{r:02X}{g:02X}{b:02X}u")
    lines = [", ".join(words[i:i + 8]) for i in range(0, len(words), 8)]
    text = (
        "// The program's icon for the desktop window, made by tools/icon_files.py\n"
        "// from data/notalumen.svg at build time.\n"
        "#include \"platform/desktop/desktop_window.h\"\n\n"
        f"const int desktopIconSize = {width};\n"
        f"const uint32_t desktopIconPixels[{width * height}] = {{\n    "
        + ",\n    ".join(lines)
        + "};\n"
    )
    open(out, "w").write(text)


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "ico":
        write_ico(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "pixels":
        write_pixels(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
