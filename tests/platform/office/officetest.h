#pragma once
// Shared by the tests that drive the real office through the plugin.

#include "platform/automation/automation.h"
#include "platform/office/office_testing.h"
#include "tests/support/childprocess.h"

#include <QFile>
#include <QString>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

namespace officetest {

inline QString pluginPath() {
    return QStringLiteral(VELTRANE_OFFICE_PLUGIN);
}
inline QString dataFile(const char* name) {
    return QStringLiteral(OFFICE_TEST_DATA "/") + QLatin1String(name);
}

inline automation::Object createWord() {
    automation::setOfficePluginPath(pluginPath());
    return automation::createObject(QStringLiteral("Word.Application"));
}

template <class Fn> Fn* seam(const char* name) {
    Fn* f = office::testing::resolve<Fn>(pluginPath(), name);
    if (!f)
        qFatal("office plugin seam %s missing", name);
    return f;
}

inline pid_t officePid(const automation::Object& word) {
    return pid_t(seam<decltype(veltrane_office_testing_process_id)>(
        "veltrane_office_testing_process_id")(word.dispatch().get()));
}

inline bool waitForExits(int ms) {
    return seam<decltype(veltrane_office_testing_wait_for_exits)>(
               "veltrane_office_testing_wait_for_exits")(ms) == 1;
}

// Quits a test case's shared word processor; true once every office has exited.
inline bool quitShared(automation::Object& word, int ms = 15000) {
    if (!word.isNothing())
        word.call("quit");
    word.release();
    return waitForExits(ms);
}

inline void setBounds(int startMs, int ordinaryMs, int lengthyMs) {
    seam<decltype(veltrane_office_testing_set_bounds)>("veltrane_office_testing_set_bounds")(
        startMs, ordinaryMs, lengthyMs);
}

inline void setHangJudging(int pulseMs, int stoppedMs, int idleMs) {
    seam<decltype(veltrane_office_testing_set_hang_judging)>(
        "veltrane_office_testing_set_hang_judging")(pulseMs, stoppedMs, idleMs);
}

// Ends the host's idle office and waits for every exit.
inline bool endHost(int ms) {
    return seam<decltype(veltrane_office_testing_end_host)>("veltrane_office_testing_end_host")(
               ms) == 1;
}

inline void setRecycleAfter(int sessions) {
    seam<decltype(veltrane_office_testing_set_recycle_after)>(
        "veltrane_office_testing_set_recycle_after")(sessions);
}

// The host's idle office once its background work is done, or -1.
inline pid_t idleOffice(int waitMs) {
    return pid_t(seam<decltype(veltrane_office_testing_idle_office)>(
        "veltrane_office_testing_idle_office")(waitMs));
}

// Holds the thread that reaches point: stalls it stallMs, or with stallMs < 0
// stops the office there. nullptr clears it.
inline void holdAt(const char* point, int stallMs) {
    seam<decltype(veltrane_office_testing_hold_at)>("veltrane_office_testing_hold_at")(point,
                                                                                       stallMs);
}

// The office stopped at the hold point, or -1 when none within waitMs.
inline pid_t heldOffice(int waitMs) {
    return pid_t(seam<decltype(veltrane_office_testing_held_office)>(
        "veltrane_office_testing_held_office")(waitMs));
}

// Objects the idle office keeps for sessions, or -1 when none is idle.
inline int keptObjects(int waitMs) {
    return seam<decltype(veltrane_office_testing_kept_objects)>(
        "veltrane_office_testing_kept_objects")(waitMs);
}

// What the program calls to have the office warmed in the background.
inline void prepareWord() {
    seam<void()>("veltrane_prepare_word_application")();
}

inline void setProgram(const char* path) {
    seam<decltype(veltrane_office_testing_set_program)>("veltrane_office_testing_set_program")(
        path);
}

inline bool processExists(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno != ESRCH);
}

