#pragma once
// What a run of "veltrane fill" needs, one notice or a list alike: its words on
// the terminal, a clean stop on SIGINT and SIGTERM, a private folder, the
// template, and a notice put in place whole.

#include "generate/fill.h"

#include <QString>

#include <csignal>
#include <cstdio>

namespace app::fill {

void say(FILE* to, const QString& text);

// SIGINT and SIGTERM ask for a clean stop while it lives: the work under way
// is finished or dropped whole, never left half done. Calls under way are
// restarted, not broken off.
class StopSignals {
  public:
    explicit StopSignals(bool catchInterrupt = true);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool stopped();
    static int status();

  private:
    struct sigaction mOldTerm {};
    struct sigaction mOldInt {};
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

// A folder of this run's own under the system's temporary folder, so nothing
// is shared with a window that runs meanwhile; removed with everything in it.
class PrivateFolder {
  public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    QString path() const { return mPath; }
    QString error() const { return mError; }

  private:
    QString mPath;
    QString mError;
};

// What the window shows in a message box is said on standard error here.
void messagesToTerminal();

// The template the window would use (the organisation's own first), written
// once into the run's folder; "" after saying why it cannot be.
QString writeTemplate(const QString& folder);

QString existsMessage(const QString& path);

// Makes the notice apart, then puts it in place with the saving routine of the
// window, so the target is whole or untouched. Throws automation::Error.
void makeNotice(generate::NoticeFiller& filler, const generate::Facts& facts,
                generate::NoticeFormat format, const QString& staged, const QString& target,
                bool force);

} // namespace app::fill
