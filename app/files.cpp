#include "files.h"

#include "app/shell.h"
#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace app {

namespace {

QString tempFromEnvironment() {
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq)
            continue;
        if (eq - *e == 4 && strncasecmp(*e, "TEMP", 4) == 0)
            return QString::fromLocal8Bit(eq + 1);
    }
    return QString();
}

bool usablePrivateFolder(const QByteArray& p) {
    struct stat st {};
    if (::lstat(p.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QString privateTempFolder() {
    static QString cached;
    if (!cached.isEmpty() && usablePrivateFolder(QFile::encodeName(cached)))
        return cached;
    const QString base =
        QDir::tempPath() + QStringLiteral("/veltrane-") + QString::number(::getuid());
    const QByteArray b = QFile::encodeName(base);
    if (::mkdir(b.constData(), 0700) == 0 || usablePrivateFolder(b)) {
        cached = base;
        return cached;
    }
    // Someone else holds that name: use a fresh private folder for this run.
    QByteArray templ = b + "-XXXXXX";
    if (char* made = ::mkdtemp(templ.data())) {
        cached = QFile::decodeName(made);
        return cached;
    }
    return base; // every later file step will fail and say why
}

} // namespace

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

void DeleteFileQuietly(const QString& path) {
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

void WriteBytesIfMissing(const QByteArray& bytes, const QString& path) {
    QCoreApplication::processEvents();
    // A window closed during that yield ends the program at once: write nothing.
    if (programEnded() || FileExists(path))
        return;
    ui::writeNewFile(bytes, path);
}

void CopyFileWhole(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("File not found: %1").arg(source));
    const QString partial = target + QStringLiteral(".veltrane-partial");
    const QByteArray pp = QFile::encodeName(partial);
    ::unlink(pp.constData());
    const int fd =
        ::open(pp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        ui::throwFileError(errno, target);
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(pp.constData());
        ui::throwFileError(err, target);
    };
    char buf[1 << 16];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0)
            fail(EIO);
        if (n == 0)
            break;
        qint64 off = 0;
        while (off < n) {
            const ssize_t w = ::write(fd, buf + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                fail(w < 0 ? errno : EIO);
            off += w;
        }
    }
    if (::fsync(fd) != 0 && errno != EINVAL)
        fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(pp.constData());
        ui::throwFileError(err, target);
    }
    if (::rename(pp.constData(), QFile::encodeName(target).constData()) != 0) {
        const int err = errno;
        ::unlink(pp.constData());
        ui::throwFileError(err, target);
    }
}

QString TempFolder() {
    const QString t = tempFromEnvironment();
    if (!t.isEmpty())
        return t;
    return privateTempFolder();
}

QString TempPath(const QString& name) {
    return TempFolder() + QLatin1Char('/') + name;
}

} // namespace app
