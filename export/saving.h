#pragma once
// What the preview window's save, PDF and print commands do with the filled
// document. Each runs its numbered steps under the caller's error trap: a
// failed step is reported under its line and the next one still runs.

#include <QString>

class QWidget;

namespace common {
class ErrorTrap;
}

namespace ui {
class CommonDialog;
class WindowPointer;
} // namespace ui

namespace exporting {

// The numbered steps of asking before a file is replaced.
struct OverwriteSteps {
    int check; // whether the name is taken
    int ask;   // the question, only when it is
    int free;  // the "yes" a free name gets without asking; 0: no step of its own
};

// Whether target may be written: asked when the name is taken (a link that
// points nowhere is still a name the user has there), yes when it is free.
// Returns ui::vbYes, ui::vbNo, or 0 when a step failed before an answer.
int askBeforeOverwrite(common::ErrorTrap& trap, const QString& target, OverwriteSteps steps);

// "Save Results To Word File": a byte-for-byte copy of the document where
// the user picks, then "Done.".
void saveWordCopy(common::ErrorTrap& trap, ui::CommonDialog& dialog, const QString& document);

// "Save as PDF...": the document as an archival PDF (PDF/A-2b) where the
// user picks, under the same rules as the Word copy.
void savePdfCopy(common::ErrorTrap& trap, ui::CommonDialog& dialog, ui::WindowPointer& pointer,
                 const QString& document);

// "Print...": every page of the document through the printing system and
// the print dialog's choices; the dialog's parent is window.
void printDocument(common::ErrorTrap& trap, QWidget* window, ui::WindowPointer& pointer,
                   const QString& document);

} // namespace exporting
