#include "commandline.h"

#include "app/fillcommand.h"
#include "generate/paper.h"
#include "generate/template.h"
#include "platform/automation/automation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>
#include <optional>
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
    "own template keeps its own paper.\n"
    "\n"
    "Notices from a script, without the window or a display:\n"
    "  veltrane --fill FACTS.json --output NOTICE.doc\n"
    "  veltrane --fill-list LIST.csv --output-dir FOLDER [--format doc|pdf|docx|odt]\n"
    "           [--jobs N]\n"
    "FACTS is a JSON object (or - for standard input) with the nine facts as\n"
    "strings, under the keys employeeName, manager, department, infraction,\n"
    "improvement, consequences, jobTitle, date and employeeId. A LIST is a CSV\n"
    "file as spreadsheets save it, whose first row names the same nine columns;\n"
    "each further row makes one notice, named from its employee ID and name.\n"
    "The notice's kind follows the output's extension: .doc (Word 97-2003), .pdf\n"
    "(PDF/A-2b), .docx or .odt. Existing files are kept unless --force is given.\n"
    "Exit status: 0 done, 1 a notice could not be made, 2 bad input or options,\n"
    "130 or 143 when stopped by Ctrl+C or SIGTERM.";

// Qt's own options, which the window's application takes: with a value, and
// without. Qt accepts them with one dash or two.
const char* const kQtOptionsWithValue[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "session",
                                           "display",
                                           "geometry",
                                           "title",
                                           "name",
                                           "style",
                                           "stylesheet",
                                           "qmljsdebugger",
                                           "dialogs",
                                           "fontengine",
                                           "visual",
                                           "ncols",
                                           "cmap",
                                           "im",
                                           "inputstyle"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb",
                                "dograb",  "sync",        "testability"};

