// The preview window itself: its controls, loading, and the set-up that runs
// when it is activated with a newly handed-over picture.

#include "previewwindow.h"

#include "common/appearance.h"
#include "common/errortrap.h"
#include "common/heap.h"
#include "common/procnames.h"
#include "common/shell.h"
#include "platform/automation/stageclock.h"
#include "platform/ui/twips.h"
#include "preview/viewmath.h"

#include <QAction>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <cmath>

using common::ErrorTrap;
using ui::pxRect;

namespace {

QPointer<PreviewWindow> gPreviewWindow;

void placeBox(preview::PictureBox* box, int left, int top, int width, int height) {
    box->Move(static_cast<float>(left), static_cast<float>(top));
    box->SetWidth(width);
    box->SetHeight(height);
}

} // namespace

PreviewWindow* PreviewWindow::instance() {
    if (!gPreviewWindow) {
        auto* f = new PreviewWindow;
        f->load();
    }
    return gPreviewWindow.data();
}

PreviewWindow* PreviewWindow::loaded() {
    return gPreviewWindow.data();
}

PreviewWindow::PreviewWindow() : QWidget(nullptr) {
    gPreviewWindow = this;
    setObjectName(QStringLiteral("Form2"));
    buildLayout();
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::buildLayout() {
    ui::makeFixedWindow(this, QSize(ui::px(9840), ui::px(9390)));
    setFont(ui::arialBold(9));
    setMouseTracking(true);
    addPictures();
    addScrollBars();
    addButtons();
    addContextMenu();

    // Outside the client area: never seen, even before the set-up hides it.
    unzoomed = new preview::PictureBox(this);
    unzoomed->setObjectName(QStringLiteral("Zoom_Ori"));
    unzoomed->SetBackColor(common::systemButtonFace());
    placeBox(unzoomed, 10320, 480, 735, 375);

    for (preview::PictureBox* box : {viewport, viewer, unzoomed})
        box->setFocusPolicy(Qt::StrongFocus);
    describeForScreenReaders();

    const QList<QWidget*> order{hScroll,  vScroll,      viewport,      viewer,     zoomFrame,
                                unzoomed, zoomInButton, zoomOutButton, saveButton, backButton};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void PreviewWindow::addPictures() {
    // The viewport has a sunken two-pixel border, so its inner size is 60
    // twips smaller than its outer size each way.
    viewport = new preview::PictureBox(this, 30);
    viewport->setObjectName(QStringLiteral("Picture2"));
    viewport->SetBackColor(Qt::white);
    placeBox(viewport, 120, 120, 9330, 7425);

    viewer = new preview::PictureBox(viewport->client());
    viewer->setObjectName(QStringLiteral("Picture1"));
    viewer->SetBackColor(common::systemButtonFace());
    viewer->setMouseTracking(true);
    placeBox(viewer, 0, 0, 2340, 3435);
    connect(viewer, &preview::PictureBox::MouseDown, this, &PreviewWindow::viewerPressed);
    connect(viewer, &preview::PictureBox::MouseMove, this, &PreviewWindow::viewerDragged);
    connect(viewer, &preview::PictureBox::MouseUp, this, &PreviewWindow::viewerReleased);
    // The wheel and keys over the picture.
    for (QObject* o : {static_cast<QObject*>(viewer), static_cast<QObject*>(viewport),
                       static_cast<QObject*>(viewport->client())})
        o->installEventFilter(this);
}

void PreviewWindow::addScrollBars() {
    auto scrollBar = [this](const char* name, Qt::Orientation o, QRect r) {
        auto* s = new ui::ScrollBar(o, this);
        s->setObjectName(QString::fromLatin1(name));
        s->setGeometry(r);
        s->setRange(0, 0);
        s->setSingleStep(1);
        s->setPageStep(1);
        // The picture follows the thumb only when it is let go.
        s->setTracking(false);
        s->setFocusPolicy(Qt::StrongFocus);
        return s;
    };
    vScroll = scrollBar("VScroll1", Qt::Vertical, pxRect(9450, 120, 255, 7425));
    hScroll = scrollBar("HScroll1", Qt::Horizontal, pxRect(120, 7545, 9330, 255));
    // valueChanged is raised inside the assignment, and only for a real change.
    connect(hScroll, &QScrollBar::valueChanged, this, &PreviewWindow::hScrollChanged);
    connect(vScroll, &QScrollBar::valueChanged, this, &PreviewWindow::vScrollChanged);
}

// The zoom buttons in their frame, and the two below it.
void PreviewWindow::addButtons() {
    zoomFrame = new ui::Frame(QStringLiteral("Zoom:"), this);
    zoomFrame->setObjectName(QStringLiteral("Frame1"));
    zoomFrame->setGeometry(pxRect(120, 7860, 9600, 855));
    zoomFrame->setFocusPolicy(Qt::NoFocus);
    // A move the control leaves unhandled would reach the window and undo
    // its pointer at once.
    zoomFrame->setAttribute(Qt::WA_NoMousePropagation);
    connect(zoomFrame, &ui::Frame::mouseMoved, this, &PreviewWindow::frameHovered);

    auto button = [this](const char* name, const char* caption, QWidget* parent, QRect r) {
        auto* b = new ui::SkinnedButton(QString::fromUtf8(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
        b->setFont(ui::arialBold(11.25));
        b->setGeometry(r);
        b->setAttribute(Qt::WA_NoMousePropagation);
        connect(b, &ui::SkinnedButton::mouseMoved, this, &PreviewWindow::buttonHovered);
        return b;
    };
    zoomInButton = button("PushButton1", "Zoom In", zoomFrame, pxRect(240, 300, 4440, 405));
    zoomOutButton = button("PushButton2", "Zoom Out", zoomFrame, pxRect(4800, 300, 4560, 405));
    backButton = button("PushButton8", "< Back", this, pxRect(120, 8850, 4680, 405));
    saveButton =
        button("PushButton6", "Save Results To Word File", this, pxRect(4920, 8850, 4800, 405));
    // The arrow is a picture of the way back; read aloud it is only noise.
    backButton->setAccessibleName(QStringLiteral("Back"));
    connect(zoomInButton, &QPushButton::clicked, this, &PreviewWindow::zoomInClicked);
    connect(zoomOutButton, &QPushButton::clicked, this, &PreviewWindow::zoomOutClicked);
    connect(saveButton, &QPushButton::clicked, this, &PreviewWindow::saveClicked);
    connect(backButton, &QPushButton::clicked, this, &PreviewWindow::backClicked);
}

// Right-click on the picture (or the menu key); the shortcuts work anywhere in
// the window.
void PreviewWindow::addContextMenu() {
    auto entry = [this](const char* name, const char* text, const QKeySequence& keys) {
        auto* a = new QAction(QString::fromUtf8(text), viewport);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(keys);
        a->setShortcutVisibleInContextMenu(true);
        viewport->addAction(a);
        return a;
    };
    printAction = entry("mnuPrint", "Print...", QKeySequence::Print);
    savePdfAction =
        entry("mnuSaveAsPdf", "Save as PDF...", QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    auto* line = new QAction(viewport);
    line->setSeparator(true);
    viewport->addAction(line);
    saveAction = entry("mnuSaveResults", "Save Results To Word File", QKeySequence::Save);
    zoomInAction = entry("mnuZoomIn", "Zoom In", QKeySequence::ZoomIn);
    zoomOutAction = entry("mnuZoomOut", "Zoom Out", QKeySequence::ZoomOut);
    viewport->setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(printAction, &QAction::triggered, this, &PreviewWindow::printClicked);
    connect(savePdfAction, &QAction::triggered, this, &PreviewWindow::savePdfClicked);
    // Exactly what the buttons do.
    connect(saveAction, &QAction::triggered, saveButton, &QPushButton::click);
    connect(zoomInAction, &QAction::triggered, zoomInButton, &QPushButton::click);
    connect(zoomOutAction, &QAction::triggered, zoomOutButton, &QPushButton::click);
}

// What a screen reader says about the parts that carry no caption.
void PreviewWindow::describeForScreenReaders() {
    viewport->setAccessibleName(QStringLiteral("Preview"));
    viewer->SetAccessibleRole(QAccessible::Graphic);
    viewer->setAccessibleName(QStringLiteral("Filled warning notice"));
    viewer->setAccessibleDescription(
        QStringLiteral("A picture of the filled warning notice, as the document you save will "
                       "print. Zoom In and Zoom Out change its size; the scroll bars, or "
                       "dragging it with the mouse, move it."));
    hScroll->setAccessibleName(QStringLiteral("Move the notice left or right"));
    vScroll->setAccessibleName(QStringLiteral("Move the notice up or down"));
}

void PreviewWindow::setPicture(const QImage& picture) {
    viewer->SetPicture(picture);
    mFirstActivate = true;
    // Handed over while already on screen: no activation may follow.
    if (isVisible())
        scheduleSetUp();
}

QImage PreviewWindow::picture() const {
    return viewer->Picture();
}

void PreviewWindow::load() {
    ErrorTrap trap(common::proc::previewLoad);
    trap.at(100, [&] { mFirstActivate = true; });
    trap.at(102, [&] { common::applySystemBackColors(this); });
    trap.at(104, [&] {
        setWindowTitle(QString::fromLatin1(common::kProductName));
        setWindowIcon(common::applicationIcon());
    });
    common::loadHandCursor(trap, 108, 110, pointer);
}

void PreviewWindow::setUpOnActivation() {
    // An error report shown from inside the set-up moves activation away and
    // back; that must not start the set-up a second time.
    if (mInActivate)
        return;
    mInActivate = true;
    ErrorTrap trap(common::proc::previewActivation);
    bool due = false;
    trap.at(100, [&] { due = mFirstActivate; });
    if (due) {
        automation::StageClock clock("preview set-up");
        trap.at(104, [&] { viewer->SetAutoRedraw(true); });
        trap.at(106, [&] { viewer->SetAutoSize(true); });
        trap.at(110, [&] { viewer->SetBackColor(QColor(255, 255, 255)); });

        trap.at(114, [&] { unzoomed->SetAutoRedraw(true); });
        trap.at(116, [&] { unzoomed->setVisible(false); });
        trap.at(118, [&] { unzoomed->SetWidth(viewer->Width()); });
        trap.at(120, [&] { unzoomed->SetHeight(viewer->Height()); });
        trap.at(122, [&] { unzoomed->SetPicture(viewer->Picture()); });

        resetToNaturalSize(trap);

        trap.at(134, [&] { redrawImage(); });
        trap.at(136, [&] { initScrollBars(); });
        trap.at(138, [&] { mFirstActivate = false; });
    }
    mInActivate = false;
}

void PreviewWindow::scheduleSetUp() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mFirstActivate && isVisible())
                setUpOnActivation();
        },
        Qt::QueuedConnection);
}

bool PreviewWindow::event(QEvent* e) {
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate)
        setUpOnActivation();
    return handled;
}

void PreviewWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    common::centreOnFirstShow(this, mCentred);
    activateWindow();
    // Where the window system gives no activation to a window shown this way,
    // the set-up still runs, once, as soon as the showing is done.
    scheduleSetUp();
    // The generation that led here has freed its working buffers.
    common::releaseFreedMemorySoon();
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* e) {
    windowHovered();
    QWidget::mouseMoveEvent(e);
}
