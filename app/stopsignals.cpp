#include "stopsignals.h"

#include "app/mainwindow.h"
#include "common/programend.h"
#include "platform/ui/msgbox.h"
#include "preview/previewwindow.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace app {

namespace {

Q_LOGGING_CATEGORY(lcStop, "veltrane.stop")

volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gWakeFd = -1; // written to on a signal, so a wait wakes up

extern "C" void onStopSignal(int sig) {
    if (gSignal == 0)
        gSignal = sig;
    if (gWakeFd >= 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t w = ::write(gWakeFd, "!", 1);
        errno = saved;
    }
}

// How often a stop that waits for a generation looks again.
constexpr int kBusyRecheckMs = 50;

// At a logout nobody is there to answer a box, and a box left open would hold
// the end up until the session kills the program: the one that is up closes,
// later ones are not shown (their text goes to the log) and get the answer
// that changes nothing.
void answerBoxesUnattended() {
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& request) {
        qCWarning(lcStop, "ending: a message not shown: %s",
                  qPrintable(ui::displayText(request.prompt)));
        return (request.style & ui::vbYesNo) == ui::vbYesNo ? int(ui::vbNo) : int(ui::vbOK);
    });
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
}

} // namespace

StopSignals::StopSignals(bool catchInterrupt, bool catchHangUp) : mCatchHangUp(catchHangUp) {
    gSignal = 0;
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, &mOldTerm);
    if (mCatchHangUp)
        ::sigaction(SIGHUP, &sa, &mOldHup);
    if (!catchInterrupt)
        sa.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &sa, &mOldInt);
}

StopSignals::~StopSignals() {
    ::sigaction(SIGTERM, &mOldTerm, nullptr);
    ::sigaction(SIGINT, &mOldInt, nullptr);
    if (mCatchHangUp)
        ::sigaction(SIGHUP, &mOldHup, nullptr);
}

bool StopSignals::stopped() {
    return gSignal != 0;
}
int StopSignals::status() {
    return 128 + gSignal;
}

WakePipe::WakePipe() {
    if (::pipe2(mFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        mError = QString::fromLocal8Bit(std::strerror(errno));
        mFds[0] = mFds[1] = -1;
        return;
    }
    gWakeFd = mFds[1];
}

WakePipe::~WakePipe() {
    if (mFds[0] < 0)
        return;
    gWakeFd = -1;
    ::close(mFds[0]);
    ::close(mFds[1]);
}

void WakePipe::drain() {
    char drained[64];
    while (::read(mFds[0], drained, sizeof drained) > 0) {
    }
}

CloseOnStopSignals::CloseOnStopSignals() {
    if (!mWake.error().isEmpty()) {
        qCWarning(lcStop, "stop signals end the program at once: no pipe (%s)",
                  qPrintable(mWake.error()));
        return;
    }
    mSignals.emplace(true, true);
    mNotifier = new QSocketNotifier(mWake.readEnd(), QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, [this] {
        mWake.drain();
        closeWhenIdle();
    });
}

CloseOnStopSignals::~CloseOnStopSignals() {
    delete mNotifier; // before the pipe it watches is closed
}

int CloseOnStopSignals::exitStatus(int loopStatus) const {
    return StopSignals::stopped() ? StopSignals::status() : loopStatus;
}

void CloseOnStopSignals::closeWhenIdle() {
    if (!StopSignals::stopped() || common::programEnded())
        return;
    MainWindow* form = MainWindow::instance();
    // A generation ends with its preview up; that preview is then closed
    // with its document, rather than the document left half made.
    if (form && form->mBusy) {
        answerBoxesUnattended();
        QTimer::singleShot(kBusyRecheckMs, this, &CloseOnStopSignals::closeWhenIdle);
        return;
    }
    qCInfo(lcStop, "ending on signal %d as a close does", int(gSignal));
    PreviewWindow* preview = PreviewWindow::loaded();
    if (preview && preview->isVisible())
        preview->close();
    else if (form && form->isVisible())
        form->close();
    if (!common::programEnded())
        common::endProgram(0);
}

} // namespace app
