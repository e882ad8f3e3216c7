#pragma once
// What /proc says about a process: its resident memory, how many files it has
// open, and which office processes descend from it. Only descendants of a
// process the bench started are looked at, never anyone else's.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QString>

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

// A process as /proc names it: the pid and its start time, so a pid the
// kernel has handed on to a newer process is not taken for the old one.
struct ProcessId {
    pid_t pid = -1;
    qulonglong started = 0;
};

struct ProcessStat {
    char state = '?';
    pid_t parent = -1;
    qulonglong started = 0;
    bool valid = false;
};

inline ProcessStat readStat(pid_t pid) {
    ProcessStat s;
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return s;
    const QByteArray line = f.readAll();
    // The command name may hold spaces and parentheses: the fields start
    // after its last closing parenthesis.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return s;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return s;
    s.state = fields[0].isEmpty() ? '?' : fields[0][0];
    s.parent = pid_t(fields[1].toInt());
    s.started = fields[19].toULongLong(); // field 22 of the whole line
    s.valid = true;
    return s;
}

inline QByteArray commandOf(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

// Alive and not yet a zombie, and still the same process.
inline bool alive(const ProcessId& p) {
    const ProcessStat s = readStat(p.pid);
    return s.valid && s.started == p.started && s.state != 'Z' && s.state != 'X';
}

// Every live process below root, with the given command name.
inline QList<ProcessId> descendantsNamed(pid_t root, const QByteArray& command) {
    QHash<pid_t, QList<pid_t>> children;
    QHash<pid_t, ProcessStat> stats;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& e : entries) {
        bool number = false;
        const pid_t pid = pid_t(e.toInt(&number));
        if (!number)
            continue;
        const ProcessStat s = readStat(pid);
        if (!s.valid)
            continue;
        stats.insert(pid, s);
        children[s.parent] << pid;
    }
    QList<ProcessId> found;
    QList<pid_t> todo = children.value(root);
    while (!todo.isEmpty()) {
        const pid_t pid = todo.takeFirst();
        todo << children.value(pid);
        const ProcessStat& s = stats[pid];
        if (s.state != 'Z' && commandOf(pid) == command)
            found << ProcessId{pid, s.started};
    }
    return found;
}

inline QList<ProcessId> officesUnder(pid_t root) {
    return descendantsNamed(root, QByteArrayLiteral("soffice.bin"));
}

// Resident memory in MiB, from VmRSS; -1 when the process is gone.
inline double residentMiB(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Open file descriptors; -1 when the process is gone. Counting our own leaves
// out the one that reads the folder.
inline int openFiles(pid_t pid) {
    DIR* dir = opendir(QStringLiteral("/proc/%1/fd").arg(pid).toLocal8Bit().constData());
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    closedir(dir);
    return pid == getpid() ? n - 1 : n;
}
