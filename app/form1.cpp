#include "form1.h"

#include "app/appearance.h"
#include "app/errortrap.h"
#include "app/procnames.h"
#include "app/shell.h"
#include "entry/settingsstore.h"
#include "entry/warningrecord.h"
#include "generate/wordcheck.h"
#include "platform/automation/automation.h"
#include "platform/ui/twips.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QTimer>

using app::ErrorTrap;
using ui::pxRect;

namespace {
QPointer<Form1> gForm1;

void fitLabel(QLabel* l, int fieldLeft) {
    const int room = fieldLeft - l->x() - 2;
    QFont f = l->font();
    while (QFontMetrics(f).horizontalAdvance(l->text()) > room && f.pointSizeF() > 7)
        f.setPointSizeF(f.pointSizeF() - 0.25);
    if (f != l->font())
        l->setFont(f);
    const int needed = QFontMetrics(f).horizontalAdvance(l->text()) + 1;
    if (needed > l->width())
        l->resize(std::min(needed, room), l->height());
}

void paintWhite(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}
} // namespace

Form1* Form1::create() {
    auto* f = new Form1;
    f->Form_Load();
    return f;
}

Form1* Form1::instance() {
    return gForm1.data();
}

Form1::Form1() : QWidget(nullptr) {
    gForm1 = this;
    setObjectName(QStringLiteral("Form1"));
    buildLayout();
}

Form1::~Form1() = default;

void Form1::buildLayout() {
    ui::makeFixedWindow(this, QSize(ui::px(8040), ui::px(8730)));
    setFont(ui::arialBold(9));
    paintWhite(this);
    setMouseTracking(true);
    addButtons();
    addFrames();
    addLabels();
    addFields();
    linkFields();
}

void Form1::addButtons() {
    auto button = [this](const char* name, const char* caption, QRect r) {
        auto* b = new ui::PushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
        b->setFont(ui::arialBold(11.25));
        b->setGeometry(r);
        connect(b, &ui::PushButton::mouseMoved, this, &Form1::PushButton_MouseMove);
        return b;
    };
    PushButton6 = button("PushButton6", "Start Creating Template", pxRect(120, 120, 7800, 405));
    PushButton3 = button("PushButton3", "Clear/Reset Data", pxRect(120, 630, 3840, 405));
    PushButton4 = button("PushButton4", "Load Sample/Example Data", pxRect(4080, 630, 3840, 405));
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    mnuUndo = new QAction(QStringLiteral("Undo"), this);
    mnuUndo->setObjectName(QStringLiteral("mnuUndo"));
    mnuUndo->setShortcut(QKeySequence::Undo);
    mnuUndo->setEnabled(false);
    addAction(mnuUndo);
    connect(mnuUndo, &QAction::triggered, this, &Form1::mnuUndo_Click);
}

void Form1::addFrames() {
    auto frame = [this](const char* name, const char* caption, QRect r) {
        auto* f = new ui::Frame(QString::fromUtf8(caption), this);
        f->setObjectName(QString::fromLatin1(name));
        f->setGeometry(r);
        f->setFocusPolicy(Qt::NoFocus);
        paintWhite(f);
        connect(f, &ui::Frame::mouseMoved, this, &Form1::Frame_MouseMove);
        return f;
    };
    Frame1 = frame("Frame1", "Warning Data", pxRect(120, 1110, 7800, 2625));
    Frame2 = frame("Frame2", "Description of Infraction", pxRect(120, 3810, 7800, 1545));
    Frame3 = frame("Frame3", "Plan for Improvement", pxRect(120, 5430, 7800, 1545));
    Frame4 = frame("Frame4", "Consequences of Further Infractions", pxRect(120, 7050, 7800, 1545));
}

void Form1::addLabels() {
    auto label = [this](int index, const char* caption, QRect r) {
        auto* l = new QLabel(QString::fromUtf8(caption), Frame1);
        l->setObjectName(QStringLiteral("Label2_%1").arg(index));
        l->setGeometry(r);
        paintWhite(l);
        Label2[static_cast<size_t>(index)] = l;
    };
    label(12, "Date:", pxRect(240, 345, 435, 225));
    label(13, "Employee ID:", pxRect(4320, 345, 1080, 225));
    label(0, "Employee Name:", pxRect(240, 795, 1410, 225));
    label(1, "Job Title:", pxRect(240, 1245, 765, 225));
    label(2, "Manager:", pxRect(240, 1695, 795, 225));
    label(3, "Department:", pxRect(240, 2145, 1050, 225));
    // The designed widths are a little narrow for the captions in this font:
    // let a caption use the gap before its field, and only then shrink it.
    fitLabel(Label2[0], ui::px(1680));
    fitLabel(Label2[1], ui::px(1680));
    fitLabel(Label2[2], ui::px(1680));
    fitLabel(Label2[3], ui::px(1680));
    fitLabel(Label2[12], ui::px(1680));
    fitLabel(Label2[13], ui::px(5520));
}

