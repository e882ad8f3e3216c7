#pragma once
// The one error trap of every handler that can fail. A handler numbers its
// steps; a failing step is reported with the handler's name and the step's
// number, and the handler goes on with its next step:
//
//     ErrorTrap trap(proc::mainWindowLoad);
//     trap.at(100, [&] { applySkin(this, skin); });
//     trap.at(104, [&] { ... });

#include <QString>
#include <exception>
#include <utility>

namespace common {

// Shows the common report: description, CR LF, procedure text, "at line N",
// CR CR, and the contact line. Title "Application Error", warning icon, OK.
void reportError(const QString& procedureText, int line, const QString& description);

// The report's text exactly as the box shows it (before line breaks are drawn).
QString errorReportText(const QString& procedureText, int line, const QString& description);

class ErrorTrap {
  public:
    explicit ErrorTrap(const char* procedureText) : mProc(QString::fromLatin1(procedureText)) {}

    // Runs one numbered step under the trap. Once the program has been ended
    // (a window closed while this handler let events run), nothing further runs.
    template <class F> void at(int line, F&& step) {
        if (programHasEnded())
            return;
        mLine = line;
        try {
            std::forward<F>(step)();
        } catch (...) {
            report(std::current_exception());
        }
    }

    // Marks a numbered line that holds no action of its own (a loop's head or
    // advance), so a later report names the right place.
    void line(int n) { mLine = n; }

  private:
    static bool programHasEnded();
    void report(std::exception_ptr e);
    QString mProc;
    int mLine = 0;
};

} // namespace common