// Text of a .doc as an independent reader sees it (never LibreOffice itself).
inline QString readerText(const QString& tool, const QString& path) {
    testsupport::ChildProcess p;
    const QStringList args = tool == QLatin1String("antiword")
                                 ? QStringList{"-m", "UTF-8.txt", "-w", "0", path}
                                 : QStringList{"-w", "-d", "utf-8", path};
    if (!p.start(tool, args) || !p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>")
            .arg(tool, QString::fromLocal8Bit(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The Word header's flags word of a .doc/.dot (a compound file): its lowest
// bit tells a template from a document. -1 when the file is not a Word file.
inline int wordHeaderFlags(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray d = f.readAll();
    auto u16 = [&](qsizetype o) {
        return o + 2 <= d.size() ? quint16(uchar(d[o]) | uchar(d[o + 1]) << 8) : 0;
    };
    auto u32 = [&](qsizetype o) {
        return o + 4 <= d.size() ? quint32(u16(o) | quint32(u16(o + 2)) << 16) : 0u;
    };
    if (!d.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")))
        return -1;
    const int shift = u16(0x1e);
    auto sectorOffset = [&](quint32 s) { return qsizetype(s + 1) << shift; };
    auto fatNext = [&](quint32 s) -> quint32 {
        const quint32 perSector = (1u << shift) / 4;
        const quint32 fatSector = u32(0x4c + 4 * (s / perSector)); // first 109 FAT sectors
        return u32(sectorOffset(fatSector) + 4 * (s % perSector));
    };
    const QByteArray wanted = QByteArray("W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0", 24);
    for (quint32 s = u32(0x30); s < 0xfffffffa; s = fatNext(s)) {
        for (int e = 0; e < (1 << shift) / 128; ++e) {
            const qsizetype entry = sectorOffset(s) + e * 128;
            if (d.mid(entry, 24) == wanted && u16(entry + 0x40) == 26) {
                const qsizetype fib = sectorOffset(u32(entry + 0x74));
                if (u16(fib) != 0xa5ec) // wIdent of a Word 97-2003 file
                    return -1;
                return u16(fib + 0x0a);
            }
        }
    }
    return -1;
}

// One stream of a compound file (a .doc), by name; empty when absent. Enough
// of the format for the small files the tests write: the first 109 FAT
// sectors, the mini stream for small streams.
inline QByteArray compoundStream(const QByteArray& d, const QString& name) {
    auto u16 = [&](qsizetype o) {
        return o >= 0 && o + 2 <= d.size() ? quint16(uchar(d[o]) | uchar(d[o + 1]) << 8) : 0;
    };
    auto u32 = [&](qsizetype o) {
        return o + 4 <= d.size() ? quint32(u16(o) | quint32(u16(o + 2)) << 16) : 0xffffffffu;
    };
    if (!d.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")))
        return {};
    const int shift = u16(0x1e);
    const qsizetype sector = qsizetype(1) << shift;
    auto offset = [&](quint32 s) { return qsizetype(s + 1) << shift; };
    auto fatNext = [&](quint32 s) {
        const quint32 perSector = quint32(sector / 4);
        return u32(offset(u32(0x4c + 4 * (s / perSector))) + 4 * (s % perSector));
    };
    auto chain = [&](quint32 s, auto next, auto piece) {
        QByteArray out;
        for (int guard = 0; s < 0xfffffffa && guard < 1000000; ++guard, s = next(s))
            out += piece(s);
        return out;
    };
    auto bigPiece = [&](quint32 s) { return d.mid(offset(s), sector); };
    const QByteArray dir = chain(u32(0x30), fatNext, bigPiece);
    auto entry = [&](qsizetype i) { return dir.mid(i * 128, 128); };
    auto e32 = [](const QByteArray& e, int o) {
        return quint32(uchar(e[o]) | uchar(e[o + 1]) << 8 | uchar(e[o + 2]) << 16 |
                       quint32(uchar(e[o + 3])) << 24);
    };
    const QByteArray wanted(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
    for (qsizetype i = 0; i * 128 < dir.size(); ++i) {
        const QByteArray e = entry(i);
        if (e[0x42] != 2 || e.left(wanted.size()) != wanted ||
            (uchar(e[0x40]) | uchar(e[0x41]) << 8) != wanted.size() + 2)
            continue;
        const quint32 start = e32(e, 0x74), size = e32(e, 0x78);
        if (size >= u32(0x38))
            return chain(start, fatNext, bigPiece).left(size);
        const QByteArray root = entry(0);
        const QByteArray mini = chain(e32(root, 0x74), fatNext, bigPiece);
        const QByteArray miniFat = chain(u32(0x3c), fatNext, bigPiece);
        const qsizetype miniSector = qsizetype(1) << u16(0x20);
        auto miniNext = [&](quint32 s) {
            return 4 * qsizetype(s) + 4 <= miniFat.size() ? e32(miniFat, int(4 * s)) : 0xfffffffeu;
        };
        auto miniPiece = [&](quint32 s) { return mini.mid(qsizetype(s) * miniSector, miniSector); };
        return chain(start, miniNext, miniPiece).left(size);
    }
    return {};
}

// Whether Word starts a new page before the paragraph that holds text, as
// the .doc's own paragraph properties say: 1 or 0, -1 when the text is not found.
inline int pageBreakBefore(const QString& path, const QString& text) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray file = f.readAll();
    const QByteArray wd = compoundStream(file, QStringLiteral("WordDocument"));
    auto u16 = [](const QByteArray& b, qsizetype o) -> quint16 {
        return o >= 0 && o + 2 <= b.size() ? quint16(uchar(b[o]) | uchar(b[o + 1]) << 8) : 0;
    };
    auto u32 = [&](const QByteArray& b, qsizetype o) {
        return quint32(u16(b, o) | quint32(u16(b, o + 2)) << 16);
    };
    const QByteArray table = compoundStream(
        file, (u16(wd, 0x0a) & 0x0200) ? QStringLiteral("1Table") : QStringLiteral("0Table"));
    // The FIB's variable parts, then the 14th fc/lcb pair: the paragraph bin table.
    qsizetype at = 32;
    at += 2 + 2 * u16(wd, at);
    at += 2 + 4 * u16(wd, at);
    at += 2 + 13 * 8;
    const QByteArray plc = table.mid(u32(wd, at), u32(wd, at + 4));
    const qsizetype bins = (plc.size() - 4) / 8;
    const qsizetype pos =
        wd.indexOf(QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
    if (pos < 0 || bins <= 0)
        return -1;
    for (qsizetype b = 0; b < bins; ++b) {
        const QByteArray fkp =
            wd.mid(qsizetype(u32(plc, 4 * (bins + 1) + 4 * b) & 0x3fffff) * 512, 512);
        if (fkp.size() != 512)
            return -1;
        const int runs = uchar(fkp[511]);
        for (int r = 0; r < runs; ++r) {
            if (pos < u32(fkp, 4 * r) || pos >= u32(fkp, 4 * (r + 1)))
                continue;
            const qsizetype papx = 2 * qsizetype(uchar(fkp[4 * (runs + 1) + 13 * r]));
            if (papx == 0)
                return 0;
            const int cb = uchar(fkp[papx]);
            qsizetype p = cb ? papx + 1 : papx + 2;
            const qsizetype end = p + (cb ? 2 * cb - 1 : 2 * uchar(fkp[papx + 1]));
            for (p += 2; p + 2 <= end && end <= 511;) { // past the style index
                const quint16 sprm = u16(fkp, p);
                p += 2;
                if (sprm == 0x2407) // sprmPFPageBreakBefore
                    return fkp[p] != 0 ? 1 : 0;
                static const int sizes[] = {1, 1, 2, 4, 2, 2, -1, 3};
                const int size = sizes[sprm >> 13];
                p += size >= 0 ? size : (sprm == 0xd608 ? 2 + u16(fkp, p) - 1 : 1 + uchar(fkp[p]));
            }
            return 0;
        }
    }
    return -1;
}

} // namespace officetest
