#pragma once
// What every test process shares: a private home (so the settings store,
// caches and TEMP are the test's own), and seams that answer message boxes and
// the save dialog instead of a person.

#include "platform/ui/commondialog.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/printdialog.h"

#include <QApplication>
#include <QList>
#include <QString>
#include <QTest>
#include <functional>

namespace testsupport {

// Points HOME, the XDG folders and TEMP at a fresh folder that
// is removed when the process ends. Call first thing in main.
void isolateEnvironment();
QString sandboxRoot();

// Answers every message box while alive and keeps what was asked.
class MsgBoxRecorder {
  public:
    explicit MsgBoxRecorder(int answer = ui::vbOK);
    ~MsgBoxRecorder();
    QList<ui::MsgBoxRequest> seen;
    std::function<int(const ui::MsgBoxRequest&)> answer; // default: the fixed answer
    QStringList prompts() const;
};

// Answers the save dialog with a fixed path ("" = cancel) and keeps the requests.
class SaveDialogRecorder {
  public:
    explicit SaveDialogRecorder(QString path);
    ~SaveDialogRecorder();
    QString path;
    QList<ui::SaveDialogRequest> seen;
};

// Answers the print dialog with a fixed choice (accepted false = cancel) and
// keeps the requests.
class PrintDialogRecorder {
  public:
    explicit PrintDialogRecorder(ui::PrintChoice choice);
    ~PrintDialogRecorder();
    ui::PrintChoice choice;
    QList<ui::PrintDialogRequest> seen;
};

// Makes the locale (e.g. "de_DE.UTF-8") from the system's locale sources into
// the sandbox and points LOCPATH there, so that it exists for this process and
// its children whether or not the machine has it. Returns "" when it is ready,
// else why it cannot be made here.
QString provideLocale(const QString& name);

// Writes a file with the given bytes (creating folders); returns its path.
QString writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// While alive, the file or folder takes no change of its own: a folder takes
// no new entry (its files stay writable), a file cannot be written or
// replaced. Holds for root too, through the immutable flag; sealed is false
// where the file system has no such flag.
class Sealed {
  public:
    explicit Sealed(const QString& path);
    ~Sealed();
    Sealed(const Sealed&) = delete;
    Sealed& operator=(const Sealed&) = delete;
    bool sealed = false;

  private:
    bool set(bool on);
    QByteArray mPath;
};

} // namespace testsupport

// A Qt Test main with the private environment and a QApplication.
#define VELTRANE_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char** argv) {                                                              \
        testsupport::isolateEnvironment();                                                         \
        QApplication app(argc, argv);                                                              \
        TestClass tc;                                                                              \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