void say(FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// How many arguments from args[i] on are one of Qt's own options: 0 when
// args[i] is not one.
qsizetype qtOption(const QStringList& args, qsizetype i) {
    QString arg = args[i];
    if (arg.startsWith(QLatin1String("--")))
        arg.remove(0, 1);
    if (!arg.startsWith(QLatin1Char('-')))
        return 0;
    const QString name = arg.mid(1).section(QLatin1Char('='), 0, 0);
    const bool valueAttached = arg.contains(QLatin1Char('='));
    for (const char* flag : kQtFlags)
        if (name == QLatin1String(flag) && !valueAttached)
            return 1;
    for (const char* option : kQtOptionsWithValue)
        if (name == QLatin1String(option))
            return valueAttached || i + 1 >= args.size() ? 1 : 2;
    return 0;
}

int refuse(const QString& why) {
    say(stderr, QStringLiteral("veltrane: %1; try 'veltrane --help'\n").arg(why));
    return 2;
}

int writeTemplate(const QString& path, bool force) {
    const generate::Paper paper = generate::desktopPaper().paper;
    QByteArray bytes;
    try {
        bytes = generate::loadResData(generate::builtInTemplateId(paper), QStringLiteral("CUSTOM"));
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

// The command line's own options, in the order the help lists them.
struct Options {
    Options() {
        parser.setApplicationDescription(QString::fromLatin1(kDescription));
        for (const auto* option : {&help, &version, &write, &fill, &output, &fillList, &outputDir,
                                   &format, &jobs, &force})
            parser.addOption(*option);
    }

    QCommandLineParser parser;
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit.")};
    const QCommandLineOption write{
        QStringLiteral("write-template"),
        QStringLiteral("Write the built-in template to <file> and exit."), QStringLiteral("file")};
    const QCommandLineOption fill{
        QStringLiteral("fill"),
        QStringLiteral("Make one notice from the facts in the JSON file <facts> (- for standard "
                       "input); needs --output."),
        QStringLiteral("facts")};
    const QCommandLineOption output{
        QStringLiteral("output"),
        QStringLiteral("With --fill: the notice's file; its extension (.doc, .pdf, .docx, .odt) "
                       "sets its kind."),
        QStringLiteral("file")};
    const QCommandLineOption fillList{
        QStringLiteral("fill-list"),
        QStringLiteral("Make one notice for each row of the CSV file <list>; needs --output-dir."),
        QStringLiteral("list")};
    const QCommandLineOption outputDir{
        QStringLiteral("output-dir"),
        QStringLiteral("With --fill-list: the folder the notices go to (made when missing)."),
        QStringLiteral("folder")};
    const QCommandLineOption format{
        QStringLiteral("format"),
        QStringLiteral("With --fill-list: the notices' kind, doc (the default), pdf, docx or odt."),
        QStringLiteral("kind")};
    const QCommandLineOption jobs{
        QStringLiteral("jobs"),
        QStringLiteral("With --fill-list: how many notices are made side by side, each by a word "
                       "processor of its own (default: the number of cores, at most 4)."),
        QStringLiteral("n")};
    const QCommandLineOption force{
        QStringLiteral("force"),
        QStringLiteral("With --write-template, --fill or --fill-list: replace files that exist.")};
};

// The arguments the command line answers (the program's name first, Qt's own
// options left out); nothing when none of them looks like an option, and the
// window starts.
std::optional<QStringList> ourArguments(const QStringList& args) {
    // Qt's own options stay with the window; anything else that looks like
    // an option is the command line's to answer.
    QStringList ours{args.value(0)};
    bool any = false;
    for (qsizetype i = 1; i < args.size();) {
        if (const qsizetype n = qtOption(args, i)) {
            i += n;
            continue;
        }
        any |= args[i].startsWith(QLatin1Char('-')) && args[i] != QLatin1String("-");
        ours << args[i++];
    }
    if (!any)
        return std::nullopt;
    return ours;
}

// Refuses what the parser could not read; an unknown option is named as
// typed, dashes and all.
int refuseUnreadable(const QCommandLineParser& parser, const QStringList& ours) {
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString& arg : ours.mid(1)) {
        QString bare = arg.section(QLatin1Char('='), 0, 0);
        while (bare.startsWith(QLatin1Char('-')))
            bare.remove(0, 1);
        if (arg.startsWith(QLatin1Char('-')) && unknown.contains(bare))
            return refuse(
                QStringLiteral("unknown option '%1'").arg(arg.section(QLatin1Char('='), 0, 0)));
    }
    QString why = parser.errorText();
    if (why.endsWith(QLatin1Char('.')))
        why.chop(1);
    return refuse(why.left(1).toLower() + why.mid(1));
}

// Why the options given cannot go together, or "": one task at a time, and
// the options that serve a task only with one.
QString mismatch(const Options& o) {
    const QCommandLineParser& parser = o.parser;
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    const int tasks =
        int(parser.isSet(o.write)) + int(parser.isSet(o.fill)) + int(parser.isSet(o.fillList));
    if (tasks > 1)
        return QStringLiteral("--write-template, --fill and --fill-list go one at a time");
    if (tasks == 0) {
        for (const auto* option : {&o.output, &o.outputDir, &o.format, &o.jobs, &o.force})
            if (parser.isSet(*option))
                return QStringLiteral("--%1 needs --write-template, --fill or --fill-list")
                    .arg(option->names().constFirst());
    }
    return QString();
}

// "--x does not go with --task" for the first of others given, or "".
QString onlyWith(const QCommandLineParser& parser, const QCommandLineOption& task,
                 std::initializer_list<const QCommandLineOption*> others) {
    for (const auto* option : others)
        if (parser.isSet(*option))
            return QStringLiteral("--%1 does not go with --%2")
                .arg(option->names().constFirst(), task.names().constFirst());
    return QString();
}

int runWriteTemplate(const Options& o) {
    if (const QString why =
            onlyWith(o.parser, o.write, {&o.output, &o.outputDir, &o.format, &o.jobs});
        !why.isEmpty())
        return refuse(why);
    const QString path = o.parser.value(o.write);
    if (path.isEmpty())
        return refuse(QStringLiteral("--write-template needs a file name"));
    return writeTemplate(path, o.parser.isSet(o.force));
}

int runFill(const Options& o) {
    if (const QString why = onlyWith(o.parser, o.fill, {&o.outputDir, &o.format, &o.jobs});
        !why.isEmpty())
        return refuse(why);
    FillOptions options;
    options.force = o.parser.isSet(o.force);
    options.facts = o.parser.value(o.fill);
    options.output = o.parser.value(o.output);
    if (options.facts.isEmpty())
        return refuse(QStringLiteral("--fill needs a file of facts (or - for standard input)"));
    if (options.output.isEmpty())
        return refuse(QStringLiteral("--fill needs --output FILE"));
    return fillOne(options);
}

int runFillList(const Options& o) {
    const QCommandLineParser& parser = o.parser;
    if (const QString why = onlyWith(parser, o.fillList, {&o.output}); !why.isEmpty())
        return refuse(why);
    FillOptions options;
    options.force = parser.isSet(o.force);
    options.list = parser.value(o.fillList);
    options.outputDir = parser.value(o.outputDir);
    if (options.list.isEmpty())
        return refuse(QStringLiteral("--fill-list needs a CSV file"));
    if (options.outputDir.isEmpty())
        return refuse(QStringLiteral("--fill-list needs --output-dir FOLDER"));
    if (parser.isSet(o.format)) {
        const auto kind = generate::noticeFormatNamed(parser.value(o.format));
        if (!kind)
            return refuse(QStringLiteral("--format is doc, pdf, docx or odt, not '%1'")
                              .arg(parser.value(o.format)));
        options.format = *kind;
    }
    if (parser.isSet(o.jobs)) {
        bool ok = false;
        options.jobs = parser.value(o.jobs).toInt(&ok);
        if (!ok || options.jobs < 1 || options.jobs > 64)
            return refuse(QStringLiteral("--jobs is a number from 1 to 64, not '%1'")
                              .arg(parser.value(o.jobs)));
    }
    return fillList(options);
}

} // namespace

int runCommandLine(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const std::optional<QStringList> ours = ourArguments(args);
    if (!ours)
        return -1;

    // No window is needed to answer; this works without a display. The help
    // names the command as a user types it.
    int coreArgc = 1;
    char name[] = "veltrane";
    char* coreArgv[] = {name, nullptr};
    QCoreApplication core(coreArgc, coreArgv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRANE_VERSION));

    // A worker of a list, started by the list itself.
    if (args.size() == 4 && args[1] == QLatin1String("--fill-worker"))
        return fillWorker(args[2], args[3]);

    Options o;
    if (!o.parser.parse(*ours))
        return refuseUnreadable(o.parser, *ours);
    if (o.parser.isSet(o.help)) {
        say(stdout, o.parser.helpText());
        return 0;
    }
    if (o.parser.isSet(o.version)) {
        say(stdout, QStringLiteral("veltrane %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (const QString why = mismatch(o); !why.isEmpty())
        return refuse(why);
    if (o.parser.isSet(o.write))
        return runWriteTemplate(o);
    if (o.parser.isSet(o.fill))
        return runFill(o);
    return runFillList(o);
}

} // namespace app
