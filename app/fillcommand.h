#pragma once
// Notices from a script: one from a JSON file of facts (--fill), or one per
// row of a CSV list (--fill-list), made without a window or a display.

#include "generate/fill.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <optional>

namespace app {

// The facts of a JSON object whose keys are the nine fact names, each a
// string. On a fault, nothing, and why (a JSON error with its line and column).
std::optional<generate::Facts> factsFromJson(const QByteArray& json, QString& why);

// The name of a list row's notice: its employee ID and name, made safe for any
// file system (no '/', '\' or other character some system refuses, no control
// characters, no leading dot, at most 255 bytes, never "." or ".."), told
// apart from the names in taken (compared without regard to case, as some file
// systems do) by a number, and added to taken.
QString noticeFileName(const generate::Facts& facts, int row, const QString& suffix,
                       QSet<QString>& taken);

struct FillOptions {
    QString facts;  // --fill: a file, or "-" for standard input
    QString output; // --fill: the notice's file
    QString list;   // --fill-list: the CSV file
    QString outputDir;
    generate::NoticeFormat format = generate::NoticeFormat::Doc;
    int jobs = 0; // 0: the number of cores, at most 4
    bool force = false;
};

// Each returns the program's exit status: 0 done, 1 a notice could not be
// made, 2 bad input, 130/143 stopped by SIGINT/SIGTERM.
int fillOne(const FillOptions& options);
int fillList(const FillOptions& options);

// A worker of fillList, started by it as "veltrane --fill-worker TEMPLATE FOLDER":
// rows come on standard input, results go out on standard output.
int fillWorker(const QString& templatePath, const QString& folder);

} // namespace app
