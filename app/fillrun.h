#pragma once
// What a run of "veltrane fill" needs, one notice or a list alike: its words on
// the terminal, a private folder, the template, and a notice put in place
// whole; its clean stop on SIGINT and SIGTERM is in stopsignals.h.

#include "app/stopsignals.h"
#include "generate/fill.h"

#include <QString>

#include <cstdio>

namespace app::fill {

void say(FILE* to, const QString& text);

// A folder of this run's own under the system's temporary folder, so nothing
// is shared with a window that runs meanwhile; removed with everything in it.
class PrivateFolder {
  public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    QString path() const { return mPath; }
    QString error() const { return mError; }

  private:
    QString mPath;
    QString mError;
};

// What the window shows in a message box is said on standard error here.
void messagesToTerminal();

// The template the window would use (the organisation's own first), written
// once into the run's folder; "" after saying why it cannot be.
QString writeTemplate(const QString& folder);

QString existsMessage(const QString& path);

// Makes the notice apart, then puts it in place with the saving routine of the
// window, so the target is whole or untouched. Throws automation::Error.
void makeNotice(generate::NoticeFiller& filler, const generate::Facts& facts,
                generate::NoticeFormat format, const QString& staged, const QString& target,
                bool force);

} // namespace app::fill
