#pragma once
// The preview window: the page picture in a zoomable, draggable viewport,
// with "Save Results To Word File" and "< Back".
//
// Window, set-up and viewport live in preview/; saving, going back and
// closing in export/.

#include "platform/ui/commondialog.h"
#include "platform/ui/controls.h"
#include "platform/ui/pointer.h"
#include "preview/picturebox.h"

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>

class QAction;
class QKeyEvent;
class QScrollBar;
class QWheelEvent;

namespace app {
class ErrorTrap;
}

class Form2 : public QWidget {
    Q_OBJECT
  public:
    // The one preview window. The first call loads it (runs Form_Load).
    static Form2* instance();
    // nullptr while it is not loaded.
    static Form2* loaded();
    ~Form2() override;

    // Full path of the filled document in the temporary folder.
    QString mWordFile;

    // The hand-over of a new page picture to the viewer box; the set-up for it
    // runs at the next activation of the window.
    void setPicture1(const QImage& picture);
    QImage picture1() const;

    // Controls, named as on the form.
    preview::PictureBox* Picture2 = nullptr; // the viewport
    preview::PictureBox* Picture1 = nullptr; // the viewer box, inside Picture2
    preview::PictureBox* Zoom_Ori = nullptr; // holder of the unzoomed picture
    QScrollBar* HScroll1 = nullptr;
    QScrollBar* VScroll1 = nullptr;
    ui::Frame* Frame1 = nullptr;
    ui::PushButton* PushButton1 = nullptr; // "Zoom In"
    ui::PushButton* PushButton2 = nullptr; // "Zoom Out"
    ui::PushButton* PushButton8 = nullptr; // "< Back"
    ui::PushButton* PushButton6 = nullptr; // "Save Results To Word File"
    ui::CommonDialog CommonDialog1{this};
    ui::WindowPointer Pointer{this};

    // Loading, set-up and hover pointer.
    void Form_Load();
    void Form_Activate();
    void Form_MouseMove() { Pointer.hoverBackground(); }
    void Frame1_MouseMove() { Pointer.hoverBackground(); }
    void PushButton_MouseMove() { Pointer.hoverButton(); }

    // Zoom.
    void PushButton1_Click();
    void PushButton2_Click();

    // Scrolling and dragging. Coordinates are twips inside the viewer box.
    void HScroll1_Change();
    void VScroll1_Change();
    void picture1_MouseDown(int Button, int Shift, float X, float Y);
    void picture1_MouseMove(int Button, int Shift, float X, float Y);
    void Picture1_MouseUp(int Button, int Shift, float X, float Y);
    void SetHScrollbarByPercent(QScrollBar* HScrollbar, const int16_t& percent);
    void SetVScrollbarByPercent(QScrollBar* VScrollbar, const int16_t& percent);

    // Saving, going back and closing.
    void PushButton6_Click();
    void PushButton8_Click();
    void Form_QueryUnload(int& Cancel, int UnloadMode);
    void Form_Unload();

    // The picture's context menu, each entry with its shortcut: print, save
    // as PDF, and what the buttons do.
    QAction* mnuPrint = nullptr;
    QAction* mnuSaveAsPdf = nullptr;
    QAction* mnuSaveResults = nullptr;
    QAction* mnuZoomIn = nullptr;
    QAction* mnuZoomOut = nullptr;
    void mnuPrint_Click();
    void mnuSaveAsPdf_Click();

  protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    Form2();
    friend struct Form2Probe; // tests and benchmarks read the viewport state

    void buildLayout();
    void addPictures();
    void addScrollBars();
    void addButtons();
    void addContextMenu();
    void describeForScreenReaders();
    void scheduleSetUp();
    void RedrawImage();
    void ResetToNaturalSize(app::ErrorTrap& trap);
    void InitScrollbars();
    void SetZoom(const float& zoom);
    void ZoomStep(const int32_t& direction);

    // The wheel and keys over the picture.
    bool viewerWheel(QWheelEvent* e);
    bool viewerKey(QKeyEvent* e);
    void scrollView(QScrollBar* bar, int16_t step, double& remainder, double twips);
    bool menuOnStillRightClick(QEvent* e);

    // The viewport state.
    float mDragStartX = 0;
    float mDragStartY = 0;
    int16_t mHStep = 0;
    int16_t mVStep = 0;
    int32_t mImageWidth = 0;
    int32_t mImageHeight = 0;
    int32_t mZoomedWidth = 0;
    int32_t mZoomedHeight = 0;
    float mZoom = 1.0f;
    bool mFirstActivate = false;

    double mWheelRestX = 0; // wheel turns smaller than one scroll step, kept
    double mWheelRestY = 0;
    int mWheelZoom = 0;
    bool mCentred = false;
    bool mInActivate = false;
    QPoint mMenuPressAt; // where the right button went down
    bool mMenuClickStill = false;
};
