#pragma once
// The worker processes of a list: each the program started again with
// "--fill-worker", with its own office. The list sends a row as one line of
// JSON on the worker's standard input ({"row", "format", "target", "force",
// "facts"}); the worker answers each with one line on its standard output
// ({"row"}, with "error" when the notice was not made), or once with
// {"fatal"} when its office cannot start.

#include "app/fillinput.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <sys/types.h>

namespace app::fill {

QByteArray jsonLine(const QJsonObject& o);

// Writes all of bytes, through interruptions; false when it cannot.
bool writeAll(int fd, const QByteArray& bytes);

// Lines read from a descriptor as they come.
class LineReader {
  public:
    explicit LineReader(int fd) : mFd(fd) {}
    // Reads what is there (blocking once); false at the end or on an error.
    bool fill();
    bool next(QByteArray& line);

  private:
    int mFd;
    QByteArray mBuffer;
};

// One worker process: its own office, rows in through its standard input,
// results out through its standard output.
struct Worker {
    pid_t pid = -1;
    int toWorker = -1;
    int fromWorker = -1;
    std::unique_ptr<LineReader> reader;
    int row = -1; // the index of the row it is making, or -1
    bool ended = false;

    void closeInput();
    void reap();
};

// Starts the program again as a worker; false when it cannot.
bool startWorker(Worker& w, const QString& templatePath, const QString& folder);

// The line that asks a worker for a row's notice.
QByteArray jobLine(const Row& r, const QString& format, bool force);

} // namespace app::fill
