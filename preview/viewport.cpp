// Repainting at a zoom factor, the scroll ranges, zooming, scrolling and
// dragging the page about the viewport.

#include "previewwindow.h"

#include "common/errortrap.h"
#include "common/procnames.h"
#include "preview/viewmath.h"

#include <QScrollBar>

using common::ErrorTrap;

namespace {

// Enabled, maximum, step, value: in that order, because a new maximum below
// the value moves the value, and the change handling reads the step.
void applyBarRange(QScrollBar* bar, int16_t& step, float box, float viewport) {
    const preview::BarRange r = preview::barRange(box, viewport);
    bar->setEnabled(r.enabled);
    if (!r.enabled) {
        step = 0;
        return;
    }
    bar->setMaximum(r.maximum);
    step = r.step;
    bar->setValue(0);
}

} // namespace

void PreviewWindow::redrawImage() {
    ErrorTrap trap(common::proc::redrawImage);
    trap.at(100, [&] { mZoomedWidth = preview::zoomedSize(mImageWidth, mZoom); });
    trap.at(102, [&] { mZoomedHeight = preview::zoomedSize(mImageHeight, mZoom); });
    bool fits = false;
    trap.at(104, [&] {
        fits = preview::paintable(mZoomedWidth, mZoomedHeight, mImageWidth, mImageHeight);
    });
    if (fits) {
        trap.at(106, [&] { viewer->ClearPicture(); });
        trap.at(108, [&] { viewer->SetWidth(mZoomedWidth); });
        trap.at(110, [&] { viewer->SetHeight(mZoomedHeight); });
        trap.at(112, [&] {
            viewer->PaintPicture(unzoomed->Picture(), 0, 0, float(mZoomedWidth),
                                 float(mZoomedHeight), 0, 0, float(mImageWidth),
                                 float(mImageHeight));
        });
        trap.at(114, [&] { pointer.SetMousePointer(ui::vbDefault); });
        trap.at(116, [&] { hScroll->setValue(0); });
        trap.at(118, [&] { vScroll->setValue(0); });
        trap.at(120, [&] { hScroll->setEnabled(viewport->ScaleWidth() < mZoomedWidth); });
        trap.at(122, [&] { vScroll->setEnabled(viewport->ScaleHeight() < mZoomedHeight); });
    } else {
        // Too large to paint: back to the natural size, leaving the view as it is.
        resetToNaturalSize(trap);
        // Unless it shows a long notice made smaller: back to the picture
        // itself, as the set-up showed it.
        trap.at(134, [&] {
            if (viewer->Picture().isNull() && !preview::withinCaps(mImageWidth, mImageHeight))
                viewer->SetPicture(unzoomed->Picture());
        });
    }
}

// Steps 124 to 132 of both the set-up and the repaint: zoom 1 and the
// picture's own size, read from the unzoomed holder inside its border.
void PreviewWindow::resetToNaturalSize(ErrorTrap& trap) {
    trap.at(124, [&] { mZoom = 1.0f; });
    trap.at(126, [&] {
        mImageWidth = preview::toInt32(static_cast<float>(unzoomed->ScaleWidth()) - 2.0f);
    });
    trap.at(128, [&] {
        mImageHeight = preview::toInt32(static_cast<float>(unzoomed->ScaleHeight()) - 2.0f);
    });
    trap.at(130, [&] { mZoomedWidth = preview::zoomedSize(mImageWidth, 1.0f); });
    trap.at(132, [&] { mZoomedHeight = preview::zoomedSize(mImageHeight, 1.0f); });
}

// No trap of its own: a failure here is reported by the caller.
void PreviewWindow::initScrollBars() {
    viewer->SetTop(0);
    viewer->SetLeft(0);
    applyBarRange(hScroll, mHStep, float(viewer->Width()), float(viewport->Width()));
    applyBarRange(vScroll, mVStep, float(viewer->Height()), float(viewport->Height()));
}

void PreviewWindow::zoomInClicked() {
    ErrorTrap trap(common::proc::zoomInClicked);
    trap.at(100, [&] { zoomStep(0); });
}

