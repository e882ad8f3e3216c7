#pragma once
// File routines shared by the whole program, and the temporary folder.

#include <QByteArray>
#include <QString>

#include <functional>

namespace common {

// True when the path's last-modified time can be read: a folder counts too.
// Never fails.
bool fileExists(const QString& path);

// Deletes one file; every failure is ignored.
void deleteFileQuietly(const QString& path);

// Lets pending events run once, then writes the bytes to a new file at path
// unless something already exists there. Never follows a link planted at the
// path, and never leaves a half-written file behind. Throws automation::Error.
void writeBytesIfMissing(const QByteArray& bytes, const QString& path);

// True when anything holds the name: a file, a folder, or a symbolic link,
// also one that points nowhere. Saving asks before using a taken name.
bool nameTaken(const QString& path);

// Copies a whole file. Where the target is a symbolic link, the file it names
// is written (created, when the link points nowhere) and the link stays.
// The target is replaced only once the copy is complete,
// so a failed copy leaves an existing target exactly as it was; the
// replacement keeps the old file's permissions, and its owner and group as
// far as the user may set them. Where the target's folder takes no new file
// or refuses the replacement, an existing target the user may write is
// written over in place instead, again with nothing lost when that fails.
void copyFileWhole(const QString& source, const QString& target);

// The temporary folder: TEMP (name matched without regard to case) when set
// and not empty, else a private per-user folder (mode 0700) under the system
// temporary folder.
QString tempFolder();

// The folder tempFolder() would give, found without creating or changing
// anything: TEMP when set, else the usual private folder's name.
QString tempFolderName();

// tempFolder() + "/" + name.
QString tempPath(const QString& name);

namespace testing {
// Stand-in for reserving room in a file (fallocate), so tests can take the
// route of file systems that cannot. Returns 0 or the error; an empty one
// restores the real call.
using ReserveCall = std::function<int(int fd, long long length)>;
void setReserveForTests(ReserveCall reserve);

// Stand-ins for every call that writes an existing file over in place, so
// tests can make each fail as a disk or network mount would. Each returns 0
// or the error; an empty member is the real call. Setting them replaces the
// reserve stand-in too.
struct InPlaceCalls {
    ReserveCall reserve;
    std::function<int(int fd, const char* data, long long size, long long at)> write;
    std::function<int(int fd, long long length)> truncate;
    std::function<int(int fd)> sync;
};
void setInPlaceCallsForTests(const InPlaceCalls& calls);
// The real whole write, for stand-ins that fail only some calls.
int realWriteAt(int fd, const char* data, long long size, long long at);

// Stand-in for the random number that names the copy made beside a target;
// an empty one restores the real generator.
using CopyNameCall = std::function<quint64()>;
void setCopyNameForTests(CopyNameCall next);
} // namespace testing

} // namespace common
