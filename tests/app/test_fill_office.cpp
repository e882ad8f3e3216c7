// Notices made from the command line with the real LibreOffice, run as a
// script runs them (no display), read back by independent readers and held
// against what the window makes of the same facts.

#include "app/mainwindow.h"
#include "common/files.h"
#include "common/programend.h"
#include "common/shell.h"
#include "export/pdfexport.h"
#include "platform/automation/automation.h"
#include "tests/support/childprocess.h"
#include "tests/support/doctools.h"
#include "tests/support/pdftools.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <csignal>
#include <memory>
#include <unistd.h>

using testsupport::MsgBoxRecorder;

namespace {

const QStringList kKeys{"employeeName", "manager",  "department", "infraction", "improvement",
                        "consequences", "jobTitle", "date",       "employeeId"};

// Facts with what tends to go wrong: characters replacement patterns treat
// specially, several scripts, line breaks, a control character, and a later
// field's placeholder inside an earlier field.
QStringList trickyFacts() {
    return {QString::fromUtf8("Ann \xE5\xB1\xB1\xE7\x94\xB0 $1 & \\ (x)"),
            "Bob [JobTitle]",
            QString::fromUtf8("\xD9\x82\xD8\xB3\xD9\x85 Sales"),
            "Late three times.\nAgain on Friday.",
            "Be on time\r\nevery day",
            QString("Final") + QChar(0x07) + " warning",
            "Clerk",
            "2026-12-10",
            "E17"};
}

QByteArray factsJson(const QStringList& values) {
    QJsonObject o;
    for (qsizetype i = 0; i < kKeys.size(); ++i)
        o.insert(kKeys[i], values[i]);
    return QJsonDocument(o).toJson();
}

// One CSV record: every field quoted, quotes doubled.
QString csvRow(const QStringList& values) {
    QStringList fields;
    for (QString v : values)
        fields << '"' + v.replace('"', "\"\"") + '"';
    return fields.join(',');
}

QString sandbox(const QString& name) {
    const QString path = testsupport::sandboxRoot() + '/' + name;
    QDir().mkpath(path);
    return path;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// Office processes of the programs this test started (their profiles live in
// its cache); the test's own window has one of its own.
QList<pid_t> sandboxOffices() {
    QList<pid_t> out;
    const QByteArray cache = QFile::encodeName(testsupport::sandboxRoot() + "/cache");
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        QFile cmd(QString("/proc/%1/cmdline").arg(entry));
        if (!ok || !cmd.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = cmd.readAll();
        QFile stat(QString("/proc/%1/stat").arg(entry));
        const QByteArray s = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const QList<QByteArray> rest = s.mid(s.lastIndexOf(')') + 2).split(' ');
        const bool zombie = rest.value(0) == "Z";
        const bool ours = rest.value(1).toInt() == ::getpid();
        if (line.contains("soffice") && line.contains(cache) && !zombie && !ours)
            out << pid;
    }
    return out;
}

bool noOfficeLeft() {
    for (int i = 0; i < 100; ++i) {
        if (sandboxOffices().isEmpty())
            return true;
        QTest::qWait(100);
    }
    return false;
}

QList<pid_t> childrenOf(pid_t parent) {
    QList<pid_t> out;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat(QString("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const QList<QByteArray> rest = s.mid(s.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1].toInt() == parent)
            out << pid_t(entry.toInt());
    }
    return out;
}

// The program as a script starts it: no display, its own temporary folder
// for the system's (TMPDIR), everything else the test's private environment.
class Cli {
  public:
    explicit Cli(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(v);
        env.insert("TMPDIR", systemTemp());
        mProcess.setEnvironment(env);
        mProcess.setWorkingDirectory(testsupport::sandboxRoot());
        mProcess.start(QStringLiteral(VELTRANE_PROGRAM), args);
    }
    static QString systemTemp() { return sandbox("systmp"); }

    int ended() {
        if (!mProcess.waitForFinished(300000)) {
            mProcess.kill();
            mProcess.waitForFinished(-1);
            return -1;
        }
        return mProcess.exitedNormally() ? mProcess.exitCode() : -2;
    }
    QString err() {
        mErr += QString::fromLocal8Bit(mProcess.readAllStandardError());
        return mErr;
    }
    bool waitForErr(const QRegularExpression& re, int count) {
        for (int i = 0; i < 1200; ++i) {
            if (err().count(re) >= count)
                return true;
            if (!mProcess.running())
                return false;
            QTest::qWait(50);
        }
        return false;
    }
    pid_t pid() const { return mProcess.processId(); }

  private:
    testsupport::ChildProcess mProcess;
    QString mErr;
};

// The main window as a user has it, in a program of its own.
class Window {
  public:
    Window() {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("QT_LOGGING_RULES", "veltrane.instance.debug=true");
        mProcess.setEnvironment(e);
        mProcess.setMergedChannels(true);
        mProcess.start(QStringLiteral(VELTRANE_PROGRAM), {});
    }
    ~Window() {
        mProcess.terminate();
        if (!mProcess.waitForFinished(10000))
            mProcess.kill();
        mProcess.waitForFinished(10000);
    }
    bool up() {
        for (int i = 0; i < 600 && !mOut.contains("answering later starts"); ++i) {
            if (!mProcess.running())
                return false;
            mProcess.waitForReadyRead(100);
            mOut += QString::fromLocal8Bit(mProcess.readAll());
        }
        return mOut.contains("answering later starts");
    }
    bool running() { return mProcess.running(); }

  private:
    testsupport::ChildProcess mProcess;
    QString mOut;
};

// The notice the window makes of values, in this process: its path in TEMP.
QString windowNotice(const QStringList& values) {
    automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
    common::setAppPathForTests(testsupport::sandboxRoot());
    for (const QString& f : QDir(common::tempFolder()).entryList({"amerrow*.doc"}, QDir::Files))
        QFile::remove(common::tempPath(f));
    MsgBoxRecorder boxes;
    std::unique_ptr<MainWindow> form(MainWindow::create());
    if (!form || common::programEnded())
        return QString();
    for (int i = 0; i < 9; ++i)
        form->fields()[size_t(i)]->SetText(values[i]);
    form->show();
    form->createButton->click();
    const QStringList made = QDir(common::tempFolder()).entryList({"amerrow*.doc"}, QDir::Files);
    if (!boxes.seen.isEmpty() || made.size() != 1) {
        qWarning() << "the window made" << made << "and said" << boxes.prompts();
        return QString();
    }
    return common::tempPath(made[0]);
}

} // namespace

class FillOfficeTest : public QObject {
    Q_OBJECT
    QString dir;

  private slots:
    void init() {
        dir = testsupport::sandboxRoot() + "/out";
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
    }

    // Each kind of file, read back by readers other than the office, and the
    // .doc and .pdf read the same as the window's for the same facts.
    void eachKindReadsTheSameAsTheWindows() {
        const QStringList values = trickyFacts();
        const QString facts = testsupport::writeFile(dir + "/facts.json", factsJson(values));
        const QStringList tempBefore = entries(common::tempFolder());
        for (const char* kind : {"doc", "pdf", "docx", "odt"}) {
            Cli cli({"--fill", facts, "--output", dir + "/notice." + kind});
            QVERIFY2(cli.ended() == 0, qPrintable(kind + (": " + cli.err())));
        }
        QVERIFY(noOfficeLeft());
        QCOMPARE(entries(Cli::systemTemp()), QStringList());
        QCOMPARE(entries(common::tempFolder()), tempBefore);
        QVERIFY(!QFileInfo::exists(testsupport::sandboxRoot() + "/config/Ardmoor.conf"));

        // The window, in this process, with the same facts.
        const QString windowDoc = windowNotice(values);
        QVERIFY(!windowDoc.isEmpty());
        const QString windowPdf = dir + "/window.pdf";
        exporting::exportDocumentAsPdf(windowDoc, windowPdf, true);

        const QString doc = testsupport::antiwordText(dir + "/notice.doc");
        QCOMPARE(doc, testsupport::antiwordText(windowDoc));
        QCOMPARE(testsupport::catdocText(dir + "/notice.doc"), testsupport::catdocText(windowDoc));
        for (const QString& expected :
             {QString::fromUtf8("Ann \xE5\xB1\xB1\xE7\x94\xB0 $1 & \\ (x)"), QString("Bob Clerk"),
              QString("Again on Friday."), QString("Final warning")})
            QVERIFY2(doc.contains(expected), qPrintable(doc));
        QVERIFY(!doc.contains("[JobTitle]"));

        const QString pdf = testsupport::pdfText(dir + "/notice.pdf");
        QCOMPARE(pdf, testsupport::pdfText(windowPdf));
        QVERIFY2(pdf.contains("Bob Clerk"), qPrintable(pdf));
        QCOMPARE(testsupport::pdfaClaim(dir + "/notice.pdf"), QString("2B"));
        QCOMPARE(testsupport::pdfPageCount(dir + "/notice.pdf"),
                 testsupport::pdfPageCount(windowPdf));

        const QString docx =
            QString::fromUtf8(testsupport::zipMember(dir + "/notice.docx", "word/document.xml"));
        const QString odt =
            QString::fromUtf8(testsupport::zipMember(dir + "/notice.odt", "content.xml"));
        QCOMPARE(testsupport::zipMember(dir + "/notice.odt", "mimetype"),
                 QByteArray("application/vnd.oasis.opendocument.text"));
        for (const QString& xml : {docx, odt}) {
            QVERIFY2(xml.contains("Bob Clerk") && xml.contains("Again on Friday.") &&
                         xml.contains("Final warning") && !xml.contains("[Manager]"),
                     qPrintable(xml.left(2000)));
        }

        // An existing notice is replaced only with --force, and then whole.
        Cli again({"--fill", facts, "--output", dir + "/notice.doc"});
        QCOMPARE(again.ended(), 1);
        testsupport::writeFile(dir + "/notice.doc", "old");
        Cli forced({"--force", "--fill", facts, "--output", dir + "/notice.doc"});
        QCOMPARE(forced.ended(), 0);
        QCOMPARE(testsupport::antiwordText(dir + "/notice.doc"), doc);
    }

    // An organisation's own template is found as the window finds it, its text
    // boxes and headers filled as the window fills them.
    void theOwnTemplateIsFilledAsTheWindowFillsIt() {
        const QString own = testsupport::sandboxRoot() + "/data/veltrane/template.dot";
        QDir().mkpath(QFileInfo(own).path());
        QVERIFY(QFile::copy(QStringLiteral(OFFICE_TEST_DATA "/story-template.dot"), own));
        struct RemoveOwn {
            QString path;
            ~RemoveOwn() { QFile::remove(path); }
        } removeOwn{own};
        QStringList values = trickyFacts();
        values[8] = "[EmployeeName]"; // an earlier field's placeholder, in a text box
        const QString facts = testsupport::writeFile(dir + "/own.json", factsJson(values));
        Cli cli({"--fill", facts, "--output", dir + "/own.doc"});
        QVERIFY2(cli.ended() == 0, qPrintable(cli.err()));

        const QString windowDoc = windowNotice(values);
        QVERIFY(!windowDoc.isEmpty());
        const QString aw = testsupport::antiwordText(dir + "/own.doc");
        const QString cd = testsupport::catdocText(dir + "/own.doc");
        QCOMPARE(aw, testsupport::antiwordText(windowDoc));
        QCOMPARE(cd, testsupport::catdocText(windowDoc));
        QVERIFY2(aw.contains("Shape [Story]") && cd.contains("Header [Story] Bob Clerk"),
                 qPrintable(aw + cd));
    }

    // One file per row, named from the row, never over another; a bad row is
    // told with its number and the others are still made.
    void aListMakesOneNoticePerRow() {
        const QString outDir = dir + "/notices";
        const QString kept = testsupport::writeFile(outDir + "/E5 Eve.doc", "kept");
        QStringList lines{kKeys.join(',')};
        auto row = [&](const QString& id, const QString& name) {
            QStringList v = trickyFacts();
            v[0] = name;
            v[8] = id;
            lines << csvRow(v);
        };
        row("E1", "Ann");             // row 2
        row("E1", "Ann");             // row 3: the same name
        row("E3", "../../etc/x");     // row 4: no way out of the folder
        lines << "only,three,fields"; // row 5
        row("E5", "Eve");             // row 6: its file exists
        row("E7", "Zoe");             // row 7
        const QString list =
            testsupport::writeFile(dir + "/list.csv", "\xEF\xBB\xBF" + lines.join("\r\n").toUtf8());
        Cli cli({"--fill-list", list, "--output-dir", outDir, "--jobs", "2"});
        QCOMPARE(cli.ended(), 1);
        const QString err = cli.err();
        QVERIFY2(err.contains(QRegularExpression("row 5: not made: .*3 fields")), qPrintable(err));
        QVERIFY2(err.contains(QRegularExpression("row 6: not made: .*already exists")),
                 qPrintable(err));
        QVERIFY2(err.contains(QRegularExpression("made 4, failed 2, [0-9.]+ seconds\\n$")),
                 qPrintable(err));
        QCOMPARE(
            err.count(QRegularExpression("^row \\d+: made ", QRegularExpression::MultilineOption)),
            4);

        QStringList files = entries(outDir);
        files.sort();
        QCOMPARE(files, (QStringList{"E1 Ann (2).doc", "E1 Ann.doc", "E3 .._.._etc_x.doc",
                                     "E5 Eve.doc", "E7 Zoe.doc"}));
        QCOMPARE(testsupport::readFile(kept), QByteArray("kept"));
        const QList<std::pair<QString, QString>> made = {{"E1 Ann.doc", "Ann"},
                                                         {"E1 Ann (2).doc", "Ann"},
                                                         {"E3 .._.._etc_x.doc", "../../etc/x"},
                                                         {"E7 Zoe.doc", "Zoe"}};
        for (const auto& [file, name] : made) {
            const QString text = testsupport::antiwordText(outDir + '/' + file);
            QVERIFY2(text.contains(name) && text.contains("Bob Clerk"),
                     qPrintable(file + ": " + text));
        }
        QVERIFY(noOfficeLeft());
        QCOMPARE(entries(Cli::systemTemp()), QStringList());
    }

    // Ctrl+C or SIGTERM: what is finished stays, nothing half-written, no
    // office, nothing in the temporary folders.
    void aStoppedListLeavesOnlyWholeNotices_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void aStoppedListLeavesOnlyWholeNotices() {
        QFETCH(int, signal);
        QStringList lines{kKeys.join(',')};
        for (int i = 0; i < 60; ++i) {
            QStringList v = trickyFacts();
            v[8] = QString("E%1").arg(i);
            lines << csvRow(v);
        }
        const QString list = testsupport::writeFile(dir + "/long.csv", lines.join('\n').toUtf8());
        const QString outDir = dir + "/stopped";
        Cli cli({"--fill-list", list, "--output-dir", outDir, "--jobs", "2"});
        QVERIFY2(cli.waitForErr(QRegularExpression("row \\d+: made"), 3), qPrintable(cli.err()));
        // A terminal's Ctrl+C reaches the whole foreground group: the list and its workers.
        QList<pid_t> targets{cli.pid()};
        if (signal == SIGINT)
            targets << childrenOf(cli.pid());
        for (pid_t p : targets)
            ::kill(p, signal);
        QCOMPARE(cli.ended(), 128 + signal);
        const QString err = cli.err();
        QVERIFY2(err.contains("stopped:"), qPrintable(err));
        const QStringList files = entries(outDir);
        QVERIFY(files.size() >= 3 && files.size() < 60);
        QCOMPARE(
            err.count(QRegularExpression("^row \\d+: made ", QRegularExpression::MultilineOption)),
            files.size());
        for (const QString& f : files) {
            QVERIFY2(!f.startsWith('.'), qPrintable(f));
            QVERIFY2(testsupport::antiwordText(outDir + '/' + f).contains("Bob Clerk"),
                     qPrintable(f));
        }
        QVERIFY(noOfficeLeft());
        QCOMPARE(entries(Cli::systemTemp()), QStringList());
    }

    // A worker that dies takes only its row with it: the others go on, and its
    // office goes too.
    void aListOutlivesAWorkerThatDies() {
        QStringList lines{kKeys.join(',')};
        for (int i = 0; i < 30; ++i) {
            QStringList v = trickyFacts();
            v[8] = QString("K%1").arg(i);
            lines << csvRow(v);
        }
        const QString list = testsupport::writeFile(dir + "/killed.csv", lines.join('\n').toUtf8());
        const QString outDir = dir + "/killed";
        Cli cli({"--fill-list", list, "--output-dir", outDir, "--jobs", "2"});
        QVERIFY2(cli.waitForErr(QRegularExpression("row \\d+: made"), 2), qPrintable(cli.err()));
        const QList<pid_t> workers = childrenOf(cli.pid());
        QCOMPARE(workers.size(), 2);
        ::kill(workers[0], SIGKILL);
        QCOMPARE(cli.ended(), 1);
        const QString err = cli.err();
        QVERIFY2(err.count("ended unexpectedly") <= 1, qPrintable(err));
        const int made = int(
            err.count(QRegularExpression("^row \\d+: made ", QRegularExpression::MultilineOption)));
        QVERIFY2(err.contains(QString("made %1, failed %2").arg(made).arg(30 - made)),
                 qPrintable(err));
        QCOMPARE(entries(outDir).size(), made);
        QVERIFY2(made >= 15, qPrintable(err)); // the other worker made the rest
        QVERIFY(noOfficeLeft());
        QCOMPARE(entries(Cli::systemTemp()), QStringList());
    }

    // A list made while the window is open: both have offices of their own,
    // and the window's temporary files and settings are not touched.
    void aListRunsBesideAnOpenWindow() {
        Window window;
        QVERIFY(window.up());
        const QString temp = common::tempFolder();
        const QStringList tempBefore = entries(temp);
        const QString settings = testsupport::sandboxRoot() + "/config/Ardmoor.conf";
        const QByteArray settingsBefore = testsupport::readFile(settings);
        QStringList lines{kKeys.join(',')};
        for (const char* id : {"W1", "W2"}) {
            QStringList v = trickyFacts();
            v[8] = QLatin1String(id);
            lines << csvRow(v);
        }
        const QString list = testsupport::writeFile(dir + "/beside.csv", lines.join('\n').toUtf8());
        Cli cli({"--fill-list", list, "--output-dir", dir + "/beside", "--format", "pdf"});
        QVERIFY2(cli.ended() == 0, qPrintable(cli.err()));
        QVERIFY(window.running());
        QCOMPARE(entries(dir + "/beside").size(), 2);
        for (const QString& f : entries(dir + "/beside"))
            QVERIFY(testsupport::pdfText(dir + "/beside/" + f).contains("Bob Clerk"));
        QCOMPARE(entries(temp), tempBefore);
        QCOMPARE(testsupport::readFile(settings), settingsBefore);
    }
};

VELTRANE_TEST_MAIN(FillOfficeTest)
#include "test_fill_office.moc"
