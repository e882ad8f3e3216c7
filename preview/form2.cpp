// The preview window itself: its controls, loading, and the set-up that runs
// when it is activated with a newly handed-over picture.

#include "form2.h"

#include "app/appearance.h"
#include "app/errortrap.h"
#include "app/procnames.h"
#include "app/shell.h"
#include "platform/automation/stageclock.h"
#include "platform/ui/twips.h"
#include "preview/viewmath.h"

#include <QAction>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <cmath>

using app::ErrorTrap;
using ui::pxRect;

namespace {

QPointer<Form2> gForm2;

void placeBox(preview::PictureBox* box, int left, int top, int width, int height) {
    box->Move(static_cast<float>(left), static_cast<float>(top));
    box->SetWidth(width);
    box->SetHeight(height);
}

} // namespace

Form2* Form2::instance() {
    if (!gForm2) {
        auto* f = new Form2;
        f->Form_Load();
    }
    return gForm2.data();
}

Form2* Form2::loaded() {
    return gForm2.data();
}

Form2::Form2() : QWidget(nullptr) {
    gForm2 = this;
    setObjectName(QStringLiteral("Form2"));
    buildLayout();
}

Form2::~Form2() = default;

void Form2::buildLayout() {
    ui::makeFixedWindow(this, QSize(ui::px(9840), ui::px(9390)));
    setFont(ui::arialBold(9));
    setMouseTracking(true);
    addPictures();
    addScrollBars();
    addButtons();
    addContextMenu();

    // Outside the client area: never seen, even before the set-up hides it.
    Zoom_Ori = new preview::PictureBox(this);
    Zoom_Ori->setObjectName(QStringLiteral("Zoom_Ori"));
    Zoom_Ori->SetBackColor(app::systemButtonFace());
    placeBox(Zoom_Ori, 10320, 480, 735, 375);

    for (preview::PictureBox* box : {Picture2, Picture1, Zoom_Ori})
        box->setFocusPolicy(Qt::StrongFocus);
    describeForScreenReaders();

    const QList<QWidget*> order{HScroll1, VScroll1,    Picture2,    Picture1,    Frame1,
                                Zoom_Ori, PushButton1, PushButton2, PushButton6, PushButton8};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void Form2::addPictures() {
    // The viewport has a sunken two-pixel border, so its inner size is 60
    // twips smaller than its outer size each way.
    Picture2 = new preview::PictureBox(this, 30);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->SetBackColor(Qt::white);
    placeBox(Picture2, 120, 120, 9330, 7425);

    Picture1 = new preview::PictureBox(Picture2->client());
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->SetBackColor(app::systemButtonFace());
    Picture1->setMouseTracking(true);
    placeBox(Picture1, 0, 0, 2340, 3435);
    connect(Picture1, &preview::PictureBox::MouseDown, this, &Form2::picture1_MouseDown);
    connect(Picture1, &preview::PictureBox::MouseMove, this, &Form2::picture1_MouseMove);
    connect(Picture1, &preview::PictureBox::MouseUp, this, &Form2::Picture1_MouseUp);
    // The wheel and keys over the picture.
    for (QObject* o : {static_cast<QObject*>(Picture1), static_cast<QObject*>(Picture2),
                       static_cast<QObject*>(Picture2->client())})
        o->installEventFilter(this);
}

void Form2::addScrollBars() {
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
    VScroll1 = scrollBar("VScroll1", Qt::Vertical, pxRect(9450, 120, 255, 7425));
    HScroll1 = scrollBar("HScroll1", Qt::Horizontal, pxRect(120, 7545, 9330, 255));
    // valueChanged is raised inside the assignment, and only for a real change.
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form2::HScroll1_Change);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form2::VScroll1_Change);
}

