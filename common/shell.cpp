#include "shell.h"

#include "platform/ui/msgbox.h"

#include <QCoreApplication>

namespace common {

namespace {
QString& appPathOverride() {
    static QString p;
    return p;
}
} // namespace

QString appPath() {
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

void shortenAppTitle() {
    ui::setAppTitle(shortenTitle(QString::fromLatin1(kProductName)));
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {32, 48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/veltrane-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace common
