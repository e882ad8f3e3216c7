#include "childprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(5);

bool expired(const QElapsedTimer& timer, int ms) {
    return ms >= 0 && timer.elapsed() >= ms;
}

// An unnamed file in the temporary folder, opened through open() so that the
// sanitizer knows the descriptor.
int outputFile() {
    const QByteArray dir = QFile::encodeName(QDir::tempPath());
    const int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

} // namespace

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(mPid, SIGKILL);
        reap(true);
    }
    closeOutput(mOut);
    closeOutput(mErr);
}

void ChildProcess::closeOutput(Output& out) {
    if (out.fd >= 0)
        ::close(out.fd);
    out = Output{};
}

bool ChildProcess::start(const QString& program, const QStringList& args) {
    if (running())
        return false;
    closeOutput(mOut);
    closeOutput(mErr);
    mPending.clear();
    mExitCode = -1;
    mExitedNormally = false;
    const QString path =
        program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return false;
    mOut.fd = outputFile();
    mErr.fd = mMerged ? -1 : outputFile();
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int failed[2];
    if (mOut.fd < 0 || (!mMerged && mErr.fd < 0) || devNull < 0 ||
        ::pipe2(failed, O_CLOEXEC) != 0) {
        if (devNull >= 0)
            ::close(devNull);
        return false;
    }

    // Everything the child needs is made before fork: after it, only calls
    // that are safe in the child of a threaded program.
    QList<QByteArray> argBytes{QFile::encodeName(path)};
    for (const QString& a : args)
        argBytes << a.toLocal8Bit();
    QList<QByteArray> envBytes;
    for (const QString& e : mEnv.toStringList())
        envBytes << e.toLocal8Bit();
    std::vector<char*> argv, envp;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (QByteArray& e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = mOut.fd, err = mMerged ? mOut.fd : mErr.fd, deathSignal = mDeathSignal;
    const QByteArray workingDir = QFile::encodeName(mWorkingDir);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (deathSignal != 0) {
            ::prctl(PR_SET_PDEATHSIG, deathSignal);
            if (::getppid() != parent)
                ::_exit(127);
        }
        if (!workingDir.isEmpty() && ::chdir(workingDir.constData()) != 0) {
            const int e = errno;
            [[maybe_unused]] auto n = ::write(failed[1], &e, sizeof e);
            ::_exit(127);
        }
        ::dup2(devNull, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(argv[0], argv.data(), envp.data());
        const int e = errno;
        [[maybe_unused]] auto n = ::write(failed[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(devNull);
    ::close(failed[1]);
    int childErr = 0;
    ssize_t n;
    while ((n = ::read(failed[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    ::close(failed[0]);
    if (pid < 0)
        return false;
    mPid = pid;
    mReaped = false;
    if (n == sizeof childErr) {
        reap(true);
        return false;
    }
    return true;
}

bool ChildProcess::reap(bool block) {
    if (mReaped)
        return true;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(mPid, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r == 0)
        return false;
    mReaped = true;
    mExitedNormally = r == mPid && WIFEXITED(status);
    mExitCode = mExitedNormally ? WEXITSTATUS(status) : -1;
    return true;
}

bool ChildProcess::running() {
    return mPid > 0 && !reap(false);
}

bool ChildProcess::waitForFinished(int ms) {
    if (mPid <= 0)
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!reap(false)) {
        if (expired(timer, ms))
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

bool ChildProcess::waitForReadyRead(int ms) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        struct stat st {};
        if (!mPending.isEmpty() || (::fstat(mOut.fd, &st) == 0 && st.st_size > mOut.read))
            return true;
        if (!running() || expired(timer, ms))
            return false;
        std::this_thread::sleep_for(kPoll);
    }
}

QByteArray ChildProcess::unread(Output& out) {
    QByteArray data;
    if (out.fd < 0)
        return data;
    char buffer[65536];
    ssize_t n;
    while ((n = ::pread(out.fd, buffer, sizeof buffer, out.read)) > 0) {
        data.append(buffer, n);
        out.read += n;
    }
    return data;
}

QByteArray ChildProcess::readAllStandardOutput() {
    QByteArray data = mPending + unread(mOut);
    mPending.clear();
    return data;
}

QByteArray ChildProcess::readAllStandardError() {
    return unread(mErr);
}

QByteArray ChildProcess::readLine() {
    mPending += unread(mOut);
    const qsizetype end = mPending.indexOf('\n');
    const QByteArray line = end < 0 ? mPending : mPending.left(end + 1);
    mPending.remove(0, line.size());
    return line;
}

void ChildProcess::terminate() {
    if (running())
        ::kill(mPid, SIGTERM);
}

void ChildProcess::kill() {
    if (running())
        ::kill(mPid, SIGKILL);
}

} // namespace testsupport
