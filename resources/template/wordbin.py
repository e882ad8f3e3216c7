"""Just enough of the OLE compound file and Word 97-2003 binary formats to check the
template independently of LibreOffice: streams, the FIB, the text of each story,
the floating-shape anchors (PlcSpaMom), the form-field data and the drawing
(Escher) records of shapes and pictures. Also writes a compound file back.
Malformed input raises ValueError.
"""

import struct

FREESECT = 0xFFFFFFFF
ENDOFCHAIN = 0xFFFFFFFE

# Drawing record types and shape properties
SP_CONTAINER = 0xF004
SP = 0xF00A
OPT = 0xF00B
TERTIARY_OPT = 0xF122
PROP_PIB = 0x0104
PROP_WZNAME = 0x0380
PROP_WZDESCRIPTION = 0x0381
PICF_HEADER_SIZE = 0x44
MM_SHAPE = 0x64  # a PICF whose picture is a shape with its own records


def escher_records(buf, start, end):
    """The drawing records between start and end: (offset, version, instance, type,
    body) each. A container's children are the records of its body."""
    p = start
    while p + 8 <= end:
        vi, rtype, length = struct.unpack_from("<HHI", buf, p)
        yield p, vi & 0xF, vi >> 4, rtype, buf[p + 8:p + 8 + length]
        p += 8 + length


def opt_entries(body, count):
    """The property table of an OPT record as [id with flags, value, complex data]."""
    out, pos = [], 6 * count
    for i in range(count):
        opid, op = struct.unpack_from("<HI", body, 6 * i)
        extra = b""
        if opid & 0x8000:
            extra = body[pos:pos + op]
            pos += op
        out.append([opid, op, extra])
    return out


def opt_properties(body, count):
    """property id -> value (complex properties as their bytes)."""
    return {opid & 0x3FFF: (extra if opid & 0x8000 else op)
            for opid, op, extra in opt_entries(body, count)}


def shapes(buf, start, end, out=None):
    """spid -> (shape type, the properties of all its OPT records), searched through
    nested containers."""
    out = {} if out is None else out
    for _p, ver, _inst, rtype, body in escher_records(buf, start, end):
        if rtype == SP_CONTAINER:
            spid, props, shape_type = None, {}, None
            for _q, _v, inst, t2, b2 in escher_records(body, 0, len(body)):
                if t2 == SP:
                    spid = struct.unpack_from("<I", b2, 0)[0]
                    shape_type = inst
                elif t2 in (OPT, TERTIARY_OPT):
                    props.update(opt_properties(b2, inst))
            if spid is not None:
                out[spid] = (shape_type, props)
        elif ver == 0xF:
            shapes(body, 0, len(body), out)
    return out


def data_pictures(data):
    """Offsets and lengths of the pictures (PICF header + shape) in a Data stream,
    a run of records that each start with their own length."""
    found, p = [], 0
    while p + 6 <= len(data):
        lcb, cb_header = struct.unpack_from("<IH", data, p)
        if lcb < 6 or p + lcb > len(data):
            break
        if cb_header == PICF_HEADER_SIZE and struct.unpack_from("<H", data, p + 6)[0] == MM_SHAPE:
            found.append((p, lcb))
        p += lcb
    return found


def picture_shown_size(data, offset):
    """The size a PICF shows its picture at, in twips (goal size times scale)."""
    dxa, dya, mx, my = struct.unpack_from("<hhHH", data, offset + 28)
    return round(dxa * mx / 1000), round(dya * my / 1000)


