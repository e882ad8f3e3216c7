#include "doctools.h"

#include "childprocess.h"

#include <QStringList>

namespace testsupport {

namespace {

QString readerText(const QString& program, const QStringList& args) {
    ChildProcess p;
    if (!p.start(program, args))
        return QStringLiteral("<%1 not found>").arg(program);
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

QByteArray zipMember(const QString& zip, const QString& member) {
    ChildProcess p;
    if (!p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, member}) ||
        !p.waitForFinished(30000))
        return {};
    return p.readAllStandardOutput();
}

} // namespace testsupport
