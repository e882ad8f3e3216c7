// The office process: started per instance, ended by quit or release, bounded
// when it hangs or dies, never left behind.

#include "officetest.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <thread>

using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;
using namespace officetest;

namespace {

// Every soffice.bin whose profile lies in this test's private cache.
QList<pid_t> ourOffices() {
    QList<pid_t> found;
    const QByteArray marker = QFile::encodeName(testsupport::sandboxRoot());
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = entry.toInt(&ok);
        if (!ok)
            continue;
        QFile cmd("/proc/" + entry + "/cmdline");
        if (cmd.open(QIODevice::ReadOnly)) {
            const QByteArray line = cmd.readAll();
            if (line.contains("soffice") && line.contains(marker))
                found << pid;
        }
    }
    return found;
}

// Alive and not yet a zombie waiting for init to collect it.
bool running(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line[close + 2] != 'Z';
}

QString profileOf(pid_t pid) {
    QFile cmd(QString("/proc/%1/cmdline").arg(pid));
    if (!cmd.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& arg : cmd.readAll().split('\0'))
        if (arg.startsWith("-env:UserInstallation="))
            return QString::fromUtf8(arg);
    return QString();
}

Object openTemplate(const Object& word) {
    return word["Documents"]
        .call("Open", {dataFile("story-template.dot")}, {NamedArg{"ReadOnly", Variant(true)}})
        .toObject();
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.description();
    }
    return QString();
}

// A stand-in office program in a folder that looks like an installation.
QString fakeOffice(const QString& name, const QByteArray& script) {
    const QString dir = testsupport::sandboxRoot() + "/fake-" + name;
    testsupport::writeFile(dir + "/libswlo.so", QByteArray());
    const QString program = testsupport::writeFile(dir + "/soffice.bin", "#!/bin/sh\n" + script);
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

} // namespace

class OfficeProcessTest : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        setProgram(nullptr);
        setBounds(0, 0, 0);
        QVERIFY(waitForExits(15000));
        QCOMPARE(ourOffices(), QList<pid_t>{});
    }

    void quitEndsTheProcess() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        QVERIFY(processExists(pid));
        QCOMPARE(ourOffices(), QList<pid_t>{pid});
        // The office keeps its temporary files to itself: the program's TEMP
        // is the program's, and an office still exiting must not litter it.
        auto programTemp = [] {
            return QDir(qEnvironmentVariable("TEMP"))
                .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
        };
        const Object doc = openTemplate(word);
        doc.call("SaveAs", {testsupport::sandboxRoot() + "/saved.doc"});
        QCOMPARE(programTemp(), QStringList());
        word.call("quit");
        QCOMPARE(programTemp(), QStringList());
        QVERIFY(errorOf([&] { word.get("Documents"); }).contains("quit"));
        word.release();
        QVERIFY(waitForExits(10000));
        QVERIFY(!processExists(pid));
    }

    void releasingWithoutQuitEndsTheProcess() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        Object doc = openTemplate(word);
        word.release();
        // The document still holds the office alive, as a reference would in Word.
        QVERIFY(processExists(pid));
        QVERIFY(!doc["StoryRanges"].items().isEmpty());
        doc.release();
        QVERIFY(waitForExits(10000));
        QVERIFY(!processExists(pid));
    }

    void twoInstancesNeverShareAProfile() {
        Object first = createWord();
        Object second = createWord();
        const pid_t a = officePid(first), b = officePid(second);
        QVERIFY(a != b);
        QVERIFY(!profileOf(a).isEmpty());
        QVERIFY(profileOf(a) != profileOf(b));
        first.call("quit");
        // The other office is untouched by the first one's end.
        const Object doc = openTemplate(second);
        QVERIFY(doc["Range"].get("Text").toString().contains("Body [Story]"));
        second.call("quit");
    }

    void aKilledOfficeFailsTheCallInsteadOfHanging() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        const Object doc = openTemplate(word);
        // Stopped, the office cannot answer; killed while the call waits, the
        // call must fail at once rather than at the watchdog's bound.
        ::kill(pid, SIGSTOP);
        std::thread killer([pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            ::kill(pid, SIGKILL);
        });
        QElapsedTimer t;
        t.start();
        const QString error = errorOf([&] { doc.get("StoryRanges"); });
        killer.join();
        QVERIFY2(error.contains("stopped working"), qPrintable(error));
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        // Later calls fail quickly too, and nothing is left running.
        QVERIFY(errorOf([&] { word.get("Documents"); }).contains("no longer running"));
        QVERIFY(!errorOf([&] { word.call("quit"); }).isEmpty());
    }

    void aHungOfficeIsEndedByTheWatchdog() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        const Object doc = openTemplate(word);
        setBounds(0, 1500, 1500);
        ::kill(pid, SIGSTOP);
        QElapsedTimer t;
        t.start();
        const QString error =
            errorOf([&] { doc.call("SaveAs", {testsupport::sandboxRoot() + "/tmp/hung.doc"}); });
        QVERIFY2(error.contains("did not answer within 1.5 seconds (SaveAs)"), qPrintable(error));
        QVERIFY2(t.elapsed() >= 1400 && t.elapsed() < 8000,
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY(errorOf([&] { doc.get("Range"); }).contains("stopped answering"));
    }

    void anOfficeDiesWithTheProgram() {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OFFICE_TEST_HELPER", "1");
        helper.setProcessEnvironment(env);
        helper.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(helper.waitForReadyRead(60000));
        const pid_t office = pid_t(helper.readLine().trimmed().toInt());
        QVERIFY(running(office));
        struct NeverLeft { // should the check fail, still leave nothing behind
            pid_t pid;
            ~NeverLeft() { ::kill(-pid, SIGKILL); }
        } guard{office};
        ::kill(pid_t(helper.processId()), SIGKILL); // a crash: no destructor, no quit
        QVERIFY(helper.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!running(office), 5000);
    }

    void startingFailsClearlyWithoutAnOffice() {
        setProgram("/nonexistent/libreoffice/soffice.bin");
        const QString error = errorOf([] { createWord(); });
        QVERIFY2(error.contains("libreoffice-writer-nogui") && error.contains("not installed"),
                 qPrintable(error));
    }

    void anOfficeThatDiesOrStallsWhileStartingIsReported() {
        const QString dies = fakeOffice("dies", "echo 'cannot open display' >&2\nexit 3\n");
        setProgram(QFile::encodeName(dies).constData());
        QString error = errorOf([] { createWord(); });
        QVERIFY2(error.contains("exit code 3") && error.contains("cannot open display"),
                 qPrintable(error));

        // One that never listens, with a child of its own: both go at the bound.
        const QString stalls = fakeOffice("stalls", "sleep 300 &\nsleep 300\n");
        setProgram(QFile::encodeName(stalls).constData());
        setBounds(1000, 0, 0);
        QElapsedTimer t;
        t.start();
        error = errorOf([] { createWord(); });
        QVERIFY2(error.contains("did not start within 1 second"), qPrintable(error));
        QVERIFY(t.elapsed() < 8000);
    }
};

int main(int argc, char** argv) {
    // Run as a helper by diesWithTheProgram: start an office, say its pid, wait to be killed.
    if (qEnvironmentVariableIsSet("OFFICE_TEST_HELPER")) {
        QGuiApplication app(argc, argv);
        const Object word = createWord();
        std::printf("%d\n", int(officePid(word)));
        std::fflush(stdout);
        ::pause();
        return 0;
    }
    testsupport::isolateEnvironment();
    QApplication app(argc, argv);
    OfficeProcessTest tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "office_process_test.moc"
