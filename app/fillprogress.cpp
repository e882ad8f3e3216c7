#include "fillprogress.h"

#include "app/fillrun.h"

#include <unistd.h>

namespace app::fill {

Progress::Progress(int total) : mTotal(total), mTerminal(::isatty(2) == 1) {
    mClock.start();
}

void Progress::row(const Row& r, const QString& failure) {
    ++mDone;
    clearLine();
    if (!failure.isEmpty())
        say(stderr, QStringLiteral("row %1: not made: %2\n").arg(r.number).arg(failure));
    else if (!mTerminal)
        say(stderr, QStringLiteral("row %1: made %2\n").arg(r.number).arg(r.target));
    if (mTerminal)
        draw();
}

void Progress::finish(int made, int failed) {
    clearLine();
    say(stderr, QStringLiteral("made %1, failed %2, %3 seconds\n")
                    .arg(made)
                    .arg(failed)
                    .arg(seconds(), 0, 'f', 1));
}

double Progress::seconds() const {
    return double(mClock.nsecsElapsed()) / 1e9;
}

void Progress::clearLine() {
    if (mTerminal && mShown)
        say(stderr, QStringLiteral("\r\033[K"));
    mShown = false;
}

void Progress::draw() {
    const double s = seconds();
    const double rate = s > 0 ? mDone / s : 0;
    QString line = QStringLiteral("%1 of %2 notices").arg(mDone).arg(mTotal);
    if (rate > 0)
        line += QStringLiteral(", %1 a second, about %2 s left")
                    .arg(rate, 0, 'f', 1)
                    .arg(qRound((mTotal - mDone) / rate));
    say(stderr, line);
    mShown = true;
}

} // namespace app::fill
