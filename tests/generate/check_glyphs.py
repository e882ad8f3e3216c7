"""Renders a document to PDF with a private LibreOffice, the way the preview is
rendered, and checks that every character found a glyph: each font the page uses
is embedded, and no TrueType font draws a character with its missing-glyph box
(.notdef, glyph 0) or with no outline at all. LibreOffice draws a character that
no font covers with the .notdef of its last fallback font; in the PDF's subset
that glyph appears as a copy of glyph 0 under a code of its own. A colour emoji
font's bitmap glyphs arrive without outlines and show as nothing.

Usage: check_glyphs.py DOCUMENT [PDF]   (exit 0: all glyphs found, 1: not,
2: could not check). Runs with the system python3 (python3-uno).
"""

import os
import re
import struct
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "resources", "template"))


class PdfError(Exception):
    pass


class Pdf:
    """Just enough of a PDF as LibreOffice writes it: numbered objects, their
    dictionaries and their (Flate) streams."""

    def __init__(self, data):
        self.data = data
        self.starts = {int(m.group(1)): m.end()
                       for m in re.finditer(rb"(?<![0-9])(\d+) 0 obj\b", data)}
        if not self.starts:
            raise PdfError("no objects")

    def head(self, n):
        """The object's text up to its stream or its end."""
        p = self.starts[n]
        ends = [i for i in (self.data.find(b"stream", p), self.data.find(b"endobj", p)) if i >= 0]
        return self.data[p:min(ends)] if ends else self.data[p:]

    def stream(self, n):
        head = self.head(n)
        m = re.search(rb"/Length\s+(\d+)(\s+0\s+R)?", head)
        if not m:
            raise PdfError(f"object {n} has no stream length")
        length = int(m.group(1))
        if m.group(2):
            length = int(re.match(rb"\s*(\d+)", self.head(length)).group(1))
        s = self.starts[n] + len(head) + len(b"stream")
        s += 2 if self.data[s:s + 2] == b"\r\n" else 1
        raw = self.data[s:s + length]
        return zlib.decompress(raw) if b"/FlateDecode" in head else raw

    def ref(self, head, key):
        m = re.search(rb"/" + key + rb"\s+(\d+)\s+0\s+R", head)
        return int(m.group(1)) if m else None


def _tables(ttf):
    count = struct.unpack_from(">H", ttf, 4)[0]
    tables = {}
    for i in range(count):
        tag, _sum, off, length = struct.unpack_from(">4sIII", ttf, 12 + 16 * i)
        tables[tag] = (off, length)
    for tag in (b"cmap", b"head", b"maxp", b"loca", b"glyf"):
        if tag not in tables:
            raise PdfError(f"TrueType font without {tag.decode()} table")
    return tables


def glyph_outlines(ttf):
    """Each glyph's outline data of a TrueType font, by glyph index."""
    tables = _tables(ttf)
    long_loca = struct.unpack_from(">h", ttf, tables[b"head"][0] + 50)[0] == 1
    glyphs = struct.unpack_from(">H", ttf, tables[b"maxp"][0] + 4)[0]
    loca = tables[b"loca"][0]
    if long_loca:
        offsets = struct.unpack_from(f">{glyphs + 1}I", ttf, loca)
    else:
        offsets = [2 * o for o in struct.unpack_from(f">{glyphs + 1}H", ttf, loca)]
    glyf = tables[b"glyf"][0]
    return [ttf[glyf + offsets[i]:glyf + offsets[i + 1]] for i in range(glyphs)]


def code_to_glyph(ttf):
    """The byte-code cmap (format 0) that a PDF subset of a simple TrueType font
    carries: code -> glyph index."""
    cmap = _tables(ttf)[b"cmap"][0]
    for i in range(struct.unpack_from(">H", ttf, cmap + 2)[0]):
        _platform, _encoding, offset = struct.unpack_from(">HHI", ttf, cmap + 4 + 8 * i)
        if struct.unpack_from(">H", ttf, cmap + offset)[0] == 0:
            return list(ttf[cmap + offset + 6:cmap + offset + 6 + 256])
    raise PdfError("TrueType subset without a byte-code cmap")


