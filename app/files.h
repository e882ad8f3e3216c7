#pragma once
// File routines shared by the whole program, and the temporary folder.

#include <QByteArray>
#include <QString>

namespace app {

// True when the path's last-modified time can be read: a folder counts too.
// Never fails.
bool FileExists(const QString& path);

// Deletes one file; every failure is ignored.
void DeleteFileQuietly(const QString& path);

// Lets pending events run once, then writes the bytes to a new file at path
// unless something already exists there. Never follows a link planted at the
// path, and never leaves a half-written file behind. Throws automation::Error.
void WriteBytesIfMissing(const QByteArray& bytes, const QString& path);

// Copies a whole file. The target is replaced only once the copy is complete,
// so a failed copy leaves an existing target exactly as it was. Where the
// target's folder takes no new file, an existing target the user may write is
// written over in place instead.
void CopyFileWhole(const QString& source, const QString& target);

// The temporary folder: TEMP (name matched without regard to case) when set
// and not empty, else a private per-user folder (mode 0700) under the system
// temporary folder.
QString TempFolder();

// The folder TempFolder() would give, found without creating or changing
// anything: TEMP when set, else the usual private folder's name.
QString TempFolderName();

// TempFolder() + "/" + name.
QString TempPath(const QString& name);

} // namespace app
