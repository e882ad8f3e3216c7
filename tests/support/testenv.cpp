#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
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
    ::unsetenv("temp");
    ::unsetenv("Temp");
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

} // namespace testsupport
