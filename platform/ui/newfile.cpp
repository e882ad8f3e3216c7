#include "newfile.h"

#include "platform/automation/automation.h"

#include <QFile>
#include <QLoggingCategory>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace ui {

namespace {

Q_LOGGING_CATEGORY(lcNewFile, "veltrane.files")

int realLink(const char* from, const char* to) {
    return ::link(from, to);
}

int realRenameNoReplace(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

testing::PathCall gLink = realLink;
testing::PathCall gRenameNoReplace = realRenameNoReplace;

// vfat, exFAT and some network mounts have no hard links.
bool noHardLinks(int err) {
    return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EXDEV || err == EMLINK;
}

// Older kernels and some file systems (NFS, FUSE) refuse the flag.
bool noRenameNoReplace(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Where neither works: claim the name with an empty file of our own (which
// refuses any name already taken, a planted link included), then move the
// finished file over that claim. Only the empty claim is ever visible under
// the name, and only between two calls.
int claimAndMove(const char* partial, const char* path) {
    const int claim = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (claim < 0)
        return errno;
    struct stat mine {};
    const bool known = ::fstat(claim, &mine) == 0;
    ::close(claim);
    struct stat now {};
    if (!known || ::lstat(path, &now) != 0 || now.st_dev != mine.st_dev ||
        now.st_ino != mine.st_ino)
        return EEXIST; // no longer our claim: leave it alone
    if (::rename(partial, path) != 0) {
        const int err = errno;
        ::unlink(path);
        return err;
    }
    return 0;
}

// Puts the finished hidden file under its name without ever replacing what is
// there. Returns 0 or the error.
int moveIntoPlace(const char* partial, const char* path) {
    if (gLink(partial, path) == 0)
        return 0;
    int err = errno;
    if (!noHardLinks(err))
        return err;
    qCInfo(lcNewFile, "no hard links for %s (%s); renaming instead", path, std::strerror(err));
    if (gRenameNoReplace(partial, path) == 0)
        return 0;
    err = errno;
    if (!noRenameNoReplace(err))
        return err;
    qCInfo(lcNewFile, "no exclusive rename for %s (%s); claiming the name first", path,
           std::strerror(err));
    return claimAndMove(partial, path);
}

} // namespace

namespace testing {
void setPathCallsForTests(PathCall link, PathCall renameNoReplace) {
    gLink = link ? link : realLink;
    gRenameNoReplace = renameNoReplace ? renameNoReplace : realRenameNoReplace;
}
} // namespace testing

void throwFileError(int err, const QString& path) {
    throw automation::Error(
        QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(std::strerror(err)), path));
}

void writeNewFile(const QByteArray& bytes, const QString& path) {
    writeNewFile(QList<QByteArrayView>{QByteArrayView(bytes)}, path);
}

void writeNewFile(const QList<QByteArrayView>& pieces, const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    const qsizetype slash = p.lastIndexOf('/');
    QByteArray partial = p.left(slash + 1) + "." + p.mid(slash + 1) + ".partial-XXXXXX";
    const int fd = ::mkostemp(partial.data(), O_CLOEXEC);
    if (fd < 0)
        throwFileError(errno, path);
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(partial.constData());
        throwFileError(err, path);
    };
    // Up to IOV_MAX pieces a call; a short write goes on where it stopped.
    qsizetype piece = 0;
    qsizetype offset = 0; // into pieces[piece]
    std::vector<iovec> batch;
    while (piece < pieces.size()) {
        batch.clear();
        for (qsizetype i = piece; i < pieces.size() && batch.size() < IOV_MAX; ++i) {
            const qsizetype skip = i == piece ? offset : 0;
            if (pieces[i].size() > skip)
                batch.push_back({const_cast<char*>(pieces[i].data() + skip),
                                 static_cast<size_t>(pieces[i].size() - skip)});
        }
        if (batch.empty())
            break;
        const ssize_t n = ::writev(fd, batch.data(), static_cast<int>(batch.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO);
        qsizetype left = n;
        while (piece < pieces.size() && left >= pieces[piece].size() - offset) {
            left -= pieces[piece].size() - offset;
            ++piece;
            offset = 0;
        }
        offset += left;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(partial.constData());
        throwFileError(err, path);
    }
    const int err = moveIntoPlace(partial.constData(), p.constData());
    // After a link both names hold the file; after a move this finds nothing.
    ::unlink(partial.constData());
    if (err != 0)
        throwFileError(err, path);
}

} // namespace ui
