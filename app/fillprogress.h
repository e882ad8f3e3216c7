#pragma once
// How far a list has come, said on standard error: a progress line on a
// terminal, or one line per row elsewhere.

#include "app/fillinput.h"

#include <QElapsedTimer>
#include <QString>

namespace app::fill {

class Progress {
  public:
    explicit Progress(int total);

    // A row done: made when failure is "", else not made and why.
    void row(const Row& r, const QString& failure);
    void finish(int made, int failed);
    double seconds() const;

  private:
    void clearLine();
    void draw();

    int mTotal;
    int mDone = 0;
    bool mTerminal;
    bool mShown = false;
    QElapsedTimer mClock;
};

} // namespace app::fill
