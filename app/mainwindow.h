#pragma once
// The main window: the nine-field entry form and its three buttons. Creating
// it runs the whole start-up (load) before it is first shown.

#include "entry/warningrecord.h"
#include "platform/ui/controls.h"
#include "platform/ui/pointer.h"
#include "platform/ui/skinframework.h"

#include <QAction>
#include <QLabel>
#include <QWidget>
#include <array>
#include <optional>

class PreviewWindow;

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    // Creates the window and runs load. The caller shows it unless the
    // program was ended meanwhile (common::programEnded()).
    static MainWindow* create();
    static MainWindow* instance(); // nullptr until created, and after it is destroyed
    ~MainWindow() override;

    ui::SkinnedButton* createButton = nullptr;
    ui::SkinnedButton* clearButton = nullptr;
    ui::SkinnedButton* sampleButton = nullptr;
    ui::Frame* dataFrame = nullptr; // "Warning Data": the six one-line fields
    ui::Frame* infractionFrame = nullptr;
    ui::Frame* improvementFrame = nullptr;
    ui::Frame* consequencesFrame = nullptr;
    QLabel* dateLabel = nullptr;
    QLabel* employeeIdLabel = nullptr;
    QLabel* employeeNameLabel = nullptr;
    QLabel* jobTitleLabel = nullptr;
    QLabel* managerLabel = nullptr;
    QLabel* departmentLabel = nullptr;
    ui::SkinFramework skin;
    ui::WindowPointer pointer{this};
    // Ctrl+Z, and "Undo" in the fields' menu: the nine fields as they were
    // before the last Clear or Load Sample that changed them.
    QAction* undoAction = nullptr;

    ui::TextBox* field(entry::Fact fact) const { return mFields[entry::indexOf(fact)]; }
    // In the record's order.
    const std::array<ui::TextBox*, 9>& fields() const { return mFields; }
    entry::FactValues fieldValues() const;

    // The generation handler's guard against a second click.
    bool mBusy = false;

    // Start-up and shell.
    void load();
    void unload();
    void windowHovered() { pointer.hoverBackground(); }
    void frameHovered() { pointer.hoverBackground(); }
    void buttonHovered() { pointer.hoverButton(); }

    // The warning record.
    void fieldChanged(entry::Fact fact);
    void fieldFocused(entry::Fact fact);
    void clearClicked();
    void sampleClicked();
    void undoClicked();

    // "Start Creating Template".
    void createClicked();

  protected:
    void closeEvent(QCloseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    MainWindow();
    void buildLayout();
    void addButtons();
    void addFrames();
    void addLabels(); // inside the data frame, which must be there
    void addFields();
    void linkFields(); // labels to their fields, and the tab order
    static PreviewWindow* previewWindow();
    static void showAgain();
    std::array<ui::TextBox*, 9> mFields{};
    bool mCentred = false;
    void keepForUndo(const entry::FactValues& before);
    std::optional<entry::FactValues> mBeforeBulkChange;
};
