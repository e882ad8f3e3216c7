#pragma once
// Tells a hung office from a busy one while a call into it waits. A call may
// honestly take a minute or two of the office's work; one that is stopped, or
// that has used no CPU time at all for a while (and is not waiting on the
// disk), will not answer however long it is given.

#include <chrono>
#include <sys/types.h>

namespace office {

class HangJudge {
  public:
    using Clock = std::chrono::steady_clock;
    enum class Verdict {
        Working, // using CPU time, waiting on the disk, or not judged yet
        Stopped, // stopped (SIGSTOP, a debugger) for stoppedFor
        Idle,    // no CPU time at all for idleFor
        Gone,    // no such process any more
    };

    HangJudge(pid_t pid, std::chrono::milliseconds stoppedFor, std::chrono::milliseconds idleFor);

    // Looks at the process once; call it about once a second while the call waits.
    Verdict look(Clock::time_point now);
    // Starts over, as if not looked at yet (after the office was paused on purpose).
    void forget();

  private:
    pid_t mPid;
    std::chrono::milliseconds mStoppedFor, mIdleFor;
    long long mCpuTicks = -1;
    Clock::time_point mLastWork{};
    bool mStopped = false;
    Clock::time_point mStoppedSince{};
};

} // namespace office
