#pragma once
// The pieces of the office server that need no UNO: profile pool, replacement
// text rules and the page picture. Kept apart so they can be tested directly.

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include "unique_fd.h"

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

// ---- replacement text --------------------------------------------------------

// The lines of a replacement: CR LF, CR, LF and VT separate lines (they become
// line breaks inside the paragraph). FF (a page break) separates lines too, and
// the line after it begins with '\f': it starts a new page where the text can
// break to one. The other control characters, which Writer refuses, are dropped.
QStringList replacementLines(const QString& text);

// ---- page picture ------------------------------------------------------------

// The smallest rectangle of a rendered page that holds everything that is not
// paper, as the stacking below trims it; null for a blank page.
QRect pageContentBox(const QImage& page);

// Trims the white margins of rendered pages and stacks them top to bottom,
// a small gap apart. Blank pages are left out; a wholly blank document gives
// its first page untrimmed. The result carries the pages' resolution.
// A non-empty endText is set in a band below the last page, the visible end
// of a picture that leaves pages out.
struct PictureFrame {
    int marginPx = 0;    // white paper all round the content
    int noteWidthPx = 0; // the end note's text keeps within this width; 0: the whole
};
QImage stackPages(const QList<QImage>& pages, int gapPx, const QString& endText = QString(),
                  PictureFrame frame = {});

// The frame of the preview's picture at a resolution: a margin that keeps the
// notice clear of the viewer's edges at every zoom, and an end note that reads
// whole in the width the viewer shows at natural size (about 6.4 inches).
PictureFrame previewFrame(double dpi);

// What the end of a picture that leaves pages out says. totalPages is 0 when
// the document's length could not be told.
QString previewEndText(int shownPages, int totalPages);

} // namespace office
