#pragma once
// A clean end on a stop signal instead of the default sudden one: for a fill
// run, the work under way finished or dropped whole; for the window, the
// same end as closing it.

#include <QObject>
#include <QString>

#include <csignal>
#include <optional>

class QSocketNotifier;

namespace app {

// SIGINT and SIGTERM, and SIGHUP where asked for, ask for a clean stop while
// it lives: the work under way is finished or dropped whole, never left half
// done. Calls under way are restarted, not broken off.
class StopSignals {
  public:
    explicit StopSignals(bool catchInterrupt = true, bool catchHangUp = false);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool stopped();
    // 128 and the signal's number, as a shell reports a program it ended.
    static int status();

  private:
    struct sigaction mOldTerm {};
    struct sigaction mOldInt {};
    struct sigaction mOldHup {};
    bool mCatchHangUp = false;
};

// A pipe written to on a stop signal while it lives, so a wait for workers
// wakes up.
class WakePipe {
  public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // "" when the pipe is there, else why not.
    QString error() const { return mError; }
    int readEnd() const { return mFds[0]; }
    // Takes what the signals wrote, so the next wait sleeps again.
    void drain();

  private:
    int mFds[2] = {-1, -1};
    QString mError;
};

// For the window program: SIGTERM (a logout, a shutdown), SIGHUP (its
// terminal closed) and SIGINT (Ctrl+C) end it as closing the shown window
// does, so the preview's document is deleted and the office ends as it
// should. A generation under way is let finish first. Needs the event loop.
class CloseOnStopSignals : public QObject {
  public:
    CloseOnStopSignals();
    ~CloseOnStopSignals() override;

    // What the program returns: the shell's status for the signal that
    // ended it, else the event loop's own.
    int exitStatus(int loopStatus) const;

  private:
    void closeWhenIdle();

    WakePipe mWake;
    std::optional<StopSignals> mSignals; // caught only where the pipe wakes the loop
    QSocketNotifier* mNotifier = nullptr;
};

} // namespace app
