#!/usr/bin/env python3
"""Renders the operator's manual (docs/manual.txt) as the PDF that the console's Help opens.

The text is plain: "# " starts a section, "## " a section on a page of its own (one per dialog), a line
"![caption](path.png)" places a picture (an 8-bit RGB PNG, path relative to the manual), indented lines are
kept as they are, in a fixed-width font so that their columns line up (at most 96 characters), and every other
paragraph is re-wrapped."""
import os
import re
import struct
import sys
import textwrap

PAGE_W, PAGE_H, MARGIN, LEADING, SIZE, WIDTH = 612, 792, 56, 14, 10.5, 92
POINTS_PER_PIXEL = 0.75  # a screen's 96 pixels to the page's 72 points per inch
PICTURE = re.compile(r"^!\[(.*)\]\((.+)\)\s*$")


def escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def read_png(path):
    """Width, height and the compressed scan lines of an 8-bit RGB PNG, which PDF takes as they are."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit("%s: not a PNG file" % path)
    pos, idat, header = 8, bytearray(), None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if not header or header[2:5] != (8, 2, 0) or header[6] != 0:
        sys.exit("%s: the manual takes 8-bit RGB PNG pictures without interlacing" % path)
    return header[0], header[1], bytes(idat)


def items_of(source, folder):
    """("text", line, style), ("page",) and ("picture", path) in reading order; style is "heading", "fixed"
    or "" for body text."""
    out, paragraph = [], []

    def flush():
        if paragraph:
            out.extend(("text", piece, "") for piece in textwrap.wrap(" ".join(paragraph), WIDTH))
            paragraph.clear()

    for raw in source.splitlines():
        picture = PICTURE.match(raw)
        if not raw.strip():
            flush()
            out.append(("text", "", ""))
        elif raw.startswith("## "):
            flush()
            out.extend([("page",), ("text", raw[3:], "heading")])
        elif raw.startswith("# "):
            flush()
            out.append(("text", raw[2:], "heading"))
        elif picture:
            flush()
            out.append(("picture", os.path.join(folder, picture.group(2))))
        elif raw.startswith(" "):
            flush()
            out.append(("text", raw, "fixed"))
        else:
            paragraph.append(raw.strip())
    flush()
    return out


def build(source, folder="."):
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None,
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"]
    fonts = {"heading": "/F2 13", "fixed": "/F3 8.5", "": "/F1 %s" % SIZE}
    pages = []  # (drawing operators, pictures named on the page)

    def new_page():
        pages.append(([], {}))
        return PAGE_H - MARGIN

    y = new_page()
    for item in items_of(source, folder):
        ops, pictures = pages[-1]
        if item[0] == "page":
            if ops:
                y = new_page()
        elif item[0] == "text":
            if y < MARGIN:
                y = new_page()
                ops, pictures = pages[-1]
            if ops or item[1]:  # no blank line at the top of a page
                ops.append("BT %s Tf %d %d Td (%s) Tj ET" % (fonts[item[2]], MARGIN, y, escape(item[1])))
                y -= LEADING
        else:
            width, height, scan_lines = read_png(item[1])
            scale = min(POINTS_PER_PIXEL, (PAGE_W - 2 * MARGIN) / width)
            w, h = width * scale, height * scale
            if y - h < MARGIN:
                y = new_page()
                ops, pictures = pages[-1]
            objects.append("<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
                           "/BitsPerComponent 8 /Filter /FlateDecode /DecodeParms << /Predictor 15 /Colors 3 "
                           "/BitsPerComponent 8 /Columns %d >> /Length %d >>\nstream\n%s\nendstream"
                           % (width, height, width, len(scan_lines), scan_lines.decode("latin-1")))
            name = "/Im%d" % len(objects)
            pictures[name] = len(objects)
            ops.append("q %.2f 0 0 %.2f %d %.2f cm %s Do Q" % (w, h, MARGIN, y - h + LEADING / 2, name))
            y -= h + LEADING

    kids = []
    for number, (ops, pictures) in enumerate(pages, 1):
        ops.append("BT /F1 8 Tf %d %d Td (Brimlow manual - page %d) Tj ET" % (MARGIN, MARGIN // 2, number))
        stream = "\n".join(ops).encode("latin-1", "replace")
        objects.append("<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream.decode("latin-1")))
        content = len(objects)
        xobjects = " ".join("%s %d 0 R" % entry for entry in pictures.items())
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Contents %d 0 R "
                       "/Resources << /Font << /F1 3 0 R /F2 4 0 R /F3 5 0 R >> /XObject << %s >> >> >>"
                       % (PAGE_W, PAGE_H, content, xobjects))
        kids.append("%d 0 R" % len(objects))
    objects[1] = "<< /Type /Pages /Kids [%s] /Count %d >>" % (" ".join(kids), len(kids))
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for index, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (index, body)).encode("latin-1")
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)).encode()
    for offset in offsets:
        out += ("%010d 00000 n \n" % offset).encode()
    out += ("trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)).encode()
    return bytes(out)


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        pdf = build(f.read(), os.path.dirname(os.path.abspath(sys.argv[1])))
    with open(sys.argv[2], "wb") as f:
        f.write(pdf)
