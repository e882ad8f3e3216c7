#pragma once
// The preview window: the page picture in a zoomable, draggable viewport,
// with "Save Results To Word File" and "< Back". Saving, printing and the
// PDF are done by export/; Back is told to whoever brings the main window.

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

namespace common {
class ErrorTrap;
}

class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    // The one preview window. The first call loads it (runs load).
    static PreviewWindow* instance();
    // nullptr while it is not loaded.
    static PreviewWindow* loaded();
    ~PreviewWindow() override;

    // Full path of the filled document in the temporary folder.
    QString mWordFile;

    // The hand-over of a new page picture to the viewer box; the set-up for it
    // runs at the next activation of the window.
    void setPicture(const QImage& picture);
    QImage picture() const;

    preview::PictureBox* viewport = nullptr;
    preview::PictureBox* viewer = nullptr;   // the page picture, inside the viewport
    preview::PictureBox* unzoomed = nullptr; // holder of the unzoomed picture
    QScrollBar* hScroll = nullptr;
    QScrollBar* vScroll = nullptr;
    ui::Frame* zoomFrame = nullptr;
    ui::SkinnedButton* zoomInButton = nullptr;
    ui::SkinnedButton* zoomOutButton = nullptr;
    ui::SkinnedButton* backButton = nullptr;
    ui::SkinnedButton* saveButton = nullptr;
    ui::CommonDialog saveDialog{this};
    ui::WindowPointer pointer{this};

    // Loading, set-up and hover pointer.
    void load();
    void setUpOnActivation();
    void windowHovered() { pointer.hoverBackground(); }
    void frameHovered() { pointer.hoverBackground(); }
    void buttonHovered() { pointer.hoverButton(); }

    // Zoom.
    void zoomInClicked();
    void zoomOutClicked();

    // Scrolling and dragging. Coordinates are twips inside the viewer box.
    void hScrollChanged();
    void vScrollChanged();
    void viewerPressed(int button, int shift, float x, float y);
    void viewerDragged(int button, int shift, float x, float y);
    void viewerReleased(int button, int shift, float x, float y);
    void setHScrollPercent(QScrollBar* bar, const int16_t& percent);
    void setVScrollPercent(QScrollBar* bar, const int16_t& percent);

    // Saving, going back and closing.
    void saveClicked();
    void backClicked();
    void queryUnload(int& cancel, int unloadMode);
    void unload();

    // The picture's context menu, each entry with its shortcut: print, save
    // as PDF, and what the buttons do.
    QAction* printAction = nullptr;
    QAction* savePdfAction = nullptr;
    QAction* saveAction = nullptr;
    QAction* zoomInAction = nullptr;
    QAction* zoomOutAction = nullptr;
    void printClicked();
    void savePdfClicked();

  signals:
    // "< Back": the document is gone and this window hidden; the main window
    // is to be shown.
    void backRequested();

  protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    PreviewWindow();
    friend struct PreviewWindowProbe; // tests and benchmarks read the viewport state

    void buildLayout();
    void addPictures();
    void addScrollBars();
    void addButtons();
    void addContextMenu();
    void describeForScreenReaders();
    void scheduleSetUp();
    void redrawImage();
    void resetToNaturalSize(common::ErrorTrap& trap);
    void initScrollBars();
    void setZoom(const float& zoom);
    void zoomStep(const int32_t& direction);

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
