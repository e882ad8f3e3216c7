#include "shell.h"

#include "platform/ui/msgbox.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace app {

namespace {
QString& appPathOverride() {
    static QString p;
    return p;
}
bool gEnded = false;
int gExitCode = 0;
} // namespace

QString AppPath() {
    if (!appPathOverride().isEmpty())
        return appPathOverride();
    return QCoreApplication::applicationDirPath();
}

void setAppPathForTests(const QString& path) {
    appPathOverride() = path;
}

QString shortenTitle(const QString& name) {
    QString t = name;
    while (t.size() > 40) {
        const qsizetype space = t.lastIndexOf(QLatin1Char(' '));
        if (space < 0) {
            // No word left to cut: keep the first 40 characters.
            t.truncate(40);
            break;
        }
        t.truncate(space);
    }
    return t;
}

void ShortenAppTitle() {
    ui::setAppTitle(shortenTitle(QString::fromLatin1(kProductName)));
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/veltrane-%1.png").arg(size), QSize(size, size));
    return icon;
}

void releaseFreedMemorySoon() {
    // Half a second after the last preview shown: the preview is on screen by
    // then, and trimming takes a few milliseconds that nobody waits for.
    // Trimming here rather than giving each large buffer a mapping of its
    // own, which costs a page fault on every page of every copy of the
    // picture. Notices made one after the other put it off, so the next
    // one finds its buffers' pages still there instead of faulting them in.
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(500);
        QObject::connect(timer, &QTimer::timeout, [] {
#ifdef __GLIBC__
            malloc_trim(0);
#endif
        });
    }
    timer->start();
}

void readyAllocatorForPictures() {
#ifdef __GLIBC__
    // A page at 192 dpi in 32 bits, Legal paper with room to spare. Freeing
    // a mapped buffer raises the size from which buffers get mappings of
    // their own to its size: what the first generation would teach it.
    constexpr size_t kPageBytes = size_t(9 * 192) * size_t(14 * 192) * 4;
    void* page = std::malloc(kPageBytes);
    if (!page)
        return;
    // Written to, so the pair is not optimised away.
    static_cast<volatile char*>(page)[0] = 0;
    std::free(page);
#endif
}

void EndProgram(int exitCode) {
    gEnded = true;
    gExitCode = exitCode;
    // Deleting a window does not run its closing handlers; hide first so
    // nothing is seen between now and the deferred delete.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w->parentWidget() == nullptr) {
            w->hide();
            w->deleteLater();
        }
    }
    QCoreApplication::exit(exitCode);
}

bool programEnded() {
    return gEnded;
}
int programExitCode() {
    return gExitCode;
}
void resetProgramEndedForTests() {
    gEnded = false;
    gExitCode = 0;
}

} // namespace app
