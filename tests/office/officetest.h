#pragma once
// Shared by the tests that drive the real office through the plugin.

#include "platform/automation/automation.h"
#include "platform/office/office_testing.h"

#include <QFile>
#include <QProcess>
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

inline void setBounds(int startMs, int ordinaryMs, int lengthyMs) {
    seam<decltype(veltrane_office_testing_set_bounds)>("veltrane_office_testing_set_bounds")(
        startMs, ordinaryMs, lengthyMs);
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
    QProcess p;
    const QStringList args = tool == QLatin1String("antiword")
                                 ? QStringList{"-m", "UTF-8.txt", "-w", "0", path}
                                 : QStringList{"-w", "-d", "utf-8", path};
    p.start(tool, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
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

} // namespace officetest