def to_unicode(cmap):
    """code -> text of a ToUnicode CMap's single-code entries."""
    out = {}
    for block in re.findall(rb"beginbfchar(.*?)endbfchar", cmap, re.S):
        for code, text in re.findall(rb"<([0-9A-Fa-f]+)>\s*<([0-9A-Fa-f]*)>", block):
            out[int(code, 16)] = bytes.fromhex(text.decode()).decode("utf-16-be", "replace")
    for block in re.findall(rb"beginbfrange(.*?)endbfrange", cmap, re.S):
        for lo, hi, text in re.findall(rb"<([0-9A-Fa-f]+)>\s*<([0-9A-Fa-f]+)>\s*<([0-9A-Fa-f]+)>",
                                       block):
            first = bytes.fromhex(text.decode()).decode("utf-16-be", "replace")
            for k in range(int(lo, 16), int(hi, 16) + 1):
                out[k] = first[:-1] + chr(ord(first[-1]) + k - int(lo, 16))
    return out


def unseen_glyphs(ttf, texts):
    """The texts of the codes that draw nothing a reader would see: a copy of the
    missing-glyph box (glyph 0), or no outline at all for a visible character (a
    colour bitmap glyph, which the PDF export cannot carry)."""
    outlines, glyph_of = glyph_outlines(ttf), code_to_glyph(ttf)
    out = []
    for code, text in sorted(texts.items()):
        glyph = glyph_of[code] if code < 256 else 0
        if glyph >= len(outlines):
            raise PdfError(f"code {code} names glyph {glyph} of {len(outlines)}")
        box = glyph == 0 or (outlines[0] and outlines[glyph] == outlines[0])
        blank = not outlines[glyph] and text.strip()
        if box or blank:
            out.append(text)
    return out


def check_pdf(path):
    """Problems found, one line each, and a description of each font."""
    with open(path, "rb") as f:
        pdf = Pdf(f.read())
    problems, fonts = [], []
    for n in sorted(pdf.starts):
        head = pdf.head(n)
        if not re.search(rb"/Type\s*/Font\b", head):
            continue
        subtype = re.search(rb"/Subtype\s*/(\w+)", head)
        subtype = subtype.group(1).decode() if subtype else "?"
        if subtype in ("Type0", "Type3"):
            # Type3 glyphs are drawn in the page itself; Type0 defers to its
            # descendant, which is a font object of its own.
            fonts.append(f"object {n}: {subtype}")
            continue
        name = re.search(rb"/BaseFont\s*/([^\s/<>\[\]]+)", head)
        name = name.group(1).decode() if name else f"object {n}"
        descriptor = pdf.ref(head, b"FontDescriptor")
        desc = pdf.head(descriptor) if descriptor is not None else b""
        ttf_ref = pdf.ref(desc, b"FontFile2")
        if ttf_ref is None and pdf.ref(desc, b"FontFile") is None \
                and pdf.ref(desc, b"FontFile3") is None:
            problems.append(f"{name}: not embedded")
            continue
        if ttf_ref is None:
            fonts.append(f"{name}: embedded, not TrueType (glyphs not inspected)")
            continue
        cmap = pdf.ref(head, b"ToUnicode")
        texts = to_unicode(pdf.stream(cmap)) if cmap is not None else {}
        unseen = unseen_glyphs(pdf.stream(ttf_ref), texts)
        fonts.append(f"{name}: embedded, {len(unseen)} missing glyphs")
        if unseen:
            problems.append(f"{name}: draws a missing-glyph box or nothing for {' '.join(unseen)}")
    if not fonts:
        problems.append("the PDF uses no fonts")
    return problems, fonts


def render(document, pdf):
    from lo import Office, props, url
    with Office() as office:
        doc = office.load(document, ReadOnly=True)
        try:
            doc.storeToURL(url(pdf), props(FilterName="writer_pdf_Export"))
        finally:
            doc.close(True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    try:
        with tempfile.TemporaryDirectory(prefix="veltrane-glyphs-") as work:
            pdf = sys.argv[2] if len(sys.argv) > 2 else os.path.join(work, "page.pdf")
            render(sys.argv[1], pdf)
            problems, fonts = check_pdf(pdf)
    except Exception as e:  # noqa: BLE001 - UNO's exceptions too: no verdict either way
        print(f"check_glyphs: could not check: {e}", file=sys.stderr)
        sys.exit(2)
    for line in fonts:
        print(line)
    for line in problems:
        print("MISSING:", line)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
