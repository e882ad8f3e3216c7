"""Turns warning-notice.fodt into the Word 97-2003 template template.dot.

Run through build-template.sh (needs the system python3 with python3-uno and
LibreOffice Writer).

LibreOffice 7.4 writes inline pictures to .doc without their name and alternative
text, so after the export the logo's picture record gets them back (name_logo).
It also stamps the build time into the file (summary and DOP); that is pinned so
that rebuilding an unchanged source gives the same bytes.
"""

import os
import struct
import sys

import uno

from lo import Office, props, url
import wordbin

HERE = os.path.dirname(os.path.abspath(__file__))
LOGO_NAME = "template_logo"
LOGO_DESCRIPTION = "your logo here"

OPT = 0xF00B
SP_CONTAINER = 0xF004
PROP_PIB = 0x0104
PROP_WZNAME = 0x0380
PROP_WZDESCRIPTION = 0x0381


def _check_boxes(doc):
    """The check-box fieldmarks, in reading order."""
    found = []

    def walk(text):
        for part in text.createEnumeration():
            if part.supportsService("com.sun.star.text.TextTable"):
                for name in part.CellNames:
                    walk(part.getCellByName(name).Text)
            else:
                for por in part.createEnumeration():
                    if por.TextPortionType in ("TextFieldStartEnd", "TextFieldStart"):
                        fm = por.Bookmark
                        if fm.FieldType == "vnd.oasis.opendocument.field.FORMCHECKBOX":
                            found.append(fm)

    walk(doc.Text)
    return found


def export(src, out):
    with Office() as office:
        doc = office.load(src)
        try:
            # Nobody's name or editing history belongs in a file every user receives,
            # and a rebuild from the same source should give the same bytes.
            info = doc.DocumentProperties
            info.Author = ""
            info.ModifiedBy = ""
            info.Generator = ""
            info.EditingCycles = 0
            info.EditingDuration = 0
            fixed = uno.createUnoStruct("com.sun.star.util.DateTime")
            fixed.Year, fixed.Month, fixed.Day = 2024, 1, 1
            info.CreationDate = fixed
            info.ModificationDate = fixed
            # The import gives fieldmarks random names; Word calls its own Check1, Check2...
            for i, fm in enumerate(_check_boxes(doc), start=1):
                fm.setName(f"Check{i}")
            doc.storeToURL(url(out), props(FilterName="MS Word 97 Vorlage"))
        finally:
            doc.close(True)


def _records(buf, start, end):
    p = start
    while p + 8 <= end:
        vi, rtype, length = struct.unpack_from("<HHI", buf, p)
        yield p, vi, rtype, length
        p += 8 + length


def _with_names(opt_vi, opt_body):
    """The OPT record's body with wzName and wzDescription set."""
    count = opt_vi >> 4
    entries = [struct.unpack_from("<HI", opt_body, 6 * i) for i in range(count)]
    complex_data = opt_body[6 * count:]
    table = []
    pos = 0
    for opid, op in entries:
        extra = b""
        if opid & 0x8000:
            extra = complex_data[pos:pos + op]
            pos += op
        table.append([opid, op, extra])
    table = [t for t in table if t[0] & 0x3FFF not in (PROP_WZNAME, PROP_WZDESCRIPTION)]
    for pid, text in ((PROP_WZNAME, LOGO_NAME), (PROP_WZDESCRIPTION, LOGO_DESCRIPTION)):
        s = (text + "\0").encode("utf-16-le")
        table.append([pid | 0x8000, len(s), s])
    table.sort(key=lambda t: t[0] & 0x3FFF)
    vi = (len(table) << 4) | (opt_vi & 0xF)
    body = b"".join(struct.pack("<HI", t[0], t[1]) for t in table)
    body += b"".join(t[2] for t in table)
    return vi, body


def _fixed_save_time(summary):
    """SummaryInformation with its last-saved time set to its creation time: the
    office stamps the time of the build there, which would change every rebuild."""
    out = bytearray(summary)
    section = struct.unpack_from("<I", out, 44)[0]
    count = struct.unpack_from("<I", out, section + 4)[0]
    offsets = {}
    for i in range(count):
        pid, off = struct.unpack_from("<II", out, section + 8 + 8 * i)
        offsets[pid] = section + off
    created, saved = offsets.get(12), offsets.get(13)  # PIDSI_CREATE_DTM, PIDSI_LASTSAVE_DTM
    if created is not None and saved is not None:
        out[saved + 4:saved + 12] = out[created + 4:created + 12]
    return bytes(out)


