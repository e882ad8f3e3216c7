#include "supervisor.h"

#include "office_log.h"
#include "platform/automation/automation.h"
#include "profiles_and_sockets.h"

#include <algorithm>

#include <QString>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace office {

using Clock = std::chrono::steady_clock;

struct Supervisor::SpawnJob {
    // Everything the child touches is prepared before fork: after fork only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    std::vector<char*> envp;
    const char* program = nullptr;
    int logFd = -1;
    int inheritFd = -1;
    bool done = false;
    pid_t pid = -1;
    int error = 0;
};

static std::atomic<bool> gStarted{false};
static std::mutex gInstanceMutex;
// Ended by end(); in a program that never calls it, kept to the very end:
// offices may still be reaped while static destructors run.
static Supervisor* gInstance = nullptr;

Supervisor& Supervisor::instance() {
    std::lock_guard lock(gInstanceMutex);
    if (!gInstance) {
        gInstance = new Supervisor;
        gStarted = true;
    }
    return *gInstance;
}

void Supervisor::end(Millis bound) {
    Supervisor* ending = nullptr;
    {
        std::lock_guard lock(gInstanceMutex);
        ending = gInstance;
    }
    if (!ending)
        return;
    // Still the one instance() gives while it reaps: an office put down
    // meanwhile is adopted here, not by a new supervisor.
    ending->drain(bound);
    {
        std::lock_guard lock(gInstanceMutex);
        gInstance = nullptr;
        gStarted = false;
    }
    delete ending;
}

bool Supervisor::started() {
    return gStarted;
}

ExitCleanup::~ExitCleanup() {
    // Its office is gone and its profile still held, so no live office of
    // ours can listen on these names; a leftover of its group might still
    // hold one open for a moment, which must not keep the file.
    removeSockets(sockets);
}

// A write to the pipe of an office that has just died raises SIGPIPE, whose
// default (or a crash handler) ends the program. Every such write also fails
// with EPIPE, which the bridge reports, so the signal is ignored before the
// first office starts, whatever was set for it.
static void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

Supervisor::Supervisor() {
    ignoreBrokenPipes();
    std::lock_guard lock(mMutex);
    mRunner = std::thread([this] {
        ::pthread_setname_np(::pthread_self(), "supervisor");
        run();
    });
    mThread = mRunner.get_id();
}

Supervisor::~Supervisor() {
    {
        std::lock_guard lock(mMutex);
        mEnding = true;
        mWake.notify_all();
    }
    mRunner.join();
}

// What the child needs between its start and exec, all prepared before.
struct ChildStart {
    pid_t parent;
    int devNull, logFd, inheritFd, errPipe;
    const char* program;
    char* const* argv;
    char* const* envp;
};

// Runs in the child, which may share this program's memory (see forkJob):
// system calls only, no allocation, no locks, and no handler of ours runs
// before exec (every signal comes blocked; handlers go before unblocking).
[[noreturn]] static void childAfterFork(const ChildStart& c) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != c.parent)
        ::_exit(127);
    ::setpgid(0, 0);
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now {};
        if (::sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_DFL &&
            now.sa_handler != SIG_IGN)
            ::signal(sig, SIG_DFL);
    }
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int devNull = c.devNull, logFd = c.logFd, inheritFd = c.inheritFd;
    ::dup2(devNull, 0);
    if (logFd >= 0) {
        ::dup2(logFd, 1);
        ::dup2(logFd, 2);
    } else {
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
    }
    if (inheritFd >= 0)
        ::fcntl(inheritFd, F_SETFD, 0);
    ::execve(c.program, c.argv, c.envp);
    const int e = errno;
    [[maybe_unused]] auto n = ::write(c.errPipe, &e, sizeof e);
    ::_exit(127);
}

[[maybe_unused]] static int childEntry(void* start) { // not under the sanitizers
    childAfterFork(*static_cast<const ChildStart*>(start));
}

// The child shares this program's memory until its exec, as posix_spawn's
// does: forking would copy the page tables and mark every page of this
// program copy-on-write, and the GUI thread would then take a page fault on
// the first write to each page it touches, a generation's worth of faults
// for every office started. Under the sanitizers, a plain fork.
static pid_t startChild(const ChildStart& start) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const pid_t pid = ::fork();
    if (pid == 0)
        childAfterFork(start);
    return pid;
#else
    constexpr size_t kStackBytes = 64 * 1024;
    void* stack = ::mmap(nullptr, kStackBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return -1;
    // No handler of this program may run in the child on the shared memory.
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    const pid_t pid = ::clone(childEntry, static_cast<char*>(stack) + kStackBytes,
                              CLONE_VM | CLONE_VFORK | SIGCHLD, const_cast<ChildStart*>(&start));
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::munmap(stack, kStackBytes); // the child has exec'd or ended by now
    errno = error;
    return pid;
#endif
}

pid_t Supervisor::spawn(const QByteArray& program, const QList<QByteArray>& args, int logFd,
                        int inheritFd, const QList<QByteArray>& env) {
    SpawnJob job;
    QList<QByteArray> keep = args; // owns the bytes argv points into
    for (QByteArray& a : keep)
        job.argv.push_back(a.data());
    job.argv.push_back(nullptr);
    QList<QByteArray> keepEnv = env;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        bool replaced = false;
        for (const QByteArray& mine : env)
            replaced |= mine.startsWith(name);
        if (!replaced)
            keepEnv.append(entry);
    }
    for (QByteArray& e : keepEnv)
        job.envp.push_back(e.data());
    job.envp.push_back(nullptr);
    job.program = program.constData();
    job.logFd = logFd;
    job.inheritFd = inheritFd;

    std::unique_lock lock(mMutex);
    if (mEnding)
        throw automation::Error(QStringLiteral("Cannot start %1: the program is ending")
                                    .arg(QString::fromLocal8Bit(program)));
    mSpawns.push_back(&job);
    mWake.notify_all();
    mChanged.wait(lock, [&] { return job.done; });
    if (job.pid < 0)
        throw automation::Error(QStringLiteral("Cannot start %1: %2")
                                    .arg(QString::fromLocal8Bit(program),
                                         QString::fromLocal8Bit(std::strerror(job.error))));
    return job.pid;
}

