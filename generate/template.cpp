#include "template.h"

#include "entry/warningrecord.h"
#include "generate/paper.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace generate {

namespace {

Q_LOGGING_CATEGORY(lcTemplate, "veltrane.template", QtInfoMsg)

// Little-endian reads that say so when they would run past the end.
bool u16(const QByteArray& b, qint64 at, quint32& out) {
    if (at < 0 || at + 2 > b.size())
        return false;
    const auto* p = reinterpret_cast<const uchar*>(b.constData()) + at;
    out = quint32(p[0]) | quint32(p[1]) << 8;
    return true;
}
bool u32(const QByteArray& b, qint64 at, quint32& out) {
    if (at < 0 || at + 4 > b.size())
        return false;
    const auto* p = reinterpret_cast<const uchar*>(b.constData()) + at;
    out = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    return true;
}

// --- Word 97-2003: an OLE2 compound file with a "WordDocument" stream ------

const QByteArray kOleMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr quint32 kEndOfChain = 0xFFFFFFFE;

class CompoundFile {
  public:
    explicit CompoundFile(const QByteArray& b) : mB(b) {}

    // The stream's bytes, or a null array when the file is damaged or has none.
    QByteArray stream(const QString& wanted) {
        Header h;
        if (!readHeader(h) || !readFat(h))
            return {};
        const QByteArray dir = chain(mFat, h.dirStart, 1u << mShift, false);
        // The root is the first entry, and its chain is the mini stream; any
        // other entry that claims to be a root is not one.
        quint32 rootType = 0, rootStart = kEndOfChain;
        u16(dir, 0x42, rootType);
        u32(dir, 0x74, rootStart);
        for (qint64 at = 0; at + 128 <= dir.size(); at += 128) {
            quint32 nameLen = 0, type = 0, start = 0, size = 0;
            u16(dir, at + 0x40, nameLen);
            u16(dir, at + 0x42, type);
            u32(dir, at + 0x74, start);
            u32(dir, at + 0x78, size);
            type &= 0xFF;
            if (type != 2 || nameLen < 2 || nameLen > 64)
                continue;
            const QString name = QString::fromUtf16(
                reinterpret_cast<const char16_t*>(dir.constData() + at), nameLen / 2 - 1);
            if (name.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            if (size >= h.cutoff)
                return chain(mFat, start, 1u << mShift, false).left(size);
            if ((rootType & 0xFF) == 5)
                mMini = chain(mFat, rootStart, 1u << mShift, false);
            return chain(miniFat(h), start, 64, true).left(size);
        }
        return {};
    }

  private:
    // What the header says of where things are.
    struct Header {
        quint32 shift = 0, miniShift = 0, dirStart = 0, cutoff = 0, miniFatStart = 0;
        quint32 difatStart = 0, difatCount = 0, fatCount = 0;
    };

    bool readHeader(Header& h) {
        if (!u16(mB, 0x1E, h.shift) || !u16(mB, 0x20, h.miniShift) || !u32(mB, 0x2C, h.fatCount) ||
            !u32(mB, 0x30, h.dirStart) || !u32(mB, 0x38, h.cutoff) ||
            !u32(mB, 0x3C, h.miniFatStart) || !u32(mB, 0x44, h.difatStart) ||
            !u32(mB, 0x48, h.difatCount))
            return false;
        if ((h.shift != 9 && h.shift != 12) || h.miniShift != 6)
            return false;
        mShift = h.shift;
        return true;
    }

    // The allocation table, read from its sectors.
    bool readFat(const Header& h) {
        QList<quint32> fatSectors;
        if (!readFatSectors(h, fatSectors))
            return false;
        const quint32 perSector = (1u << h.shift) / 4;
        for (quint32 s : fatSectors)
            for (quint32 i = 0; i < perSector; ++i) {
                quint32 next = 0;
                if (!u32(mB, offset(s) + 4 * i, next))
                    return false;
                mFat << next;
            }
        return true;
    }

    // The sectors of the allocation table: 109 in the header, the rest chained.
    bool readFatSectors(const Header& h, QList<quint32>& fatSectors) {
        const quint32 perSector = (1u << h.shift) / 4;
        for (int i = 0; i < 109 && quint32(fatSectors.size()) < h.fatCount; ++i) {
            quint32 s = 0;
            if (!u32(mB, 0x4C + 4 * i, s))
                return false;
            fatSectors << s;
        }
        // The file's own size bounds every walk: a count or a chain the file
        // gives may be anything, and may loop.
        const qint64 sectors = ((mB.size() + (qint64(1) << h.shift) - 1) >> h.shift) - 1;
        mSectors = quint32(qBound<qint64>(0, sectors, kEndOfChain));
        const quint32 difatSectors = qMin(h.difatCount, mSectors);
        for (quint32 d = h.difatStart, n = 0;
             n < difatSectors && d < kEndOfChain && quint32(fatSectors.size()) < h.fatCount; ++n) {
            for (quint32 i = 0; i + 1 < perSector && quint32(fatSectors.size()) < h.fatCount; ++i) {
                quint32 s = 0;
                if (!u32(mB, offset(d) + 4 * i, s))
                    return false;
                fatSectors << s;
            }
            if (!u32(mB, offset(d) + 4 * (perSector - 1), d))
                return false;
            // A table longer than the file is a damaged (or hostile) one.
            if (qint64(fatSectors.size()) > mB.size() >> h.shift)
                return false;
        }
        return true;
    }

    // The allocation table of the mini stream.
    QList<quint32> miniFat(const Header& h) const {
        QList<quint32> table;
        const QByteArray mf = chain(mFat, h.miniFatStart, 1u << mShift, false);
        for (qint64 i = 0; i + 4 <= mf.size(); i += 4) {
            quint32 v = 0;
            u32(mf, i, v);
            table << v;
        }
        return table;
    }

    qint64 offset(quint32 sector) const { return (qint64(sector) + 1) << mShift; }

    // A chain of sectors through a table; stops at its end, a loop, a bad
    // entry, or once it is longer than the file has sectors.
    QByteArray chain(const QList<quint32>& table, quint32 first, quint32 sectorSize,
                     bool mini) const {
        QByteArray out;
        QSet<quint32> seen;
        const qint64 most = mini ? mMini.size() / sectorSize + 1 : qint64(mSectors);
        for (quint32 s = first; s < kEndOfChain && s < quint32(table.size()); s = table[s]) {
            if (seen.contains(s) || seen.size() >= most)
                break;
            seen.insert(s);
            const QByteArray& from = mini ? mMini : mB;
            const qint64 at = mini ? qint64(s) * sectorSize : offset(s);
            if (at + sectorSize > from.size()) {
                out += from.mid(at);
                break;
            }
            out += from.mid(at, sectorSize);
        }
        return out;
    }

    const QByteArray& mB;
    quint32 mShift = 9;
    quint32 mSectors = 0; // sectors after the header, the last one perhaps partial
    QList<quint32> mFat;
    QByteArray mMini;
};

// --- Office Open XML and OpenDocument: ZIP archives ------------------------

struct ZipEntry {
    QString name;
    quint32 method = 0, packed = 0, size = 0, local = 0;
};

QList<ZipEntry> zipEntries(const QByteArray& b) {
    QList<ZipEntry> out;
    // The end record lies within the last 64 KiB (its comment) plus itself.
    qint64 end = -1;
    for (qint64 at = b.size() - 22; at >= 0 && at >= b.size() - 22 - 65535; --at)
        if (b.at(at) == 'P' && b.mid(at, 4) == QByteArray("PK\x05\x06", 4)) {
            end = at;
            break;
        }
    quint32 count = 0, dirAt = 0;
    if (end < 0 || !u16(b, end + 10, count) || !u32(b, end + 16, dirAt))
        return out;
    qint64 at = dirAt;
    for (quint32 i = 0; i < count; ++i) {
        quint32 sig = 0, nameLen = 0, extraLen = 0, commentLen = 0;
        ZipEntry e;
        if (!u32(b, at, sig) || sig != 0x02014b50 || !u16(b, at + 10, e.method) ||
            !u32(b, at + 20, e.packed) || !u32(b, at + 24, e.size) || !u16(b, at + 28, nameLen) ||
            !u16(b, at + 30, extraLen) || !u16(b, at + 32, commentLen) || !u32(b, at + 42, e.local))
            break;
        e.name = QString::fromUtf8(b.mid(at + 46, nameLen));
        out << e;
        at += 46 + nameLen + extraLen + commentLen;
    }
    return out;
}

// What all parts of one archive may inflate to: a template's text is small,
// and a file that inflates without end is not one.
constexpr qint64 kMaxInflated = 4 * kMaxTemplateSize;

// An entry's content, at most budget bytes of it, which it uses up. Null when
// unreadable.
QByteArray zipRead(const QByteArray& b, const ZipEntry& e, qint64& budget) {
    quint32 sig = 0, nameLen = 0, extraLen = 0;
    if (!u32(b, e.local, sig) || sig != 0x04034b50 || !u16(b, e.local + 26, nameLen) ||
        !u16(b, e.local + 28, extraLen))
        return {};
    const qint64 data = qint64(e.local) + 30 + nameLen + extraLen;
    if (data + e.packed > b.size())
        return {};
    if (e.method == 0) {
        const QByteArray stored = b.mid(data, qMin(qint64(e.packed), qMax(budget, qint64(0))));
        budget -= stored.size();
        return stored;
    }
    if (e.method != 8)
        return {};
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(b.constData() + data));
    z.avail_in = e.packed;
    QByteArray out;
    char buf[1 << 16];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() < budget) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buf, qsizetype(sizeof buf - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            break;
    }
    inflateEnd(&z);
    budget -= out.size();
    return rc == Z_STREAM_END || rc == Z_OK ? out : QByteArray();
}

