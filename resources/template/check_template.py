"""Checks template.dot: the Word binary itself, what LibreOffice makes of it, and
what antiword and catdoc read from a .doc made from it. Run through
check-template.sh; exits non-zero when any check fails.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from notice import LOGO_DESCRIPTION, LOGO_NAME, LOGO_PIXELS, LOGO_TWIPS
import wordbin

HERE = os.path.dirname(os.path.abspath(__file__))

PLACEHOLDERS = ["[EmployeeName]", "[CurrentDate]", "[EmployeeID]", "[JobTitle]", "[Manager]",
                "[Department]", "[Infraction]", "[Improvement]", "[Consequences]"]
SAMPLE = {
    "[EmployeeName]": "John Smith",
    "[CurrentDate]": "12/8/2026",
    "[EmployeeID]": "111",
    "[JobTitle]": "Software Engineer",
    "[Manager]": "Alan Merrow",
    "[Department]": "Information Technology",
    "[Infraction]": "Keyboard wasn't plugged in during work hours.",
    "[Improvement]": "Plug it in.",
    "[Consequences]": "You're fired.",
}
TITLE = "Employee Warning Notice"
CB = object()   # a cell holding one check box and nothing else
ACK = object()  # the acknowledgement paragraph
ROWS = [
    ["Employee Information"],
    ["Employee Name:", "[EmployeeName]", "Date:", "[CurrentDate]"],
    ["Employee ID:", "[EmployeeID]", "Job Title:", "[JobTitle]"],
    ["Manager:", "[Manager]", "Department:", "[Department]"],
    [""],
    ["Type of Warning"],
    [CB, "First Warning", CB, "Second Warning", CB, "Final Warning"],
    [""],
    ["Type of Offense"],
    [CB, "Tardiness/Leaving Early", CB, "Absenteeism", CB, "Violation of Company Policies"],
    [CB, "Substandard Work", CB, "Violation of Safety Rules", CB,
     "Rudeness to Customers/Coworkers"],
    [CB, "Other:", ""],
    [""],
    ["Details"],
    ["Description of Infraction:", ""],
    ["[Infraction]"],
    ["Plan for Improvement:", ""],
    ["[Improvement]"],
    ["Consequences of Further Infractions:", ""],
    ["[Consequences]"],
    ["Acknowledgement of Receipt of Warning"],
    [ACK],
    ["", ""],
    ["Employee Signature", "Date"],
    ["", ""],
    ["Manager Signature", "Date"],
    ["", ""],
    ["Witness Signature (if employee understands warning but refuses to sign)", "Date"],
]
LABELS = [c for row in ROWS for c in row if isinstance(c, str) and c and c not in PLACEHOLDERS]
# The paper each template is built for: its size in 1/100 mm and in points.
PAPERS = {
    "letter": ("Letter", (21590, 27940), (612, 792)),
    "a4": ("A4", (21000, 29700), (595, 842)),
}
TEMPLATES = {"letter": "template.dot", "a4": "template-a4.dot"}
# twips: left, top, right, bottom, relative to the page
BOXES = [(583, 620, 2220, 1438), (6300, 540, 11301, 1338)]
# The preview shows the filled page trimmed to its ink at natural size; it zooms
# only while the picture stays below 11400 x 13700 twips, so the sample notice
# keeps well clear of that.
MAX_INK_TWIPS = (11399, 12900)


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = []

    def __call__(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed.append(what)
            print("FAIL:", what)
        return ok


def ack_ok(text):
    sentences = [s for s in re.split(r"(?<=[.!?])\s+", text.strip()) if s]
    t = text.lower()
    return (len(sentences) == 3 and "sign" in t and "understand" in t
            and "improvement" in t and "manager" in t and "agree" in t)


# ---------------------------------------------------------------- the binary

def _zstring(v):
    return v.decode("utf-16-le").rstrip("\0") if isinstance(v, bytes) else None


def check_binary(path, check):
    print(f"== {path}: Word binary")
    try:
        doc = wordbin.WordDocument(path)
    except Exception as e:  # noqa: BLE001 - any parse failure is the finding
        check(False, f"readable Word 97-2003 file ({e})")
        return
    check(doc.ident == 0xA5EC, "Word FIB magic 0xA5EC")
    check(doc.is_template, "fDot set: the file is a template")
    for story in ("ccpFtn", "ccpHdd", "ccpMcr", "ccpAtn", "ccpEdn", "ccpHdrTxbx"):
        check(doc.ccp[story] == 0, f"no {story[3:]} story (length {doc.ccp[story]})")
    check(doc.ccp["ccpTxbx"] > 0, "a text-box story exists")

    main = doc.story("ccpText")
    txbx = doc.story("ccpTxbx")
    first = main.split("\r", 1)[0]
    check(first.replace("\x08", "") == TITLE, f"main text starts with the title ({first!r})")
    check(first.count("\x08") == 2, "two floating shapes are anchored in the title paragraph")
    check(main.endswith("\x07\r"), "an empty paragraph follows the table and ends the text")
    for ph in PLACEHOLDERS:
        check(main.count(ph) == 1 and doc.text.count(ph) == 1,
              f"{ph} once, in the main text")
        i = main.find(ph)
        check(i > 0 and main[i - 1] == "\x07" and main[i + len(ph)] == "\x07",
              f"{ph} is the whole text of its cell")
    for label in LABELS:
        check(label in main, f"label {label!r} in the main text")
    m = re.search(r"Acknowledgement of Receipt of Warning\x07\x07([^\x07]*)\x07", main)
    check(bool(m) and ack_ok(m.group(1).replace("\r", " ")),
          "acknowledgement: three sentences with the right sense")

    fields = doc.fields(main)
    check(len(fields) == 10 and all(f.split()[0] == "FORMCHECKBOX" for f in fields),
          f"ten FORMCHECKBOX fields in the main text (found {[f.split()[0] for f in fields]})")
    check(not doc.fields(txbx), "no fields in the text boxes")
    ff = doc.form_field_data()
    check(len(ff) == 10 and all(t == 1 for t, _r, _d in ff),
          f"ten check-box form-field records (found {len(ff)})")
    check(all(r == 0 and d == 0 for _t, r, d in ff), "all check boxes unchecked by default")

    # the text boxes: their text, their place on the page
    fc, lcb = doc.fclcb_pair(56)  # PlcftxbxTxt
    n = (lcb - 4) // 26
    cps = struct.unpack_from(f"<{n + 1}i", doc.table, fc)
    boxes = [txbx[cps[k]:cps[k + 1]] for k in range(n - 1)]  # the last one is a dummy
    paras = [b[:-1].split("\r")[:-1] for b in boxes]
    check(paras == [["\x01", ""], ["Company Name", ""]],
          f"box 1 = picture + empty paragraph, box 2 = 'Company Name' + empty ({paras})")

    anchors = doc.shape_anchors()
    check(len(anchors) == 2, f"two floating shapes in the main text ({len(anchors)})")
    rects = sorted(a[2] for a in anchors)
    check(rects == BOXES, f"text-box rectangles {rects} == {BOXES}")
    for cp, _spid, _rect, flags in anchors:
        check(cp < len(first), "shape anchored in the title paragraph")
        check((flags >> 5) & 0xF == 3, "shape wrapping: none (in front of the text)")
        check(not flags & 0x4000, "shape not below the text")
    fc, lcb = doc.fclcb_pair(50)  # DggInfo
    shapes = wordbin.shapes(doc.table, fc, fc + 64)
    shapes = wordbin.shapes(doc.table, fc + 65, fc + lcb, shapes)  # after the dgglbl byte
    for _cp, spid, _rect, _flags in anchors:
        stype, props = shapes.get(spid, (None, {}))
        check(stype == 202, f"shape {spid} is a text box (type {stype})")
        check(props.get(0x390) == 1 and props.get(0x392) == 1,
              f"shape {spid} positioned relative to the page")
        check(not (props.get(0x3BF, 0) & 0x20), f"shape {spid} in front of the text")

    # the logo: the one inline picture, in the Data stream
    data = doc.data
    pics = wordbin.data_pictures(data)
    check(len(pics) == 1, f"one inline picture ({len(pics)})")
    if pics:
        p, lcb_p = pics[0]
        shown = wordbin.picture_shown_size(data, p)
        check(shown == LOGO_TWIPS, f"logo shown at {shown} twips")
        props = wordbin.shapes(data, p + wordbin.PICF_HEADER_SIZE, p + lcb_p)
        names = [(_zstring(pr.get(wordbin.PROP_WZNAME)), _zstring(pr.get(wordbin.PROP_WZDESCRIPTION)))
                 for _t, pr in props.values()]
        check(names == [(LOGO_NAME, LOGO_DESCRIPTION)], f"logo name and alternative text {names}")
        png = data[p:p + lcb_p]
        i = png.find(b"\x89PNG\r\n\x1a\n")
        check(i >= 0, "logo stored as PNG")
        if i >= 0:
            w, h, depth, ctype = struct.unpack_from(">IIBB", png, i + 16)
            check((w, h) == LOGO_PIXELS and depth == 4 and ctype == 0,
                  f"logo PNG {w}x{h}, depth {depth}, colour type {ctype} (want 90x45 4-bit grey)")


# ---------------------------------------------------------------- LibreOffice

def check_office(path, check, workdir, render, paper="letter"):
    paper_name, paper_size, pdf_size = PAPERS[paper]
    from lo import Office, props, url
    from com.sun.star.text.RelOrientation import PAGE_FRAME

    def twips(mm100):
        return mm100 * 1440 / 2540

    print(f"== {path}: as LibreOffice reads it")
    with Office() as office:
        doc = office.load(path, ReadOnly=True)
        try:
            check(doc.URL == "", "opens as a new document based on the template")
            frames = sorted((doc.TextFrames.getByName(n) for n in doc.TextFrames.ElementNames),
                            key=lambda f: f.HoriOrientPosition)
            check(len(frames) == 2, f"two text frames ({len(frames)})")
            for f, (l, t, r, b) in zip(frames, BOXES):
                x, y = twips(f.HoriOrientPosition), twips(f.VertOrientPosition)
                w, h = twips(f.Size.Width), twips(f.Size.Height)
                check(abs(x - l) <= 1 and abs(y - t) <= 1 and abs(w - (r - l)) <= 2
                      and abs(h - (b - t)) <= 2,
                      f"frame at {x:.0f},{y:.0f} size {w:.0f}x{h:.0f}")
                check(f.HoriOrientRelation == PAGE_FRAME and f.VertOrientRelation == PAGE_FRAME,
                      "frame positioned relative to the page")
                check(f.Surround.value == "THROUGH" and f.Opaque, "frame in front, no wrapping")
                cur = f.Anchor.Text.createTextCursorByRange(f.Anchor)
                cur.gotoStartOfParagraph(False)
                cur.gotoEndOfParagraph(True)
                check(cur.String == TITLE, f"frame anchored to the title ({cur.String!r})")
            if len(frames) == 2:
                check(frames[0].Text.String == "\n", "box 1 holds no text besides the picture")
                check(frames[1].Text.String == "Company Name\n", "box 2 holds 'Company Name'")
            graphics = [doc.GraphicObjects.getByName(n) for n in doc.GraphicObjects.ElementNames]
            check(len(graphics) == 1, f"one picture ({len(graphics)})")
            if graphics and frames:
                g = graphics[0]
                check(g.Name == LOGO_NAME, f"picture named {g.Name!r}")
                check(g.AnchorType.value == "AS_CHARACTER", "picture inline")
                check(g.Anchor.Text == frames[0].Text, "picture in box 1")
                gw, gh = round(twips(g.Size.Width)), round(twips(g.Size.Height))
                check(abs(gw - LOGO_TWIPS[0]) <= 1 and abs(gh - LOGO_TWIPS[1]) <= 1,
                      f"picture shown at {gw}x{gh} twips")
                px = (g.Graphic.SizePixel.Width, g.Graphic.SizePixel.Height)
                check(px == LOGO_PIXELS, f"picture {px} pixels")

            parts = list(doc.Text.createEnumeration())
            kinds = ["table" if p.supportsService("com.sun.star.text.TextTable") else "para"
                     for p in parts]
            check(kinds == ["para", "table", "para"], f"title, one table, end paragraph ({kinds})")
            if kinds == ["para", "table", "para"]:
                check(parts[0].String == TITLE, "title paragraph text")
                check(parts[2].String == "", "the last paragraph is empty")
                check_table(parts[1], check)
            check(doc.TextTables.Count == 1, "exactly one table")

            style = doc.StyleFamilies.getByName("PageStyles").getByName(
                parts[0].PageStyleName or "Standard")
            check(abs(style.Width - paper_size[0]) <= 2 and abs(style.Height - paper_size[1]) <= 2,
                  f"{paper_name} paper ({style.Width}x{style.Height} 1/100 mm)")
            check(not style.HeaderIsOn and not style.FooterIsOn, "no header or footer")
            check(doc.Footnotes.Count == 0 and doc.Endnotes.Count == 0, "no foot- or endnotes")
            notes = [f for f in doc.TextFields
                     if f.supportsService("com.sun.star.text.textfield.Annotation")]
            check(not notes, "no comments")
            fonts = {p.CharFontName for p in parts if p.supportsService("com.sun.star.text.Paragraph")}
            check(fonts == {"Arial"}, f"Arial text ({fonts})")

            pdf = os.path.join(workdir, "template.pdf")
            doc.storeToURL(url(pdf), props(FilterName="writer_pdf_Export"))
            plain_doc = os.path.join(workdir, "template.doc")
            doc.storeToURL(url(plain_doc), props(FilterName="MS Word 97"))

            search = doc.createReplaceDescriptor()
            for ph, value in SAMPLE.items():
                search.SearchString = ph
                search.ReplaceString = value
                check(doc.replaceAll(search) == 1, f"sample value replaces {ph} once")
            filled_pdf = os.path.join(workdir, "filled.pdf")
            doc.storeToURL(url(filled_pdf), props(FilterName="writer_pdf_Export"))
            filled_doc = os.path.join(workdir, "filled.doc")
            doc.storeToURL(url(filled_doc), props(FilterName="MS Word 97"))
        finally:
            doc.close(True)
        # The preview is rendered from the saved .doc, not from the template.
        reopened = office.load(filled_doc, ReadOnly=True)
        try:
            check(reopened.TextFrames.Count == 2 and reopened.GraphicObjects.Count == 1
                  and reopened.TextTables.Count == 1,
                  "the filled .doc still has both boxes, the logo and the table")
            reopened_pdf = os.path.join(workdir, "filled-doc.pdf")
            reopened.storeToURL(url(reopened_pdf), props(FilterName="writer_pdf_Export"))
        finally:
            reopened.close(True)

    for name, pdf_path, expect in (("template", pdf, PLACEHOLDERS),
                                   ("filled", filled_pdf, list(SAMPLE.values())),
                                   ("filled-doc", reopened_pdf, list(SAMPLE.values()))):
        info = subprocess.run(["pdfinfo", pdf_path], capture_output=True, text=True).stdout
        pages = re.search(r"Pages:\s+(\d+)", info)
        check(pages and pages.group(1) == "1", f"{name}: one page ({pages and pages.group(1)})")
        size = re.search(r"Page size:\s+([\d.]+) x ([\d.]+) pts", info)
        got = size and (round(float(size.group(1))), round(float(size.group(2))))
        check(got == pdf_size, f"{name}: {paper_name} page in the PDF ({got} pt)")
        text = subprocess.run(["pdftotext", "-layout", pdf_path, "-"], capture_output=True,
                              text=True).stdout
        missing = [e for e in expect + [TITLE, "Company Name"] if e not in text]
        check(not missing, f"{name}: PDF shows every value ({missing} missing)")
        if render:
            os.makedirs(render, exist_ok=True)
            subprocess.run(["pdftoppm", "-r", "96", "-png", "-singlefile", pdf_path,
                            os.path.join(render, name)], check=True)
            print(f"rendered {os.path.join(render, name)}.png")

    ink = ink_size_twips(reopened_pdf)
    print(f"filled-doc: ink {ink} twips")
    check(ink is not None and ink[0] <= MAX_INK_TWIPS[0] and ink[1] <= MAX_INK_TWIPS[1],
          f"filled-doc: the page's ink is {ink} twips, at most {MAX_INK_TWIPS}")

    print(f"== .doc made from it, read by antiword and catdoc")
    check(not wordbin.WordDocument(plain_doc).is_template, "a .doc saved from it is no template")
    for tool in ("antiword", "catdoc"):
        if not shutil.which(tool):
            check(False, f"{tool} installed")
            continue
        for name, docpath, expect in (("template", plain_doc, PLACEHOLDERS),
                                      ("filled", filled_doc, list(SAMPLE.values()))):
            out = subprocess.run([tool, docpath], capture_output=True, text=True,
                                 errors="replace").stdout
            flat = " ".join(out.split())
            counts = {e: flat.count(" ".join(e.split())) for e in expect}
            check(all(c == 1 for c in counts.values()),
                  f"{tool} on the {name} .doc shows each value once ({counts})")
            check(TITLE in flat, f"{tool} shows the title")


def ink_size_twips(pdf_path):
    """Width and height of everything on page 1 that is not paper, in twips, found
    the way the program trims its preview: rendered at 192 dpi, any pixel darker
    than 250 of 255 counts. None for a blank page."""
    dpi = 192
    out = subprocess.run(["pdftoppm", "-r", str(dpi), "-f", "1", "-l", "1", "-gray", pdf_path],
                         capture_output=True, check=True).stdout
    magic, size, _maxval, pixels = out.split(b"\n", 3)
    if magic != b"P5":
        raise ValueError("pdftoppm -gray gave no PGM")
    w, h = map(int, size.split())
    ink = bytes(1 if v < 250 else 0 for v in range(256))
    rows = [pixels[y * w:(y + 1) * w].translate(ink) for y in range(h)]
    inked = [y for y in range(h) if 1 in rows[y]]
    if not inked:
        return None
    top, bottom = inked[0], inked[-1]
    mask = 0
    for y in inked:
        mask |= int.from_bytes(rows[y], "big")
    columns = mask.to_bytes(w, "big")
    left, right = columns.index(1), w - 1 - columns[::-1].index(1)
    twips = 1440 / dpi
    return (round((right - left + 1) * twips), round((bottom - top + 1) * twips))


def check_table(table, check):
    rows = {}
    for name in table.CellNames:
        m = re.fullmatch(r"([A-Z]+)(\d+)", name)
        col = 0
        for ch in m.group(1):
            col = col * 26 + ord(ch) - 64
        rows.setdefault(int(m.group(2)), []).append((col, name))
    check(len(rows) == len(ROWS), f"table has {len(ROWS)} rows ({len(rows)})")
    boxes = unchecked = 0
    for r, want in enumerate(ROWS, start=1):
        cells = [table.getCellByName(n) for _c, n in sorted(rows.get(r, []))]
        got = []
        for cell in cells:
            text, marks = [], []
            for para in cell.Text.createEnumeration():
                for por in para.createEnumeration():
                    kind = por.TextPortionType
                    if kind in ("TextFieldStartEnd", "TextFieldStart"):
                        fm = por.Bookmark
                        marks.append(fm)
                    elif kind == "Text":
                        text.append(por.String)
                text.append("\n")
            t = "".join(text).rstrip("\n")
            if len(marks) == 1 and not t.strip() and \
                    marks[0].FieldType == "vnd.oasis.opendocument.field.FORMCHECKBOX":
                boxes += 1
                params = marks[0].Parameters
                checked = (params.hasByName("Checkbox_Checked")
                           and params.getByName("Checkbox_Checked"))
                unchecked += not checked
                got.append(CB)
            elif marks:
                got.append(("fields", t))
            else:
                got.append(t)
        ok = len(got) == len(want) and all(
            (w is ACK and isinstance(g, str) and ack_ok(g)) or g is w or g == w
            for g, w in zip(got, want))
        shown = ["[x]" if g is CB else g for g in got]
        check(ok, f"row {r}: {shown}")
    check(boxes == 10, f"ten check boxes in the table ({boxes})")
    check(unchecked == 10, f"all check boxes unchecked ({unchecked})")


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("template", nargs="?", help="default: the built one for the paper")
    ap.add_argument("--paper", choices=sorted(PAPERS), default="letter",
                    help="the paper the template is made for (default letter)")
    ap.add_argument("--render", metavar="DIR", help="also write PNGs of the pages to DIR")
    ap.add_argument("--no-office", action="store_true", help="check the binary only")
    ap.add_argument("--up-to-date", action="store_true",
                    help="also rebuild from warning-notice.fodt and compare the bytes")
    args = ap.parse_args()

    if not args.template:
        args.template = os.path.join(HERE, TEMPLATES[args.paper])

    check = Checks()
    check(os.path.isfile(args.template), f"{args.template} exists")
    if os.path.isfile(args.template):
        print(f"{args.template}: {os.path.getsize(args.template)} bytes")
        check_binary(args.template, check)
        if not args.no_office:
            with tempfile.TemporaryDirectory(prefix="veltrane-check-") as work:
                check_office(args.template, check, work, args.render, args.paper)
                if args.up_to_date:
                    fresh = os.path.join(work, "fresh.dot")
                    subprocess.run([sys.executable, os.path.join(HERE, "build_template.py"),
                                    "--paper", args.paper, fresh], check=True,
                                   stdout=subprocess.DEVNULL)
                    with open(fresh, "rb") as a, open(args.template, "rb") as b:
                        check(a.read() == b.read(),
                              "the .dot is what warning-notice.fodt builds to")
    print(f"{check.passed} checks passed, {len(check.failed)} failed")
    sys.exit(1 if check.failed else 0)


if __name__ == "__main__":
    main()
