#include "mainwindow.h"

#include "common/appearance.h"
#include "common/errortrap.h"
#include "common/heap.h"
#include "common/procnames.h"
#include "common/programend.h"
#include "common/shell.h"
#include "entry/settingsstore.h"
#include "entry/warningrecord.h"
#include "generate/wordcheck.h"
#include "platform/automation/automation.h"
#include "platform/ui/twips.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QTimer>

using common::ErrorTrap;
using ui::pxRect;

namespace {
QPointer<MainWindow> gMainWindow;

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

MainWindow* MainWindow::create() {
    auto* f = new MainWindow;
    f->load();
    return f;
}

MainWindow* MainWindow::instance() {
    return gMainWindow.data();
}

MainWindow::MainWindow() : QWidget(nullptr) {
    gMainWindow = this;
    setObjectName(QStringLiteral("Form1"));
    buildLayout();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildLayout() {
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

void MainWindow::addButtons() {
    auto button = [this](const char* name, const char* caption, QRect r) {
        auto* b = new ui::SkinnedButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
        b->setFont(ui::arialBold(11.25));
        b->setGeometry(r);
        connect(b, &ui::SkinnedButton::mouseMoved, this, &MainWindow::buttonHovered);
        return b;
    };
    createButton = button("PushButton6", "Start Creating Template", pxRect(120, 120, 7800, 405));
    clearButton = button("PushButton3", "Clear/Reset Data", pxRect(120, 630, 3840, 405));
    sampleButton = button("PushButton4", "Load Sample/Example Data", pxRect(4080, 630, 3840, 405));
    connect(createButton, &QPushButton::clicked, this, &MainWindow::createClicked);
    connect(clearButton, &QPushButton::clicked, this, &MainWindow::clearClicked);
    connect(sampleButton, &QPushButton::clicked, this, &MainWindow::sampleClicked);
    undoAction = new QAction(QStringLiteral("Undo"), this);
    undoAction->setObjectName(QStringLiteral("mnuUndo"));
    undoAction->setShortcut(QKeySequence::Undo);
    undoAction->setEnabled(false);
    addAction(undoAction);
    connect(undoAction, &QAction::triggered, this, &MainWindow::undoClicked);
}

void MainWindow::addFrames() {
    auto frame = [this](const char* name, const char* caption, QRect r) {
        auto* f = new ui::Frame(QString::fromUtf8(caption), this);
        f->setObjectName(QString::fromLatin1(name));
        f->setGeometry(r);
        f->setFocusPolicy(Qt::NoFocus);
        paintWhite(f);
        connect(f, &ui::Frame::mouseMoved, this, &MainWindow::frameHovered);
        return f;
    };
    dataFrame = frame("Frame1", "Warning Data", pxRect(120, 1110, 7800, 2625));
    infractionFrame = frame("Frame2", "Description of Infraction", pxRect(120, 3810, 7800, 1545));
    improvementFrame = frame("Frame3", "Plan for Improvement", pxRect(120, 5430, 7800, 1545));
    consequencesFrame =
        frame("Frame4", "Consequences of Further Infractions", pxRect(120, 7050, 7800, 1545));
}

void MainWindow::addLabels() {
    auto label = [this](int number, const char* caption, QRect r) {
        auto* l = new QLabel(QString::fromUtf8(caption), dataFrame);
        l->setObjectName(QStringLiteral("Label2_%1").arg(number));
        l->setGeometry(r);
        paintWhite(l);
        return l;
    };
    dateLabel = label(12, "Date:", pxRect(240, 345, 435, 225));
    employeeIdLabel = label(13, "Employee ID:", pxRect(4320, 345, 1080, 225));
    employeeNameLabel = label(0, "Employee Name:", pxRect(240, 795, 1410, 225));
    jobTitleLabel = label(1, "Job Title:", pxRect(240, 1245, 765, 225));
    managerLabel = label(2, "Manager:", pxRect(240, 1695, 795, 225));
    departmentLabel = label(3, "Department:", pxRect(240, 2145, 1050, 225));
    // The designed widths are a little narrow for the captions in this font:
    // let a caption use the gap before its field, and only then shrink it.
    for (QLabel* l : {employeeNameLabel, jobTitleLabel, managerLabel, departmentLabel, dateLabel})
        fitLabel(l, ui::px(1680));
    fitLabel(employeeIdLabel, ui::px(5520));
}

void MainWindow::addFields() {
    using entry::Fact;
    auto text = [this](Fact fact, QWidget* parent, QRect r) {
        const entry::FieldInfo& info = entry::fieldInfo(fact);
        auto* t = new ui::TextBox(info.multiLine, parent);
        t->setObjectName(QStringLiteral("Text1_%1").arg(entry::indexOf(fact)));
        t->Tag = entry::placeholder(fact);
        t->setGeometry(r);
        // A screen reader names the field by its caption (the label beside it,
        // or the frame around it), without the colon.
        QString name = QString::fromUtf8(info.caption);
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        t->setAccessibleName(name);
        t->editor()->setAccessibleName(name);
        connect(t, &ui::TextBox::changed, this, [this, fact] { fieldChanged(fact); });
        connect(t, &ui::TextBox::gotFocus, this, [this, fact] { fieldFocused(fact); });
        t->SetUndoFallback(undoAction);
        mFields[entry::indexOf(fact)] = t;
    };
    text(Fact::Date, dataFrame, pxRect(1680, 300, 2055, 345));
    text(Fact::EmployeeId, dataFrame, pxRect(5520, 300, 2055, 345));
    text(Fact::EmployeeName, dataFrame, pxRect(1680, 750, 5895, 345));
    text(Fact::JobTitle, dataFrame, pxRect(1680, 1200, 5895, 345));
    text(Fact::Manager, dataFrame, pxRect(1680, 1650, 5895, 345));
    text(Fact::Department, dataFrame, pxRect(1680, 2100, 5895, 345));
    text(Fact::Infraction, infractionFrame, pxRect(240, 300, 7320, 1065));
    text(Fact::Improvement, improvementFrame, pxRect(240, 300, 7320, 1065));
    text(Fact::Consequences, consequencesFrame, pxRect(240, 300, 7320, 1065));
}

void MainWindow::linkFields() {
    using entry::Fact;
    // Each label belongs to the field beside it.
    dateLabel->setBuddy(field(Fact::Date)->editor());
    employeeIdLabel->setBuddy(field(Fact::EmployeeId)->editor());
    employeeNameLabel->setBuddy(field(Fact::EmployeeName)->editor());
    jobTitleLabel->setBuddy(field(Fact::JobTitle)->editor());
    managerLabel->setBuddy(field(Fact::Manager)->editor());
    departmentLabel->setBuddy(field(Fact::Department)->editor());

    // Tab order: date, employee ID, name, job title, manager, department, the
    // three long fields, then the buttons.
    const QList<QWidget*> order{field(Fact::Date),
                                field(Fact::EmployeeId),
                                field(Fact::EmployeeName),
                                field(Fact::JobTitle),
                                field(Fact::Manager),
                                field(Fact::Department),
                                field(Fact::Infraction),
                                field(Fact::Improvement),
                                field(Fact::Consequences),
                                createButton,
                                clearButton,
                                sampleButton};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

entry::FactValues MainWindow::fieldValues() const {
    entry::FactValues values;
    for (entry::Fact fact : entry::kFacts)
        values[entry::indexOf(fact)] = field(fact)->Text();
    return values;
}

void MainWindow::load() {
    ErrorTrap trap(common::proc::mainWindowLoad);
    trap.at(100, [&] { common::applySkin(this, skin); });
    trap.at(104, [&] {
        setWindowTitle(QString::fromLatin1(common::kProductName));
        setWindowIcon(common::applicationIcon());
        common::shortenAppTitle();
    });
    common::loadHandCursor(trap, 122, 124, pointer);
    trap.line(128);
    for (entry::Fact fact : entry::kFacts) {
        trap.at(130, [&] { field(fact)->SetText(entry::storedField(fact)); });
        trap.line(132);
    }
    trap.at(134, [&] { generate::checkWordAvailable(); });
}

void MainWindow::unload() {
    common::endProgram(0);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    unload();
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
    windowHovered();
    QWidget::mouseMoveEvent(e);
}

void MainWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (common::centreOnFirstShow(this, mCentred)) {
        field(entry::Fact::Date)->setFocus(Qt::OtherFocusReason);
        // Once the window is up (never before: start-up must not wait for
        // it), the word processor gets ready for the first generation.
        QTimer::singleShot(0, this, [] {
            common::readyAllocatorForPictures();
            automation::prepareServer(QStringLiteral("Word.Application"));
        });
    }
}
