#pragma once
// The save-file dialog: a title, a "description|pattern" filter and an initial
// name go in; the chosen full path, or "" on cancel, comes back in FileName.

#include <QString>
#include <functional>

class QWidget;

namespace ui {

struct SaveDialogRequest {
    QString title;
    QString filterDescription;
    QString filterPattern;
    QString initialName;
    // Added to a name typed without an extension: the filter's, without "*.".
    QString defaultSuffix;
};

class CommonDialog {
  public:
    explicit CommonDialog(QWidget* owner = nullptr) : mOwner(owner) {}

    QString FileName;
    QString DialogTitle;
    QString Filter;

    // Shows the dialog. It never asks about replacing a file (the program asks
    // itself) and a cancel is no error: FileName is then "". As desktop save
    // dialogs do, a name typed without an extension gets the filter's.
    void ShowSave();

  private:
    QWidget* mOwner;
};

// Test seam: while set, the dialog is answered by the handler.
using SaveDialogHandler = std::function<QString(const SaveDialogRequest&)>;
void setSaveDialogHandler(SaveDialogHandler handler);

} // namespace ui