// The zoom buttons in their frame, and the two below it.
void Form2::addButtons() {
    Frame1 = new ui::Frame(QStringLiteral("Zoom:"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(pxRect(120, 7860, 9600, 855));
    Frame1->setFocusPolicy(Qt::NoFocus);
    // A move the control leaves unhandled would reach the window and undo
    // its pointer at once.
    Frame1->setAttribute(Qt::WA_NoMousePropagation);
    connect(Frame1, &ui::Frame::mouseMoved, this, &Form2::Frame1_MouseMove);

    auto button = [this](const char* name, const char* caption, QWidget* parent, QRect r) {
        auto* b = new ui::PushButton(QString::fromUtf8(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
        b->setFont(ui::arialBold(11.25));
        b->setGeometry(r);
        b->setAttribute(Qt::WA_NoMousePropagation);
        connect(b, &ui::PushButton::mouseMoved, this, &Form2::PushButton_MouseMove);
        return b;
    };
    PushButton1 = button("PushButton1", "Zoom In", Frame1, pxRect(240, 300, 4440, 405));
    PushButton2 = button("PushButton2", "Zoom Out", Frame1, pxRect(4800, 300, 4560, 405));
    PushButton8 = button("PushButton8", "< Back", this, pxRect(120, 8850, 4680, 405));
    PushButton6 =
        button("PushButton6", "Save Results To Word File", this, pxRect(4920, 8850, 4800, 405));
    // The arrow is a picture of the way back; read aloud it is only noise.
    PushButton8->setAccessibleName(QStringLiteral("Back"));
    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form2::PushButton2_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form2::PushButton6_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form2::PushButton8_Click);
}

// Right-click on the picture (or the menu key); the shortcuts work anywhere in
// the window.
void Form2::addContextMenu() {
    auto entry = [this](const char* name, const char* text, const QKeySequence& keys) {
        auto* a = new QAction(QString::fromUtf8(text), Picture2);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(keys);
        a->setShortcutVisibleInContextMenu(true);
        Picture2->addAction(a);
        return a;
    };
    mnuPrint = entry("mnuPrint", "Print...", QKeySequence::Print);
    mnuSaveAsPdf =
        entry("mnuSaveAsPdf", "Save as PDF...", QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    auto* line = new QAction(Picture2);
    line->setSeparator(true);
    Picture2->addAction(line);
    mnuSaveResults = entry("mnuSaveResults", "Save Results To Word File", QKeySequence::Save);
    mnuZoomIn = entry("mnuZoomIn", "Zoom In", QKeySequence::ZoomIn);
    mnuZoomOut = entry("mnuZoomOut", "Zoom Out", QKeySequence::ZoomOut);
    Picture2->setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(mnuPrint, &QAction::triggered, this, &Form2::mnuPrint_Click);
    connect(mnuSaveAsPdf, &QAction::triggered, this, &Form2::mnuSaveAsPdf_Click);
    // Exactly what the buttons do.
    connect(mnuSaveResults, &QAction::triggered, PushButton6, &QPushButton::click);
    connect(mnuZoomIn, &QAction::triggered, PushButton1, &QPushButton::click);
    connect(mnuZoomOut, &QAction::triggered, PushButton2, &QPushButton::click);
}

// What a screen reader says about the parts that carry no caption.
void Form2::describeForScreenReaders() {
    Picture2->setAccessibleName(QStringLiteral("Preview"));
    Picture1->SetAccessibleRole(QAccessible::Graphic);
    Picture1->setAccessibleName(QStringLiteral("Filled warning notice"));
    Picture1->setAccessibleDescription(
        QStringLiteral("A picture of the filled warning notice, as the document you save will "
                       "print. Zoom In and Zoom Out change its size; the scroll bars, or "
                       "dragging it with the mouse, move it."));
    HScroll1->setAccessibleName(QStringLiteral("Move the notice left or right"));
    VScroll1->setAccessibleName(QStringLiteral("Move the notice up or down"));
}

void Form2::setPicture1(const QImage& picture) {
    Picture1->SetPicture(picture);
    mFirstActivate = true;
    // Handed over while already on screen: no activation may follow.
    if (isVisible())
        scheduleSetUp();
}

QImage Form2::picture1() const {
    return Picture1->Picture();
}

void Form2::Form_Load() {
    ErrorTrap trap(app::proc::Form2_Form_Load);
    trap.at(100, [&] { mFirstActivate = true; });
    trap.at(102, [&] { app::ApplySystemBackColors(this); });
    trap.at(104, [&] {
        setWindowTitle(QString::fromLatin1(app::kProductName));
        setWindowIcon(app::applicationIcon());
    });
    app::LoadHandCursor(trap, 108, 110, Pointer);
}

void Form2::Form_Activate() {
    // An error report shown from inside the set-up moves activation away and
    // back; that must not start the set-up a second time.
    if (mInActivate)
        return;
    mInActivate = true;
    ErrorTrap trap(app::proc::Form2_Form_Activate);
    bool due = false;
    trap.at(100, [&] { due = mFirstActivate; });
    if (due) {
        automation::StageClock clock("preview set-up");
        trap.at(104, [&] { Picture1->SetAutoRedraw(true); });
        trap.at(106, [&] { Picture1->SetAutoSize(true); });
        trap.at(110, [&] { Picture1->SetBackColor(QColor(255, 255, 255)); });

        trap.at(114, [&] { Zoom_Ori->SetAutoRedraw(true); });
        trap.at(116, [&] { Zoom_Ori->setVisible(false); });
        trap.at(118, [&] { Zoom_Ori->SetWidth(Picture1->Width()); });
        trap.at(120, [&] { Zoom_Ori->SetHeight(Picture1->Height()); });
        trap.at(122, [&] { Zoom_Ori->SetPicture(Picture1->Picture()); });

        ResetToNaturalSize(trap);

        trap.at(134, [&] { RedrawImage(); });
        trap.at(136, [&] { InitScrollbars(); });
        trap.at(138, [&] { mFirstActivate = false; });
    }
    mInActivate = false;
}

void Form2::scheduleSetUp() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mFirstActivate && isVisible())
                Form_Activate();
        },
        Qt::QueuedConnection);
}

bool Form2::event(QEvent* e) {
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate)
        Form_Activate();
    return handled;
}

void Form2::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    app::CentreOnFirstShow(this, mCentred);
    activateWindow();
    // Where the window system gives no activation to a window shown this way,
    // the set-up still runs, once, as soon as the showing is done.
    scheduleSetUp();
    // The generation that led here has freed its working buffers.
    app::releaseFreedMemorySoon();
}

void Form2::mouseMoveEvent(QMouseEvent* e) {
    Form_MouseMove();
    QWidget::mouseMoveEvent(e);
}
