#pragma once

#include <QByteArray>
#include <QString>

namespace ui {

// Writes bytes to a file that must not exist yet (mode 0600). Refuses a link
// planted at the path, and removes a half-written file rather than leave it.
// Throws automation::Error naming the path.
void writeNewFile(const QByteArray& bytes, const QString& path);

// The error for a failed file operation: the system's description and the path.
[[noreturn]] void throwFileError(int err, const QString& path);

} // namespace ui
