// The warning record's handlers on the main window: every change is stored at
// once, focus selects the whole field, and the two buttons clear or fill it.

#include "app/mainwindow.h"
#include "common/errortrap.h"
#include "common/procnames.h"
#include "entry/sample.h"
#include "entry/settingsstore.h"
#include "platform/ui/msgbox.h"

using common::ErrorTrap;
using entry::Fact;

void MainWindow::fieldChanged(Fact fact) {
    if (!entry::storeField(fact, field(fact)->Text()) && entry::takeStoreFailureNotice()) {
        ui::MsgBox(QStringLiteral("Your entries could not be saved for the next start, because the "
                                  "settings file cannot be written.\r\n\r\nWhat you type stays in "
                                  "the form and can still be used now."));
    }
}

void MainWindow::fieldFocused(Fact fact) {
    ui::TextBox* t = field(fact);
    t->SetSelStart(0);
    t->SetSelLength(static_cast<int>(t->Text().size()));
}

// A press that changed nothing (Clear twice) keeps what the first one took.
void MainWindow::keepForUndo(const entry::FactValues& before) {
    if (fieldValues() == before)
        return;
    mBeforeBulkChange = before;
    undoAction->setEnabled(true);
}

void MainWindow::clearClicked() {
    const entry::FactValues before = fieldValues();
    ErrorTrap trap(common::proc::clearClicked);
    trap.line(100);
    for (Fact fact : entry::kFacts) {
        trap.at(102, [&] { field(fact)->SetText(QString()); });
        trap.line(104);
    }
    keepForUndo(before);
}

// Puts the nine fields back, each stored again by its change handler. Once:
// the fields as they are now are not kept.
void MainWindow::undoClicked() {
    if (!mBeforeBulkChange)
        return;
    const entry::FactValues values = *mBeforeBulkChange;
    mBeforeBulkChange.reset();
    undoAction->setEnabled(false);
    ErrorTrap trap(common::proc::undoClicked);
    trap.line(100);
    for (Fact fact : entry::kFacts) {
        trap.at(102, [&] { field(fact)->SetText(values[entry::indexOf(fact)]); });
        trap.line(104);
    }
}

void MainWindow::sampleClicked() {
    const entry::FactValues before = fieldValues();
    ErrorTrap trap(common::proc::sampleClicked);
    auto fill = [&](Fact fact) { field(fact)->SetText(entry::sampleValue(fact)); };
    trap.at(100, [&] { fill(Fact::Date); });
    trap.at(102, [&] { fill(Fact::EmployeeId); });
    trap.at(104, [&] { fill(Fact::EmployeeName); });
    trap.at(106, [&] { fill(Fact::JobTitle); });
    trap.at(108, [&] { fill(Fact::Manager); });
    trap.at(110, [&] { fill(Fact::Department); });
    trap.at(112, [&] { fill(Fact::Infraction); });
    trap.at(114, [&] { fill(Fact::Improvement); });
    trap.at(116, [&] { fill(Fact::Consequences); });
    keepForUndo(before);
}