def _fixed_revision_time(doc):
    """The table stream with the document's revision time (DOP dttmRevised) set to
    its creation time (dttmCreated), for the same reason."""
    fc, lcb = doc.fclcb_pair(31)  # fcDop
    if lcb < 28:
        sys.exit("build-template: no document properties (DOP) in the table stream")
    table = bytearray(doc.table)
    table[fc + 24:fc + 28] = table[fc + 20:fc + 24]
    return bytes(table)


def finish(path):
    """Puts back what the export leaves out or stamps: see name_logo,
    _fixed_save_time and _fixed_revision_time."""
    doc = wordbin.WordDocument(path)
    cf = doc.cf
    replace = {"Data": name_logo(cf.stream("Data")),
               "\x05SummaryInformation": _fixed_save_time(cf.stream("\x05SummaryInformation")),
               doc.table_name: _fixed_revision_time(doc)}
    out = wordbin.write_compound_file(cf, replace)
    tmp = path + ".named"
    with open(tmp, "wb") as f:
        f.write(out)
    os.replace(tmp, path)


def name_logo(data):
    """The Data stream with the logo's shape carrying its name and alternative text
    (wzName, wzDescription), as Word itself stores them."""
    # The Data stream is a run of records that each start with their own length:
    # form-field data of the check boxes and the picture (PICF header + shape).
    pictures, p = [], 0
    while p + 6 <= len(data):
        lcb, cb_header = struct.unpack_from("<IH", data, p)
        if lcb < 6 or p + lcb > len(data):
            break
        mm = struct.unpack_from("<H", data, p + 6)[0]
        if cb_header == 0x44 and mm == 0x64:  # MM_SHAPE: a picture with its shape
            pictures.append(p)
        p += lcb
    if len(pictures) != 1:
        sys.exit(f"build-template: expected one picture in the Data stream, found {len(pictures)}")
    rec = pictures[0]
    lcb = struct.unpack_from("<I", data, rec)[0]
    if rec + lcb != len(data):
        # Growing it in place would move whatever follows, and the text points there.
        sys.exit("build-template: the picture is not the last record of the Data stream")

    header = bytearray(data[rec:rec + 0x44])
    sp = rec + 0x44
    vi, rtype, sp_len = struct.unpack_from("<HHI", data, sp)
    if rtype != SP_CONTAINER:
        sys.exit("build-template: no shape record after the picture header")
    children, found_pib = [], False
    for q, cvi, ctype, clen in _records(data, sp + 8, sp + 8 + sp_len):
        body = data[q + 8:q + 8 + clen]
        if ctype == OPT:
            count = cvi >> 4
            found_pib |= any(struct.unpack_from("<H", body, 6 * i)[0] & 0x3FFF == PROP_PIB
                             for i in range(count))
            cvi, body = _with_names(cvi, body)
        children.append(struct.pack("<HHI", cvi, ctype, len(body)) + body)
    if not found_pib:
        sys.exit("build-template: the picture's shape names no picture")
    new_sp = b"".join(children)
    new_sp = struct.pack("<HHI", vi, SP_CONTAINER, len(new_sp)) + new_sp
    rest = data[sp + 8 + sp_len:rec + lcb]  # the picture itself (BLIP records)

    # Keep the shown size, but say it as size at 100 % rather than 99.9 % of a
    # size rounded down from 1/100 mm.
    dxa, dya, mx, my = struct.unpack_from("<hhHH", header, 28)
    shown_w, shown_h = round(dxa * mx / 1000), round(dya * my / 1000)
    struct.pack_into("<hhHH", header, 28, shown_w, shown_h, 1000, 1000)

    struct.pack_into("<I", header, 0, len(header) + len(new_sp) + len(rest))
    new_rec = bytes(header) + new_sp + rest
    return data[:rec] + new_rec


def main():
    src = os.path.join(HERE, "warning-notice.fodt")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "template.dot")
    tmp = out + ".part"
    try:
        export(src, tmp)
        finish(tmp)
        os.replace(tmp, out)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)
    print(f"{out}: {os.path.getsize(out)} bytes")


if __name__ == "__main__":
    main()