class CompoundFile:
    def __init__(self, data):
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
            raise ValueError("not an OLE compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        n_fat, first_dir = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, first_minifat, n_minifat, first_difat, n_difat = \
            struct.unpack_from("<IIIII", data, 0x38)

        fat_sectors = [s for s in struct.unpack_from("<109I", data, 0x4C) if s != FREESECT]
        s = first_difat
        per = self.sector_size // 4
        for _ in range(n_difat):
            entries = struct.unpack_from(f"<{per}I", self._sector(s))
            fat_sectors += [e for e in entries[:-1] if e != FREESECT]
            s = entries[-1]
        fat_sectors = fat_sectors[:n_fat]
        self.fat = []
        for fs in fat_sectors:
            self.fat += struct.unpack_from(f"<{per}I", self._sector(fs))

        self.entries = []
        self.raw_entries = []
        dir_data = self._chain(first_dir)
        for off in range(0, len(dir_data), 128):
            e = dir_data[off:off + 128]
            name_len = struct.unpack_from("<H", e, 64)[0]
            name = e[:max(0, name_len - 2)].decode("utf-16-le")
            etype = e[66]
            start, size = struct.unpack_from("<IQ", e, 116)
            self.entries.append((name, etype, start, size))
            child = struct.unpack_from("<I", e, 76)[0]
            self.raw_entries.append(dict(name=name, type=etype, child=child,
                                         clsid=e[80:96], state=e[96:100], times=e[100:116]))
        root = self.entries[0]
        self.ministream = self._chain(root[2])[:root[3]]
        self.minifat = []
        if n_minifat:
            mf = self._chain(first_minifat)
            self.minifat = list(struct.unpack_from(f"<{len(mf) // 4}I", mf))

    def _sector(self, n):
        off = (n + 1) * self.sector_size
        return self.data[off:off + self.sector_size]

    def _chain(self, start):
        out, s, seen = [], start, set()
        while s not in (ENDOFCHAIN, FREESECT):
            if s in seen or s >= len(self.fat):
                raise ValueError("broken sector chain")
            seen.add(s)
            out.append(self._sector(s))
            s = self.fat[s]
        return b"".join(out)

    def _minichain(self, start):
        out, s = [], start
        while s not in (ENDOFCHAIN, FREESECT):
            off = s * self.mini_size
            out.append(self.ministream[off:off + self.mini_size])
            s = self.minifat[s]
        return b"".join(out)

    def names(self):
        return [e[0] for e in self.entries if e[1] == 2]

    def stream(self, name):
        for ename, etype, start, size in self.entries:
            if etype == 2 and ename == name:
                if size < self.cutoff:
                    return self._minichain(start)[:size]
                return self._chain(start)[:size]
        raise KeyError(name)


def _cfb_sort_key(name):
    # the order a compound file keeps sibling names in: shorter first, then case-blind
    return (len(name), name.upper())


def write_compound_file(cf, replace):
    """A new compound file holding the streams and storages of cf (a flat one: only
    empty storages below the root), with the streams named in replace swapped for
    new contents. Version 3, 512-byte sectors."""
    SS, MSS, CUTOFF = 512, 64, 4096
    root = cf.raw_entries[0]
    items = []
    for e in cf.raw_entries[1:]:
        if e["type"] == 0:
            continue
        if e["type"] == 1 and e["child"] != FREESECT:
            raise ValueError("nested storages are not supported")
        body = replace.get(e["name"], cf.stream(e["name"])) if e["type"] == 2 else b""
        items.append(dict(e, body=body))
    items.sort(key=lambda e: _cfb_sort_key(e["name"]))

    def pad(b, n):
        return b + b"\0" * (-len(b) % n)

    # small streams live in the mini stream
    mini, minifat = b"", []
    for it in items:
        it["start"] = ENDOFCHAIN
        if it["type"] == 2 and 0 < len(it["body"]) < CUTOFF:
            first = len(mini) // MSS
            n = -(-len(it["body"]) // MSS)
            minifat += list(range(first + 1, first + n)) + [ENDOFCHAIN]
            mini += pad(it["body"], MSS)
            it["start"] = first

    sectors, fat = [], []

    def place(blob):
        if not blob:
            return ENDOFCHAIN
        first = len(sectors)
        blob = pad(blob, SS)
        n = len(blob) // SS
        for i in range(n):
            sectors.append(blob[i * SS:(i + 1) * SS])
        fat.extend(list(range(first + 1, first + n)) + [ENDOFCHAIN])
        return first

    for it in items:
        if it["type"] == 2 and len(it["body"]) >= CUTOFF:
            it["start"] = place(it["body"])
    mini_start = place(mini)
    minifat_blob = struct.pack(f"<{len(minifat)}I", *minifat) if minifat else b""
    minifat_start = place(minifat_blob) if minifat else ENDOFCHAIN
    n_minifat = -(-len(minifat_blob) // SS)

    # directory: the root, then a balanced tree of its children
    order = [None] + items
    left = {}
    right = {}
    colour = {}

    def build(lo, hi, depth, maxdepth):
        if lo > hi:
            return FREESECT
        mid = (lo + hi) // 2
        left[mid] = build(lo, mid - 1, depth + 1, maxdepth)
        right[mid] = build(mid + 1, hi, depth + 1, maxdepth)
        # red only on an incomplete last level keeps every path's black count equal
        colour[mid] = 0 if (depth == maxdepth and len(items) != 2 ** (maxdepth + 1) - 1) else 1
        return mid

    maxdepth = max(0, len(items).bit_length() - 1)
    top = build(1, len(items), 0, maxdepth)

    def entry(name, etype, col, lft, rgt, child, clsid, state, times, start, size):
        raw = name.encode("utf-16-le") + b"\0\0" if name else b""
        return (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw), etype, col)
                + struct.pack("<III", lft, rgt, child) + clsid + state + times
                + struct.pack("<IQ", start, size))

    dir_blob = entry("Root Entry", 5, 1, FREESECT, FREESECT, top, root["clsid"],
                     root["state"], root["times"], mini_start if mini else ENDOFCHAIN,
                     len(mini))
    for i, it in enumerate(items, start=1):
        size = len(it["body"]) if it["type"] == 2 else 0
        start = it["start"] if it["type"] == 2 else 0
        dir_blob += entry(it["name"], it["type"], colour[i], left[i], right[i],
                          FREESECT, it["clsid"], it["state"], it["times"], start, size)
    empty = entry("", 0, 0, FREESECT, FREESECT, FREESECT, b"\0" * 16, b"\0" * 4,
                  b"\0" * 16, 0, 0)
    while len(dir_blob) % SS:
        dir_blob += empty
    dir_start = place(dir_blob)

    # the FAT describes itself too
    n_fat = 1
    while (len(sectors) + n_fat) * 4 > n_fat * SS:
        n_fat += 1
    if n_fat > 109:
        raise ValueError("file too large for a header-only DIFAT")
    fat_first = len(sectors)
    fat += [0xFFFFFFFD] * n_fat
    fat += [FREESECT] * (n_fat * SS // 4 - len(fat))
    fat_blob = struct.pack(f"<{len(fat)}I", *fat)
    for i in range(n_fat):
        sectors.append(fat_blob[i * SS:(i + 1) * SS])

    difat = list(range(fat_first, fat_first + n_fat)) + [FREESECT] * (109 - n_fat)
    header = (b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 16
              + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6
              + struct.pack("<IIIIIIIII", 0, n_fat, dir_start, 0, CUTOFF,
                            minifat_start, n_minifat, ENDOFCHAIN, 0)
              + struct.pack("<109I", *difat))
    return header + b"".join(sectors)


# FibRgLw97 counters of the stories, in the order the text stream holds them
STORIES = ("ccpText", "ccpFtn", "ccpHdd", "ccpMcr", "ccpAtn", "ccpEdn", "ccpTxbx", "ccpHdrTxbx")


class WordDocument:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.cf = CompoundFile(f.read())
        wd = self.cf.stream("WordDocument")
        self.word = wd
        self.ident, self.nfib = struct.unpack_from("<HH", wd, 0)
        if self.ident != 0xA5EC:
            raise ValueError("no Word FIB")
        self.flags = struct.unpack_from("<H", wd, 0x0A)[0]
        self.is_template = bool(self.flags & 0x0001)          # fDot
        self.table_name = "1Table" if self.flags & 0x0200 else "0Table"  # fWhichTblStm
        self.table = self.cf.stream(self.table_name)
        try:
            self.data = self.cf.stream("Data")
        except KeyError:
            self.data = b""

        pos = 32
        csw = struct.unpack_from("<H", wd, pos)[0]
        pos += 2 + csw * 2
        cslw = struct.unpack_from("<H", wd, pos)[0]
        lw = struct.unpack_from(f"<{cslw}i", wd, pos + 2)
        pos += 2 + cslw * 4
        cb = struct.unpack_from("<H", wd, pos)[0]
        self.fclcb = struct.unpack_from(f"<{cb * 2}I", wd, pos + 2)
        # FibRgLw97: cbMac, two reserved, then the story lengths
        self.ccp = dict(zip(STORIES, lw[3:11]))
        self.text = self._read_text()

    def fclcb_pair(self, index):
        return self.fclcb[2 * index], self.fclcb[2 * index + 1]

    def _read_text(self):
        fc, lcb = self.fclcb_pair(33)  # fcClx
        clx = self.table[fc:fc + lcb]
        i = 0
        while clx[i] == 0x01:  # Prc: property modifiers, skipped
            i += 3 + struct.unpack_from("<H", clx, i + 1)[0]
        if clx[i] != 0x02:
            raise ValueError("no piece table")
        lcb_plc = struct.unpack_from("<I", clx, i + 1)[0]
        plc = clx[i + 5:i + 5 + lcb_plc]
        n = (lcb_plc - 4) // 12
        cps = struct.unpack_from(f"<{n + 1}I", plc)
        parts = []
        for k in range(n):
            fcv = struct.unpack_from("<I", plc, 4 * (n + 1) + 8 * k + 2)[0]
            count = cps[k + 1] - cps[k]
            if fcv & 0x40000000:
                off = (fcv & ~0x40000000) // 2
                parts.append(self.word[off:off + count].decode("cp1252"))
            else:
                parts.append(self.word[fcv:fcv + 2 * count].decode("utf-16-le"))
        return "".join(parts)

    def story(self, name):
        start = 0
        for s in STORIES:
            if s == name:
                return self.text[start:start + self.ccp[s]]
            start += self.ccp[s]
        raise KeyError(name)

    def fields(self, story_text):
        """Field instructions (the text between 0x13 and 0x14/0x15), outermost level."""
        out, depth, cur = [], 0, []
        for ch in story_text:
            if ch == "\x13":
                depth += 1
                if depth == 1:
                    cur = []
            elif ch in "\x14\x15":
                if depth == 1 and cur is not None:
                    out.append("".join(cur).strip())
                    cur = None
                if ch == "\x15":
                    depth -= 1
            elif depth == 1 and cur is not None:
                cur.append(ch)
        return out

    def shape_anchors(self):
        """Main-text floating shapes: (cp, spid, (xaLeft, yaTop, xaRight, yaBottom), flags)."""
        fc, lcb = self.fclcb_pair(40)  # fcPlcSpaMom
        if lcb == 0:
            return []
        n = (lcb - 4) // 30
        plc = self.table[fc:fc + lcb]
        cps = struct.unpack_from(f"<{n + 1}i", plc)
        out = []
        for k in range(n):
            spid, l, t, r, b, flags = struct.unpack_from("<IiiiiH", plc, 4 * (n + 1) + 26 * k)
            out.append((cps[k], spid, (l, t, r, b), flags))
        return out

    def form_field_data(self):
        """The FFData records in the Data stream: (type, result, default) each.
        type 0 text, 1 check box, 2 drop-down."""
        out, d, p = [], self.data, 0
        while True:
            p = d.find(b"\xff\xff\xff\xff", p)
            if p < 0:
                return out
            start = p - 0x44
            if start >= 0 and struct.unpack_from("<H", d, start + 4)[0] == 0x44:
                bits = struct.unpack_from("<H", d, p + 4)[0]
                itype, ires = bits & 0x3, (bits >> 2) & 0x1F
                cch, hps = struct.unpack_from("<HH", d, p + 6)
                name_len = struct.unpack_from("<H", d, p + 10)[0]
                after = p + 12 + 2 * name_len
                wdef = struct.unpack_from("<H", d, after)[0] if itype == 1 else None
                out.append((itype, ires, wdef))
            p += 4
