#pragma once
// The main window: the nine-field entry form and its three buttons. Creating
// it runs the whole start-up (Form_Load) before it is first shown.

#include "platform/ui/controls.h"
#include "platform/ui/pointer.h"
#include "platform/ui/skinframework.h"

#include <QAction>
#include <QLabel>
#include <QWidget>
#include <array>
#include <optional>

class Form1 : public QWidget {
    Q_OBJECT
  public:
    // Creates the window and runs Form_Load. The caller shows it unless the
    // program was ended meanwhile (app::programEnded()).
    static Form1* create();
    static Form1* instance(); // nullptr until created, and after it is destroyed
    ~Form1() override;

    // Controls, named as on the form.
    ui::PushButton* PushButton6 = nullptr; // "Start Creating Template"
    ui::PushButton* PushButton3 = nullptr; // "Clear/Reset Data"
    ui::PushButton* PushButton4 = nullptr; // "Load Sample/Example Data"
    ui::Frame* Frame1 = nullptr;
    ui::Frame* Frame2 = nullptr;
    ui::Frame* Frame3 = nullptr;
    ui::Frame* Frame4 = nullptr;
    std::array<QLabel*, 14> Label2{}; // indices 0, 1, 2, 3, 12, 13 are used
    std::array<ui::TextBox*, 9> Text1{};
    ui::SkinFramework SkinFramework1;
    ui::WindowPointer Pointer{this};

    // The generation handler's guard against a second click.
    bool mBusy = false;

    // Start-up and shell.
    void Form_Load();
    void Form_Unload();
    void Form_MouseMove() { Pointer.hoverBackground(); }
    void Frame_MouseMove() { Pointer.hoverBackground(); }
    void PushButton_MouseMove() { Pointer.hoverButton(); }

    // The warning record.
    void Text1_Change(int index);
    void Text1_GotFocus(int index);
    void PushButton3_Click();
    void PushButton4_Click();
    // Ctrl+Z, and "Undo" in the fields' menu: the nine fields as they were
    // before the last Clear or Load Sample that changed them.
    QAction* mnuUndo = nullptr;
    void mnuUndo_Click();

    // Generation.
    void PushButton6_Click();
    void SaveDocAsJPG(QString path);

  protected:
    void closeEvent(QCloseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    Form1();
    void buildLayout();
    void addButtons();
    void addFrames();
    void addLabels(); // inside Frame1, which must be there
    void addFields();
    void linkFields(); // labels to their fields, and the tab order
    bool mCentred = false;
    using FieldTexts = std::array<QString, 9>;
    FieldTexts fieldTexts() const;
    void keepForUndo(const FieldTexts& before);
    std::optional<FieldTexts> mBeforeBulkChange;
};

namespace app {
// Skin and system colours for the main window; without the skin file nothing changes.
void ApplySkin();
} // namespace app
