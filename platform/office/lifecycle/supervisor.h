#pragma once
// One thread per program that starts office processes, bounds calls into them
// and reaps them. Offices are forked from this thread because the kernel's
// parent-death signal follows the thread that forked, and this one lives as
// long as the offices: until the office host ends it with the application
// object, or to the very end of a program that has none.

#include "platform/office/lifecycle/unique_fd.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <thread>

namespace office {

using Millis = std::chrono::milliseconds;

// What an office leaves to tidy once it is gone: the pipe sockets it listened
// on, then its profile's lock (released last, so the next office on the
// profile never loses a fresh socket of the same name).
struct ExitCleanup {
    QStringList sockets;
    UniqueFd profileLock;
    ~ExitCleanup();
};

class Supervisor {
  public:
    static Supervisor& instance();
    static bool started(); // whether instance() has been called since the last end()
    // Reaps what is left (up to bound), then stops and joins the thread and
    // destroys the supervisor. A later instance() makes a new one.
    static void end(Millis bound);
    ~Supervisor(); // stops and joins the thread

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
    // Cancels the alarm; if it is firing right now, waits until it has fired,
    // so the caller knows whether it did.
    void disarm(uint64_t id);

    // Takes over a child for good: it is given grace to exit on its own, then its
    // whole group is killed; once reaped, what it left is tidied.
    void adopt(pid_t pid, Millis grace, std::unique_ptr<ExitCleanup> cleanup = nullptr);

    // Waits up to bound for every adopted child to be reaped, killing the
    // stragglers at the end. Returns true when none is left.
    bool drain(Millis bound);

    struct SpawnJob;

  private:
    Supervisor();
    void run();
    void runSpawns();
    bool fireAlarms(std::unique_lock<std::mutex>& lock);
    void reapChildren();
    std::chrono::steady_clock::time_point nextWake() const;

    struct Alarm {
        std::chrono::steady_clock::time_point deadline;
        std::function<void()> onExpire;
    };
    struct Child {
        pid_t pid;
        std::chrono::steady_clock::time_point killAt;
        std::unique_ptr<ExitCleanup> cleanup;
        bool killed = false;
    };

    std::mutex mMutex;
    std::condition_variable mWake;
    std::condition_variable mChanged; // a spawn finished or a child was reaped
    std::deque<SpawnJob*> mSpawns;
    std::map<uint64_t, Alarm> mAlarms;
    std::set<uint64_t> mFiring; // expired, their onExpire running now
    std::thread::id mThread;
    std::thread mRunner;
    bool mEnding = false;
    std::deque<Child> mChildren;
    uint64_t mNextAlarm = 1;
};

// Non-blocking check on a child still owned by its starter: true when it has
// ended, with its exit code in *exitCode (-1 when killed by a signal). The
// child's group is killed and the child reaped.
bool childEnded(pid_t pid, int* exitCode);

} // namespace office
