#include "commandline.h"

#include "generate/paper.h"
#include "generate/template.h"
#include "platform/automation/automation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>
#include <sys/stat.h>

namespace app {

namespace {

const char* const kDescription =
    "Makes employee warning notices: type nine facts about the warning, and the\n"
    "program fills its template through LibreOffice Writer and saves the finished\n"
    "notice as a Word 97-2003 document.\n"
    "\n"
    "An organisation's own template replaces the built-in one: the first\n"
    "veltrane/template.dot found in $XDG_DATA_HOME (~/.local/share) or in a\n"
    "folder of $XDG_DATA_DIRS (/usr/local/share:/usr/share). Write the built-in\n"
    "template with --write-template as a starting point.\n"
    "\n"
    "The built-in template comes on A4 or Letter paper: the paper of the locale\n"
    "(LC_PAPER), else the system's (PAPERSIZE, /etc/papersize), else Letter. An\n"
    "own template keeps its own paper.";

void say(FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

bool ours(const QString& arg) {
    for (const char* name : {"-h", "--help", "-v", "--version", "--write-template"})
        if (arg == QLatin1String(name) || arg.startsWith(QLatin1String(name) + QLatin1Char('=')))
            return true;
    return false;
}

int writeTemplate(const QString& path, bool force) {
    const generate::Paper paper = generate::desktopPaper().paper;
    QByteArray bytes;
    try {
        bytes = generate::LoadResData(generate::builtInTemplateId(paper), QStringLiteral("CUSTOM"));
    } catch (const automation::Error& e) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(e.description()));
        return 1;
    }
    struct stat st {};
    const bool exists = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    if (exists && !force) {
        say(stderr,
            QStringLiteral("veltrane: %1 already exists; add --force to replace it\n").arg(path));
        return 1;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        say(stderr, QStringLiteral("veltrane: %1 is a folder\n").arg(path));
        return 1;
    }
    QString error;
    if (exists) {
        // Replaced whole, or not at all.
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
            error = out.errorString();
    } else {
        // Never writes through something that appears under the name meanwhile.
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            out.write(bytes) != bytes.size() || !out.flush()) {
            error = out.errorString();
            if (out.isOpen())
                out.remove();
        }
    }
    if (!error.isEmpty()) {
        say(stderr, QStringLiteral("veltrane: cannot write %1: %2\n").arg(path, error));
        return 1;
    }
    say(stdout,
        QStringLiteral(
            "Wrote the built-in template, on %2 paper, to %1.\n"
            "Open it in a word processor, put your organisation's name and logo in, keep the\n"
            "nine placeholders such as [EmployeeName], and save it as a Word 97-2003 template.\n"
            "Then copy it to ~/.local/share/veltrane/template.dot (for you) or to\n"
            "/usr/local/share/veltrane/template.dot (for every user of this computer).\n"
            "Notices made from it keep the paper it is saved with.\n")
            .arg(path,
                 paper == generate::Paper::A4 ? QStringLiteral("A4") : QStringLiteral("Letter")));
    return 0;
}

} // namespace

int runCommandLine(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    bool any = false;
    for (qsizetype i = 1; i < args.size(); ++i)
        any |= ours(args[i]);
    if (!any)
        return -1;

    // No window is needed to answer; this works without a display. The help
    // names the command as a user types it.
    int coreArgc = 1;
    char name[] = "veltrane";
    char* coreArgv[] = {name, nullptr};
    QCoreApplication core(coreArgc, coreArgv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRANE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    parser.addOption(help);
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(version);
    const QCommandLineOption write(
        QStringLiteral("write-template"),
        QStringLiteral("Write the built-in template to <file> and exit."), QStringLiteral("file"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("With --write-template: replace <file> if it "
                                                  "exists."));
    parser.addOption(write);
    parser.addOption(force);

    if (!parser.parse(args)) {
        say(stderr,
            QStringLiteral("veltrane: %1\nTry 'veltrane --help'.\n").arg(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        say(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        say(stdout, QStringLiteral("veltrane %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QString path = parser.value(write);
    if (path.isEmpty()) {
        say(stderr, QStringLiteral("veltrane: --write-template needs a file name\n"));
        return 2;
    }
    return writeTemplate(path, parser.isSet(force));
}

} // namespace app
