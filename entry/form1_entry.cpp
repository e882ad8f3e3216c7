// The warning record's handlers on the main window: every change is stored at
// once, focus selects the whole field, and the two buttons clear or fill it.

#include "app/errortrap.h"
#include "app/form1.h"
#include "app/procnames.h"
#include "entry/settingsstore.h"
#include "entry/warningrecord.h"
#include "platform/ui/msgbox.h"

#include <QDate>
#include <QLocale>

using app::ErrorTrap;

void Form1::Text1_Change(int index) {
    const QString text = Text1[static_cast<size_t>(index)]->Text();
    if (!entry::SaveSetting(entry::settingsKey(index), text) && entry::TakeStoreFailureNotice()) {
        ui::MsgBox(QStringLiteral("Your entries could not be saved for the next start, because the "
                                  "settings file cannot be written.\r\n\r\nWhat you type stays in "
                                  "the form and can still be used now."));
    }
}

void Form1::Text1_GotFocus(int index) {
    ui::TextBox* t = Text1[static_cast<size_t>(index)];
    t->SetSelStart(0);
    t->SetSelLength(static_cast<int>(t->Text().size()));
}

Form1::FieldTexts Form1::fieldTexts() const {
    FieldTexts texts;
    for (size_t index = 0; index < texts.size(); ++index)
        texts[index] = Text1[index]->Text();
    return texts;
}

// A press that changed nothing (Clear twice) keeps what the first one took.
void Form1::keepForUndo(const FieldTexts& before) {
    if (fieldTexts() == before)
        return;
    mBeforeBulkChange = before;
    mnuUndo->setEnabled(true);
}

void Form1::PushButton3_Click() {
    const FieldTexts before = fieldTexts();
    ErrorTrap trap(app::proc::Form1_PushButton3_Click);
    trap.line(100);
    for (int index = 0; index <= 8; ++index) {
        trap.at(102, [&] { Text1[static_cast<size_t>(index)]->SetText(QString()); });
        trap.line(104);
    }
    keepForUndo(before);
}

// Puts the nine fields back, each stored again by its change handler. Once:
// the fields as they are now are not kept.
void Form1::mnuUndo_Click() {
    if (!mBeforeBulkChange)
        return;
    const FieldTexts texts = *mBeforeBulkChange;
    mBeforeBulkChange.reset();
    mnuUndo->setEnabled(false);
    ErrorTrap trap(app::proc::Form1_mnuUndo_Click);
    trap.line(100);
    for (int index = 0; index <= 8; ++index) {
        trap.at(102, [&] {
            Text1[static_cast<size_t>(index)]->SetText(texts[static_cast<size_t>(index)]);
        });
        trap.line(104);
    }
}

void Form1::PushButton4_Click() {
    const FieldTexts before = fieldTexts();
    ErrorTrap trap(app::proc::Form1_PushButton4_Click);
    trap.at(100, [&] {
        Text1[7]->SetText(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    });
    trap.at(102, [&] { Text1[8]->SetText(QStringLiteral("111")); });
    trap.at(104, [&] { Text1[0]->SetText(QStringLiteral("John Smith")); });
    trap.at(106, [&] { Text1[6]->SetText(QStringLiteral("Software Engineer")); });
    trap.at(108, [&] { Text1[1]->SetText(QStringLiteral("Alan Merrow")); });
    trap.at(110, [&] { Text1[2]->SetText(QStringLiteral("Information Technology")); });
    trap.at(112, [&] {
        Text1[3]->SetText(QStringLiteral("Keyboard wasn't plugged in during work hours."));
    });
    trap.at(114, [&] { Text1[4]->SetText(QStringLiteral("Plug it in.")); });
    trap.at(116, [&] { Text1[5]->SetText(QStringLiteral("You're fired.")); });
    keepForUndo(before);
}
