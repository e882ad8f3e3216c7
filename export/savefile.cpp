// "Save Results To Word File": a byte-for-byte copy of the filled document to
// a place the user picks.

#include "preview/form2.h"

#include "app/errortrap.h"
#include "app/files.h"
#include "app/procnames.h"
#include "platform/ui/msgbox.h"

using app::ErrorTrap;

void Form2::PushButton6_Click() {
    ErrorTrap trap(app::proc::Form2_PushButton6_Click);
    QString target;
    int16_t answer = 0;
    trap.at(106, [&] { CommonDialog1.FileName = QString(); });
    trap.at(108, [&] { CommonDialog1.DialogTitle = QStringLiteral("Save File"); });
    trap.at(110, [&] { CommonDialog1.Filter = QStringLiteral("Word Files (*.doc)|*.doc"); });
    trap.at(112, [&] { CommonDialog1.ShowSave(); });
    // Used exactly as the dialog returns it: the program adds nothing.
    trap.at(114, [&] { target = CommonDialog1.FileName; });
    bool cancelled = false;
    trap.at(116, [&] { cancelled = target.isEmpty(); });
    if (!cancelled) {
        bool exists = false;
        // A link that points nowhere is still a name the user has there.
        trap.at(118, [&] { exists = app::NameTaken(target); });
        if (exists) {
            trap.at(120, [&] {
                answer = static_cast<int16_t>(
                    ui::MsgBox(QStringLiteral("Are you sure you wish to overwrite ") + target +
                                   QStringLiteral(" ?"),
                               ui::vbYesNo));
            });
            // The old file is not deleted here: the copy below replaces it only
            // once the new one is complete, so a failed save leaves it intact.
        } else {
            trap.at(126, [&] { answer = ui::vbYes; });
        }
    }
    bool copy = false;
    trap.at(128, [&] { copy = answer == ui::vbYes; });
    bool copied = false;
    if (copy)
        trap.at(130, [&] {
            app::CopyFileWhole(mWordFile, target);
            copied = true;
        });
    // After a failed copy the error report has said what happened; "Done."
    // would claim the opposite.
    if (!copy || copied)
        trap.at(132, [&] { ui::MsgBox(QStringLiteral("Done."), ui::vbOKOnly); });
}
