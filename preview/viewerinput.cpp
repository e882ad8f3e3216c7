// What every document viewer does besides its scroll bars: the mouse wheel
// scrolls the view (Shift+wheel sideways) and Ctrl+wheel zooms as the buttons
// do; with the picture focused, the arrow keys, Page Up/Down and Home/End move
// the view. All of it goes through the scroll bars' own values, so the bars
// and the picture never disagree.

#include "previewwindow.h"

#include "preview/viewmath.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

namespace {

// One line of the notice's text (11 to 12 point, single spaced) at natural size.
constexpr double kLineTwips = 276.0;
constexpr int kLinesPerNotch = 3;
constexpr int kNotch = 120; // eighths of a degree

} // namespace

// Moves the view by `twips` at the current zoom through the bar's value; what
// is less than one step is kept for the next move in the same direction.
void PreviewWindow::scrollView(QScrollBar* bar, int16_t step, double& remainder, double twips) {
    if (!bar->isEnabled() || step <= 0)
        return;
    if ((remainder < 0) != (twips < 0))
        remainder = 0;
    const double units = (twips + remainder) / step;
    const int whole = static_cast<int>(std::trunc(units));
    remainder = (units - whole) * step;
    if (whole != 0)
        bar->setValue(std::clamp(bar->value() + whole, bar->minimum(), bar->maximum()));
}

bool PreviewWindow::viewerWheel(QWheelEvent* e) {
    QPoint angle = e->angleDelta();
    if (e->modifiers() & Qt::ControlModifier) {
        mWheelZoom += angle.y() != 0 ? angle.y() : angle.x();
        for (; mWheelZoom >= kNotch; mWheelZoom -= kNotch)
            zoomInClicked();
        for (; mWheelZoom <= -kNotch; mWheelZoom += kNotch)
            zoomOutClicked();
        return true;
    }
    if ((e->modifiers() & Qt::ShiftModifier) && angle.x() == 0)
        angle = QPoint(angle.y(), 0);
    const double perNotch = kLinesPerNotch * kLineTwips * double(mZoom);
    // Turning the wheel away from you shows what is further down (or right).
    if (angle.y() != 0)
        scrollView(vScroll, mVStep, mWheelRestY, -angle.y() / double(kNotch) * perNotch);
    if (angle.x() != 0)
        scrollView(hScroll, mHStep, mWheelRestX, -angle.x() / double(kNotch) * perNotch);
    return true;
}

bool PreviewWindow::viewerKey(QKeyEvent* e) {
    if (e->modifiers() & ~(Qt::KeypadModifier | Qt::ControlModifier))
        return false;
    const double line = kLineTwips * double(mZoom);
    // A page is what the viewport shows, less a line kept for context.
    const double page = std::max(line, double(viewport->ScaleHeight()) - line);
    double rest = 0;
    switch (e->key()) {
    case Qt::Key_Up:
        scrollView(vScroll, mVStep, rest, -line);
        return true;
    case Qt::Key_Down:
        scrollView(vScroll, mVStep, rest, line);
        return true;
    case Qt::Key_Left:
        scrollView(hScroll, mHStep, rest, -line);
        return true;
    case Qt::Key_Right:
        scrollView(hScroll, mHStep, rest, line);
        return true;
    case Qt::Key_PageUp:
        scrollView(vScroll, mVStep, rest, -page);
        return true;
    case Qt::Key_PageDown:
        scrollView(vScroll, mVStep, rest, page);
        return true;
    case Qt::Key_Home:
        if (vScroll->isEnabled())
            vScroll->setValue(vScroll->minimum());
        return true;
    case Qt::Key_End:
        if (vScroll->isEnabled())
            vScroll->setValue(vScroll->maximum());
        return true;
    default:
        return false;
    }
}

bool PreviewWindow::eventFilter(QObject* watched, QEvent* e) {
    // Over the picture, or the viewport around a small one.
    if (watched == viewer || watched == viewport || watched == viewport->client()) {
        if (menuOnStillRightClick(e))
            return true;
        const bool handled =
            (e->type() == QEvent::Wheel && viewerWheel(static_cast<QWheelEvent*>(e))) ||
            (e->type() == QEvent::KeyPress && viewerKey(static_cast<QKeyEvent*>(e)));
        if (handled) {
            e->accept(); // and no further up
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}

// Any held button pans the picture, the right one too, so the context menu
// cannot open when the right button goes down (where Qt opens it on Linux): it
// opens when a right click is released without having moved the picture. The
// menu key still opens it at once. Returns true for an event it swallowed.
bool PreviewWindow::menuOnStillRightClick(QEvent* e) {
    switch (e->type()) {
    case QEvent::ContextMenu:
        return static_cast<QContextMenuEvent*>(e)->reason() == QContextMenuEvent::Mouse;
    case QEvent::MouseButtonPress: {
        const auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() == Qt::RightButton) {
            mMenuPressAt = m->globalPosition().toPoint();
            mMenuClickStill = true;
        }
        return false;
    }
    case QEvent::MouseMove: {
        const auto* m = static_cast<QMouseEvent*>(e);
        if ((m->buttons() & Qt::RightButton) &&
            (m->globalPosition().toPoint() - mMenuPressAt).manhattanLength() >=
                QApplication::startDragDistance())
            mMenuClickStill = false;
        return false;
    }
    case QEvent::MouseButtonRelease: {
        const auto* m = static_cast<QMouseEvent*>(e);
        if (m->button() == Qt::RightButton && mMenuClickStill) {
            mMenuClickStill = false;
            const QPoint at = m->globalPosition().toPoint();
            // After the release has been handled as usual.
            QTimer::singleShot(
                0, this, [this, at] { QMenu::exec(viewport->actions(), at, nullptr, viewport); });
        }
        return false;
    }
    default:
        return false;
    }
}