void PreviewWindow::zoomOutClicked() {
    ErrorTrap trap(common::proc::zoomOutClicked);
    trap.at(100, [&] { zoomStep(1); });
}

void PreviewWindow::zoomStep(const int32_t& direction) {
    const float zoom = direction == 0 ? mZoom + preview::kZoomStep : mZoom - preview::kZoomStep;
    setZoom(zoom);
}

// Requests outside the range are ignored without a word.
void PreviewWindow::setZoom(const float& zoom) {
    if (zoom >= preview::kZoomMin && zoom <= preview::kZoomMax) {
        mZoom = zoom;
        redrawImage();
        initScrollBars();
    }
}

void PreviewWindow::hScrollChanged() {
    viewer->SetLeft(preview::scrollOffset(mHStep, hScroll->value()));
}

void PreviewWindow::vScrollChanged() {
    viewer->SetTop(preview::scrollOffset(mVStep, vScroll->value()));
}

void PreviewWindow::viewerPressed(int button, int shift, float x, float y) {
    Q_UNUSED(button);
    Q_UNUSED(shift);
    ErrorTrap trap(common::proc::viewerPressed);
    trap.at(100, [&] { mDragStartX = x; });
    trap.at(102, [&] { mDragStartY = y; });
}

void PreviewWindow::viewerDragged(int button, int shift, float x, float y) {
    Q_UNUSED(shift);
    ErrorTrap trap(common::proc::viewerDragged);
    bool held = false;
    trap.at(100, [&] { held = button != 0; });
    if (!held)
        return;
    float newLeft = 0;
    float newTop = 0;
    bool beyond = false;
    trap.at(104, [&] { newLeft = viewer->Left() - mDragStartX + x; });
    trap.at(106, [&] { beyond = newLeft > 0; });
    if (beyond) {
        trap.at(108, [&] { newLeft = 0; });
    } else {
        trap.at(110, [&] { beyond = float(viewport->ScaleWidth() - viewer->Width()) > newLeft; });
        if (beyond)
            trap.at(112, [&] { newLeft = float(viewport->ScaleWidth() - viewer->Width()); });
    }
    trap.at(114, [&] { newTop = viewer->Top() - mDragStartY + y; });
    trap.at(116, [&] { beyond = newTop > 0; });
    if (beyond) {
        trap.at(118, [&] { newTop = 0; });
    } else {
        trap.at(120, [&] { beyond = float(viewport->ScaleHeight() - viewer->Height()) > newTop; });
        if (beyond)
            trap.at(122, [&] { newTop = float(viewport->ScaleHeight() - viewer->Height()); });
    }
    trap.at(124, [&] { viewer->Move(newLeft, newTop); });
}

void PreviewWindow::viewerReleased(int button, int shift, float x, float y) {
    Q_UNUSED(button);
    Q_UNUSED(shift);
    Q_UNUSED(x);
    Q_UNUSED(y);
    ErrorTrap trap(common::proc::viewerReleased);
    int32_t hPercent = 0;
    int32_t vPercent = 0;
    trap.at(100, [&] {
        hPercent =
            preview::dropPercent(viewer->Left(), float(viewer->Width()), float(viewport->Width()));
    });
    trap.at(102, [&] {
        vPercent =
            preview::dropPercent(viewer->Top(), float(viewer->Height()), float(viewport->Height()));
    });
    trap.at(104, [&] { setHScrollPercent(hScroll, preview::toInt16(hPercent)); });
    trap.at(106, [&] { setVScrollPercent(vScroll, preview::toInt16(vPercent)); });
}

void PreviewWindow::setHScrollPercent(QScrollBar* bar, const int16_t& percent) {
    const int value = preview::valueForPercent(percent, bar->maximum());
    if (value >= 0)
        bar->setValue(value);
}

void PreviewWindow::setVScrollPercent(QScrollBar* bar, const int16_t& percent) {
    const int value = preview::valueForPercent(percent, bar->maximum());
    if (value >= 0)
        bar->setValue(value);
}
