#!/usr/bin/env python3
"""Renders the operator's manual (docs/manual.txt) as the PDF that the console's Help opens."""
import sys
import textwrap

PAGE_W, PAGE_H, MARGIN, LEADING, SIZE, WIDTH = 612, 792, 56, 14, 10.5, 92


def escape(text):
    return text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)")


def lines_of(source):
    """Headings ("# "), paragraphs (joined and re-wrapped) and indented lines (kept as they are)."""
    out, paragraph = [], []

    def flush():
        if paragraph:
            out.extend((piece, False) for piece in textwrap.wrap(" ".join(paragraph), WIDTH))
            paragraph.clear()

    for raw in source.splitlines():
        if not raw.strip():
            flush()
            out.append(("", False))
        elif raw.startswith("# "):
            flush()
            out.append((raw[2:], True))
        elif raw.startswith(" "):
            flush()
            out.append((raw, False))
        else:
            paragraph.append(raw.strip())
    flush()
    return out


def build(source):
    per_page = (PAGE_H - 2 * MARGIN) // LEADING
    lines = lines_of(source)
    pages = [lines[i:i + per_page] for i in range(0, len(lines), per_page)] or [[]]
    objects = ["<< /Type /Catalog /Pages 2 0 R >>", None,
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
               "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>"]
    kids = []
    for number, page in enumerate(pages, 1):
        y = PAGE_H - MARGIN
        ops = []
        for text, heading in page:
            font = "/F2 13" if heading else "/F1 %s" % SIZE
            ops.append("BT %s Tf %d %d Td (%s) Tj ET" % (font, MARGIN, y, escape(text)))
            y -= LEADING
        ops.append("BT /F1 8 Tf %d %d Td (Brimlow manual - page %d) Tj ET" % (MARGIN, MARGIN // 2, number))
        stream = "\n".join(ops).encode("latin-1", "replace")
        objects.append("<< /Length %d >>\nstream\n%s\nendstream" % (len(stream), stream.decode("latin-1")))
        content = len(objects)
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Contents %d 0 R "
                       "/Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> >>" % (PAGE_W, PAGE_H, content))
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
        pdf = build(f.read())
    with open(sys.argv[2], "wb") as f:
        f.write(pdf)
