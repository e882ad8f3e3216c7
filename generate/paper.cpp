#include "paper.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <optional>

namespace generate {

namespace {

Q_LOGGING_CATEGORY(lcPaper, "veltrane.paper", QtInfoMsg)

// The two papers a template is built for; other sizes go to their family's.
std::optional<Paper> paperOfSize(unsigned widthMm, unsigned heightMm) {
    if (widthMm == 210 && heightMm == 297)
        return Paper::A4;
    if (widthMm == 216 && heightMm == 279)
        return Paper::Letter;
    return std::nullopt;
}

std::optional<Paper> paperOfName(const QString& raw) {
    const QString name = raw.trimmed().toLower();
    if (name == QLatin1String("a4"))
        return Paper::A4;
    if (name == QLatin1String("letter"))
        return Paper::Letter;
    static const QRegularExpression iso(QStringLiteral("^(?:[abc]\\d{1,2}|din.*|isob\\d+)$"));
    if (iso.match(name).hasMatch())
        return Paper::A4;
    for (const char* us : {"legal", "executive", "tabloid", "ledger", "statement", "halfletter",
                           "11x17", "note", "folio", "quarto", "10x14"})
        if (name == QLatin1String(us))
            return Paper::Letter;
    return std::nullopt;
}

// A word of locale data: nl_langinfo hands it out in the place of a pointer.
unsigned langinfoWord(nl_item item, locale_t loc) {
    const char* value = nl_langinfo_l(item, loc);
    unsigned word = 0;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

// LC_PAPER as the C library resolves it: LC_ALL, then LC_PAPER, then LANG.
std::optional<PaperChoice> localePaper() {
    QByteArray name;
    QByteArray variable;
    for (const char* v : {"LC_ALL", "LC_PAPER", "LANG"}) {
        name = qgetenv(v);
        variable = v;
        if (!name.isEmpty())
            break;
    }
    // The C locale says A4 for want of anything better; it is no choice.
    if (name.isEmpty() || name == "C" || name == "POSIX" || name.startsWith("C."))
        return std::nullopt;
    locale_t loc = ::newlocale(LC_PAPER_MASK, name.constData(), nullptr);
    if (!loc) {
        qCInfo(lcPaper, "the locale %s is not installed; its paper is not known", name.constData());
        return std::nullopt;
    }
    const unsigned width = langinfoWord(_NL_PAPER_WIDTH, loc);
    const unsigned height = langinfoWord(_NL_PAPER_HEIGHT, loc);
    ::freelocale(loc);
    const std::optional<Paper> paper = paperOfSize(width, height);
    if (!paper) {
        qCInfo(lcPaper, "the locale %s has paper of %u x %u mm, neither Letter nor A4",
               name.constData(), width, height);
        return std::nullopt;
    }
    return PaperChoice{*paper, QString::fromLocal8Bit(variable + '=' + name)};
}

// The first word of a papersize file, as libpaper reads it: '#' starts a comment.
QString firstWord(const QByteArray& content) {
    for (const QByteArray& line : content.split('\n')) {
        const QByteArray t = line.trimmed();
        if (!t.isEmpty() && !t.startsWith('#'))
            return QString::fromLocal8Bit(t.split(' ').first().split('\t').first());
    }
    return QString();
}

std::optional<PaperChoice> systemPaper() {
    const QString fromEnvironment = qEnvironmentVariable("PAPERSIZE").trimmed();
    if (!fromEnvironment.isEmpty()) {
        if (const auto paper = paperOfName(fromEnvironment))
            return PaperChoice{*paper, QStringLiteral("PAPERSIZE=") + fromEnvironment};
        qCInfo(lcPaper, "PAPERSIZE=%s is neither Letter nor A4 nor of their families",
               qPrintable(fromEnvironment));
        return std::nullopt;
    }
    QString file = qEnvironmentVariable("PAPERCONF");
    if (file.isEmpty())
        file = QStringLiteral("/etc/papersize");
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString name = firstWord(f.read(4096));
    if (const auto paper = paperOfName(name))
        return PaperChoice{*paper, file + QStringLiteral(": ") + name};
    qCInfo(lcPaper, "%s names paper \"%s\", neither Letter nor A4 nor of their families",
           qPrintable(file), qPrintable(name));
    return std::nullopt;
}

} // namespace

PaperChoice desktopPaper() {
    PaperChoice choice{Paper::Letter, QStringLiteral("no paper set")};
    if (const auto fromLocale = localePaper())
        choice = *fromLocale;
    else if (const auto fromSystem = systemPaper())
        choice = *fromSystem;
    qCDebug(lcPaper, "%s paper (%s)", choice.paper == Paper::A4 ? "A4" : "Letter",
            qPrintable(choice.source));
    return choice;
}

int builtInTemplateId(Paper paper) {
    return paper == Paper::A4 ? 102 : 101;
}

} // namespace generate
