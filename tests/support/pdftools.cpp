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

QSizeF pdfPageSize(const QString& path, int page) {
    bool ok = false;
    const QString p = QString::number(page > 0 ? page : 1);
    const QString info = run(QStringLiteral("pdfinfo"),
                             {QStringLiteral("-f"), p, QStringLiteral("-l"), p, path}, &ok);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Page\\s+\\d+ size:\\s+([\\d.]+) x ([\\d.]+) pts"),
                           QRegularExpression::MultilineOption)
            .match(info);
    return ok && m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble())
                              : QSizeF();
}

QRectF pdfInkBox(const QString& path, int page) {
    ChildProcess p;
    const QString n = QString::number(page);
    if (!p.start(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-gray"),
                  QStringLiteral("-f"), n, QStringLiteral("-l"), n, path}) ||
        !p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    // A binary PGM: "P5\n<w> <h>\n255\n" and a byte per pixel.
    const QByteArray pgm = p.readAllStandardOutput();
    const QList<QByteArray> head = pgm.left(64).split('\n');
    if (head.size() < 4 || head[0] != "P5")
        return {};
    const QList<QByteArray> dims = head[1].split(' ');
    const int w = dims.value(0).toInt(), h = dims.value(1).toInt();
    const qsizetype start = head[0].size() + head[1].size() + head[2].size() + 3;
    if (w <= 0 || h <= 0 || pgm.size() < start + qsizetype(w) * h)
        return {};
    const auto* px = reinterpret_cast<const uchar*>(pgm.constData() + start);
    int left = w, right = -1, top = h, bottom = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (px[qsizetype(y) * w + x] < 250) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0)
        return {};
    return QRectF(left, top, right - left + 1, bottom - top + 1);
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