// The characters of an XML part without its markup, so a placeholder that
// the word processor split across formatting runs reads whole again.
QByteArray xmlText(const QByteArray& xml) {
    QByteArray out;
    out.reserve(xml.size() / 4);
    bool inTag = false;
    for (char c : xml) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            out.append(c);
    }
    return out;
}

enum class Kind { None, Word97, OpenXml, OpenDocument };

// The kind of document, and the text its placeholders would be in.
Kind examine(const QByteArray& bytes, QByteArray* text) {
    if (bytes.startsWith(kOleMagic)) {
        CompoundFile cf(bytes);
        const QByteArray word = cf.stream(QStringLiteral("WordDocument"));
        if (word.isNull())
            return Kind::None;
        if (text)
            *text = word;
        return Kind::Word97;
    }
    if (!bytes.startsWith(QByteArray("PK\x03\x04", 4)))
        return Kind::None;
    const QList<ZipEntry> entries = zipEntries(bytes);
    qint64 budget = kMaxInflated;
    Kind kind = Kind::None;
    for (const ZipEntry& e : entries) {
        if (e.name == QLatin1String("mimetype") &&
            zipRead(bytes, e, budget)
                .trimmed()
                .startsWith("application/vnd.oasis.opendocument.text"))
            kind = Kind::OpenDocument;
        if (e.name == QLatin1String("[Content_Types].xml") &&
            zipRead(bytes, e, budget).contains("wordprocessingml"))
            kind = Kind::OpenXml;
    }
    if (kind == Kind::None || !text)
        return kind;
    for (const ZipEntry& e : entries) {
        const bool part = kind == Kind::OpenDocument ? (e.name == QLatin1String("content.xml") ||
                                                        e.name == QLatin1String("styles.xml"))
                                                     : (e.name.startsWith(QLatin1String("word/")) &&
                                                        e.name.endsWith(QLatin1String(".xml")));
        if (part)
            *text += xmlText(zipRead(bytes, e, budget)) + '\n';
    }
    return kind;
}

