"""Turns warning-notice.fodt into the Word 97-2003 templates template.dot (US
Letter, as the source is laid out) and template-a4.dot (A4).

Run through build-template.sh (needs the system python3 with python3-uno and
LibreOffice Writer).

LibreOffice 7.4 writes inline pictures to .doc without their name and alternative
text, so after the export the logo's picture record gets them back (name_logo).
It also stamps the build time and the time it had the document open into the file
(summary and DOP); those are pinned so that rebuilding an unchanged source gives
the same bytes.
"""

import os
import struct
import sys

import uno

from lo import Office, props, url
from notice import LOGO_DESCRIPTION, LOGO_NAME
import wordbin
from wordbin import OPT, PROP_PIB, PROP_WZDESCRIPTION, PROP_WZNAME, SP_CONTAINER

HERE = os.path.dirname(os.path.abspath(__file__))


class BuildError(Exception):
    """The exported file is not shaped the way the finishing steps expect."""


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


# Paper: name -> (width, height, right margin) in 1/100 mm. A4 is 5.9 mm
# narrower than Letter; its right margin gives up that much, so the text, the
# table and the boxes keep their places and widths and the pages differ only
# in their paper.
PAPERS = {
    "letter": (21590, 27940, 1905),
    "a4": (21000, 29700, 1315),
}
OUTPUTS = {"letter": "template.dot", "a4": "template-a4.dot"}


def _set_paper(doc, paper):
    width, height, right = PAPERS[paper]
    for name in doc.StyleFamilies.getByName("PageStyles").ElementNames:
        style = doc.StyleFamilies.getByName("PageStyles").getByName(name)
        if not style.isInUse():
            continue
        style.Width, style.Height, style.RightMargin = width, height, right


def export(src, out, paper="letter"):
    with Office() as office:
        doc = office.load(src)
        try:
            if paper != "letter":
                _set_paper(doc, paper)
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


def _with_names(opt_vi, opt_body):
    """The OPT record's body with wzName and wzDescription set."""
    table = [t for t in wordbin.opt_entries(opt_body, opt_vi >> 4)
             if t[0] & 0x3FFF not in (PROP_WZNAME, PROP_WZDESCRIPTION)]
    for pid, text in ((PROP_WZNAME, LOGO_NAME), (PROP_WZDESCRIPTION, LOGO_DESCRIPTION)):
        s = (text + "\0").encode("utf-16-le")
        table.append([pid | 0x8000, len(s), s])
    table.sort(key=lambda t: t[0] & 0x3FFF)
    vi = (len(table) << 4) | (opt_vi & 0xF)
    body = b"".join(struct.pack("<HI", t[0], t[1]) for t in table)
    body += b"".join(t[2] for t in table)
    return vi, body


def _fixed_save_time(summary):
    """SummaryInformation with its last-saved time set to its creation time and its
    editing time to zero: the office stamps the time of the build there, and the
    seconds it had the document open, which would change every rebuild."""
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
    edited = offsets.get(10)  # PIDSI_EDITTIME, a FILETIME duration
    if edited is not None:
        out[edited + 4:edited + 12] = bytes(8)
    return bytes(out)


def _fixed_revision_time(doc):
    """The table stream with the document's revision time (DOP dttmRevised) set to
    its creation time (dttmCreated) and its editing minutes (tmEdited) to zero, for
    the same reason."""
    fc, lcb = doc.fclcb_pair(31)  # fcDop
    if lcb < 38:
        raise BuildError("no document properties (DOP) in the table stream")
    table = bytearray(doc.table)
    table[fc + 24:fc + 28] = table[fc + 20:fc + 24]
    table[fc + 34:fc + 38] = bytes(4)
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
    pictures = wordbin.data_pictures(data)
    if len(pictures) != 1:
        raise BuildError(f"expected one picture in the Data stream, found {len(pictures)}")
    rec, lcb = pictures[0]
    if rec + lcb != len(data):
        # Growing it in place would move whatever follows, and the text points there.
        raise BuildError("the picture is not the last record of the Data stream")

    header = bytearray(data[rec:rec + wordbin.PICF_HEADER_SIZE])
    sp = rec + wordbin.PICF_HEADER_SIZE
    vi, rtype, sp_len = struct.unpack_from("<HHI", data, sp)
    if rtype != SP_CONTAINER:
        raise BuildError("no shape record after the picture header")
    children, found_pib = [], False
    for _q, ver, inst, ctype, body in wordbin.escher_records(data, sp + 8, sp + 8 + sp_len):
        cvi = (inst << 4) | ver
        if ctype == OPT:
            found_pib |= PROP_PIB in wordbin.opt_properties(body, inst)
            cvi, body = _with_names(cvi, body)
        children.append(struct.pack("<HHI", cvi, ctype, len(body)) + body)
    if not found_pib:
        raise BuildError("the picture's shape names no picture")
    new_sp = b"".join(children)
    new_sp = struct.pack("<HHI", vi, SP_CONTAINER, len(new_sp)) + new_sp
    rest = data[sp + 8 + sp_len:rec + lcb]  # the picture itself (BLIP records)

    # Keep the shown size, but say it as size at 100 % rather than 99.9 % of a
    # size rounded down from 1/100 mm.
    shown_w, shown_h = wordbin.picture_shown_size(header, 0)
    struct.pack_into("<hhHH", header, 28, shown_w, shown_h, 1000, 1000)

    struct.pack_into("<I", header, 0, len(header) + len(new_sp) + len(rest))
    new_rec = bytes(header) + new_sp + rest
    return data[:rec] + new_rec


def build(out, paper):
    src = os.path.join(HERE, "warning-notice.fodt")
    tmp = out + ".part"
    try:
        export(src, tmp, paper)
        finish(tmp)
        os.replace(tmp, out)
    except (BuildError, ValueError) as e:
        sys.exit(f"build-template: {e}")
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)
    print(f"{out}: {os.path.getsize(out)} bytes ({paper})")


def main():
    """No arguments: both templates beside the source. --paper NAME [OUT]: one."""
    args = sys.argv[1:]
    if args[:1] == ["--paper"] and len(args) >= 2 and args[1] in PAPERS:
        paper = args[1]
        build(args[2] if len(args) > 2 else os.path.join(HERE, OUTPUTS[paper]), paper)
    elif not args:
        for paper, name in OUTPUTS.items():
            build(os.path.join(HERE, name), paper)
    else:
        sys.exit("usage: build-template.sh [--paper letter|a4 [output.dot]]")


if __name__ == "__main__":
    main()
