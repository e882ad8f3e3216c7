// The main window as a person meets it: layout, start-up, the fields kept
// between runs, clear and sample, pointers and skin.

#include "app/mainwindow.h"
#include "common/appearance.h"
#include "common/programend.h"
#include "common/shell.h"
#include "entry/settingsstore.h"
#include "entry/warningrecord.h"
#include "platform/ui/twips.h"
#include "tests/support/fakeword.h"
#include "tests/support/testenv.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <sys/stat.h>

using testsupport::MsgBoxRecorder;

namespace {

QString settingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ardmoor.conf");
}

QString stored(int index) {
    QSettings s(settingsFile(), QSettings::IniFormat);
    return s.value(QStringLiteral("Veltrane/Text1_%1").arg(index)).toString();
}

// Destroys a window the way the program does, without its closing handlers.
void destroy(QPointer<MainWindow>& f) {
    delete f.data();
    QVERIFY(f.isNull());
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
    std::shared_ptr<testsupport::FakeWordState> word;
    QString appDir;

  private slots:
    void initTestCase() {
        word = testsupport::installFakeWord();
        appDir = testsupport::sandboxRoot() + QStringLiteral("/appdir");
        QDir().mkpath(appDir);
        common::setAppPathForTests(appDir);
    }

    void init() {
        QFile::remove(settingsFile());
        common::resetProgramEndedForTests();
    }

    void layoutMatchesTheDesign() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        QCOMPARE(f->size(), QSize(536, 582));
        QCOMPARE(f->windowTitle(), QStringLiteral("Veltrane"));
        QVERIFY(f->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(f->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(f->minimumSize(), f->maximumSize());
        auto* b = f->findChild<QPushButton*>(QStringLiteral("PushButton4"));
        QVERIFY(b);
        QCOMPARE(b->text(), QStringLiteral("Load Sample/Example Data"));
        QCOMPARE(b->geometry(), ui::pxRect(4080, 630, 3840, 405));
        QCOMPARE(b->font().pointSizeF(), 11.25);
        QVERIFY(b->font().bold());
        auto* t = f->findChild<QWidget*>(QStringLiteral("Text1_8"));
        QCOMPARE(t->parentWidget()->objectName(), QStringLiteral("Frame1"));
        QCOMPARE(t->geometry(), ui::pxRect(5520, 300, 2055, 345));
        QCOMPARE(f->findChild<QWidget*>(QStringLiteral("Frame4"))->geometry(),
                 ui::pxRect(120, 7050, 7800, 1545));
        QCOMPARE(f->findChild<QLabel*>(QStringLiteral("Label2_13"))->text(),
                 QStringLiteral("Employee ID:"));
        for (int i = 0; i < 9; ++i)
            QCOMPARE(f->fields()[size_t(i)]->Tag,
                     QString::fromLatin1(entry::kFields[size_t(i)].placeholder));
        QVERIFY(boxes.seen.isEmpty());

        // Tab runs through 7, 8, 0, 6, 1, 2, 3, 4, 5, then the three buttons.
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QStringList order;
        QWidget* w = f->field(entry::Fact::Date)->editor();
        for (int i = 0; i < 12; ++i) {
            QWidget* owner = w;
            while (owner && !owner->objectName().startsWith(QStringLiteral("Text1_")) &&
                   !owner->objectName().startsWith(QStringLiteral("PushButton")))
                owner = owner->parentWidget();
            order << (owner ? owner->objectName() : QStringLiteral("?"));
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(f) ||
                   qobject_cast<ui::TextBox*>(w))
                w = w->nextInFocusChain();
        }
        QCOMPARE(order, QStringList({"Text1_7", "Text1_8", "Text1_0", "Text1_6", "Text1_1",
                                     "Text1_2", "Text1_3", "Text1_4", "Text1_5", "PushButton6",
                                     "PushButton3", "PushButton4"}));
        QVERIFY(f->field(entry::Fact::Date)->editor()->hasFocus());
        destroy(f);
    }

    void aScreenReaderHearsEveryFieldByItsCaptionInTabOrder() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f));
        auto iface = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w); };

        // Tab from the first field: the focused control and what it is called.
        QStringList heard;
        for (int i = 0; i < 13; ++i) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            const QString role = iface(focused)->role() == QAccessible::EditableText ? "edit"
                                 : iface(focused)->role() == QAccessible::Button     ? "button"
                                                                                     : "?";
            heard << iface(focused)->text(QAccessible::Name) + QStringLiteral(", ") + role;
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(heard,
                 QStringList({"Date, edit", "Employee ID, edit", "Employee Name, edit",
                              "Job Title, edit", "Manager, edit", "Department, edit",
                              "Description of Infraction, edit", "Plan for Improvement, edit",
                              "Consequences of Further Infractions, edit",
                              "Start Creating Template, button", "Clear/Reset Data, button",
                              "Load Sample/Example Data, button", "Date, edit"}));

        // Each label points at its field, so the caption and the field go together.
        using entry::Fact;
        const QList<QPair<QString, Fact>> labelled{
            {"Label2_12", Fact::Date},        {"Label2_13", Fact::EmployeeId},
            {"Label2_0", Fact::EmployeeName}, {"Label2_1", Fact::JobTitle},
            {"Label2_2", Fact::Manager},      {"Label2_3", Fact::Department}};
        for (const auto& [label, field] : labelled) {
            QAccessibleInterface* l = iface(f->findChild<QLabel*>(label));
            const auto rel = l->relations(QAccessible::Labelled);
            QCOMPARE(rel.size(), 1);
            QAccessibleInterface* edit = iface(f->field(field)->editor());
            QCOMPARE(rel[0].first, edit);
            QCOMPARE(l->text(QAccessible::Name), edit->text(QAccessible::Name) + ":");
        }
        // The long fields are named by their frames.
        QCOMPARE(iface(f->improvementFrame)->text(QAccessible::Name),
                 iface(f->field(entry::Fact::Improvement)->editor())->text(QAccessible::Name));
        destroy(f);
    }

    void firstRunIsEmptyAndStartUpLeavesNoWordRunning() {
        MsgBoxRecorder boxes;
        const int before = word->instancesCreated;
        QPointer<MainWindow> f = MainWindow::create();
        for (auto* t : f->fields())
            QCOMPARE(t->Text(), QString());
        QCOMPARE(word->instancesCreated, before + 1);
        QCOMPARE(word->liveInstances, 0);
        QVERIFY(!common::programEnded());
        destroy(f);
    }

    void typedTextSurvivesARestartExactly() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->show();
        // Typed: plain keys, then text that arrives through the input method.
        QTest::keyClicks(f->field(entry::Fact::EmployeeName)->editor(), QStringLiteral("Zo"));
        QInputMethodEvent ime;
        ime.setCommitString(QStringLiteral("ë Ångström 山田 مرحبا 😀"));
        QCoreApplication::sendEvent(f->field(entry::Fact::EmployeeName)->editor(), &ime);
        QCOMPARE(stored(0), QStringLiteral("Zoë Ångström 山田 مرحبا 😀"));
        f->field(entry::Fact::Infraction)
            ->SetText(QStringLiteral("line one\r\nline two\r\n\r\nline four"));
        QCOMPARE(stored(3), QStringLiteral("line one\r\nline two\r\n\r\nline four"));
        const QString big(1 << 20, QLatin1Char('x'));
        f->field(entry::Fact::EmployeeId)->SetText(big);
        f->field(entry::Fact::JobTitle)->SetText(QStringLiteral("temp"));
        f->field(entry::Fact::JobTitle)
            ->SetText(QString()); // deleting everything stores "" and keeps the key
        destroy(f);

        QSettings raw(settingsFile(), QSettings::IniFormat);
        QVERIFY(raw.contains(QStringLiteral("Veltrane/Text1_6")));
        QPointer<MainWindow> again = MainWindow::create();
        QCOMPARE(again->field(entry::Fact::EmployeeName)->Text(),
                 QStringLiteral("Zoë Ångström 山田 مرحبا 😀"));
        QCOMPARE(again->field(entry::Fact::Infraction)->Text(),
                 QStringLiteral("line one\r\nline two\r\n\r\nline four"));
        QCOMPARE(again->field(entry::Fact::EmployeeId)->Text(), big);
        QCOMPARE(again->field(entry::Fact::JobTitle)->Text(), QString());
        QVERIFY(boxes.seen.isEmpty());
        destroy(again);
    }

    void clearAndSampleFillEveryFieldAndStoreIt() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->sampleButton->click();
        const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        const QStringList expected{QStringLiteral("John Smith"),
                                   QStringLiteral("Alan Merrow"),
                                   QStringLiteral("Information Technology"),
                                   QStringLiteral("Keyboard wasn't plugged in during work hours."),
                                   QStringLiteral("Plug it in."),
                                   QStringLiteral("You're fired."),
                                   QStringLiteral("Software Engineer"),
                                   today,
                                   QStringLiteral("111")};
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(f->fields()[size_t(i)]->Text(), expected[i]);
            QCOMPARE(stored(i), expected[i]);
        }
        f->clearButton->click();
        for (int i = 0; i < 9; ++i) {
            QCOMPARE(f->fields()[size_t(i)]->Text(), QString());
            QCOMPARE(stored(i), QString());
        }
        f->clearButton->click(); // clearing an empty form changes nothing
        QCOMPARE(stored(4), QString());
        QVERIFY(boxes.seen.isEmpty());
        destroy(f);
    }

    // Ctrl+Z (or "Undo" in a field's menu) puts back the nine fields as they
    // were before the last Clear or Load Sample, and stores them again; a
    // field's own typing is undone first.
    void clearAndSampleCanBeUndone() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QStringList typed;
        for (int i = 0; i < 9; ++i) {
            typed << QStringLiteral("typed %1").arg(i);
            f->fields()[size_t(i)]->SetText(typed.last());
        }
        typed[3] = QString(2800, QLatin1Char('w')) + QStringLiteral("\r\nlast line");
        f->field(entry::Fact::Infraction)->SetText(typed[3]);
        auto fields = [&] {
            QStringList out;
            for (const ui::TextBox* t : f->fields())
                out << t->Text();
            return out;
        };
        auto storedFields = [] {
            QStringList out;
            for (int i = 0; i < 9; ++i)
                out << stored(i);
            return out;
        };

        // Clear, then Clear again by mistake: the typed fields come back,
        // with Ctrl+Z from the field that has the focus.
        f->clearButton->click();
        f->clearButton->click();
        QVERIFY(f->undoAction->isEnabled());
        f->field(entry::Fact::Date)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QTest::keySequence(f->field(entry::Fact::Date)->editor(), QKeySequence::Undo);
        QCOMPARE(fields(), typed);
        QCOMPARE(storedFields(), typed);
        QVERIFY(!f->undoAction->isEnabled());
        QTest::keySequence(f->field(entry::Fact::Date)->editor(),
                           QKeySequence::Undo); // nothing more to undo
        QCOMPARE(fields(), typed);

        // The sample over the typed fields; a word typed after it is undone
        // first, by the field itself, then the sample, from a button's focus.
        f->sampleButton->click();
        const QStringList sample = fields();
        QVERIFY(sample != typed);
        f->field(entry::Fact::EmployeeName)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QTest::keyClick(f->field(entry::Fact::EmployeeName)->editor(), Qt::Key_End);
        QTest::keyClicks(f->field(entry::Fact::EmployeeName)->editor(), QStringLiteral(" Jr"));
        QCOMPARE(f->field(entry::Fact::EmployeeName)->Text(), QStringLiteral("John Smith Jr"));
        QTest::keySequence(f->field(entry::Fact::EmployeeName)->editor(), QKeySequence::Undo);
        QCOMPARE(fields(), sample);
        f->createButton->setFocus();
        QTest::keySequence(f, QKeySequence::Undo);
        QCOMPARE(fields(), typed);
        QCOMPARE(storedFields(), typed);

        // The same through the field's context menu, in a multi-line field.
        f->clearButton->click();
        QStringList entries;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    entries << a->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
            for (QAction* a : menu->actions())
                if (a->text() == QLatin1String("Undo") && a->isEnabled())
                    a->trigger();
            menu->close();
        });
        poll.start(5);
        QWidget* editor = f->field(entry::Fact::Improvement)->editor();
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    editor->mapToGlobal(QPoint(10, 10)));
        QCoreApplication::sendEvent(qobject_cast<QPlainTextEdit*>(editor)->viewport(), &menuEvent);
        QTRY_VERIFY(!entries.isEmpty());
        poll.stop();
        QCOMPARE(entries.count(QStringLiteral("Undo")), 1);
        QCOMPARE(fields(), typed);
        QCOMPARE(storedFields(), typed);
        QVERIFY(boxes.seen.isEmpty());
        destroy(f);
    }

    void focusSelectsTheWholeText() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->field(entry::Fact::Infraction)->SetText(QStringLiteral("two\r\nlines"));
        f->field(entry::Fact::EmployeeName)->SetText(QStringLiteral("John"));
        f->show();
        QVERIFY(QTest::qWaitForWindowActive(f));
        f->field(entry::Fact::Infraction)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(f->field(entry::Fact::Infraction)->SelStart(), 0);
        QCOMPARE(f->field(entry::Fact::Infraction)->SelLength(), 10); // CR LF counts as two
        f->field(entry::Fact::EmployeeName)->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(
            qobject_cast<QLineEdit*>(f->field(entry::Fact::EmployeeName)->editor())->selectedText(),
            QStringLiteral("John"));
        f->field(entry::Fact::Manager)->setFocus(Qt::TabFocusReason); // empty: empty selection
        QCoreApplication::processEvents();
        QCOMPARE(f->field(entry::Fact::Manager)->SelLength(), 0);
        destroy(f);
    }

    void pointerShowsTheHandOverButtonsButNeverReplacesTheHourglass() {
        MsgBoxRecorder boxes;
        QVERIFY(QFile::copy(QStringLiteral(VELTRANE_SOURCE_DIR "/resources/HAND-M.CUR"),
                            appDir + QStringLiteral("/HAND-M.CUR")));
        QPointer<MainWindow> f = MainWindow::create();
        QVERIFY(f->pointer.hasMouseIcon());
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        // Real pointer moves: onto a button, then onto a frame's empty area.
        QTest::mouseMove(f->createButton, QPoint(30, 10));
        QTRY_COMPARE(f->pointer.MousePointer(), int(ui::vbCustom));
        QCOMPARE(f->cursor().shape(), Qt::BitmapCursor);
        QTest::mouseMove(f->infractionFrame,
                         QPoint(f->infractionFrame->width() - 3, f->infractionFrame->height() - 3));
        QTRY_COMPARE(f->pointer.MousePointer(), int(ui::vbDefault));
        QTest::mouseMove(f->sampleButton, QPoint(30, 10));
        QTRY_COMPARE(f->pointer.MousePointer(), int(ui::vbCustom));
        QTest::mouseMove(f, QPoint(2, f->height() - 2));
        QTRY_COMPARE(f->pointer.MousePointer(), int(ui::vbDefault));
        f->pointer.SetMousePointer(ui::vbHourglass);
        f->buttonHovered();
        f->windowHovered();
        QCOMPARE(f->pointer.MousePointer(), int(ui::vbHourglass));
        QCOMPARE(f->cursor().shape(), Qt::WaitCursor);
        destroy(f);
        QFile::remove(appDir + QStringLiteral("/HAND-M.CUR"));

        // Without the cursor file the buttons show the ordinary arrow.
        QPointer<MainWindow> plain = MainWindow::create();
        QVERIFY(!plain->pointer.hasMouseIcon());
        plain->buttonHovered();
        QCOMPARE(plain->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(boxes.seen.isEmpty());
        destroy(plain);
    }

    void skinIsAppliedOnlyWhenItsFileIsThere() {
        MsgBoxRecorder boxes;
        auto windowColour = [](QWidget* w) { return w->palette().color(QPalette::Window); };
        QPointer<MainWindow> plain = MainWindow::create();
        QCOMPARE(windowColour(plain), QColor(Qt::white));
        QCOMPARE(windowColour(plain->infractionFrame), QColor(Qt::white));
        destroy(plain);

        // A hidden skin file is not found.
        QDir().mkpath(appDir + QStringLiteral("/x"));
        testsupport::writeFile(appDir + QStringLiteral("/x/.o.cjs"), "QWidget { color: red; }");
        testsupport::writeFile(appDir + QStringLiteral("/x/o.cjs"), QByteArray());
        QFile::remove(appDir + QStringLiteral("/x/o.cjs"));
        QPointer<MainWindow> hidden = MainWindow::create();
        QCOMPARE(windowColour(hidden), QColor(Qt::white));
        destroy(hidden);

        const QByteArray sheet = "QPushButton { font-weight: bold; }";
        testsupport::writeFile(appDir + QStringLiteral("/x/o.cjs"), sheet);
        QPointer<MainWindow> skinned = MainWindow::create();
        QCOMPARE(windowColour(skinned), common::systemButtonFace());
        QCOMPARE(windowColour(skinned->dataFrame), common::systemButtonFace());
        QCOMPARE(windowColour(skinned->dateLabel), common::systemButtonFace());
        QCOMPARE(skinned->styleSheet(), QString::fromUtf8(sheet));
        QCOMPARE(skinned->skin.options() & 1, 1);
        QVERIFY(skinned->skin.applyColorsToForms());
        QVERIFY(skinned->skin.applyMetricsToForms());
        QVERIFY(boxes.seen.isEmpty());
        destroy(skinned);
        QDir(appDir + QStringLiteral("/x")).removeRecursively();
    }

    void missingWordShowsTheMessageAndEndsBeforeShowing() {
        MsgBoxRecorder boxes;
        word->failCreate = true;
        QPointer<MainWindow> f = MainWindow::create();
        word->failCreate = false;
        QVERIFY(common::programEnded());
        QCOMPARE(common::programExitCode(), 1);
        QCOMPARE(boxes.seen.size(), 1);
        const QStringList lines = boxes.seen[0].prompt.split(QStringLiteral("\r\n\r\n"));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0],
                 QStringLiteral("Error 842001. A normal instance of Word could not be created."));
        QVERIFY(lines[4].startsWith(QStringLiteral("4. All versions of Word are supported")));
        QCOMPARE(boxes.seen[0].style, int(ui::vbOKOnly));
        QCOMPARE(boxes.seen[0].title, QStringLiteral("Veltrane"));
        if (f)
            QVERIFY(!f->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(f.isNull());
    }

    void closingTheWindowEndsTheProgram() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->show();
        QVERIFY(f->close());
        QVERIFY(common::programEnded());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(f.isNull());
    }

    void anUnwritableStoreKeepsTheFieldAndSaysSoOnce() {
        MsgBoxRecorder boxes;
        QPointer<MainWindow> f = MainWindow::create();
        f->field(entry::Fact::EmployeeName)->SetText(QStringLiteral("before"));
        // A folder where the settings file should be: no write can succeed, even as root.
        QFile::remove(settingsFile());
        QVERIFY(QDir().mkpath(settingsFile()));
        QTest::keyClicks(f->field(entry::Fact::EmployeeName)->editor(), QStringLiteral("abc"));
        QCOMPARE(f->field(entry::Fact::EmployeeName)->Text(), QStringLiteral("beforeabc"));
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].prompt.contains(QStringLiteral("could not be saved")));
        QDir(settingsFile()).removeRecursively();
        destroy(f);
    }

    void aCorruptSettingsFileStartsWithoutAMessageAndIsRewrittenClean() {
        MsgBoxRecorder boxes;
        const QByteArray corrupt(
            "[Veltrane]\nText1_0=@Variant(\\0\\0\\0\\x7f\\0garbage\nText1_1=@StringList("
            "a, b)\n\x01\x02\xff\xfe[[[\nText1_2=fine\n");
        testsupport::writeFile(settingsFile(), corrupt);
        entry::startNewRunForTests(); // a fresh start reads the file anew
        QPointer<MainWindow> f = MainWindow::create();
        QCOMPARE(f->field(entry::Fact::Department)->Text(), QStringLiteral("fine"));
        f->field(entry::Fact::Consequences)->SetText(QStringLiteral("still works"));
        QCOMPARE(stored(5), QStringLiteral("still works"));
        // The writes succeeded, so nothing is said, and the bad lines are gone.
        QCOMPARE(boxes.prompts(), QStringList());
        QVERIFY(!testsupport::readFile(settingsFile()).contains("[[["));
        destroy(f);

        // A write that really fails after such a read is still told, once.
        testsupport::writeFile(settingsFile(), corrupt);
        entry::startNewRunForTests();
        testsupport::Sealed sealedFile(settingsFile());
        testsupport::Sealed sealedFolder(QFileInfo(settingsFile()).path());
        if (!sealedFile.sealed || !sealedFolder.sealed)
            QSKIP("this file system cannot seal a file");
        f = MainWindow::create();
        QTest::keyClicks(f->field(entry::Fact::EmployeeName)->editor(), QStringLiteral("ab"));
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].prompt.contains(QStringLiteral("could not be saved")));
        destroy(f);
    }
};

VELTRANE_TEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