QByteArray asciiLower(QByteArray b) {
    for (char& c : b)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return b;
}

// Shown once each per run.
QSet<QString>& shownMessages() {
    static QSet<QString> shown;
    return shown;
}

void tellOnce(const QString& message) {
    if (shownMessages().contains(message))
        return;
    shownMessages().insert(message);
    ui::MsgBox(message, ui::vbExclamation);
}

QString placeholderList(const QStringList& missing) {
    QStringList lines;
    for (const QString& p : missing)
        for (const auto& f : entry::kFields)
            if (p == QLatin1String(f.placeholder)) {
                QString caption = QString::fromLatin1(f.caption);
                if (caption.endsWith(QLatin1Char(':')))
                    caption.chop(1);
                lines << QStringLiteral("%1 (%2)").arg(p, caption);
            }
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace

QByteArray loadResData(int id, const QString& type) {
    QFile f(QStringLiteral(":/%1/%2").arg(type).arg(id));
    if (!f.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("Resource with identifier '%1' not found").arg(id));
    return f.readAll();
}

QStringList ownTemplateCandidates() {
    const QString rel = QStringLiteral("/veltrane/template.dot");
    QStringList out;
    // Relative entries are invalid and ignored, as the base directory rules say.
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.local/share");
    out << QDir::cleanPath(home + rel);
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& d : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(d) && !out.contains(QDir::cleanPath(d + rel)))
            out << QDir::cleanPath(d + rel);
    return out;
}

