// "veltrane --fill-list LIST --output-dir FOLDER": a notice for each row of a
// list, made by warm offices side by side, each in a worker process.

#include "app/fillcommand.h"
#include "app/fillinput.h"
#include "app/fillprogress.h"
#include "app/fillrun.h"
#include "app/fillworker.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <vector>

namespace app {

namespace {

using namespace fill;

// A worker that has died must not take the list with it when it is written to.
class IgnoreBrokenPipes {
  public:
    IgnoreBrokenPipes() {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGPIPE, &sa, &mOld);
    }
    ~IgnoreBrokenPipes() { ::sigaction(SIGPIPE, &mOld, nullptr); }
    IgnoreBrokenPipes(const IgnoreBrokenPipes&) = delete;
    IgnoreBrokenPipes& operator=(const IgnoreBrokenPipes&) = delete;

  private:
    struct sigaction mOld {};
};

// The rows on their way through the workers, and the tally of what came of them.
class ListRun {
  public:
    ListRun(const std::vector<Row>& rows, const QString& suffix, bool force)
        : mRows(rows), mSuffix(suffix), mForce(force), mProgress(int(rows.size())) {}

    // Rows that cannot be made are counted as failed now; the others wait
    // for a worker.
    void takeRows() {
        for (std::size_t i = 0; i < mRows.size(); ++i) {
            if (mRows[i].problem.isEmpty()) {
                mPending.push_back(i);
            } else {
                ++mFailed;
                mProgress.row(mRows[i], mRows[i].problem);
            }
        }
        std::reverse(mPending.begin(), mPending.end()); // taken from the back, first row first
    }
    bool hasWork() const { return !mPending.empty(); }

    // As many workers as asked for (else one a core, at most 4), never more
    // than there are rows; each is sent its first row.
    void startWorkers(int jobs, const QString& templatePath, const QString& folder) {
        jobs = jobs > 0 ? jobs : std::min(QThread::idealThreadCount(), 4);
        jobs = std::max(1, std::min<int>(jobs, int(mPending.size())));
        mWorkers = std::vector<Worker>(mPending.empty() ? 0 : std::size_t(jobs));
        for (Worker& w : mWorkers)
            if (!startWorker(w, templatePath, folder))
                w.ended = true;
        for (Worker& w : mWorkers)
            send(w);
    }

    // Takes the workers' results until none is left working.
    void waitForWorkers(WakePipe& wake) {
        bool stopping = false;
        for (;;) {
            if (StopSignals::stopped() && !stopping) {
                stopping = true;
                for (Worker& w : mWorkers)
                    if (w.row < 0)
                        w.closeInput();
            }
            std::vector<pollfd> fds{{wake.readEnd(), POLLIN, 0}};
            std::vector<Worker*> polled;
            for (Worker& w : mWorkers)
                if (!w.ended && w.fromWorker >= 0) {
                    fds.push_back({w.fromWorker, POLLIN, 0});
                    polled.push_back(&w);
                }
            if (polled.empty())
                break;
            if (::poll(fds.data(), nfds_t(fds.size()), -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN)
                wake.drain();
            for (std::size_t k = 0; k < polled.size(); ++k)
                if (fds[k + 1].revents & (POLLIN | POLLHUP | POLLERR))
                    readResults(*polled[k]);
            // The workers still going take up what another left.
            for (Worker& w : mWorkers)
                if (!w.ended && w.row < 0 && w.toWorker >= 0)
                    send(w);
        }
    }

    // The workers ended and the run's tally said; the exit status.
    int finish() {
        for (Worker& w : mWorkers)
            w.reap();
        if (StopSignals::stopped()) {
            mProgress.finish(mMade, mFailed);
            say(stderr, QStringLiteral("stopped: %1 rows were not made\n").arg(mPending.size()));
            return StopSignals::status();
        }
        for (std::size_t index : mPending) {
            ++mFailed;
            mProgress.row(mRows[index], !mFatal.isEmpty()
                                            ? QStringLiteral("no word processor could be started")
                                            : QStringLiteral("no worker was left to make it"));
        }
        mProgress.finish(mMade, mFailed);
        return mFailed == 0 ? 0 : 1;
    }

  private:
    // The next row to a worker, or its input closed when there is none for it.
    void send(Worker& w) {
        if (mPending.empty() || StopSignals::stopped() || w.ended) {
            w.closeInput();
            return;
        }
        const std::size_t index = mPending.back();
        mPending.pop_back();
        w.row = int(index);
        if (!writeAll(w.toWorker, jobLine(mRows[index], mSuffix, mForce))) {
            mPending.push_back(index);
            w.row = -1;
            w.closeInput();
        }
    }

    // What a worker has said since; a worker that has ended is reaped, and
    // the row it was making failed.
    void readResults(Worker& w) {
        const bool open = w.reader->fill();
        QByteArray line;
        while (w.reader->next(line))
            takeResult(w, QJsonDocument::fromJson(line).object());
        if (!open) {
            if (w.row >= 0) {
                ++mFailed;
                mProgress.row(mRows[std::size_t(w.row)],
                              QStringLiteral("the worker making it ended unexpectedly"));
                w.row = -1;
            }
            w.ended = true;
            w.reap();
        }
    }

    void takeResult(Worker& w, const QJsonObject& result) {
        if (result.contains(QStringLiteral("fatal"))) {
            if (mFatal.isEmpty()) {
                mFatal = result.value(QStringLiteral("fatal")).toString();
                say(stderr, mFatal);
            }
            return;
        }
        if (w.row < 0)
            return;
        const Row& r = mRows[std::size_t(w.row)];
        const QString error = result.value(QStringLiteral("error")).toString();
        (error.isEmpty() ? mMade : mFailed)++;
        mProgress.row(r, error);
        w.row = -1;
        send(w);
    }

    const std::vector<Row>& mRows;
    const QString mSuffix;
    const bool mForce;
    Progress mProgress;
    int mMade = 0;
    int mFailed = 0;
    std::vector<std::size_t> mPending; // indexes into mRows, the next at the back
    std::vector<Worker> mWorkers;
    QString mFatal; // what the first worker whose office did not start said
};

} // namespace

int fillList(const FillOptions& options) {
    const QString suffix = generate::noticeFormatName(options.format);
    const QString outputDir = QDir(options.outputDir).absolutePath();
    std::vector<Row> rows;
    if (const QString why = readRows(options.list, outputDir, suffix, rows); !why.isEmpty()) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(why));
        return 2;
    }
    if (!QDir().mkpath(outputDir)) {
        say(stderr, QStringLiteral("veltrane: cannot make the folder %1\n").arg(outputDir));
        return 1;
    }

    messagesToTerminal();
    WakePipe wake;
    if (!wake.error().isEmpty()) {
        say(stderr, QStringLiteral("veltrane: %1\n").arg(wake.error()));
        return 1;
    }
    StopSignals stopSignals;
    IgnoreBrokenPipes ignoreBrokenPipes;
    ListRun run(rows, suffix, options.force);
    run.takeRows();

    PrivateFolder folder;
    QString templatePath;
    if (run.hasWork()) {
        if (folder.path().isEmpty()) {
            say(stderr, QStringLiteral("veltrane: cannot make a temporary folder in %1: %2\n")
                            .arg(QDir::tempPath(), folder.error()));
            return 1;
        }
        templatePath = writeTemplate(folder.path());
        if (templatePath.isEmpty())
            return 1;
    }
    run.startWorkers(options.jobs, templatePath, folder.path());
    run.waitForWorkers(wake);
    return run.finish();
}

} // namespace app
