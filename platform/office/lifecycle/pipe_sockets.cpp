// The pipe sockets offices create in /tmp: found while an office lives,
// removed once nobody listens on them.

#include "profiles_and_sockets.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace office {

static QSet<QByteArray> socketInodes(pid_t pid) {
    QSet<QByteArray> inodes;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fdDir).entryList(QDir::Files | QDir::System)) {
        const QByteArray target = QFile::encodeName(QFile::symLinkTarget(fdDir + '/' + fd));
        // symLinkTarget makes "socket:[123]" absolute; the inode is what counts.
        const qsizetype at = target.indexOf("socket:[");
        if (at >= 0)
            inodes.insert(target.mid(at + 8, target.indexOf(']', at) - at - 8));
    }
    return inodes;
}

QStringList listeningSockets(pid_t pid) {
    const QSet<QByteArray> inodes = socketInodes(pid);
    QStringList paths;
    QFile table(QStringLiteral("/proc/net/unix"));
    if (inodes.isEmpty() || !table.open(QIODevice::ReadOnly))
        return paths;
    // Num RefCount Protocol Flags Type St Inode Path
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 8 && f[7].startsWith('/') && inodes.contains(f[6]))
            paths.append(QFile::decodeName(f[7]));
    }
    paths.removeDuplicates();
    return paths;
}

static bool isOwnSocket(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}

// This user's socket at path that refuses connections. Never waits: a
// listener too busy to take one more connection counts as alive.
static bool isStaleSocket(const QByteArray& path) {
    if (!isOwnSocket(path))
        return false;
    sockaddr_un addr{};
    if (path.size() >= qsizetype(sizeof addr.sun_path))
        return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid())
        return false;
    return ::connect(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
           errno == ECONNREFUSED;
}

void removeStaleSockets(const QStringList& paths) {
    for (const QString& p : paths) {
        const QByteArray path = QFile::encodeName(p);
        if (isStaleSocket(path))
            ::unlink(path.constData());
    }
}

void removeSockets(const QStringList& paths) {
    for (const QString& p : paths) {
        const QByteArray path = QFile::encodeName(p);
        if (isOwnSocket(path))
            ::unlink(path.constData());
    }
}

static QString socketsRecord(const QString& profileDir) {
    return profileDir + QStringLiteral("/veltrane-sockets");
}

void recordSockets(const QString& profileDir, const QStringList& paths) {
    QSaveFile out(socketsRecord(profileDir));
    if (out.open(QIODevice::WriteOnly)) {
        out.write(paths.join('\n').toUtf8());
        out.commit();
    }
}

QStringList recordedSockets(const QString& profileDir) {
    QFile in(socketsRecord(profileDir));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(in.read(64 << 10)).split('\n', Qt::SkipEmptyParts);
}

void sweepOrphanedPipes(const QString& dir) {
    const QRegularExpression name(
        QStringLiteral("^OSL_PIPE_%1_veltrane-office-(\\d+)-").arg(::getuid()));
    QStringList stale;
    for (const QString& entry : QDir(dir).entryList(QDir::System | QDir::Files)) {
        const auto m = name.match(entry);
        if (!m.hasMatch())
            continue;
        const pid_t program = pid_t(m.captured(1).toLongLong());
        if (program == ::getpid() || ::kill(program, 0) == 0 || errno != ESRCH)
            continue; // its program still runs (or might): not ours to judge
        stale.append(dir + '/' + entry);
    }
    removeStaleSockets(stale);
}

QByteArray officePipeName() {
    static std::atomic<unsigned> counter{0};
    return QByteArrayLiteral("veltrane-office-") + QByteArray::number(::getpid()) + '-' +
           QByteArray::number(++counter) + '-' +
           QByteArray::number(QRandomGenerator::global()->generate(), 16);
}

} // namespace office
