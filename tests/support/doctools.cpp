#include "doctools.h"

#include "childprocess.h"

#include <QFile>
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

QSize docPageTwips(const QString& doc) {
    QFile f(doc);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    auto sprm = [&b](const char* code) -> int {
        const qsizetype at = b.indexOf(QByteArray(code, 2));
        if (at < 0 || at + 4 > b.size())
            return -1;
        return uchar(b[at + 2]) | uchar(b[at + 3]) << 8;
    };
    const int w = sprm("\x1F\xB0"), h = sprm("\x20\xB0");
    return w > 0 && h > 0 ? QSize(w, h) : QSize();
}

} // namespace testsupport
