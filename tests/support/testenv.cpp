#include "testenv.h"

#include "childprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {
QString gRoot;

struct Cleanup {
    ~Cleanup() {
        if (!gRoot.isEmpty())
            QDir(gRoot).removeRecursively();
    }
} gCleanup;
} // namespace

void isolateEnvironment() {
    QByteArray templ = QDir::tempPath().toLocal8Bit() + "/veltrane-test-XXXXXX";
    if (!::mkdtemp(templ.data()))
        std::abort();
    gRoot = QString::fromLocal8Bit(templ);
    const QStringList dirs{QStringLiteral("home"), QStringLiteral("config"),
                           QStringLiteral("cache"), QStringLiteral("tmp")};
    for (const QString& d : dirs)
        QDir(gRoot).mkpath(d);
    ::setenv("HOME", QFile::encodeName(gRoot + QStringLiteral("/home")).constData(), 1);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(gRoot + QStringLiteral("/config")).constData(),
             1);
    ::setenv("XDG_CACHE_HOME", QFile::encodeName(gRoot + QStringLiteral("/cache")).constData(), 1);
    ::setenv("TEMP", QFile::encodeName(gRoot + QStringLiteral("/tmp")).constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(gRoot).constData(), 1);
    // An own template that someone installed on the machine for every user
    // (/usr/local/share/veltrane) must not stand in for the built-in one. The
    // office still needs the system's shared data.
    ::setenv("XDG_DATA_HOME", QFile::encodeName(gRoot + QStringLiteral("/data")).constData(), 1);
    ::setenv("XDG_DATA_DIRS", "/usr/share", 1);
    ::unsetenv("temp");
    ::unsetenv("Temp");
    // The built-in template's paper follows the desktop's; tests get Letter
    // unless they ask for another. LC_ALL would stand above LC_PAPER: the
    // other categories keep its value through LANG.
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty()) {
        for (const char* v :
             {"LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES",
              "LC_NAME", "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"})
            ::unsetenv(v);
        ::setenv("LANG", all.constData(), 1);
        ::unsetenv("LC_ALL");
    }
    ::setenv("LC_PAPER", "C", 1);
    ::setenv("PAPERSIZE", "letter", 1);
    ::unsetenv("PAPERCONF");
}

QString provideLocale(const QString& name) {
    const QString folder = gRoot + QStringLiteral("/locales");
    if (QFileInfo::exists(folder + QLatin1Char('/') + name + QStringLiteral("/LC_PAPER"))) {
        ::setenv("LOCPATH", QFile::encodeName(folder).constData(), 1);
        return QString();
    }
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const QString source = name.left(dot);
    const QString charmap = dot < 0 ? QStringLiteral("UTF-8") : name.mid(dot + 1);
    if (!QFileInfo::exists(QStringLiteral("/usr/share/i18n/locales/") + source))
        return QStringLiteral("no locale source for %1 (Debian: locales)").arg(name);
    QDir().mkpath(folder);
    ChildProcess localedef;
    localedef.setEnvironment(QProcessEnvironment::systemEnvironment());
    localedef.setMergedChannels(true);
    if (!localedef.start(QStringLiteral("localedef"),
                         {QStringLiteral("-i"), source, QStringLiteral("-f"), charmap,
                          folder + QLatin1Char('/') + name}))
        return QStringLiteral("localedef cannot be run (Debian: libc-bin)");
    // Warnings about the source are common and harmless; the files are what count.
    localedef.waitForFinished(60000);
    if (!QFileInfo::exists(folder + QLatin1Char('/') + name + QStringLiteral("/LC_PAPER")))
        return QStringLiteral("localedef made no %1: %2")
            .arg(name, QString::fromLocal8Bit(localedef.readAll()));
    ::setenv("LOCPATH", QFile::encodeName(folder).constData(), 1);
    return QString();
}

QString sandboxRoot() {
    return gRoot;
}

MsgBoxRecorder::MsgBoxRecorder(int fixed) {
    answer = [fixed](const ui::MsgBoxRequest&) { return fixed; };
    ui::setMsgBoxHandler([this](const ui::MsgBoxRequest& r) {
        seen.append(r);
        return answer(r);
    });
}

MsgBoxRecorder::~MsgBoxRecorder() {
    ui::setMsgBoxHandler({});
}

QStringList MsgBoxRecorder::prompts() const {
    QStringList out;
    for (const auto& r : seen)
        out << r.prompt;
    return out;
}

SaveDialogRecorder::SaveDialogRecorder(QString p) : path(std::move(p)) {
    ui::setSaveDialogHandler([this](const ui::SaveDialogRequest& r) {
        seen.append(r);
        return path;
    });
}

SaveDialogRecorder::~SaveDialogRecorder() {
    ui::setSaveDialogHandler({});
}

PrintDialogRecorder::PrintDialogRecorder(ui::PrintChoice c) : choice(std::move(c)) {
    ui::setPrintDialogHandler([this](const ui::PrintDialogRequest& r) {
        seen.append(r);
        return choice;
    });
}

PrintDialogRecorder::~PrintDialogRecorder() {
    ui::setPrintDialogHandler({});
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

Sealed::Sealed(const QString& path) : mPath(QFile::encodeName(path)) {
    sealed = set(true);
}

Sealed::~Sealed() {
    if (sealed)
        set(false);
}

bool Sealed::set(bool on) {
    struct stat st {};
    if (::lstat(mPath.constData(), &st) != 0)
        return false;
    if (::geteuid() != 0) // permission bits are enough for anyone else
        return ::chmod(mPath.constData(), on ? (st.st_mode & 07555) : (st.st_mode | S_IWUSR)) == 0;
    const int fd = ::open(mPath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace testsupport
