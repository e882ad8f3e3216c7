#include "files.h"

#include "app/shell.h"
#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace app {

namespace {

Q_LOGGING_CATEGORY(lcFiles, "veltrane.files")

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

QString privateTempFolderBase() {
    return QDir::tempPath() + QStringLiteral("/veltrane-") + QString::number(::getuid());
}

QString privateTempFolder() {
    static QString cached;
    if (!cached.isEmpty() && usablePrivateFolder(QFile::encodeName(cached)))
        return cached;
    const QString base = privateTempFolderBase();
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

// Writes the rest of in to fd; 0 or the error.
int copyInto(QFile& in, int fd) {
    char buf[1 << 16];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0)
            return EIO;
        if (n == 0)
            return 0;
        qint64 off = 0;
        while (off < n) {
            const ssize_t w = ::write(fd, buf + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return w < 0 ? errno : EIO;
            off += w;
        }
    }
}

// A new file beside target whose name belongs to this copy alone, so nothing
// of the user's that happens to carry a similar name is touched.
int openPartialBeside(const QByteArray& target, QByteArray& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".veltrane-partial-" +
               QByteArray::number(QRandomGenerator::system()->generate64() % 2176782336u, 36);
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool isRegularFile(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Writes the whole of in over the existing file at target (never through a
// link), then cuts it to length; 0 or the error. A failure part way leaves
// the file damaged, and is reported like any failed copy.
int overwriteInPlace(QFile& in, const QByteArray& target) {
    const int fd = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    int err = ::fstat(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EINVAL : 0;
    if (err == 0 && !in.seek(0))
        err = EIO;
    if (err == 0)
        err = copyInto(in, fd);
    if (err == 0 && ::ftruncate(fd, static_cast<off_t>(in.pos())) != 0)
        err = errno;
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    return err;
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
    const QByteArray t = QFile::encodeName(target);
    QByteArray partial;
    const int fd = openPartialBeside(t, partial);
    if (fd < 0) {
        const int err = errno;
        // A folder that takes no new file may still hold a file the user can
        // write: the old document is then written over where it is.
        if ((err == EACCES || err == EPERM) && isRegularFile(t)) {
            qCInfo(lcFiles, "cannot write beside %s (%s); writing over it in place", t.constData(),
                   std::strerror(err));
            if (const int failed = overwriteInPlace(in, t))
                ui::throwFileError(failed, target);
            return;
        }
        ui::throwFileError(err, target);
    }
    int err = copyInto(in, fd);
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(partial.constData(), t.constData()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(partial.constData());
        ui::throwFileError(err, target);
    }
}

QString TempFolder() {
    const QString t = tempFromEnvironment();
    if (!t.isEmpty())
        return t;
    return privateTempFolder();
}

QString TempFolderName() {
    const QString t = tempFromEnvironment();
    return t.isEmpty() ? privateTempFolderBase() : t;
}

QString TempPath(const QString& name) {
    return TempFolder() + QLatin1Char('/') + name;
}

} // namespace app
