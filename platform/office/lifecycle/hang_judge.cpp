#include "hang_judge.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

namespace office {

namespace {

struct Sample {
    char state = '?';
    long long cpuTicks = 0; // user and system time of all the process's threads
};

// The fields of a /proc stat line after the command's closing parenthesis:
// state first, then the others in order.
QList<QByteArray> statFields(const QString& path) {
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return {};
    return line.mid(close + 2).split(' ');
}

bool sample(pid_t pid, Sample* out) {
    const QList<QByteArray> f = statFields(QStringLiteral("/proc/%1/stat").arg(pid));
    if (f.size() < 13 || f[0].isEmpty() || f[0][0] == 'Z' || f[0][0] == 'X')
        return false;
    out->state = f[0][0];
    out->cpuTicks = f[11].toLongLong() + f[12].toLongLong(); // utime, stime
    return true;
}

// A thread in uninterruptible sleep waits on the disk (or a network file
// system): slow, not hung.
bool waitingOnDisk(pid_t pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList ids = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& id : ids) {
        const QList<QByteArray> f =
            statFields(tasks + QLatin1Char('/') + id + QStringLiteral("/stat"));
        if (!f.isEmpty() && f[0] == "D")
            return true;
    }
    return false;
}

} // namespace

HangJudge::HangJudge(pid_t pid, std::chrono::milliseconds stoppedFor,
                     std::chrono::milliseconds idleFor)
    : mPid(pid), mStoppedFor(stoppedFor), mIdleFor(idleFor) {}

HangJudge::Verdict HangJudge::look(Clock::time_point now) {
    Sample s;
    if (mPid <= 0 || !sample(mPid, &s))
        return Verdict::Gone;
    if (s.state == 'T' || s.state == 't') {
        if (!mStopped) {
            mStopped = true;
            mStoppedSince = now;
        }
        return now - mStoppedSince >= mStoppedFor ? Verdict::Stopped : Verdict::Working;
    }
    mStopped = false;
    if (mCpuTicks < 0 || s.cpuTicks != mCpuTicks || waitingOnDisk(mPid)) {
        mCpuTicks = s.cpuTicks;
        mLastWork = now;
        return Verdict::Working;
    }
    return now - mLastWork >= mIdleFor ? Verdict::Idle : Verdict::Working;
}

void HangJudge::forget() {
    mCpuTicks = -1;
    mStopped = false;
}

} // namespace office
