// Repainting at a zoom factor, the scroll ranges, zooming, scrolling and
// dragging the page about the viewport.

#include "form2.h"

#include "app/errortrap.h"
#include "app/procnames.h"
#include "preview/viewmath.h"

#include <QScrollBar>

using app::ErrorTrap;

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

void Form2::RedrawImage() {
    ErrorTrap trap(app::proc::Form2_RedrawImage);
    trap.at(100, [&] { mZoomedWidth = preview::zoomedSize(mImageWidth, mZoom); });
    trap.at(102, [&] { mZoomedHeight = preview::zoomedSize(mImageHeight, mZoom); });
    bool fits = false;
    trap.at(104, [&] {
        fits = preview::paintable(mZoomedWidth, mZoomedHeight, mImageWidth, mImageHeight);
    });
    if (fits) {
        trap.at(106, [&] { Picture1->ClearPicture(); });
        trap.at(108, [&] { Picture1->SetWidth(mZoomedWidth); });
        trap.at(110, [&] { Picture1->SetHeight(mZoomedHeight); });
        trap.at(112, [&] {
            Picture1->PaintPicture(Zoom_Ori->Picture(), 0, 0, float(mZoomedWidth),
                                   float(mZoomedHeight), 0, 0, float(mImageWidth),
                                   float(mImageHeight));
        });
        trap.at(114, [&] { Pointer.SetMousePointer(ui::vbDefault); });
        trap.at(116, [&] { HScroll1->setValue(0); });
        trap.at(118, [&] { VScroll1->setValue(0); });
        trap.at(120, [&] { HScroll1->setEnabled(Picture2->ScaleWidth() < mZoomedWidth); });
        trap.at(122, [&] { VScroll1->setEnabled(Picture2->ScaleHeight() < mZoomedHeight); });
    } else {
        // Too large to paint: back to the natural size, leaving the view as it is.
        ResetToNaturalSize(trap);
        // Unless it shows a long notice made smaller: back to the picture
        // itself, as the set-up showed it.
        trap.at(134, [&] {
            if (Picture1->Picture().isNull() && !preview::withinCaps(mImageWidth, mImageHeight))
                Picture1->SetPicture(Zoom_Ori->Picture());
        });
    }
}

// Steps 124 to 132 of both the set-up and the repaint: zoom 1 and the
// picture's own size, read from the unzoomed holder inside its border.
void Form2::ResetToNaturalSize(ErrorTrap& trap) {
    trap.at(124, [&] { mZoom = 1.0f; });
    trap.at(126, [&] {
        mImageWidth = preview::toInt32(static_cast<float>(Zoom_Ori->ScaleWidth()) - 2.0f);
    });
    trap.at(128, [&] {
        mImageHeight = preview::toInt32(static_cast<float>(Zoom_Ori->ScaleHeight()) - 2.0f);
    });
    trap.at(130, [&] { mZoomedWidth = preview::zoomedSize(mImageWidth, 1.0f); });
    trap.at(132, [&] { mZoomedHeight = preview::zoomedSize(mImageHeight, 1.0f); });
}

// No trap of its own: a failure here is reported by the caller.
void Form2::InitScrollbars() {
    Picture1->SetTop(0);
    Picture1->SetLeft(0);
    applyBarRange(HScroll1, mHStep, float(Picture1->Width()), float(Picture2->Width()));
    applyBarRange(VScroll1, mVStep, float(Picture1->Height()), float(Picture2->Height()));
}

void Form2::PushButton1_Click() {
    ErrorTrap trap(app::proc::Form2_PushButton1_Click);
    trap.at(100, [&] { ZoomStep(0); });
}

void Form2::PushButton2_Click() {
    ErrorTrap trap(app::proc::Form2_PushButton2_Click);
    trap.at(100, [&] { ZoomStep(1); });
}

void Form2::ZoomStep(const int32_t& direction) {
    const float zoom = direction == 0 ? mZoom + preview::kZoomStep : mZoom - preview::kZoomStep;
    SetZoom(zoom);
}

// Requests outside the range are ignored without a word.
void Form2::SetZoom(const float& zoom) {
    if (zoom >= preview::kZoomMin && zoom <= preview::kZoomMax) {
        mZoom = zoom;
        RedrawImage();
        InitScrollbars();
    }
}

void Form2::HScroll1_Change() {
    Picture1->SetLeft(preview::scrollOffset(mHStep, HScroll1->value()));
}

void Form2::VScroll1_Change() {
    Picture1->SetTop(preview::scrollOffset(mVStep, VScroll1->value()));
}

void Form2::picture1_MouseDown(int Button, int Shift, float X, float Y) {
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    ErrorTrap trap(app::proc::Form2_picture1_MouseDown);
    trap.at(100, [&] { mDragStartX = X; });
    trap.at(102, [&] { mDragStartY = Y; });
}

void Form2::picture1_MouseMove(int Button, int Shift, float X, float Y) {
    Q_UNUSED(Shift);
    ErrorTrap trap(app::proc::Form2_picture1_MouseMove);
    bool held = false;
    trap.at(100, [&] { held = Button != 0; });
    if (!held)
        return;
    float newLeft = 0;
    float newTop = 0;
    bool beyond = false;
    trap.at(104, [&] { newLeft = Picture1->Left() - mDragStartX + X; });
    trap.at(106, [&] { beyond = newLeft > 0; });
    if (beyond) {
        trap.at(108, [&] { newLeft = 0; });
    } else {
        trap.at(110, [&] { beyond = float(Picture2->ScaleWidth() - Picture1->Width()) > newLeft; });
        if (beyond)
            trap.at(112, [&] { newLeft = float(Picture2->ScaleWidth() - Picture1->Width()); });
    }
    trap.at(114, [&] { newTop = Picture1->Top() - mDragStartY + Y; });
    trap.at(116, [&] { beyond = newTop > 0; });
    if (beyond) {
        trap.at(118, [&] { newTop = 0; });
    } else {
        trap.at(120,
                [&] { beyond = float(Picture2->ScaleHeight() - Picture1->Height()) > newTop; });
        if (beyond)
            trap.at(122, [&] { newTop = float(Picture2->ScaleHeight() - Picture1->Height()); });
    }
    trap.at(124, [&] { Picture1->Move(newLeft, newTop); });
}

void Form2::Picture1_MouseUp(int Button, int Shift, float X, float Y) {
    Q_UNUSED(Button);
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    ErrorTrap trap(app::proc::Form2_Picture1_MouseUp);
    int32_t hPercent = 0;
    int32_t vPercent = 0;
    trap.at(100, [&] {
        hPercent = preview::dropPercent(Picture1->Left(), float(Picture1->Width()),
                                        float(Picture2->Width()));
    });
    trap.at(102, [&] {
        vPercent = preview::dropPercent(Picture1->Top(), float(Picture1->Height()),
                                        float(Picture2->Height()));
    });
    trap.at(104, [&] { SetHScrollbarByPercent(HScroll1, preview::toInt16(hPercent)); });
    trap.at(106, [&] { SetVScrollbarByPercent(VScroll1, preview::toInt16(vPercent)); });
}

void Form2::SetHScrollbarByPercent(QScrollBar* HScrollbar, const int16_t& percent) {
    const int value = preview::valueForPercent(percent, HScrollbar->maximum());
    if (value >= 0)
        HScrollbar->setValue(value);
}

void Form2::SetVScrollbarByPercent(QScrollBar* VScrollbar, const int16_t& percent) {
    const int value = preview::valueForPercent(percent, VScrollbar->maximum());
    if (value >= 0)
        VScrollbar->setValue(value);
}
