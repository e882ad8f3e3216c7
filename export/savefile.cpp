// "Save Results To Word File": a byte-for-byte copy of the filled document to
// a place the user picks.

#include "export/saving.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "platform/ui/commondialog.h"
#include "platform/ui/msgbox.h"

using common::ErrorTrap;

namespace exporting {

int askBeforeOverwrite(ErrorTrap& trap, const QString& target, OverwriteSteps steps) {
    int answer = 0;
    bool exists = false;
    trap.at(steps.check, [&] { exists = common::nameTaken(target); });
    if (exists) {
        trap.at(steps.ask, [&] {
            answer = ui::MsgBox(QStringLiteral("Are you sure you wish to overwrite ") + target +
                                    QStringLiteral(" ?"),
                                ui::vbYesNo);
        });
    } else if (steps.free != 0) {
        trap.at(steps.free, [&] { answer = ui::vbYes; });
    } else {
        answer = ui::vbYes;
    }
    return answer;
}

void saveWordCopy(ErrorTrap& trap, ui::CommonDialog& dialog, const QString& document) {
    QString target;
    int answer = 0;
    trap.at(106, [&] { dialog.FileName = QString(); });
    trap.at(108, [&] { dialog.DialogTitle = QStringLiteral("Save File"); });
    trap.at(110, [&] { dialog.Filter = QStringLiteral("Word Files (*.doc)|*.doc"); });
    trap.at(112, [&] { dialog.ShowSave(); });
    // Used exactly as the dialog returns it: the program adds nothing.
    trap.at(114, [&] { target = dialog.FileName; });
    bool cancelled = false;
    trap.at(116, [&] { cancelled = target.isEmpty(); });
    // The old file is not deleted when the answer is yes: the copy below
    // replaces it only once the new one is complete, so a failed save leaves
    // it intact.
    if (!cancelled)
        answer = askBeforeOverwrite(trap, target, {118, 120, 126});
    bool copy = false;
    trap.at(128, [&] { copy = answer == ui::vbYes; });
    bool copied = false;
    if (copy)
        trap.at(130, [&] {
            common::copyFileWhole(document, target);
            copied = true;
        });
    // After a failed copy the error report has said what happened; "Done."
    // would claim the opposite.
    if (!copy || copied)
        trap.at(132, [&] { ui::MsgBox(QStringLiteral("Done."), ui::vbOKOnly); });
}

} // namespace exporting
