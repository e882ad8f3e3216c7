#include "newfile.h"

#include "platform/automation/automation.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ui {

void throwFileError(int err, const QString& path) {
    throw automation::Error(
        QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(std::strerror(err)), path));
}

void writeNewFile(const QByteArray& bytes, const QString& path) {
    const QByteArray p = QFile::encodeName(path);
    // O_EXCL also refuses a dangling link planted at the path.
    const int fd =
        ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throwFileError(errno, path);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(p.constData()); // a half-written file would be taken as whole next time
            throwFileError(err, path);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(p.constData());
        throwFileError(err, path);
    }
}

} // namespace ui
