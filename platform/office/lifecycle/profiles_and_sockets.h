#pragma once
// The pieces of the office's life cycle that need no UNO: the profile pool and
// the pipe sockets. Kept apart so they can be tested directly.

#include <QList>
#include <QString>
#include <QStringList>

#include "platform/office/lifecycle/unique_fd.h"

#include <sys/types.h>

namespace office {

// ---- profiles ----------------------------------------------------------------

// The installed office's "major.minor" (e.g. "7.4"), read from its bootstrap
// files in programDir; empty when it cannot be told.
QString installedOfficeVersion(const QString& programDir);

// Makes sure the profile's registrymodifications.xcu says the office has already
// run at this version, so a headless start skips its slow first-run self-test,
// and that document locking is off. Keeps every other setting already in the
// file. Returns false if it cannot write.
bool seedProfile(const QString& profileDir, const QString& version);

// One profile folder, held exclusively (flock) while an office uses it.
struct ProfileLease {
    QString dir;   // the profile folder (UserInstallation)
    UniqueFd lock; // the flock'ed lock file, close-on-exec
};

// Takes the first free profile of the pool under root (root/0, root/1, ...),
// creating and seeding it when new. Throws automation::Error when the pool is
// exhausted or cannot be created.
ProfileLease leaseProfile(const QString& root, const QString& version, int poolSize = 16);

// The pool's default place: $XDG_CACHE_HOME/veltrane/office-profiles, made
// when missing. Where that cannot be written, a folder private to the user
// under the system's temporary folder. Throws automation::Error naming each
// folder and why it cannot serve when neither can.
QString defaultProfileRoot();

// ---- pipe sockets -------------------------------------------------------------

// The named Unix sockets process pid listens on (an office's accept pipe and
// its single-instance pipe), read from /proc.
QStringList listeningSockets(pid_t pid);

// Removes those of paths that are this user's sockets nobody listens on any
// more. Never touches a live socket or another user's.
void removeStaleSockets(const QStringList& paths);

// Removes this user's sockets among paths, listened on or not: for the
// sockets of an office that is known to be gone, whose profile is still held.
void removeSockets(const QStringList& paths);

// What an office of profileDir listens on, kept in the profile so that what a
// killed office left can be removed by the next program to use the profile.
void recordSockets(const QString& profileDir, const QStringList& paths);
QStringList recordedSockets(const QString& profileDir);

// Removes the accept pipes in dir that offices of programs no longer running
// left behind (names carry the program's process id).
void sweepOrphanedPipes(const QString& dir = QStringLiteral("/tmp"));

// The accept pipe name of an office of this program: unique per run and office.
QByteArray officePipeName();

} // namespace office
