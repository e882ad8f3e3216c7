#pragma once
// The paper the desktop uses, for the built-in template: the locale's
// (LC_PAPER as the C library reports it), else the system's default paper
// as libpaper keeps it ($PAPERSIZE, the file $PAPERCONF names, or
// /etc/papersize), else US Letter.

#include <QString>

namespace generate {

enum class Paper { Letter, A4 };

struct PaperChoice {
    Paper paper = Paper::Letter;
    QString source; // where it came from, for the log: "LC_PAPER=de_DE.UTF-8", ...
};

PaperChoice desktopPaper();

// The built-in template's resource id ("CUSTOM") for a paper.
int builtInTemplateId(Paper paper);

} // namespace generate
