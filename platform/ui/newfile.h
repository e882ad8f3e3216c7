#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace ui {

// Writes bytes to a file that must not exist yet (mode 0600). The file appears
// whole or not at all, even if the program is killed while writing: the bytes
// go to a hidden file beside it that is then linked into place, which also
// refuses anything, a planted link included, that holds the name meanwhile.
// Where the file system has no hard links, an exclusive rename does the same;
// where it has neither, the name is first claimed with an empty file and the
// finished one moved over that claim. Throws automation::Error naming the path.
void writeNewFile(const QByteArray& bytes, const QString& path);

// The same for bytes in pieces, written one after the other, so a large
// picture's rows need not be gathered into one buffer first.
void writeNewFile(const QList<QByteArrayView>& pieces, const QString& path);

// The error for a failed file operation: the system's description and the path.
[[noreturn]] void throwFileError(int err, const QString& path);

namespace testing {
// Stand-ins for link(2) and for rename without replacing, so tests can take
// the routes of file systems that lack them. nullptr restores the real call.
using PathCall = int (*)(const char* from, const char* to);
void setPathCallsForTests(PathCall link, PathCall renameNoReplace);
} // namespace testing

} // namespace ui
