#pragma once
// One thread per program that starts office processes, bounds calls into them
// and reaps them. Offices are forked from this thread because the kernel's
// parent-death signal follows the thread that forked, and this one lives as
// long as the program.

#include <QByteArray>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <sys/types.h>

namespace office {

using Millis = std::chrono::milliseconds;

class Supervisor {
  public:
    static Supervisor& instance();
    static bool started(); // whether instance() has been called

    // Starts program with args (args[0] is the full program path, which the
    // office needs to find its own files) in a new process group, stdin from
    // /dev/null, stdout and stderr to logFd, and inheritFd left open in the child.
    // env entries ("NAME=value") are added to or replace the inherited ones.
    // The child is killed when this program dies. Throws automation::Error.
    pid_t spawn(const QByteArray& program, const QList<QByteArray>& args, int logFd, int inheritFd,
                const QList<QByteArray>& env = {});

    // Runs onExpire on the supervisor thread if not disarmed within bound.
    // onExpire must be quick and must not throw.
    uint64_t arm(Millis bound, std::function<void()> onExpire);
    void disarm(uint64_t id);

    // Takes over a child for good: it is given grace to exit on its own, then its
    // whole group is killed; once reaped, closeFd (if not -1) is closed.
    void adopt(pid_t pid, Millis grace, int closeFd);

    // Waits up to bound for one adopted child to be reaped. Returns true when it is.
    bool waitReaped(pid_t pid, Millis bound);

    // Waits up to bound for every adopted child to be reaped, killing the
    // stragglers at the end. Returns true when none is left.
    bool drain(Millis bound);

    struct SpawnJob;

  private:
    Supervisor();
    void run();

    struct Alarm {
        std::chrono::steady_clock::time_point deadline;
        std::function<void()> onExpire;
    };
    struct Child {
        pid_t pid;
        std::chrono::steady_clock::time_point killAt;
        int closeFd;
        bool killed = false;
    };

    std::mutex mMutex;
    std::condition_variable mWake;
    std::condition_variable mChanged; // a spawn finished or a child was reaped
    std::deque<SpawnJob*> mSpawns;
    std::map<uint64_t, Alarm> mAlarms;
    std::deque<Child> mChildren;
    uint64_t mNextAlarm = 1;
};

// Non-blocking check on a child still owned by its starter: true when it has
// ended, with its exit code in *exitCode (-1 when killed by a signal). The
// child's group is killed and the child reaped.
bool childEnded(pid_t pid, int* exitCode);

} // namespace office
