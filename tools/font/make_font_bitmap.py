#!/usr/bin/env python3
"""Builds the overlay font, bitmap resource 139, from an 8 x 16 PC Screen Font.

Usage: make_font_bitmap.py FONT.psf[.gz] [OUTPUT.bmp]

The output (default: src/app/resources/font139.bmp beside this tool's repository) is a complete
BMP file: the 14-byte file header, then the resource data the program loads: a 40-byte
BITMAPINFOHEADER, a two-entry palette (0 black, 1 white) and 1552 bottom-up rows of 4 bytes, a
32 x 1552 one-bit picture. Glyph g occupies image rows 16g .. 16g + 15 counted from the top and
stands for character code 32 + g:

  codes 32..126   the font's glyphs for those Unicode code points, in the leftmost 8 columns
  code 127        the exit icon, a bold X within columns 7..20
  code 128        the orientation icon, a framed rotate arrow within columns 1..20

Ink is black (bit 0), everything else white (bit 1); the leftmost pixel is bit 7 of a row's
first byte. Reads PSF1 and PSF2, with or without a Unicode table, gzip-compressed or not.
Standard library only.
"""

import gzip
import os
import struct
import sys

FIRST_CODE = 32
GLYPH_COUNT = 97  # codes 32..128
GLYPH_ROWS = 16
WIDTH = 32
HEIGHT = GLYPH_COUNT * GLYPH_ROWS  # 1552
ROW_BYTES = WIDTH // 8  # 4, already a multiple of 4
INFO_HEADER_BYTES = 40
PALETTE_BYTES = 2 * 4
FILE_HEADER_BYTES = 14

# Icons: '#' is ink. Each is 16 rows of 32 columns.
EXIT_ICON = [
    "................................",
    "................................",
    ".......###........###...........",
    "........###......###............",
    ".........###....###.............",
    "..........###..###..............",
    "...........######...............",
    "............####................",
    "............####................",
    "...........######...............",
    "..........###..###..............",
    ".........###....###.............",
    "........###......###............",
    ".......###........###...........",
    "................................",
    "................................",
]

ORIENTATION_ICON = [
    "................................",
    ".####################...........",
    ".#..................#...........",
    ".#.......####...#...#...........",
    ".#.....##....##.##..#...........",
    ".#....#........####.#...........",
    ".#...#.........####.#...........",
    ".#...#..............#...........",
    ".#...#..............#...........",
    ".#...#..............#...........",
    ".#....#.........#...#...........",
    ".#.....##.....##....#...........",
    ".#.......#####......#...........",
    ".#..................#...........",
    ".####################...........",
    "................................",
]


class FontError(Exception):
    pass


