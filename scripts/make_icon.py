#!/usr/bin/env python3
"""Writes the program's icon file for the Windows build from its PNG artwork.

Usage: scripts/make_icon.py OUTPUT.ico IMAGE.png [IMAGE.png ...]

Each PNG (8 bits per channel, RGB or RGBA, not interlaced: what resources/icons holds) becomes one image
of the icon file, in the order given, as a 32-bit-per-pixel bitmap with its alpha channel and the 1-bit
mask that systems without alpha blending use (a pixel is masked out where it is fully transparent). The
bitmaps are stored uncompressed, which every version of Windows reads; CMake runs the script when the
artwork changes.
"""

import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class PictureError(Exception):
    pass


def read_png(path):
    """(width, height, rows) with rows top first, each a list of (r, g, b, a)."""
    with open(path, "rb") as file:
        data = file.read()
    if not data.startswith(PNG_SIGNATURE):
        raise PictureError("not a PNG file")
    position = len(PNG_SIGNATURE)
    header = None
    compressed = bytearray()
    while position + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[position : position + 8])
        body = data[position + 8 : position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None:
        raise PictureError("no IHDR chunk")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise PictureError(f"depth {depth}, colour type {colour}, interlace {interlace}: only 8-bit RGB(A), not interlaced")
    channels = 4 if colour == 6 else 3
    raw = zlib.decompress(bytes(compressed))
    stride = width * channels
    if len(raw) != height * (stride + 1):
        raise PictureError("image data of the wrong size")
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1 : start + 1 + stride])
        for x in range(stride):
            left = line[x - channels] if x >= channels else 0
            up = previous[x]
            up_left = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + left) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + up) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                estimate = left + up - up_left
                distances = (abs(estimate - left), abs(estimate - up), abs(estimate - up_left))
                predictor = (left, up, up_left)[distances.index(min(distances))]
                line[x] = (line[x] + predictor) & 0xFF
            elif kind != 0:
                raise PictureError(f"unknown filter {kind}")
        previous = line
        pixels = []
        for x in range(width):
            pixel = line[x * channels : (x + 1) * channels]
            pixels.append(tuple(pixel) if channels == 4 else (pixel[0], pixel[1], pixel[2], 255))
        rows.append(pixels)
    return width, height, rows


def icon_image(width, height, rows):
    """One image of an icon file: BITMAPINFOHEADER, 32-bit colour bits bottom row first, AND mask."""
    mask_stride = ((width + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for pixels in reversed(rows):
        mask_row = bytearray(mask_stride)
        for x, (red, green, blue, alpha) in enumerate(pixels):
            colour += bytes((blue, green, red, alpha))
            if alpha == 0:
                mask_row[x // 8] |= 0x80 >> (x % 8)
        mask += mask_row
    # The height counts the colour bits and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def icon_file(pictures):
    images = [icon_image(*picture) for picture in pictures]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (width, height, _), image in zip(pictures, images):
        # 256 pixels are written as 0.
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def main():
    if len(sys.argv) < 3:
        print("usage: make_icon.py OUTPUT.ico IMAGE.png [IMAGE.png ...]", file=sys.stderr)
        return 2
    pictures = []
    for path in sys.argv[2:]:
        try:
            width, height, rows = read_png(path)
        except (OSError, PictureError, zlib.error) as error:
            print(f"make_icon.py: {path}: {error}", file=sys.stderr)
            return 1
        if width > 256 or height > 256:
            print(f"make_icon.py: {path}: larger than 256 pixels", file=sys.stderr)
            return 1
        pictures.append((width, height, rows))
    with open(sys.argv[1], "wb") as output:
        output.write(icon_file(pictures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