uint64_t Supervisor::arm(Millis bound, std::function<void()> onExpire) {
    std::lock_guard lock(mMutex);
    const uint64_t id = mNextAlarm++;
    mAlarms.emplace(id, Alarm{Clock::now() + bound, std::move(onExpire)});
    mWake.notify_all();
    return id;
}

void Supervisor::disarm(uint64_t id) {
    std::unique_lock lock(mMutex);
    mAlarms.erase(id);
    if (std::this_thread::get_id() != mThread)
        mChanged.wait(lock, [&] { return !mFiring.count(id); });
}

void Supervisor::adopt(pid_t pid, Millis grace, std::unique_ptr<ExitCleanup> cleanup) {
    std::lock_guard lock(mMutex);
    mChildren.push_back(Child{pid, Clock::now() + grace, std::move(cleanup)});
    mWake.notify_all();
}

bool Supervisor::drain(Millis bound) {
    std::unique_lock lock(mMutex);
    const auto deadline = Clock::now() + bound;
    if (mChanged.wait_until(lock, deadline, [&] { return mChildren.empty(); }))
        return true;
    for (Child& c : mChildren)
        c.killAt = Clock::now();
    mWake.notify_all();
    return mChanged.wait_for(lock, std::chrono::seconds(2), [&] { return mChildren.empty(); });
}

bool childEnded(pid_t pid, int* exitCode) {
    siginfo_t info{};
    // Look without reaping first: while the leader is a zombie its group id
    // cannot be reused, so killing what is left of the group is safe.
    if (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD ? (*exitCode = -1, true) : false;
    if (info.si_pid != pid)
        return false;
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

// Forks one job's child; on return the job is done, with a pid or an error.
static void forkJob(Supervisor::SpawnJob* job, pid_t self) {
    int errPipe[2];
    UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!devNull.valid() || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        job->error = errno;
        return;
    }
    UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);
    const ChildStart start{self,           devNull.get(), job->logFd,       job->inheritFd,
                           errWrite.get(), job->program,  job->argv.data(), job->envp.data()};
    const pid_t pid = startChild(start);
    errWrite.reset();
    if (pid < 0) {
        job->error = errno;
        return;
    }
    int childErr = 0;
    ssize_t n;
    while ((n = ::read(errRead.get(), &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    if (n == sizeof childErr) {
        ::waitpid(pid, nullptr, 0);
        job->error = childErr;
    } else {
        job->pid = pid;
    }
}

void Supervisor::runSpawns() {
    const pid_t self = ::getpid();
    while (!mSpawns.empty()) {
        SpawnJob* job = mSpawns.front();
        mSpawns.pop_front();
        forkJob(job, self);
        job->done = true;
        mChanged.notify_all();
    }
}

// Runs the expired alarms outside the lock. Returns whether any fired.
bool Supervisor::fireAlarms(std::unique_lock<std::mutex>& lock) {
    const auto now = Clock::now();
    std::vector<std::pair<uint64_t, std::function<void()>>> expired;
    for (auto it = mAlarms.begin(); it != mAlarms.end();) {
        if (it->second.deadline <= now) {
            expired.emplace_back(it->first, std::move(it->second.onExpire));
            mFiring.insert(it->first);
            it = mAlarms.erase(it);
        } else {
            ++it;
        }
    }
    if (expired.empty())
        return false;
    lock.unlock();
    for (auto& [id, f] : expired)
        f();
    lock.lock();
    for (auto& [id, f] : expired)
        mFiring.erase(id);
    mChanged.notify_all();
    return true;
}

void Supervisor::reapChildren() {
    const auto now = Clock::now();
    for (auto it = mChildren.begin(); it != mChildren.end();) {
        if (!it->killed && it->killAt <= now) {
            qCDebug(lcOffice) << "office" << it->pid << "did not exit in time; killed";
            ::kill(-it->pid, SIGKILL);
            it->killed = true;
        }
        int code;
        if (childEnded(it->pid, &code)) {
            qCDebug(lcOffice) << "office" << it->pid << "reaped, exit code" << code;
            it = mChildren.erase(it); // what it left is tidied here
            mChanged.notify_all();
        } else {
            ++it;
        }
    }
}

Clock::time_point Supervisor::nextWake() const {
    auto wakeAt = Clock::time_point::max();
    for (const auto& [id, alarm] : mAlarms)
        wakeAt = std::min(wakeAt, alarm.deadline);
    if (!mChildren.empty())
        wakeAt = std::min(wakeAt, Clock::now() + Millis(5)); // exits are polled
    return wakeAt;
}

void Supervisor::run() {
    std::unique_lock lock(mMutex);
    for (;;) {
        runSpawns();
        if (mEnding)
            return; // whatever is left was given its bound by end()
        if (fireAlarms(lock))
            continue;
        reapChildren();
        if (!mSpawns.empty())
            continue;
        const auto wakeAt = nextWake();
        if (wakeAt == Clock::time_point::max())
            mWake.wait(lock);
        else
            mWake.wait_until(lock, wakeAt);
    }
}

} // namespace office