def read_psf(path):
    """Returns (glyph rows as lists of ints, one per glyph, map code point -> glyph index)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise FontError(f"{path}: cannot read: {e.strerror}") from e
    if data[:2] == b"\x1f\x8b":
        try:
            data = gzip.decompress(data)
        except (OSError, EOFError) as e:
            raise FontError(f"{path}: bad gzip data: {e}") from e

    if data[:2] == b"\x36\x04":
        if len(data) < 4:
            raise FontError(f"{path}: truncated PSF1 header")
        mode, height = data[2], data[3]
        count = 512 if mode & 0x01 else 256
        width, glyph_bytes, header = 8, height, 4
        has_table = bool(mode & 0x06)
        table_start = header + count * glyph_bytes
        code_map = parse_psf1_table(data[table_start:], count, path) if has_table else None
    elif data[:4] == b"\x72\xb5\x4a\x86":
        if len(data) < 32:
            raise FontError(f"{path}: truncated PSF2 header")
        _, header, flags, count, glyph_bytes, height, width = struct.unpack_from("<7I", data, 4)
        table_start = header + count * glyph_bytes
        code_map = parse_psf2_table(data[table_start:], count, path) if flags & 1 else None
    else:
        raise FontError(f"{path}: not a PC Screen Font (PSF1 or PSF2)")

    if width != 8 or height != GLYPH_ROWS:
        raise FontError(f"{path}: glyphs are {width} x {height}, need 8 x {GLYPH_ROWS}")
    if len(data) < table_start:
        raise FontError(f"{path}: truncated: {count} glyphs need {table_start} bytes")
    stride = (width + 7) // 8
    glyphs = []
    for g in range(count):
        start = header + g * glyph_bytes
        glyphs.append([data[start + r * stride] for r in range(height)])
    if code_map is None:  # no table: glyph index is the code
        code_map = {c: c for c in range(count)}
    return glyphs, code_map


def parse_psf1_table(table, count, path):
    """PSF1 table: per glyph, 16-bit code points, 0xFFFE starts sequences, 0xFFFF ends it."""
    code_map = {}
    glyph, in_sequence = 0, False
    for (value,) in struct.iter_unpack("<H", table[: len(table) // 2 * 2]):
        if glyph >= count:
            break
        if value == 0xFFFF:
            glyph, in_sequence = glyph + 1, False
        elif value == 0xFFFE:
            in_sequence = True
        elif not in_sequence:
            code_map.setdefault(value, glyph)
    if glyph < count:
        raise FontError(f"{path}: Unicode table ends after {glyph} of {count} glyphs")
    return code_map


def parse_psf2_table(table, count, path):
    """PSF2 table: per glyph, UTF-8 code points, 0xFE starts sequences, 0xFF ends it."""
    code_map = {}
    glyph, at = 0, 0
    while glyph < count:
        end = table.find(b"\xff", at)
        if end < 0:
            raise FontError(f"{path}: Unicode table ends after {glyph} of {count} glyphs")
        entry = table[at:end].split(b"\xfe")[0]
        try:
            for ch in entry.decode("utf-8"):
                code_map.setdefault(ord(ch), glyph)
        except UnicodeDecodeError as e:
            raise FontError(f"{path}: bad UTF-8 in the Unicode table of glyph {glyph}") from e
        glyph, at = glyph + 1, end + 1
    return code_map


def icon_rows(art, first_column, last_column):
    rows = []
    for r, line in enumerate(art):
        assert len(line) == WIDTH, f"icon row {r} is {len(line)} wide"
        ink = [c for c, ch in enumerate(line) if ch == "#"]
        assert all(first_column <= c <= last_column for c in ink), f"icon row {r} leaves its columns"
        rows.append(sum(1 << (WIDTH - 1 - c) for c in ink))
    return rows


def build_image(glyphs, code_map, path):
    """The picture as 1552 rows of 32-bit ink masks, top row first, bit 31 the leftmost pixel."""
    image = []
    for code in range(FIRST_CODE, 127):
        if code not in code_map:
            raise FontError(f"{path}: no glyph for character {code} ({chr(code)!r})")
        image += [row << 24 for row in glyphs[code_map[code]]]
    image += icon_rows(EXIT_ICON, 7, 20)
    image += icon_rows(ORIENTATION_ICON, 1, 20)
    assert len(image) == HEIGHT
    return image


def bmp_bytes(image):
    rows = bytearray()
    for ink in reversed(image):  # bottom-up
        rows += struct.pack(">I", ~ink & 0xFFFFFFFF)  # white (1) where there is no ink
    info = struct.pack(
        "<IiiHHIIiiII",
        INFO_HEADER_BYTES,  # biSize
        WIDTH,  # biWidth
        HEIGHT,  # biHeight: positive, bottom-up
        1,  # biPlanes
        1,  # biBitCount
        0,  # biCompression: BI_RGB
        len(rows),  # biSizeImage
        0,  # biXPelsPerMeter
        0,  # biYPelsPerMeter
        2,  # biClrUsed
        2,  # biClrImportant
    )
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])  # entry 0 black, entry 1 white (B, G, R, 0)
    offset = FILE_HEADER_BYTES + INFO_HEADER_BYTES + PALETTE_BYTES
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return file_header + info + palette + bytes(rows)


def main(argv):
    if len(argv) not in (2, 3):
        print(f"usage: {os.path.basename(argv[0])} FONT.psf[.gz] [OUTPUT.bmp]", file=sys.stderr)
        return 2
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, "..", "..", "src", "app", "resources", "font139.bmp")
    out = argv[2] if len(argv) == 3 else os.path.normpath(default_out)
    try:
        glyphs, code_map = read_psf(argv[1])
        data = bmp_bytes(build_image(glyphs, code_map, argv[1]))
    except FontError as e:
        print(f"make_font_bitmap: {e}", file=sys.stderr)
        return 1
    try:
        os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
        temporary = out + ".tmp"
        with open(temporary, "wb") as f:
            f.write(data)
        os.replace(temporary, out)
    except OSError as e:
        print(f"make_font_bitmap: {out}: cannot write: {e.strerror}", file=sys.stderr)
        return 1
    print(f"wrote {out} ({len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
