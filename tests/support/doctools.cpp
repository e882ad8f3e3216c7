#include "doctools.h"

#include <QProcess>
#include <QStringList>

namespace testsupport {

namespace {

QString readerText(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000))
        return QStringLiteral("<%1 hung>").arg(program);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

QString antiwordText(const QString& doc) {
    return readerText(QStringLiteral("antiword"),
                      {QStringLiteral("-m"), QStringLiteral("UTF-8.txt"), doc});
}

QString catdocText(const QString& doc) {
    return readerText(QStringLiteral("catdoc"),
                      {QStringLiteral("-d"), QStringLiteral("utf-8"), QStringLiteral("-w"), doc});
}

} // namespace testsupport
