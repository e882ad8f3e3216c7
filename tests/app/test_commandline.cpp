// The program's command line, run as a user runs it: the options answer in
// the terminal and exit, without a display, a settings store or an office.

#include "generate/template.h"
#include "tests/support/childprocess.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

// Runs the program without a display and with a HOME of its own; anything it
// would start (an office, a window) would show up as a hang or in that HOME.
Run veltrane(const QStringList& args) {
    testsupport::ChildProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setEnvironment(env);
    p.setWorkingDirectory(testsupport::sandboxRoot());
    if (!p.start(QStringLiteral(VELTRANE_EXECUTABLE), args))
        return {-1, QString(), QStringLiteral("cannot start the program")};
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(-1);
        return {};
    }
    return {p.exitedNormally() ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
    QString dir;

  private slots:
    void init() {
        dir = testsupport::sandboxRoot() + QStringLiteral("/out");
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
    }

    void writeTemplateWritesTheBuiltInTemplateByteForByte() {
        const QString file = dir + QStringLiteral("/start.dot");
        const Run r = veltrane({QStringLiteral("--write-template"), file});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QByteArray written = testsupport::readFile(file);
        QCOMPARE(written, generate::loadResData(101, QStringLiteral("CUSTOM")));
        QCOMPARE(written, testsupport::readFile(QStringLiteral(
                              VELTRANE_SOURCE_DIR "/resources/template/template.dot")));
        QVERIFY(r.out.contains(QStringLiteral("~/.local/share/veltrane/template.dot")));
        // Nothing else was started or written.
        QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("start.dot")});
        QVERIFY(
            !QFile::exists(testsupport::sandboxRoot() + QStringLiteral("/config/Ardmoor.conf")));
    }

    void anExistingFileIsReplacedOnlyWithForce() {
        const QString file = dir + QStringLiteral("/mine.dot");
        testsupport::writeFile(file, "the user's own work");
        Run r = veltrane({QStringLiteral("--write-template"), file});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(file) && r.err.contains(QStringLiteral("--force")),
                 qPrintable(r.err));
        QCOMPARE(testsupport::readFile(file), QByteArray("the user's own work"));

        // A link is something there too; what it points at stays as it was.
        const QString link = dir + QStringLiteral("/link.dot");
        QVERIFY(QFile::link(file, link));
        QCOMPARE(veltrane({QStringLiteral("--write-template=") + link}).status, 1);
        QCOMPARE(testsupport::readFile(file), QByteArray("the user's own work"));

        r = veltrane({QStringLiteral("--force"), QStringLiteral("--write-template"), file});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(testsupport::readFile(file), generate::loadResData(101, QStringLiteral("CUSTOM")));
    }

    void helpVersionAndMistakesAnswerInTheTerminal() {
        Run r = veltrane({QStringLiteral("--help")});
        QCOMPARE(r.status, 0);
        for (const char* word : {"--write-template", "--force", "--version", "XDG_DATA_HOME",
                                 "XDG_DATA_DIRS", "veltrane/template.dot"})
            QVERIFY2(r.out.contains(QLatin1String(word)), word);
        QCOMPARE(veltrane({QStringLiteral("-h")}).out, r.out);

        r = veltrane({QStringLiteral("--version")});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("veltrane " VELTRANE_VERSION "\n"));

        r = veltrane({QStringLiteral("--write-template")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.out.isEmpty() && !r.err.isEmpty());

        r = veltrane(
            {QStringLiteral("--write-template"), dir + QStringLiteral("/no/such/folder/t.dot")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(QStringLiteral("cannot write")));
    }

    // Once the window opened for these, or aborted without a display.
    void mistakenOptionsAreRefusedInOneLine() {
        const QList<std::pair<QStringList, const char*>> cases = {
            {{"--bogus"}, "'--bogus'"},
            {{"-platform", "offscreen", "--bogus=1"}, "'--bogus'"},
            {{"--force"}, "--force"},
            {{"--fill"}, "'--fill'"},
            {{"--jobs", "2"}, "--jobs"},
            {{"--fill", "f.json"}, "--output"},
            {{"--fill-list", "l.csv", "--output-dir", "o", "--jobs", "0"}, "--jobs"},
            {{"--fill-list", "l.csv", "--output-dir", "o", "--format", "rtf"}, "'rtf'"},
            {{"--fill", "f.json", "--output", "a.doc", "--jobs", "2"}, "--jobs"},
            {{"--write-template", "t.dot", "stray"}, "'stray'"},
        };
        for (const auto& [args, named] : cases) {
            const Run r = veltrane(args);
            QVERIFY2(r.status == 2, qPrintable(args.join(' ') + ": " + r.err));
            QVERIFY(r.out.isEmpty());
            QCOMPARE(r.err.count('\n'), 1);
            QVERIFY2(r.err.contains(QLatin1String(named)) && r.err.contains("--help"),
                     qPrintable(r.err));
        }
    }

    // Refused before any word processor starts or any file is written.
    void badFactsAndListsAreRefusedBeforeAnyWork() {
        const QString facts = testsupport::writeFile(
            dir + "/facts.json", "{\"employeeName\": \"Ann\",\n \"manager\": 7}");
        Run r = veltrane({"--fill", facts, "--output", dir + "/a.doc"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(facts) && r.err.contains("\"manager\" is not a string"),
                 qPrintable(r.err));

        r = veltrane({"--fill", dir + "/none.json", "--output", dir + "/a.doc"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains("cannot read"), qPrintable(r.err));

        r = veltrane({"--fill", facts, "--output", dir + "/a.txt"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(".doc, .pdf, .docx or .odt"), qPrintable(r.err));

        // An existing notice stays as it was.
        const QString kept = testsupport::writeFile(dir + "/kept.doc", "the user's own");
        const QString good = testsupport::writeFile(
            dir + "/good.json",
            R"({"employeeName": "A", "manager": "B", "department": "C", "infraction": "D",
                "improvement": "E", "consequences": "F", "jobTitle": "G", "date": "H",
                "employeeId": "I"})");
        r = veltrane({"--fill", good, "--output", kept});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("--force"), qPrintable(r.err));
        QCOMPARE(testsupport::readFile(kept), QByteArray("the user's own"));

        const QString header =
            "employeeName,manager,department,infraction,improvement,consequences,jobTitle,date";
        const QList<std::pair<QByteArray, const char*>> lists = {
            {(header + "\n").toUtf8(), "the column 'employeeId' is missing"},
            {(header + ",employeeId,notes\n").toUtf8(), "unknown column 'notes'"},
            {(header + ",employeeId\nA,B,C,\"D\n\n").toUtf8(), "never closed"},
        };
        for (const auto& [text, words] : lists) {
            const QString list = testsupport::writeFile(dir + "/list.csv", text);
            r = veltrane({"--fill-list", list, "--output-dir", dir + "/out"});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains(QLatin1String(words)) && r.err.contains(list),
                     qPrintable(r.err));
        }
        QVERIFY(!QFileInfo::exists(dir + "/out"));
        QVERIFY(!QFileInfo::exists(dir + "/a.doc"));
        // No word processor was started for any of them.
        QVERIFY(!QFileInfo::exists(testsupport::sandboxRoot() + "/cache/veltrane"));
    }

    // Without its word processor the program says what the window says, and
    // makes nothing.
    void noWordProcessorGivesTheWindowsWords() {
        const QString bare = dir + "/bare/veltrane"; // no office plugin beside it
        QDir().mkpath(dir + "/bare");
        QVERIFY(QFile::copy(QStringLiteral(VELTRANE_EXECUTABLE), bare));
        const QString good = testsupport::writeFile(
            dir + "/good.json",
            R"({"employeeName": "A", "manager": "B", "department": "C", "infraction": "D",
                "improvement": "E", "consequences": "F", "jobTitle": "G", "date": "H",
                "employeeId": "I"})");
        const QString list = testsupport::writeFile(
            dir + "/list.csv", "employeeName,manager,department,infraction,improvement,"
                               "consequences,jobTitle,date,employeeId\nA,B,C,D,E,F,G,H,I\n");
        const QList<QStringList> runs = {{"--fill", good, "--output", dir + "/a.doc"},
                                         {"--fill-list", list, "--output-dir", dir + "/out"}};
        for (const QStringList& args : runs) {
            testsupport::ChildProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("DISPLAY"));
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            p.setEnvironment(env);
            QVERIFY(p.start(bare, args));
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 1);
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            QCOMPARE(err.count("Error 842001. A normal instance of Word could not be created."), 1);
            QVERIFY2(err.contains("4. All versions of Word are supported"), qPrintable(err));
        }
        QVERIFY(!QFileInfo::exists(dir + "/a.doc"));
        QCOMPARE(QDir(dir + "/out").entryList(QDir::Files), QStringList());
    }
};

VELTRANE_TEST_MAIN(CommandLineTest)
#include "test_commandline.moc"
