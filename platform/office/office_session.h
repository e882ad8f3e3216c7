#pragma once
// One running office: its soffice.bin process, the UNO bridge to it and the
// watchdog that bounds every call into it.

#include "platform/automation/automation.h"
#include "supervisor.h"
#include "uno_support.h"

#include <com/sun/star/frame/XDesktop2.hpp>

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace office {

// How long a call may take before the office counts as hung. Tests shorten them.
struct CallBounds {
    // Start-up: a first start on a new profile restarts itself once and may
    // meet a cold disk cache on a busy machine.
    Millis start{60000};
    // A property read or write answers in milliseconds; thirty seconds is far
    // beyond any busy machine and still short enough for a person to wait.
    Millis ordinary{30000};
    // Opening, saving, replacing all, rendering and closing touch the whole
    // document; a long value or a slow disk can take a while.
    Millis lengthy{120000};
    // After terminate, the time an office gets to exit on its own.
    Millis exitGrace{10000};
};
CallBounds& callBounds();

// The soffice.bin to start; tests point it elsewhere.
QByteArray& officeProgram();

enum class Bound { Ordinary, Lengthy };

class OfficeSession {
  public:
    // Starts a new office with a profile of its own. Throws automation::Error.
    static std::shared_ptr<OfficeSession> start();
    ~OfficeSession(); // ends the office if quit was never called

    OfficeSession(const OfficeSession&) = delete;
    OfficeSession& operator=(const OfficeSession&) = delete;

    // Runs fn, which talks to the office, under the watchdog. Any failure comes
    // out as an automation::Error naming member.
    template <class F> auto call(const QString& member, Bound bound, F&& fn) -> decltype(fn()) {
        ensureUsable(member);
        Watch watch(*this, bound);
        try {
            return fn();
        } catch (const automation::Error&) {
            throw;
        } catch (...) {
            rethrowAsError(member);
        }
    }

    // Fails with a clear Error once the office has quit, died or hung.
    void ensureUsable(const QString& member) const;

    // Closes what is still open and terminates the office. Later calls fail.
    void quit();

    // Releasing the drawing layer's text objects (shape texts and their
    // paragraphs and cursors) over the bridge races the office's own work and
    // can corrupt its memory: a release arrives on another thread of the
    // office, outside its lock. Such objects are kept until the office ends.
    void keepUntilEnd(const Reference<css::uno::XInterface>& object);

    pid_t pid() const;
    Reference<css::uno::XComponentContext> context() const { return mContext; }
    Reference<css::frame::XDesktop2> desktop() const { return mDesktop; }

  private:
    OfficeSession() = default;

    // Shared with the watchdog alarm, which may outlive a call but never the process.
    struct Link {
        std::mutex mutex;
        pid_t pid = -1;
        int lockFd = -1;
        bool handedOver = false; // the supervisor reaps it now
        Reference<css::lang::XComponent> bridge;
        std::atomic<bool> hung{false};
        std::atomic<bool> dead{false};
        Millis hungAfter{0};

        void killAndHandOver(); // kill the group now, let the supervisor reap
        void handOver(Millis grace);
        void disposeBridge();
    };

    class Watch {
      public:
        Watch(OfficeSession& s, Bound b);
        ~Watch();

      private:
        uint64_t mId;
    };

    [[noreturn]] void rethrowAsError(const QString& member);
    void connect(const QByteArray& pipeName, const QString& profileDir);
    void end(bool polite);

    std::shared_ptr<Link> mLink = std::make_shared<Link>();
    Reference<css::uno::XComponentContext> mContext;
    Reference<css::frame::XDesktop2> mDesktop;
    std::atomic<bool> mQuit{false};
    std::mutex mKeptMutex;
    std::vector<Reference<css::uno::XInterface>> mKept;
};

} // namespace office
