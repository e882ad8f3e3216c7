#pragma once
// Where a generation's time goes. A StageClock names a stage and, when the
// category "veltrane.stages" is switched on for debug messages, logs how long
// the stage took as "<stage> <milliseconds>". Off (the default), it costs one
// flag test. The program and the office plugin each have their own copy of
// the category; Qt's filter rules reach both.

#include <QElapsedTimer>
#include <QLoggingCategory>

namespace automation {

inline const QLoggingCategory& stagesCategory() {
    static const QLoggingCategory category("veltrane.stages", QtInfoMsg);
    return category;
}

class StageClock {
  public:
    explicit StageClock(const char* stage) : mStage(stage) {
        if (stagesCategory().isDebugEnabled())
            mTimer.start();
    }
    ~StageClock() { stop(); }
    StageClock(const StageClock&) = delete;
    StageClock& operator=(const StageClock&) = delete;

    // Ends the stage before the end of its scope.
    void stop() {
        if (!mTimer.isValid())
            return;
        const double ms = static_cast<double>(mTimer.nsecsElapsed()) / 1e6;
        mTimer.invalidate();
        qCDebug(stagesCategory, "%s %.3f", mStage, ms);
    }

  private:
    const char* mStage;
    QElapsedTimer mTimer;
};

} // namespace automation
