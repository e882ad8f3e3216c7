#include "newfile.h"

#include "platform/automation/automation.h"

#include <QFile>
#include <cerrno>
#include <cstdlib>
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
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO);
        done += n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(partial.constData());
        throwFileError(err, path);
    }
    // link() never replaces an existing name and never follows one.
    const int linked = ::link(partial.constData(), p.constData());
    const int err = errno;
    ::unlink(partial.constData());
    if (linked != 0)
        throwFileError(err, path);
}

} // namespace ui
