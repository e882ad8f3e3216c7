#include "files.h"

#include "common/programend.h"
#include "platform/automation/automation.h"
#include "platform/ui/newfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace common {

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

testing::InPlaceCalls gCalls;
testing::CopyNameCall gCopyName = nullptr;

// Room for `length` bytes from the start of fd, taken now, without changing
// the file's size; 0 or the error.
int reserve(int fd, off_t length) {
    if (gCalls.reserve)
        return gCalls.reserve(fd, static_cast<long long>(length));
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length) == 0 ? 0 : errno;
}

// A file system that cannot reserve room says so with one of these.
bool cannotReserve(int err) {
    return err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

// A new hidden file with a short random name in target's folder, so nothing
// of the user's is touched. The name does not grow with the target's, so
// every name the folder takes can be saved, and a copy left by a crash stays
// out of the folder's listing.
int openCopyBeside(const QByteArray& target, mode_t mode, QByteArray& name) {
    const QByteArray folder = target.left(target.lastIndexOf('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint64 random = gCopyName ? gCopyName() : QRandomGenerator::system()->generate64();
        name = folder + ".~vt" + QByteArray::number(random % 2821109907456u, 36);
        const int fd =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Gives the copy the owner, group and permissions of the file it replaces, as
// far as this user may set them; permissions last, as a change of owner can
// clear some. Where the group cannot be kept, the old group's rights are not
// handed to the user's own group: members of that group are other people.
void takeOverAttributes(int fd, const struct stat& old, const QByteArray& target) {
    mode_t mode = old.st_mode & 0777;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        const int err = errno;
        struct stat now {};
        if (::fstat(fd, &now) != 0 || now.st_gid != old.st_gid) {
            mode &= ~mode_t(070);
            qCInfo(lcFiles, "the group of %s cannot be kept (%s); its rights are cleared",
                   target.constData(), std::strerror(err));
        }
    }
    if (::fchmod(fd, mode) != 0)
        qCWarning(lcFiles, "the permissions of %s cannot be kept (%s)", target.constData(),
                  std::strerror(errno));
}

int realWriteAllAt(int fd, const char* data, qint64 size, off_t at) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t w = ::pwrite(fd, data + done, static_cast<size_t>(size - done), at + done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return w < 0 ? errno : EIO;
        done += w;
    }
    return 0;
}

int writeAllAt(int fd, const char* data, qint64 size, off_t at) {
    if (gCalls.write)
        return gCalls.write(fd, data, size, static_cast<long long>(at));
    return realWriteAllAt(fd, data, size, at);
}

int truncateTo(int fd, off_t length) {
    if (gCalls.truncate)
        return gCalls.truncate(fd, static_cast<long long>(length));
    return ::ftruncate(fd, length) == 0 ? 0 : errno;
}

// A file system that cannot sync (EINVAL) has nothing more to wait for.
int syncFile(int fd) {
    if (gCalls.sync)
        return gCalls.sync(fd);
    return ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
}

int readAllAt(int fd, QByteArray& into, qint64 size) {
    into.resize(size);
    qint64 done = 0;
    while (done < size) {
        const ssize_t r = ::pread(fd, into.data() + done, static_cast<size_t>(size - done), done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r < 0 ? errno : EIO;
        done += r;
    }
    return 0;
}

bool isRegularFile(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// An existing file written over where it is (never through a link). Until
// the new bytes are all there the old ones can be put back: room for the new
// length is reserved before the first byte is written, every old byte of a
// readable file is kept, and the file is cut to the new length only once the
// new bytes are on disk.
class InPlaceWrite {
  public:
    explicit InPlaceWrite(const QByteArray& target) : mTarget(target) {
        mFd = ::open(target.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        mReadable = mFd >= 0;
        // A file the user may write but not read relies on the reservation.
        if (mFd < 0 && errno == EACCES)
            mFd = ::open(target.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        mOpenError = mFd < 0 ? errno : 0;
    }
    ~InPlaceWrite() {
        if (mFd >= 0)
            ::close(mFd);
    }
    InPlaceWrite(const InPlaceWrite&) = delete;
    InPlaceWrite& operator=(const InPlaceWrite&) = delete;

    int openError() const { return mOpenError; }

    // 0 or the error; after an error a readable file holds what it held before.
    int write(const QByteArray& bytes) {
        struct stat st {};
        if (::fstat(mFd, &st) != 0)
            return errno;
        if (!S_ISREG(st.st_mode))
            return EINVAL;
        const off_t oldSize = st.st_size;
        const qint64 size = bytes.size();
        QByteArray kept;
        if (mReadable) {
            if (const int err = readAllAt(mFd, kept, oldSize))
                return err;
        }
        if (size > 0) {
            const int err = reserve(mFd, size);
            if (err != 0 && !(cannotReserve(err) && mReadable))
                return err; // nothing written yet
            if (err != 0)
                qCInfo(lcFiles, "%s: no room can be reserved here (%s); the old bytes are kept",
                       mTarget.constData(), std::strerror(err));
        }
        int err = writeAllAt(mFd, bytes.constData(), size, 0);
        if (err == 0)
            err = syncFile(mFd);
        if (err == 0 && size < oldSize) {
            err = truncateTo(mFd, size);
            if (err == 0)
                err = syncFile(mFd);
        }
        if (err != 0) {
            if (mReadable)
                putBack(kept);
            else
                qCWarning(lcFiles,
                          "%s: writing over it failed (%s) and it could not be read "
                          "before, so its old contents cannot be put back",
                          mTarget.constData(), std::strerror(err));
        }
        return err;
    }

    int close() {
        const int fd = std::exchange(mFd, -1);
        return ::close(fd) == 0 ? 0 : errno;
    }

  private:
    // Every old byte goes back where it was, and the file its old length.
    void putBack(const QByteArray& kept) {
        int err = writeAllAt(mFd, kept.constData(), kept.size(), 0);
        if (err == 0)
            err = truncateTo(mFd, kept.size());
        if (err == 0)
            err = syncFile(mFd);
        if (err != 0)
            qCWarning(lcFiles, "%s: the old contents could not be put back (%s)",
                      mTarget.constData(), std::strerror(err));
    }

    QByteArray mTarget;
    int mFd = -1;
    bool mReadable = false;
    int mOpenError = 0;
};

// The file a save to `path` means: where the name is a symbolic link, the
// file it names (through every link in turn), so the link stays and its file
// takes the new bytes, as editors do. That file need not exist. 0 or the error.
int followLinks(const QByteArray& path, QByteArray& file) {
    file = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(file.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        QByteArray to(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = ::readlink(file.constData(), to.data(), static_cast<size_t>(to.size()));
        if (n < 0)
            return errno;
        if (n >= to.size())
            return ENAMETOOLONG;
        to.truncate(n);
        if (!to.startsWith('/'))
            to.prepend(file.left(file.lastIndexOf('/') + 1));
        file = to;
    }
    return ELOOP;
}

// Writes the whole of in over the existing file at target; 0 or the error,
// with `opened` telling whether the file could be opened for writing at all.
int overwriteInPlace(QFile& in, const QByteArray& target, bool& opened) {
    InPlaceWrite file(target);
    opened = file.openError() == 0;
    if (!opened)
        return file.openError();
    if (!in.seek(0))
        return EIO;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return EIO;
    const int err = file.write(bytes);
    const int closed = file.close();
    return err != 0 ? err : closed;
}

} // namespace

namespace testing {
void setReserveForTests(ReserveCall reserve) {
    gCalls.reserve = reserve;
}
void setInPlaceCallsForTests(const InPlaceCalls& calls) {
    gCalls = calls;
}
int realWriteAt(int fd, const char* data, long long size, long long at) {
    return realWriteAllAt(fd, data, size, static_cast<off_t>(at));
}
void setCopyNameForTests(CopyNameCall next) {
    gCopyName = std::move(next);
}
} // namespace testing

bool fileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

void deleteFileQuietly(const QString& path) {
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

void writeBytesIfMissing(const QByteArray& bytes, const QString& path) {
    QCoreApplication::processEvents();
    // A window closed during that yield ends the program at once: write nothing.
    if (programEnded() || fileExists(path))
        return;
    ui::writeNewFile(bytes, path);
}

bool nameTaken(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

void copyFileWhole(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("File not found: %1").arg(source));
    const QByteArray named = QFile::encodeName(target);
    QByteArray t;
    if (const int err = followLinks(named, t))
        ui::throwFileError(err, target);
    // An error names the file the link points to, which the user may not know.
    auto fail = [&](int err) {
        if (t == named)
            ui::throwFileError(err, target);
        throw automation::Error(
            QStringLiteral("%1: %2 (the file the link %3 points to)")
                .arg(QString::fromLocal8Bit(std::strerror(err)), QFile::decodeName(t), target));
    };
    struct stat old {};
    const bool replacing = ::lstat(t.constData(), &old) == 0 && S_ISREG(old.st_mode);
    // A new file gets the usual permissions through the umask; a replacement
    // starts private and takes over the old file's before any byte is in it.
    QByteArray copy;
    const int fd = openCopyBeside(t, replacing ? 0600 : 0666, copy);
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (replacing)
            takeOverAttributes(fd, old, t);
        err = copyInto(in, fd);
        if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL)
            err = errno;
        if (::close(fd) != 0 && err == 0)
            err = errno;
        if (err == 0 && ::rename(copy.constData(), t.constData()) != 0)
            err = errno;
        if (err == 0)
            return;
        ::unlink(copy.constData());
    }
    // A folder that takes no new file, or a shared folder whose sticky bit
    // refuses replacing another's file, may still let the user write that
    // file: the old document is then written over where it is.
    if ((err == EACCES || err == EPERM) && isRegularFile(t)) {
        qCInfo(lcFiles, "cannot replace %s (%s); writing over it in place", t.constData(),
               std::strerror(err));
        bool opened = false;
        const int failed = overwriteInPlace(in, t, opened);
        if (failed == 0)
            return;
        if (opened)
            err = failed;
    }
    fail(err);
}

QString tempFolder() {
    const QString t = tempFromEnvironment();
    if (!t.isEmpty())
        return t;
    return privateTempFolder();
}

QString tempFolderName() {
    const QString t = tempFromEnvironment();
    return t.isEmpty() ? privateTempFolderBase() : t;
}

QString tempPath(const QString& name) {
    return tempFolder() + QLatin1Char('/') + name;
}

} // namespace common
