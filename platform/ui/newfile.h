#pragma once

#include <QByteArray>
#include <QString>

namespace ui {

// Writes bytes to a file that must not exist yet (mode 0600). The file appears
// whole or not at all, even if the program is killed while writing: the bytes
// go to a hidden file beside it that is then linked into place, which also
// refuses anything, a planted link included, that holds the name meanwhile.
// Throws automation::Error naming the path.
void writeNewFile(const QByteArray& bytes, const QString& path);

// The error for a failed file operation: the system's description and the path.
[[noreturn]] void throwFileError(int err, const QString& path);

} // namespace ui
