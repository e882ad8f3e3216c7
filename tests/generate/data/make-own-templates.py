#!/usr/bin/python3
"""Makes the own-template fixtures from the built-in template with a private
headless LibreOffice (python3-uno), the way an organisation would make its own:

  ardmoor.dot   the company line reads "Ardmoor Widgets Ltd" (Word 97-2003 template)
  ardmoor.docx  the same as Office Open XML
  partial.odt   [JobTitle] and [EmployeeID] taken out, [Manager] half in bold
  macro.ott     an OpenDocument template whose open events run a Basic macro that
                writes "ran" to the file named by $VELTRANE_MACRO_PROOF
  vba.dot       ardmoor.dot with a Word macro project (VBA) that would do the same

Usage: make-own-templates.py [--run-macro FILE.ott | --convert FILE OUT.doc]
  --run-macro opens FILE with macros allowed, to show that its macro is live.
  --convert   saves FILE as a Word 97-2003 document with the office's defaults,
              to show that they keep a template's Word macros.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "..", "..", "resources", "template")
sys.path.insert(0, SOURCE)

import struct  # noqa: E402

import uno  # noqa: E402
import wordbin  # noqa: E402
from lo import Office, props, url  # noqa: E402

MACRO = '''Sub Main
  Dim f As Integer
  f = FreeFile
  Open Environ("VELTRANE_MACRO_PROOF") For Output As #f
  Print #f, "ran"
  Close #f
End Sub
'''


VBA_SOURCE = (
    'Attribute VB_Name = "Module1"\r\n'
    'Sub AutoOpen()\r\n'
    '  Open Environ("VELTRANE_MACRO_PROOF") For Output As #1\r\n'
    '  Print #1, "ran"\r\n'
    '  Close #1\r\n'
    'End Sub\r\n')


def ovba_compress(data):
    """An MS-OVBA compressed container of literal tokens only: valid, just not small."""
    out = b"\x01"
    for start in range(0, len(data), 3000):
        body = b""
        for i in range(start, min(start + 3000, len(data)), 8):
            body += b"\x00" + data[i:min(i + 8, start + 3000)]
        out += struct.pack("<H", (len(body) - 1) | 0x3000 | 0x8000) + body
    return out


def vba_dir(project, module):
    def rec(rid, payload):
        return struct.pack("<HI", rid, len(payload)) + payload
    m, u = module.encode("latin-1"), module.encode("utf-16-le")
    return b"".join([
        rec(0x01, struct.pack("<I", 1)), rec(0x02, struct.pack("<I", 0x409)),
        rec(0x14, struct.pack("<I", 0x409)), rec(0x03, struct.pack("<H", 1252)),
        rec(0x04, project.encode("latin-1")), rec(0x05, b""), rec(0x40, b""),
        rec(0x06, b""), rec(0x3D, b""), rec(0x07, struct.pack("<I", 0)),
        rec(0x08, struct.pack("<I", 0)), struct.pack("<HIIH", 0x09, 4, 1, 0),
        rec(0x0C, b""), rec(0x3C, b""),
        rec(0x0F, struct.pack("<H", 1)), rec(0x13, struct.pack("<H", 0xFFFF)),
        rec(0x19, m), rec(0x47, u), rec(0x1A, m), rec(0x32, u), rec(0x1C, b""), rec(0x48, b""),
        rec(0x31, struct.pack("<I", 0)), rec(0x1E, struct.pack("<I", 0)),
        rec(0x2C, struct.pack("<H", 0xFFFF)), struct.pack("<HI", 0x21, 0),
        struct.pack("<HI", 0x2B, 0), struct.pack("<HI", 0x10, 0)])


def vba_storage(source, module="Module1", project="Project"):
    text = (f'ID="{{12345678-1234-1234-1234-123456789ABC}}"\r\nModule={module}\r\n'
            f'Name="{project}"\r\nHelpContextID="0"\r\n\r\n[Host Extender Info]\r\n'
            '&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000\r\n')
    return {"PROJECT": text.encode("latin-1"),
            "PROJECTwm": module.encode("latin-1") + b"\0" + module.encode("utf-16-le") + b"\0" * 4,
            "VBA": {"_VBA_PROJECT": b"\xcc\x61\xff\xff\x00\x00\x00",
                    "dir": ovba_compress(vba_dir(project, module)),
                    module: ovba_compress(source.encode("latin-1"))}}


def write_compound_file(tree, root_clsid):
    """A version 3 compound file from {name: bytes (a stream) or dict (a storage)}."""
    SS, MSS, CUTOFF, END, FREE = 512, 64, 4096, 0xFFFFFFFE, 0xFFFFFFFF
    entries = []

    def add(name, node):
        e = dict(name=name, type=2 if isinstance(node, bytes) else 1,
                 body=node if isinstance(node, bytes) else b"", kids=[])
        entries.append(e)
        if isinstance(node, dict):
            # siblings in the order compound files keep them: shorter names first
            for k in sorted(node, key=lambda n: (len(n), n.upper())):
                e["kids"].append(len(entries))
                add(k, node[k])

    add("Root Entry", tree)
    entries[0]["type"] = 5

    def pad(b, n):
        return b + b"\0" * (-len(b) % n)

    mini, minifat, sectors, fat = b"", [], [], []

    def place(blob):
        if not blob:
            return END
        first, blob = len(sectors), pad(blob, SS)
        n = len(blob) // SS
        sectors.extend(blob[i * SS:(i + 1) * SS] for i in range(n))
        fat.extend(list(range(first + 1, first + n)) + [END])
        return first

    for e in entries:
        e["start"], e["size"] = 0, len(e["body"])
        if e["type"] == 2 and 0 < e["size"] < CUTOFF:
            first, n = len(mini) // MSS, -(-e["size"] // MSS)
            minifat += list(range(first + 1, first + n)) + [END]
            mini += pad(e["body"], MSS)
            e["start"] = first
        elif e["type"] == 2:
            e["start"] = place(e["body"])
    entries[0]["start"], entries[0]["size"] = place(mini), len(mini)
    minifat_blob = struct.pack(f"<{len(minifat)}I", *minifat)
    minifat_start = place(minifat_blob)

    for e in entries:
        e["left"] = e["right"] = e["child"] = FREE
    for e in entries:
        def build(kids):
            if not kids:
                return FREE
            mid = len(kids) // 2
            entries[kids[mid]]["left"] = build(kids[:mid])
            entries[kids[mid]]["right"] = build(kids[mid + 1:])
            return kids[mid]
        e["child"] = build(e["kids"])

    blob = b""
    for e in entries:
        raw = e["name"].encode("utf-16-le") + b"\0\0"
        clsid = root_clsid if e["type"] == 5 else b"\0" * 16
        blob += (raw.ljust(64, b"\0") + struct.pack("<HBBIII", len(raw), e["type"], 1, e["left"],
                                                    e["right"], e["child"])
                 + clsid + b"\0" * 20 + struct.pack("<IQ", e["start"], e["size"]))
    while len(blob) % SS:
        blob += b"\0" * 66 + struct.pack("<BIII", 0, FREE, FREE, FREE) + b"\0" * 48
    dir_start = place(blob)

    n_fat = 1
    while (len(sectors) + n_fat) * 4 > n_fat * SS:
        n_fat += 1
    fat_first = len(sectors)
    fat += [0xFFFFFFFD] * n_fat
    fat += [FREE] * (n_fat * SS // 4 - len(fat))
    fat_blob = struct.pack(f"<{len(fat)}I", *fat)
    sectors.extend(fat_blob[i * SS:(i + 1) * SS] for i in range(n_fat))
    difat = list(range(fat_first, fat_first + n_fat)) + [FREE] * (109 - n_fat)
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 16
              + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6
              + struct.pack("<9I", 0, n_fat, dir_start, 0, CUTOFF, minifat_start,
                            -(-len(minifat_blob) // SS), END, 0)
              + struct.pack("<109I", *difat))
    return header + b"".join(sectors)


def with_vba(dot):
    cf = wordbin.CompoundFile(dot)
    tree = {}
    for e in cf.raw_entries[1:]:
        if e["type"] == 2:
            tree[e["name"]] = cf.stream(e["name"])
        elif e["type"] == 1:
            tree[e["name"]] = {}  # the template's storages are empty
    tree["Macros"] = vba_storage(VBA_SOURCE)
    return write_compound_file(tree, cf.raw_entries[0]["clsid"])


def replace(doc, old, new):
    r = doc.createReplaceDescriptor()
    r.SearchString = old
    r.ReplaceString = new
    return doc.replaceAll(r)


def company(doc, name):
    # The company line sits in a text frame, which replaceAll reaches.
    if replace(doc, "Company Name", name) != 1:
        raise SystemExit("no company line in the built-in template")


def main():
    src = os.path.join(SOURCE, "template.dot")
    with Office() as office:
        if len(sys.argv) == 3 and sys.argv[1] == "--run-macro":
            # 4: always execute, no warning. A hidden document gets no events.
            doc = office.load(os.path.abspath(sys.argv[2]), MacroExecutionMode=4, Hidden=False)
            doc.close(True)
            return
        if len(sys.argv) == 4 and sys.argv[1] == "--convert":
            doc = office.load(os.path.abspath(sys.argv[2]))
            doc.storeToURL(url(os.path.abspath(sys.argv[3])), props(FilterName="MS Word 97"))
            doc.close(True)
            return

        doc = office.load(src)
        company(doc, "Ardmoor Widgets Ltd")
        doc.storeToURL(url(os.path.join(HERE, "ardmoor.dot")),
                       props(FilterName="MS Word 97 Vorlage"))
        doc.storeToURL(url(os.path.join(HERE, "ardmoor.docx")),
                       props(FilterName="MS Word 2007 XML"))
        doc.close(True)
        with open(os.path.join(HERE, "ardmoor.dot"), "rb") as f:
            dot = f.read()
        with open(os.path.join(HERE, "vba.dot"), "wb") as f:
            f.write(with_vba(dot))

        doc = office.load(src)
        for p in ("[JobTitle]", "[EmployeeID]"):
            if replace(doc, p, "") != 1:
                raise SystemExit("no " + p)
        sd = doc.createSearchDescriptor()
        sd.SearchString = "[Manager]"
        found = doc.findFirst(sd)
        found.collapseToStart()
        found.goRight(4, True)
        found.CharWeight = 150.0  # bold: the placeholder is now two runs
        doc.storeToURL(url(os.path.join(HERE, "partial.odt")), props(FilterName="writer8"))
        doc.close(True)

        doc = office.load(src)
        company(doc, "Macro Test Ltd")
        libs = doc.BasicLibraries
        lib = libs.getByName("Standard") if libs.hasByName("Standard") else libs.createLibrary("Standard")
        lib.insertByName("Proof", MACRO)
        event = uno.Any("[]com.sun.star.beans.PropertyValue", props(
            EventType="Script",
            Script="vnd.sun.star.script:Standard.Proof.Main?language=Basic&location=document"))
        # A template opens as a new document: "OnNew"; a document opened as itself: "OnLoad".
        for name in ("OnNew", "OnLoad"):
            uno.invoke(doc.Events, "replaceByName", (name, event))
        doc.storeToURL(url(os.path.join(HERE, "macro.ott")),
                       props(FilterName="writer8_template"))
        doc.close(True)


if __name__ == "__main__":
    main()