void Form1::addFields() {
    auto text = [this](int index, QWidget* parent, QRect r) {
        const auto& info = entry::kFields[static_cast<size_t>(index)];
        auto* t = new ui::TextBox(info.multiLine, parent);
        t->setObjectName(QStringLiteral("Text1_%1").arg(index));
        t->Tag = QString::fromLatin1(info.placeholder);
        t->setGeometry(r);
        // A screen reader names the field by its caption (the label beside it,
        // or the frame around it), without the colon.
        QString name = QString::fromUtf8(info.caption);
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        t->setAccessibleName(name);
        t->editor()->setAccessibleName(name);
        connect(t, &ui::TextBox::changed, this, [this, index] { Text1_Change(index); });
        connect(t, &ui::TextBox::gotFocus, this, [this, index] { Text1_GotFocus(index); });
        t->SetUndoFallback(mnuUndo);
        Text1[static_cast<size_t>(index)] = t;
    };
    text(7, Frame1, pxRect(1680, 300, 2055, 345));
    text(8, Frame1, pxRect(5520, 300, 2055, 345));
    text(0, Frame1, pxRect(1680, 750, 5895, 345));
    text(6, Frame1, pxRect(1680, 1200, 5895, 345));
    text(1, Frame1, pxRect(1680, 1650, 5895, 345));
    text(2, Frame1, pxRect(1680, 2100, 5895, 345));
    text(3, Frame2, pxRect(240, 300, 7320, 1065));
    text(4, Frame3, pxRect(240, 300, 7320, 1065));
    text(5, Frame4, pxRect(240, 300, 7320, 1065));
}

void Form1::linkFields() {
    // Each label belongs to the field beside it.
    const std::pair<int, int> labelled[]{{12, 7}, {13, 8}, {0, 0}, {1, 6}, {2, 1}, {3, 2}};
    for (const auto& [labelIndex, field] : labelled)
        Label2[static_cast<size_t>(labelIndex)]->setBuddy(
            Text1[static_cast<size_t>(field)]->editor());

    // Tab order: date, employee ID, name, job title, manager, department, the
    // three long fields, then the buttons.
    const QList<QWidget*> order{Text1[7], Text1[8],    Text1[0],    Text1[6],
                                Text1[1], Text1[2],    Text1[3],    Text1[4],
                                Text1[5], PushButton6, PushButton3, PushButton4};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void Form1::Form_Load() {
    ErrorTrap trap(app::proc::Form1_Form_Load);
    trap.at(100, [&] { app::ApplySkin(); });
    trap.at(104, [&] {
        setWindowTitle(QString::fromLatin1(app::kProductName));
        setWindowIcon(app::applicationIcon());
        app::ShortenAppTitle();
    });
    app::LoadHandCursor(trap, 122, 124, Pointer);
    trap.line(128);
    for (int index = 0; index <= 8; ++index) {
        trap.at(130, [&] {
            Text1[static_cast<size_t>(index)]->SetText(
                entry::GetSetting(entry::settingsKey(index)));
        });
        trap.line(132);
    }
    trap.at(134, [&] { generate::CheckWordAvailable(); });
}

void Form1::Form_Unload() {
    app::EndProgram(0);
}

void Form1::closeEvent(QCloseEvent* e) {
    e->accept();
    Form_Unload();
}

void Form1::mouseMoveEvent(QMouseEvent* e) {
    Form_MouseMove();
    QWidget::mouseMoveEvent(e);
}

void Form1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (app::CentreOnFirstShow(this, mCentred)) {
        Text1[7]->setFocus(Qt::OtherFocusReason);
        // Once the window is up (never before: start-up must not wait for
        // it), the word processor gets ready for the first generation.
        QTimer::singleShot(0, this, [] {
            app::readyAllocatorForPictures();
            automation::prepareServer(QStringLiteral("Word.Application"));
        });
    }
}
