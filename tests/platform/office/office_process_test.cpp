// The office process behind the sessions: kept by the host between sessions,
// cleaned by quit, replaced when it dies, hangs or grows old, bounded when it
// hangs or dies, never left behind.

#include "officetest.h"
#include "platform/office/lifecycle/profiles_and_sockets.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using automation::Error;
using automation::NamedArg;
using automation::Object;
using automation::Variant;
using namespace officetest;

namespace {

// This process's threads whose name starts with prefix.
int threadsNamed(const QByteArray& prefix) {
    int n = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith(prefix))
            ++n;
    }
    return n;
}

// Registered last, so it runs first once main has returned: by then the
// bridge's threads (reader and writer) must be over, or they run on while the
// UNO runtime's statics are destroyed under them; and the host's worker and
// the supervisor's thread must have been joined with the application object.
void reportThreadsAtExit() {
    std::atexit([] {
        std::printf("office threads at exit: %d\n",
                    threadsNamed("office-host") + threadsNamed("supervisor"));
        std::printf("bridge threads at exit: %d\n", threadsNamed("binaryurp"));
    });
}

// The helper's last two lines, as reportThreadsAtExit wrote them.
void checkThreadsAtExit(QList<QByteArray>& lines) {
    QVERIFY2(lines.size() >= 2, lines.join('|').constData());
    QCOMPARE(lines.takeLast(), QByteArray("bridge threads at exit: 0"));
    QCOMPARE(lines.takeLast(), QByteArray("office threads at exit: 0"));
}

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

// The process's state letter as /proc shows it ('T' when stopped), '?' when gone.
char stateOf(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 ? line[close + 2] : '?';
}

// This process's minor page faults so far.
long long minorFaults() {
    QFile stat("/proc/self/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(7).toLongLong();
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

// This test program run again as a helper that starts an office (see main).
void startHelper(testsupport::ChildProcess& helper, const char* mode) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("OFFICE_TEST_HELPER", mode);
    helper.setEnvironment(env);
    QVERIFY(helper.start(QCoreApplication::applicationFilePath(), {}));
}

// Copies of every socket the office has open, held by this process, so that
// the office's death does not close its end of the pipe. Empty where the
// kernel does not let us take them.
QList<int> holdSocketsOf(pid_t pid) {
    QList<int> held;
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return held;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString& fd : QDir(fdDir).entryList(QDir::Files | QDir::System)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fdDir + '/' + fd);
        if (::readlink(link.constData(), target, sizeof target - 1) <= 0 ||
            std::strncmp(target, "socket:", 7) != 0)
            continue;
        const int copy = int(::syscall(SYS_pidfd_getfd, pidfd, fd.toInt(), 0));
        if (copy >= 0)
            held << copy;
    }
    ::close(pidfd);
    return held;
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

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden |
                               QDir::System);
}

QStringList programTemp() {
    return entriesOf(qEnvironmentVariable("TEMP"));
}

