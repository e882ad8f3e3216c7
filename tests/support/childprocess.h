#pragma once
// A program a test starts and watches, used instead of QProcess.
//
// Qt starts its children with clone(CLONE_VM | CLONE_VFORK). ThreadSanitizer
// wraps clone() and runs its after-fork bookkeeping in the child, which with
// CLONE_VM is running in our own memory, on our own thread's state: from then
// on the sanitizer ignores that thread's synchronisation, misses real races and
// reports ones that are not there (a descriptor opened, handed over under a
// mutex and closed by another thread). A plain fork() and exec() keep the
// child's bookkeeping in the child.
//
// Output goes to unnamed files, so a child never blocks on a full pipe while
// the test does something else; it is read whenever the test asks.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace testsupport {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess(); // a child still running is killed and reaped
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void setEnvironment(const QProcessEnvironment& env) { mEnv = env; }
    void setMergedChannels(bool merged) { mMerged = merged; }
    void setWorkingDirectory(const QString& dir) { mWorkingDir = dir; }
    // Sent to the child when the thread that started it ends (the test dies).
    void setParentDeathSignal(int signal) { mDeathSignal = signal; }

    // False when the program cannot be found or executed.
    bool start(const QString& program, const QStringList& args);

    bool running();
    pid_t processId() const { return mPid; }
    // True once the child has ended and been reaped; -1 waits for ever.
    bool waitForFinished(int ms = 30000);
    // True once there is output not read yet, or false at the end or timeout.
    bool waitForReadyRead(int ms = 30000);
    bool exitedNormally() const { return mExitedNormally; }
    int exitCode() const { return mExitCode; }

    // What the child wrote since the last read (with merged channels, both).
    QByteArray readAll() { return readAllStandardOutput(); }
    QByteArray readAllStandardOutput();
    QByteArray readAllStandardError();
    // One line of standard output, with its newline; what there is when no
    // whole line is there yet.
    QByteArray readLine();

    void terminate();
    void kill();

  private:
    struct Output {
        int fd = -1;
        qint64 read = 0;
    };
    bool reap(bool block);
    static QByteArray unread(Output& out);
    static void closeOutput(Output& out);

    QProcessEnvironment mEnv = QProcessEnvironment::systemEnvironment();
    QString mWorkingDir;
    bool mMerged = false;
    int mDeathSignal = 0;
    pid_t mPid = -1;
    bool mReaped = true;
    bool mExitedNormally = false;
    int mExitCode = -1;
    Output mOut;
    Output mErr;
    QByteArray mPending; // read from standard output, not yet taken by readLine
};

} // namespace testsupport