QString documentProblem(const QByteArray& bytes) {
    if (examine(bytes, nullptr) != Kind::None)
        return QString();
    return QStringLiteral("it is not a word-processor document (a Word or OpenDocument text "
                          "document or template)");
}

QStringList missingPlaceholders(const QByteArray& document) {
    QByteArray text;
    const Kind kind = examine(document, &text);
    text = asciiLower(text);
    QStringList out;
    for (const auto& f : entry::kFields) {
        const QByteArray p = asciiLower(QByteArray(f.placeholder));
        bool found = false;
        if (kind == Kind::Word97) {
            // Word keeps text as 8-bit or as UTF-16 pieces.
            QByteArray wide;
            for (char c : p)
                wide.append(c).append('\0');
            found = text.contains(p) || text.contains(wide);
        } else if (kind != Kind::None) {
            found = text.contains(p);
        }
        if (!found)
            out << QString::fromLatin1(f.placeholder);
    }
    return out;
}

TemplateFile inspectTemplate(const QString& path) {
    TemplateFile t;
    t.path = path;
    const QByteArray p = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0)
        return t;
    t.present = true;
    // Never waits on a pipe planted under the name.
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        t.refusal = QStringLiteral("it cannot be read (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return t;
    }
    QFile f; // owns the descriptor once open
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        t.refusal = QStringLiteral("it cannot be read (%1)").arg(f.errorString());
        return t;
    }
    if (::fstat(fd, &st) != 0) {
        t.refusal = QStringLiteral("it cannot be read (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return t;
    }
    if (S_ISDIR(st.st_mode)) {
        t.refusal = QStringLiteral("it is a folder, not a file");
        return t;
    }
    if (!S_ISREG(st.st_mode)) {
        t.refusal = QStringLiteral("it is not a regular file");
        return t;
    }
    if (st.st_size > kMaxTemplateSize) {
        t.refusal = QStringLiteral("it is larger than 20 MiB");
        return t;
    }
    if (st.st_size == 0) {
        t.refusal = QStringLiteral("it is empty");
        return t;
    }
    const QByteArray bytes = f.read(kMaxTemplateSize + 1);
    if (f.error() != QFileDevice::NoError) {
        t.refusal = QStringLiteral("it cannot be read (%1)").arg(f.errorString());
        return t;
    }
    if (bytes.size() > kMaxTemplateSize) { // grew while being read
        t.refusal = QStringLiteral("it is larger than 20 MiB");
        return t;
    }
    t.refusal = documentProblem(bytes);
    if (!t.refusal.isEmpty())
        return t;
    t.bytes = bytes;
    t.missing = missingPlaceholders(bytes);
    return t;
}

QByteArray templateBytes() {
    QStringList refused;
    for (const QString& candidate : ownTemplateCandidates()) {
        TemplateFile t = inspectTemplate(candidate);
        if (!t.present)
            continue;
        if (!t.refusal.isEmpty()) {
            qCWarning(lcTemplate, "not using %s: %s", qPrintable(t.path), qPrintable(t.refusal));
            refused
                << QStringLiteral("The template \"%1\" is not used: %2.").arg(t.path, t.refusal);
            continue;
        }
        qCInfo(lcTemplate, "using the template %s (%lld bytes)", qPrintable(t.path),
               static_cast<long long>(t.bytes.size()));
        for (const QString& r : refused)
            tellOnce(r + QStringLiteral("\r\n\r\nThe notice is made from the template \"%1\" "
                                        "instead.")
                             .arg(t.path));
        if (!t.missing.isEmpty()) {
            qCWarning(lcTemplate, "%s lacks %s", qPrintable(t.path),
                      qPrintable(t.missing.join(QLatin1Char(' '))));
            tellOnce(QStringLiteral("The template \"%1\" lacks these placeholders, so the notice "
                                    "will not contain what is typed into their fields:\r\n\r\n%2")
                         .arg(t.path, placeholderList(t.missing)));
        }
        return t.bytes;
    }
    // The usual case: not worth a line on the terminal at every notice.
    const PaperChoice paper = desktopPaper();
    qCDebug(lcTemplate, "using the built-in template on %s paper (%s)",
            paper.paper == Paper::A4 ? "A4" : "Letter", qPrintable(paper.source));
    for (const QString& r : refused)
        tellOnce(r + QStringLiteral("\r\n\r\nThe notice is made from the built-in template "
                                    "instead."));
    return loadResData(builtInTemplateId(paper.paper), QStringLiteral("CUSTOM"));
}

void resetTemplateMessagesForTests() {
    shownMessages().clear();
}

} // namespace generate