// Two sessions apart: quit one, then the next one's office.
pid_t nextSessionOffice(Object& word) {
    word.call("quit");
    word = createWord();
    return officePid(word);
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
        holdAt(nullptr, 0);
        if (const pid_t held = heldOffice(0); held > 0)
            ::kill(held, SIGCONT);
        // The host's worker reads the seams, so they change only once it is quiet.
        const bool ended = endHost(15000);
        setProgram(nullptr);
        setBounds(0, 0, 0);
        setHangJudging(0, 0, 0);
        setRecycleAfter(0);
        QVERIFY(ended);
        QCOMPARE(ourOffices(), QList<pid_t>{});
    }

    void quitLeavesTheOfficeIdleAndClean() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        QVERIFY(processExists(pid));
        // The documents are the program's private files: the office writes
        // nothing beside them, no lock and no temporary file, not while it
        // holds one open, nor after quitting with it still open.
        const QString saved = qEnvironmentVariable("TEMP") + "/saved.doc";
        openTemplate(word).call("SaveAs", {saved});
        QCOMPARE(programTemp(), QStringList{"saved.doc"});
        const Object reopened = word["Documents"].call("Open", {saved}).toObject();
        word.set("DisplayAlerts", Variant(false));
        QVERIFY2(programTemp() == QStringList{"saved.doc"}, qPrintable(programTemp().join(' ')));
        word.call("quit");
        QVERIFY(errorOf([&] { word.get("Documents"); }).contains("quit"));
        QVERIFY(errorOf([&] { reopened.get("Range"); }).contains("quit"));
        QCOMPARE(programTemp(), QStringList{"saved.doc"});

        // The same office, idle, serves the next session with nothing left of the last.
        QCOMPARE(ourOffices(), QList<pid_t>{pid});
        word = createWord();
        QCOMPARE(officePid(word), pid);
        QCOMPARE(word["Documents"].get("Count").toInt(), 0);
        QVERIFY(word.get("DisplayAlerts").toBool());
        // The file is free: written over and removed while the office lives.
        const Object again = word["Documents"].call("Open", {saved}).toObject();
        again.call("SaveAs", {saved});
        again.call("Close");
        QVERIFY(QFile::remove(saved));
        word.call("quit");
        QCOMPARE(programTemp(), QStringList());
    }

    void releasingWithoutQuitEndsTheSession() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        Object doc = openTemplate(word);
        word.release();
        // The document still holds the session alive, as a reference would in Word.
        QVERIFY(!doc["StoryRanges"].items().isEmpty());
        doc.release();
        QCOMPARE(idleOffice(5000), pid);
        word = createWord();
        QCOMPARE(word["Documents"].get("Count").toInt(), 0);
        word.call("quit");
    }

    void twoInstancesNeverShareAnOffice() {
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
        // The host keeps one of them; the other goes.
        QCOMPARE(idleOffice(5000), a);
        QTRY_COMPARE_WITH_TIMEOUT(ourOffices(), QList<pid_t>{a}, 15000);
    }

    void aKilledOfficeFailsTheCallInsteadOfHanging() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        const QStringList sockets = office::listeningSockets(pid);
        QCOMPARE(sockets.size(), 2); // its accept pipe and its single-instance pipe
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
        // Later calls fail quickly too, and the next session has a new office.
        QVERIFY(errorOf([&] { word.get("Documents"); }).contains("no longer running"));
        QVERIFY(!errorOf([&] { word.call("quit"); }).isEmpty());
        word = createWord();
        QVERIFY(officePid(word) != pid);
        QVERIFY(openTemplate(word)["Range"].get("Text").toString().contains("Body [Story]"));
        // The killed office's sockets went with it (a new office on the same
        // profile has a single-instance pipe of the same name).
        QVERIFY(waitForExits(10000));
        QStringList now;
        for (pid_t live : ourOffices())
            now += office::listeningSockets(live);
        for (const QString& socket : sockets)
            QVERIFY2(!QFileInfo::exists(socket) || now.contains(socket), qPrintable(socket));
        word.call("quit");
    }

    void anIdleOfficeKilledOrStoppedIsReplaced() {
        Object word = createWord();
        const pid_t first = officePid(word);
        word.call("quit");
        ::kill(first, SIGKILL);
        word = createWord();
        const pid_t second = officePid(word);
        QVERIFY(second != first);
        QVERIFY(openTemplate(word)["Range"].get("Text").toString().contains("Body [Story]"));
        word.call("quit");

        ::kill(second, SIGSTOP);
        // The stop takes effect once the office is next scheduled; on a busy
        // machine that can be after the next session has begun.
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(second), 'T', 5000);
        QElapsedTimer t;
        t.start();
        word = createWord();
        QVERIFY(officePid(word) != second);
        QVERIFY2(t.elapsed() < 15000, qPrintable(QString::number(t.elapsed())));
        word.call("quit");
        QTRY_VERIFY_WITH_TIMEOUT(!running(second), 15000);
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
        QVERIFY(errorOf([&] { word.call("quit"); }).contains("stopped answering"));
        // The host replaces it in the background; the next session gets the new one.
        const pid_t replacement = idleOffice(30000);
        QVERIFY(replacement > 0 && replacement != pid);
        setBounds(0, 0, 0);
        word = createWord();
        QCOMPARE(officePid(word), replacement);
        word.call("quit");
    }

    void aStoppedOfficeIsGivenUpLongBeforeTheBound() {
        // The call's bound is two minutes, for honest work; a stopped office
        // does none, and is ended as one that died, then replaced.
        Object word = createWord();
        const pid_t pid = officePid(word);
        const Object doc = openTemplate(word);
        ::kill(pid, SIGSTOP);
        QElapsedTimer t;
        t.start();
        const QString error =
            errorOf([&] { doc.call("SaveAs", {testsupport::sandboxRoot() + "/tmp/stopped.doc"}); });
        QVERIFY2(t.elapsed() < 20000, qPrintable(QString::number(t.elapsed())));
        QVERIFY2(error.contains("stopped working during SaveAs"), qPrintable(error));
        QVERIFY(errorOf([&] { doc.get("Range"); }).contains("no longer running"));
        errorOf([&] { word.call("quit"); });
        QTRY_VERIFY_WITH_TIMEOUT(!running(pid), 10000);
        word = createWord();
        QVERIFY(officePid(word) != pid);
        QVERIFY(openTemplate(word)["Range"].get("Text").toString().contains("Body [Story]"));
        word.call("quit");
    }

    void aBusyOfficeIsNotCutShort() {
        // Judged often and strictly, an office at work on a call that lasts
        // many times the judging's span is still let finish it. A long text
        // to open keeps it busy on a short request (a long value would keep
        // this side busy sending it).
        setHangJudging(100, 1000, 1000);
        const QString text = testsupport::sandboxRoot() + "/tmp/long.txt";
        testsupport::writeFile(
            text, QByteArray("A line of a long text to open, and more words.\n").repeated(20000));
        Object word = createWord();
        QElapsedTimer t;
        t.start();
        const QString error = errorOf([&] { word["Documents"].call("Open", {text}); });
        QVERIFY2(error.isEmpty(), qPrintable(error));
        if (t.elapsed() < 3000)
            QSKIP("the call was too quick here to tell a busy office from an idle one");
        word.set("DisplayAlerts", Variant(false));
        word.call("quit");
    }

    void aKilledOfficeWhosePipeOutlivesItIsLetGo() {
        // Something else holds the office's end of the pipe, so killing the
        // office does not end the connection: the bridge is let go after its
        // grace, and the call fails instead of waiting for good.
        Object word = createWord();
        const pid_t pid = officePid(word);
        const Object doc = openTemplate(word);
        const QList<int> held = holdSocketsOf(pid);
        if (held.isEmpty())
            QSKIP("the kernel does not let this test hold the office's sockets");
        setBounds(0, 1500, 1500);
        ::kill(pid, SIGSTOP);
        QElapsedTimer t;
        t.start();
        const QString error =
            errorOf([&] { doc.call("SaveAs", {testsupport::sandboxRoot() + "/tmp/held.doc"}); });
        const qint64 took = t.elapsed();
        for (int fd : held)
            ::close(fd);
        QVERIFY2(error.contains("did not answer within 1.5 seconds (SaveAs)"), qPrintable(error));
        QVERIFY2(took >= 4000 && took < 20000, qPrintable(QString::number(took)));
        errorOf([&] { word.call("quit"); });
    }

    void anOfficeIsReplacedAfterItsSessions() {
        setRecycleAfter(3);
        Object word = createWord();
        const pid_t first = officePid(word);
        QCOMPARE(nextSessionOffice(word), first);
        QCOMPARE(nextSessionOffice(word), first);
        word.call("quit"); // its third session
        const pid_t next = idleOffice(30000);
        QVERIFY(next > 0 && next != first);
        word = createWord();
        QCOMPARE(officePid(word), next);
        word.call("quit");
        QTRY_VERIFY_WITH_TIMEOUT(!running(first), 15000);
    }

    void anOfficeDyingMidCallNeverEndsTheProgram() {
        // Killed while the bridge writes a long request to it: the write fails
        // with a broken pipe, and the program must live on. Most of such a
        // call is the writing, so kills spread over its length meet it.
        const QString longValue(8 << 20, QChar('x'));
        auto execute = [&](const Object& find) {
            find.call("Execute", {longValue}, {NamedArg{"Replace", Variant(int32_t(2))}});
        };
        Object word = createWord();
        QElapsedTimer t;
        t.start();
        execute(openTemplate(word)["Range"]["Find"]);
        const qint64 length = std::max<qint64>(t.elapsed(), 20);
        word.call("quit");
        for (int round = 0; round < 12; ++round) {
            word = createWord();
            const pid_t pid = officePid(word);
            const Object find = openTemplate(word)["Range"]["Find"];
            std::thread killer([pid, delay = length * round / 12] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                ::kill(pid, SIGKILL);
            });
            const QString error = errorOf([&] { execute(find); });
            killer.join();
            QVERIFY2(error.isEmpty() || error.contains("stopped working") ||
                         error.contains("no longer running"),
                     qPrintable(error));
            errorOf([&] { word.call("quit"); });
        }
    }

    void theHostEndsAnOfficeItIsAskingToEnd() {
        // The host asks a second office to end, and it stops answering while
        // asked: ending the host waits for that, and cuts it short rather than
        // letting the program's exit wait out the call's bound.
        Object first = createWord();
        Object second = createWord();
        const pid_t kept = officePid(first), retired = officePid(second);
        first.call("quit");
        holdAt("retire", -1);
        second.call("quit");
        QCOMPARE(heldOffice(10000), retired);
        QElapsedTimer t;
        t.start();
        QVERIFY(endHost(15000));
        QVERIFY2(t.elapsed() < 10000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!running(retired));
        QVERIFY(!running(kept));
    }

    void anOfficeEndsWithTheProgram() {
        // Ending normally with the office idle: it goes, and so do its sockets.
        testsupport::ChildProcess helper;
        startHelper(helper, "exit");
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.exitCode(), 0);
        QList<QByteArray> lines = helper.readAllStandardOutput().trimmed().split('\n');
        checkThreadsAtExit(lines);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(lines.size() >= 2);
        const pid_t office = pid_t(lines[0].toInt());
        QVERIFY(office > 0);
        QVERIFY(!running(office));
        for (const QByteArray& socket : lines.mid(1))
            QVERIFY2(!QFileInfo::exists(QString::fromUtf8(socket)), socket.constData());
    }

    void anOfficeDiesWithTheProgram() {
        testsupport::ChildProcess helper;
        startHelper(helper, "1");
        QVERIFY(helper.waitForReadyRead(60000));
        const pid_t office = pid_t(helper.readLine().trimmed().toInt());
        QVERIFY(running(office));
        struct NeverLeft { // should the check fail, still leave nothing behind
            pid_t pid;
            ~NeverLeft() { ::kill(-pid, SIGKILL); }
        } guard{office};
        ::kill(helper.processId(), SIGKILL); // a crash: no destructor, no quit
        QVERIFY(helper.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!running(office), 5000);
    }

    void theProgramEndsCleanlyWhileTheHostIsBusy_data() {
        QTest::addColumn<QByteArray>("mode");
        // The worker held inside a call to an office it warms, and inside the
        // bridge's handshake with a replacement it starts.
        QTest::newRow("warming") << QByteArray("exit-while-warming");
        QTest::newRow("replacing") << QByteArray("exit-while-replacing");
    }

    void theProgramEndsCleanlyWhileTheHostIsBusy() {
        QFETCH(QByteArray, mode);
        testsupport::ChildProcess helper;
        startHelper(helper, mode.constData());
        QVERIFY(helper.waitForFinished(90000));
        QVERIFY(helper.exitedNormally());
        QCOMPARE(helper.exitCode(), 0);
        QList<QByteArray> lines = helper.readAllStandardOutput().trimmed().split('\n');
        checkThreadsAtExit(lines);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(lines.size() >= 2, lines.join('|').constData());
        for (const QByteArray& line : lines) {
            const pid_t office = pid_t(line.toInt());
            QVERIFY(office > 0);
            QVERIFY2(!running(office), line.constData());
        }
        QCOMPARE(ourOffices(), QList<pid_t>{});
    }

    void anOfficeThatServedASessionIsNotWarmedAgain() {
        prepareWord(); // the program wants warm offices
        holdAt("warm-up", -1);
        // A session that opened a document has loaded Writer: its office is
        // ready for the next session at once.
        Object word = createWord();
        const pid_t pid = officePid(word);
        openTemplate(word);
        word.call("quit");
        QCOMPARE(idleOffice(10000), pid);
        QCOMPARE(heldOffice(0), pid_t(-1));
        // Nor after a session that made no call of its own.
        word = createWord();
        QCOMPARE(officePid(word), pid);
        word.call("quit");
        QCOMPARE(idleOffice(10000), pid);
        QCOMPARE(heldOffice(0), pid_t(-1));
        // Its replacement is warmed before it serves.
        setRecycleAfter(3);
        word = createWord();
        word.call("quit");
        const pid_t replacement = heldOffice(30000);
        QVERIFY(replacement > 0 && replacement != pid);
    }

    void anOldOfficeServesUntilItsReplacementIsReady() {
        setRecycleAfter(2);
        Object word = createWord();
        const pid_t old = officePid(word);
        QCOMPARE(nextSessionOffice(word), old);
        // The replacement's start is held up; meanwhile the old office serves,
        // with no wait and no third office.
        setBounds(3000, 0, 0);
        holdAt("bridge", -1);
        word.call("quit");
        const pid_t held = heldOffice(30000);
        QVERIFY(held > 0 && held != old);
        word = createWord();
        QCOMPARE(officePid(word), old);
        QVERIFY(openTemplate(word)["Range"].get("Text").toString().contains("Body [Story]"));
        word.call("quit");
        // Once the replacement has failed, the old office still serves, and
        // the next replacement takes over once it is idle.
        QCOMPARE(idleOffice(30000), old);
        QTRY_VERIFY_WITH_TIMEOUT(!running(held), 10000);
        setBounds(0, 0, 0);
        word = createWord();
        QCOMPARE(officePid(word), old);
        word.call("quit");
        const pid_t next = idleOffice(30000);
        QVERIFY(next > 0 && next != old && next != held);
        QTRY_VERIFY_WITH_TIMEOUT(!running(old), 15000);
    }

    void aReplacementKeepsOutOfTheSessionsWay() {
        // Starting and warming an office takes the processor for a second or
        // two: the replacement for an office that still serves starts once no
        // session has run for a moment, and is paused while a session runs.
        prepareWord();
        setRecycleAfter(2);
        Object word = createWord();
        const pid_t old = officePid(word);
        QCOMPARE(nextSessionOffice(word), old);
        word.call("quit");
        word = createWord();
        QCOMPARE(officePid(word), old);
        QTest::qWait(1500);
        QCOMPARE(ourOffices(), QList<pid_t>{old});
        word.call("quit");

        // Its process (a first start on a profile is made again once).
        const auto starting = [old] {
            QList<pid_t> others = ourOffices();
            others.removeAll(old);
            return others.size() == 1 ? others.first() : pid_t(-1);
        };
        QTRY_VERIFY_WITH_TIMEOUT(starting() > 0, 15000);
        word = createWord();
        QCOMPARE(officePid(word), old);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(starting()), 'T', 5000);
        QVERIFY(openTemplate(word)["Range"].get("Text").toString().contains("Body [Story]"));
        QCOMPARE(stateOf(starting()), 'T');
        word.call("quit");
        QVERIFY(stateOf(starting()) != 'T');
        const pid_t next = idleOffice(30000);
        QVERIFY(next > 0 && next != old);
        QVERIFY(stateOf(next) != 'T');
        QTRY_VERIFY_WITH_TIMEOUT(!running(old), 15000);
    }

    void startingAnOfficeLeavesThisProgramsMemoryAlone() {
        // A forked office would leave every page of this program copy-on-write
        // until its exec and after: the GUI thread would then take a page
        // fault on the first write to each page it touches.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
        QSKIP("the sanitizers' builds start offices by fork");
#endif
        std::vector<char> pages(size_t(64) << 20, 1); // written, so resident
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        Object word = createWord(); // the host was ended: a new office starts
        const long long before = minorFaults();
        volatile char* bytes = pages.data();
        for (size_t at = 0; at < pages.size(); at += size_t(pageSize))
            bytes[at] = 2;
        const long long faults = minorFaults() - before;
        QVERIFY2(faults < 2000, qPrintable(QString::number(faults)));
        word.call("quit");
    }

    void aSessionLeavesNothingInTheOffice() {
        // What sessions pin (shape texts and the like) and what a failed save
        // leaves in the office's folder go with each session.
        const auto session = [](int round) {
            Object word = createWord();
            const QString temp =
                QUrl(profileOf(officePid(word)).section('=', 1)).toLocalFile() + "/tmp";
            const Object doc = openTemplate(word);
            for (const Variant& story : doc["StoryRanges"].items())
                story.toObject()["Find"].call("Execute", {QString("[story]")},
                                              {NamedArg{"ReplaceWith", Variant(QString("x"))},
                                               NamedArg{"Replace", Variant(int32_t(2))}});
            for (const Variant& shape : doc["Shapes"].items())
                shape.toObject()["TextFrame"].get("HasText");
            // As a save cut short leaves it.
            testsupport::writeFile(temp + QString("/saving-%1.doc").arg(round, 8, 16, QChar('0')),
                                   "partial");
            word.call("quit");
            return temp;
        };
        const QString temp = session(1);
        QVERIFY2(QFileInfo(temp).isDir(), qPrintable(temp));
        const int keptAfterOne = keptObjects(10000);
        const QStringList filesAfterOne = entriesOf(temp);
        for (int round = 2; round <= 5; ++round)
            QCOMPARE(session(round), temp);
        QCOMPARE(keptObjects(10000), keptAfterOne);
        QCOMPARE(entriesOf(temp), filesAfterOne);
        QVERIFY2(entriesOf(temp).filter("saving-").isEmpty(), qPrintable(temp));
    }

    void aFailedWarmUpLeavesNoFolder() {
        Object word = createWord();
        const pid_t pid = officePid(word);
        const QString warmUp = QUrl(profileOf(pid).section('=', 1)).toLocalFile() + "/tmp/warm-up";
        // No replacement can start, so nothing else touches the profile.
        setProgram("/nonexistent/libreoffice/soffice.bin");
        holdAt("warm-up", 3000);
        word.call("quit");
        prepareWord();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(warmUp), 10000);
        ::kill(pid, SIGKILL); // the warm-up fails
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(warmUp), 15000);
        QCOMPARE(idleOffice(5000), pid_t(-1));
    }

    void theTailOfAStartIsUnderItsBound() {
        // The bound runs out after the office listens, while its sockets are
        // being recorded: the start fails cleanly and nothing is left.
        setBounds(1000, 0, 0);
        holdAt("start-tail", 2500);
        const QString error = errorOf([] { createWord(); });
        QVERIFY2(error.contains("did not start within 1 second"), qPrintable(error));
        QVERIFY(waitForExits(10000));
        QCOMPARE(ourOffices(), QList<pid_t>{});
    }

    void aRestartedFirstStartIsBoundedToo_data() {
        QTest::addColumn<QByteArray>("point");
        // The bound runs out between the first exit and the restart, and
        // while the restart's process is being started.
        QTest::newRow("before the restart") << QByteArray("restart");
        QTest::newRow("during the restart") << QByteArray("respawned");
    }

    void aRestartedFirstStartIsBoundedToo() {
        QFETCH(QByteArray, point);
        // Exits 81 the first time, as a new profile does, then never listens.
        // Each run notes the descriptors it was given.
        const QString name = "restarts-" + QString::fromLatin1(point);
        const QString dir = testsupport::sandboxRoot() + "/fake-" + name;
        const QString program = fakeOffice(name, "ls -l /proc/$$/fd >>\"$(dirname \"$0\")/runs\"\n"
                                                 "echo end >>\"$(dirname \"$0\")/runs\"\n"
                                                 "[ -e \"$(dirname \"$0\")/once\" ] || "
                                                 "{ touch \"$(dirname \"$0\")/once\"; exit 81; }\n"
                                                 "sleep 300 &\nsleep 300\n");
        setProgram(QFile::encodeName(program).constData());
        setBounds(1000, 0, 0);
        holdAt(point.constData(), 1500);
        const QString error = errorOf([] { createWord(); });
        QVERIFY2(error.contains("did not start within 1 second"), qPrintable(error));
        QVERIFY(waitForExits(10000));
        QTRY_COMPARE_WITH_TIMEOUT(ourOffices(), QList<pid_t>{}, 5000);
        // Every run held its profile's lock, never a closed or reused descriptor.
        QFile runs(dir + "/runs");
        QVERIFY(runs.open(QIODevice::ReadOnly));
        int started = 0;
        bool locked = false;
        for (const QByteArray& line : runs.readAll().split('\n')) {
            if (line.contains("veltrane.lock"))
                locked = true;
            if (line == "end") {
                ++started;
                QVERIFY2(locked, qPrintable(QString("run %1 had no profile lock").arg(started)));
                locked = false;
            }
        }
        QVERIFY(started >= 1);
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
        Object word = createWord();
        const pid_t office = officePid(word);
        std::printf("%d\n", int(office));
        const QByteArray mode = qgetenv("OFFICE_TEST_HELPER");
        if (mode == "exit-while-warming" || mode == "exit-while-replacing") {
            // Ends while the host's worker waits in a call to an office it
            // warms or starts.
            const bool replacing = mode == "exit-while-replacing";
            if (replacing)
                setRecycleAfter(1);
            holdAt(replacing ? "bridge" : "warm-up", -1);
            word.call("quit");
            if (!replacing)
                prepareWord();
            std::printf("%d\n", int(heldOffice(60000)));
            reportThreadsAtExit();
            return 0;
        }
        if (mode == "exit") {
            for (const QString& socket : office::listeningSockets(office))
                std::printf("%s\n", qPrintable(socket));
            word.call("quit");
            reportThreadsAtExit();
            return 0;
        }
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
