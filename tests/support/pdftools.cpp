#include "pdftools.h"

#include "childprocess.h"

#include <QRegularExpression>

namespace testsupport {

namespace {

QString run(const QString& program, const QStringList& args, bool* ok = nullptr) {
    ChildProcess p;
    const bool done = p.start(program, args) && p.waitForFinished(60000) && p.exitedNormally() &&
                      p.exitCode() == 0;
    if (ok)
        *ok = done;
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

int pdfPageCount(const QString& path) {
    bool ok = false;
    const QString info = run(QStringLiteral("pdfinfo"), {path}, &ok);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(info);
    return ok && m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString pdfText(const QString& path, int page) {
    QStringList args{QStringLiteral("-enc"), QStringLiteral("UTF-8")};
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    return run(QStringLiteral("pdftotext"), args << path << QStringLiteral("-")).simplified();
}

QStringList pdfFontsNotEmbedded(const QString& path) {
    bool ok = false;
    const QStringList lines = run(QStringLiteral("pdffonts"), {path}, &ok).split(QLatin1Char('\n'));
    if (!ok || lines.size() < 2)
        return {QStringLiteral("?")};
    // The header's dashes mark the columns; "emb" is the fourth after the name.
    const QList<QStringView> dashes = QStringView(lines[1]).split(QLatin1Char(' '));
    QStringList missing;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        qsizetype col = 0;
        QString name, emb;
        for (qsizetype k = 0; k < dashes.size(); ++k) {
            const QString field = lines[i].mid(col, dashes[k].size()).trimmed();
            if (k == 0)
                name = field;
            if (k == 3)
                emb = field;
            col += dashes[k].size() + 1;
        }
        if (emb != QLatin1String("yes"))
            missing << name;
    }
    return missing;
}

QString pdfaClaim(const QString& path) {
    const QString xmp = run(QStringLiteral("pdfinfo"), {QStringLiteral("-meta"), path});
    auto value = [&](const char* key) {
        const QString k = QLatin1String(key);
        const QRegularExpression re(QStringLiteral("pdfaid:%1(?:=\"([^\"]*)\"|>([^<]*)<)").arg(k));
        const QRegularExpressionMatch m = re.match(xmp);
        return m.hasMatch() ? (m.captured(1) + m.captured(2)).trimmed() : QString();
    };
    const QString part = value("part");
    return part.isEmpty() ? QString() : part + value("conformance").toUpper();
}

} // namespace testsupport
