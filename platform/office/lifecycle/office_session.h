#pragma once
// One "Word.Application" instance: a session on an office lent by the host.
// Quitting ends the session; the office goes back to the host, idle.

#include "platform/office/lifecycle/office_process.h"

#include <atomic>
#include <memory>

namespace office {

class OfficeSession {
  public:
    // A session on the host's idle office, or on a new one. Throws automation::Error.
    static std::shared_ptr<OfficeSession> begin();
    ~OfficeSession(); // ends the session if quit was never called

    OfficeSession(const OfficeSession&) = delete;
    OfficeSession& operator=(const OfficeSession&) = delete;

    // Runs fn, which talks to the office, under the watchdog.
    template <class F> auto call(const QString& member, Bound bound, F&& fn) -> decltype(fn()) {
        ensureUsable(member);
        // Opening, saving and rendering load Writer and its filters.
        if (bound == Bound::Lengthy)
            mLoadedWriter = true;
        return mOffice->call(member, bound, std::forward<F>(fn));
    }

    // Fails with a clear Error once the session has quit or its office died or hung.
    void ensureUsable(const QString& member) const;

    // Closes every document without saving and gives the office back. Later
    // calls fail. Throws when the office had already died or hung (the
    // session ends all the same).
    void quit();

    void keepUntilEnd(const Reference<css::uno::XInterface>& object);
    pid_t pid() const;
    Reference<css::uno::XComponentContext> context() const;
    Reference<css::frame::XDesktop2> desktop() const;
    QString privateTemp() const;

  private:
    explicit OfficeSession(std::shared_ptr<OfficeProcess> office) : mOffice(std::move(office)) {}
    void end();
    QString closeEverything();

    std::shared_ptr<OfficeProcess> mOffice;
    std::atomic<bool> mQuit{false};
    std::atomic<bool> mLoadedWriter{false};
};

} // namespace office
