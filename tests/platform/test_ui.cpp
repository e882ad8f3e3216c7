// The user-interface stand-ins below their test seams: the real message box
// and save dialog (driven while modal), the text box's CR LF positions, and
// the cursor file loader.

#include "platform/automation/automation.h"
#include "platform/ui/commondialog.h"
#include "platform/ui/controls.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/newfile.h"
#include "platform/ui/picture.h"
#include "platform/ui/pointer.h"
#include "tests/support/testenv.h"

#include <QBuffer>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextLayout>
#include <QTimer>
#include <QtEndian>

Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)

namespace {

// Acts on the modal window of type T once it is up, so the exec() that shows
// it returns as the act leaves it. Anything still modal after a few seconds is
// rejected instead, so a box nobody expected fails the test, never hangs it.
template <class T> class WhenModal {
  public:
    explicit WhenModal(std::function<void(T*)> act) : mAct(std::move(act)) {
        QObject::connect(&mTimer, &QTimer::timeout, [this] { poll(); });
        mTimer.start(10);
    }
    bool acted = false;
    bool stuck = false; // something modal had to be rejected

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!acted) {
            if (T* w = qobject_cast<T*>(modal)) {
                acted = true;
                // Not from inside this timer: an act that opens another modal
                // window must not keep the watch from running.
                QTimer::singleShot(0, w, [this, w] { mAct(w); });
                return;
            }
        }
        if (++mTicks < 500 || !modal)
            return;
        stuck = true;
        if (auto* d = qobject_cast<QDialog*>(modal))
            d->reject();
        else
            modal->close();
    }
    std::function<void(T*)> mAct;
    QTimer mTimer;
    int mTicks = 0;
};

struct BoxSeen {
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Shows a real box and answers it with a key or a button; returns the answer code.
int answerBox(const QString& prompt, int style, const QString& title, BoxSeen& seen,
              std::function<void(QMessageBox*)> answer, bool& stuck) {
    WhenModal<QMessageBox> driver([&](QMessageBox* box) {
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.format = box->textFormat();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                  : QMessageBox::NoButton;
        answer(box);
    });
    const int code = ui::MsgBox(prompt, style, title);
    stuck = driver.stuck || !driver.acted;
    return code;
}

// A cursor file built from an icon written by Qt, turned into a cursor by its
// type word and with the hot spot in the entry's planes and bit-count words.
QByteArray cursorFile(QPoint hot, quint16 type = 2) {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    img.setPixelColor(hot, Qt::red);
    img.setPixelColor(0, 31, Qt::blue);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    if (!img.save(&buf, "ICO"))
        return QByteArray();
    qToLittleEndian<quint16>(type, bytes.data() + 2);
    qToLittleEndian<quint16>(quint16(hot.x()), bytes.data() + 10);
    qToLittleEndian<quint16>(quint16(hot.y()), bytes.data() + 12);
    return bytes;
}

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const automation::Error& e) {
        return e.description();
    }
    return QString();
}

} // namespace

class UiTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { ui::setAppTitle(QStringLiteral("Veltrane")); }

    // The style value is buttons plus icon; the answer code says which button.
    void messageBoxStyleGivesButtonsIconAndAnswer_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QMessageBox::StandardButtons>("buttons");
        QTest::addColumn<int>("key");   // pressed on the box; 0: click `click`
        QTest::addColumn<int>("click"); // a QMessageBox::StandardButton
        QTest::addColumn<int>("answer");
        const QMessageBox::StandardButtons ok = QMessageBox::Ok;
        const QMessageBox::StandardButtons yesNo = QMessageBox::Yes | QMessageBox::No;
        QTest::newRow("OK only") << int(ui::vbOKOnly) << QMessageBox::NoIcon << ok << 0
                                 << int(QMessageBox::Ok) << int(ui::vbOK);
        QTest::newRow("error report, Escape")
            << int(ui::vbExclamation | ui::vbOKOnly) << QMessageBox::Warning << ok
            << int(Qt::Key_Escape) << 0 << int(ui::vbOK);
        QTest::newRow("critical") << int(ui::vbCritical) << QMessageBox::Critical << ok << 0
                                  << int(QMessageBox::Ok) << int(ui::vbOK);
        QTest::newRow("question, Enter") << int(ui::vbQuestion) << QMessageBox::Question << ok
                                         << int(Qt::Key_Return) << 0 << int(ui::vbOK);
        QTest::newRow("Yes/No, Yes") << int(ui::vbYesNo) << QMessageBox::NoIcon << yesNo << 0
                                     << int(QMessageBox::Yes) << int(ui::vbYes);
        QTest::newRow("Yes/No, No") << int(ui::vbYesNo) << QMessageBox::NoIcon << yesNo << 0
                                    << int(QMessageBox::No) << int(ui::vbNo);
        QTest::newRow("Yes/No, Enter takes Yes")
            << int(ui::vbYesNo | ui::vbExclamation) << QMessageBox::Warning << yesNo
            << int(Qt::Key_Return) << 0 << int(ui::vbYes);
        QTest::newRow("Yes/No, Escape is No")
            << int(ui::vbYesNo | ui::vbQuestion) << QMessageBox::Question << yesNo
            << int(Qt::Key_Escape) << 0 << int(ui::vbNo);
    }

    void messageBoxStyleGivesButtonsIconAndAnswer() {
        QFETCH(int, style);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(int, key);
        QFETCH(int, click);
        QFETCH(int, answer);
        BoxSeen seen;
        bool stuck = false;
        const int code = answerBox(
            QStringLiteral("Sure?"), style, QString(), seen,
            [&](QMessageBox* box) {
                if (key)
                    QTest::keyClick(box, Qt::Key(key));
                else if (QAbstractButton* b = box->button(QMessageBox::StandardButton(click)))
                    b->click();
            },
            stuck);
        QVERIFY(!stuck);
        QCOMPARE(seen.icon, icon);
        QCOMPARE(seen.buttons, buttons);
        if (buttons & QMessageBox::Yes) // Yes is the default, as the question expects
            QCOMPARE(seen.defaultButton, QMessageBox::Yes);
        QCOMPARE(code, answer);
    }

    void messageBoxShowsTitleAndLineBreaksAsPlainText() {
        BoxSeen seen;
        bool stuck = false;
        answerBox(
            QStringLiteral("one\r\ntwo\rthree\nfour <b>five</b>\r\r"), ui::vbOKOnly, QString(),
            seen, [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }, stuck);
        QVERIFY(!stuck);
        QCOMPARE(seen.title, QStringLiteral("Veltrane")); // no title: the application's
        QCOMPARE(seen.text, QStringLiteral("one\ntwo\nthree\nfour <b>five</b>\n\n"));
        QCOMPARE(seen.format, Qt::PlainText);

        answerBox(
            QStringLiteral("x"), ui::vbExclamation, QStringLiteral("Application Error"), seen,
            [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); }, stuck);
        QVERIFY(!stuck);
        QCOMPARE(seen.title, QStringLiteral("Application Error"));
    }

    // A long path, with or without places to break, is shown whole: every
    // line of the visible text fits the box, and the box's text is unchanged.
    void messageBoxShowsALongPathWhole_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("one long name") << QStringLiteral("/srv/shared/") + QString(250, 'a');
        QTest::newRow("long folders") << QStringLiteral("/srv/") + QString(120, 'b') +
                                             QStringLiteral("/") + QString(120, 'c') +
                                             QStringLiteral(".doc");
        QTest::newRow("CJK") << QStringLiteral("/home/") + QString(84, QChar(0x8B66));
    }
    void messageBoxShowsALongPathWhole() {
        QFETCH(QString, path);
        const QString prompt =
            QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?");
        QString text;
        QStringList cut;
        bool stuck = false;
        BoxSeen seen;
        answerBox(
            prompt, ui::vbYesNo, QString(), seen,
            [&](QMessageBox* box) {
                // As the user sees it: shown and laid out.
                QVERIFY(QTest::qWaitForWindowExposed(box));
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                for (QLabel* label : box->findChildren<QLabel*>()) {
                    QString plain = label->text();
                    plain.remove(QChar(0x200B));
                    if (!label->isVisible() || plain != prompt)
                        continue;
                    text = plain;
                    // Lay the label's text out as the label does, at its width.
                    QTextLayout layout(label->text(), label->font());
                    QTextOption option;
                    option.setWrapMode(QTextOption::WordWrap);
                    layout.setTextOption(option);
                    const QRect inside = label->contentsRect();
                    qreal height = 0;
                    layout.beginLayout();
                    for (QTextLine line = layout.createLine(); line.isValid();
                         line = layout.createLine()) {
                        line.setLineWidth(inside.width());
                        if (line.naturalTextWidth() > inside.width() + 0.5)
                            cut << QStringLiteral("too wide %1 > %2")
                                       .arg(line.naturalTextWidth())
                                       .arg(inside.width());
                        height += line.height();
                    }
                    layout.endLayout();
                    if (height > inside.height() + 0.5)
                        cut << QStringLiteral("too short %1 > %2 at %3")
                                   .arg(height)
                                   .arg(inside.height())
                                   .arg(inside.width());
                    if (!box->rect().contains(label->geometry()))
                        cut << QStringLiteral("outside the box");
                }
                box->button(QMessageBox::No)->click();
            },
            stuck);
        QVERIFY(!stuck);
        QCOMPARE(seen.text, prompt);
        QCOMPARE(text, prompt);
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(", ")));
    }

    // A disabled bar shows no thumb: wherever its value stands, it looks the
    // same. Enabled, the thumb moves with the value.
    void disabledScrollBarDrawsNoThumb_data() {
        QTest::addColumn<QString>("sheet");
        QTest::newRow("plain") << QString();
        QFile skin(QStringLiteral(VELTRANE_SOURCE_DIR "/resources/skin/o.cjs"));
        QVERIFY(skin.open(QIODevice::ReadOnly));
        QTest::newRow("the shipped skin") << QString::fromUtf8(skin.readAll());
    }
    void disabledScrollBarDrawsNoThumb() {
        QFETCH(QString, sheet);
        for (Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
            ui::ScrollBar bar(o);
            bar.setStyleSheet(sheet);
            bar.resize(o == Qt::Horizontal ? QSize(300, 17) : QSize(17, 300));
            bar.setRange(0, 300);
            auto at = [&](int value) {
                bar.setValue(value);
                return bar.grab().toImage();
            };
            QVERIFY(at(0) != at(300));
            bar.setEnabled(false);
            QCOMPARE(at(0), at(300));
            QCOMPARE(at(150), at(300));
        }
    }

    // Qt's dialog is given "Description (pattern)", never the pattern twice.
    void saveDialogFilter_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("nameFilters"); // empty: the dialog's own default
        QTest::newRow("the program's") << QStringLiteral("Word Files (*.doc)|*.doc")
                                       << QStringList{QStringLiteral("Word Files (*.doc)")};
        QTest::newRow("no pattern shown")
            << QStringLiteral("Text|*.txt") << QStringList{QStringLiteral("Text (*.txt)")};
        QTest::newRow("other brackets") << QStringLiteral("Word (old)|*.doc")
                                        << QStringList{QStringLiteral("Word (old) (*.doc)")};
        QTest::newRow("pattern without brackets")
            << QStringLiteral("Docs *.doc|*.doc")
            << QStringList{QStringLiteral("Docs *.doc (*.doc)")};
        QTest::newRow("description only") << QStringLiteral("Anything") << QStringList();
        QTest::newRow("none") << QString() << QStringList();
    }

    void saveDialogFilter() {
        QFETCH(QString, filter);
        QFETCH(QStringList, nameFilters);
        if (nameFilters.isEmpty())
            nameFilters = QFileDialog().nameFilters();
        const QString dir = testsupport::sandboxRoot() + QStringLiteral("/save");
        QDir().mkpath(dir);

        QStringList filters;
        ui::CommonDialog dlg;
        dlg.DialogTitle = QStringLiteral("Save File");
        dlg.Filter = filter;
        dlg.FileName = dir + QStringLiteral("/start.doc");
        WhenModal<QFileDialog> driver([&](QFileDialog* d) {
            filters = d->nameFilters();
            d->reject();
        });
        dlg.ShowSave();
        QVERIFY(driver.acted && !driver.stuck);
        QCOMPARE(filters, nameFilters);
        QCOMPARE(dlg.FileName, QString()); // a cancel is "", not an error
    }

    // The chosen path comes back whole: a name typed without an extension gets
    // the filter's, as desktop save dialogs do, one with an extension keeps
    // it, and an existing file is not asked about (the program asks itself).
    void saveDialogReturnsTheChosenPathAndNeverAsks_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("new, no extension")
            << QStringLiteral("notice") << false << QStringLiteral("notice.doc");
        QTest::newRow("existing, no extension")
            << QStringLiteral("old notice") << true << QStringLiteral("old notice.doc");
        QTest::newRow("existing") << QStringLiteral("old notice.doc") << true
                                  << QStringLiteral("old notice.doc");
        QTest::newRow("another extension")
            << QStringLiteral("notice.txt") << false << QStringLiteral("notice.txt");
    }

    void saveDialogReturnsTheChosenPathAndNeverAsks() {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QFETCH(QString, chosen);
        const QString dir = testsupport::sandboxRoot() + QStringLiteral("/chosen");
        QDir().mkpath(dir);
        const QString path = dir + QStringLiteral("/") + chosen;
        QFile::remove(path);
        if (exists)
            testsupport::writeFile(path, "older");

        ui::CommonDialog dlg;
        dlg.DialogTitle = QStringLiteral("Save File");
        dlg.Filter = QStringLiteral("Word Files (*.doc)|*.doc");
        QString title;
        bool saveMode = false;
        bool confirms = true;
        bool typed = false;
        WhenModal<QFileDialog> driver([&](QFileDialog* d) {
            title = d->windowTitle();
            saveMode = d->acceptMode() == QFileDialog::AcceptSave;
            confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
            // The user goes to the folder and types the name.
            d->setDirectory(dir);
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            typed = edit != nullptr;
            if (edit)
                edit->setText(name);
            static_cast<QDialog*>(d)->accept(); // as the Save button does
        });
        dlg.ShowSave();
        QVERIFY(driver.acted && typed);
        QVERIFY2(!driver.stuck, "the dialog asked something or did not close");
        QCOMPARE(title, QStringLiteral("Save File"));
        QVERIFY(saveMode);
        QVERIFY(!confirms);
        QCOMPARE(dlg.FileName, path);
        QCOMPARE(testsupport::readFile(path), exists ? QByteArray("older") : QByteArray());
    }

    void saveDialogStartsAtTheInitialName() {
        const QString dir = testsupport::sandboxRoot() + QStringLiteral("/initial");
        QDir().mkpath(dir);
        ui::CommonDialog dlg;
        dlg.FileName = dir + QStringLiteral("/proposed.doc");
        QStringList selected;
        WhenModal<QFileDialog> driver([&](QFileDialog* d) {
            selected = d->selectedFiles();
            static_cast<QDialog*>(d)->accept(); // as the Save button does
        });
        dlg.ShowSave();
        QVERIFY(driver.acted && !driver.stuck);
        QCOMPARE(selected, QStringList{dir + QStringLiteral("/proposed.doc")});
        QCOMPARE(dlg.FileName, dir + QStringLiteral("/proposed.doc"));
    }

    void textBoxKeepsCrLfAndTakesAnyLineBreak() {
        ui::TextBox box(true);
        auto* editor = qobject_cast<QPlainTextEdit*>(box.editor());
        QVERIFY(editor);
        box.SetText(QStringLiteral("one\r\ntwo\rthree\nfour"));
        QCOMPARE(box.Text(), QStringLiteral("one\r\ntwo\r\nthree\r\nfour"));
        QCOMPARE(editor->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour"));

        // The same text with other line breaks is no change.
        QSignalSpy changed(&box, &ui::TextBox::changed);
        box.SetText(QStringLiteral("one\ntwo\r\nthree\rfour"));
        QCOMPARE(changed.size(), 0);
        box.SetText(QStringLiteral("one\r\ntwo"));
        QCOMPARE(changed.size(), 1);

        // A line typed by the user comes out with CR LF too.
        editor->moveCursor(QTextCursor::End);
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::keyClicks(editor, QStringLiteral("x"));
        QCOMPARE(box.Text(), QStringLiteral("one\r\ntwo\r\nx"));

        ui::TextBox line(false);
        line.SetText(QStringLiteral("plain"));
        QCOMPARE(line.Text(), QStringLiteral("plain"));
    }

    // Positions count CR LF as two characters, as the text does; a position
    // inside a line break takes the whole break.
    void textBoxSelectionCountsCrLfAsTwo_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("selected"); // in the editor, line break as U+2029
        QTest::addColumn<int>("readStart");
        QTest::addColumn<int>("readLength");
        // "ab\r\ncd\r\n\r\nef": a0 b1 CR2 LF3 c4 d5 CR6 LF7 CR8 LF9 e10 f11
        const QString br(QChar(0x2029));
        QTest::newRow("all") << 0 << 12 << "ab" + br + "cd" + br + br + "ef" << 0 << 12;
        QTest::newRow("second line") << 4 << 2 << QStringLiteral("cd") << 4 << 2;
        QTest::newRow("across a break") << 1 << 4 << "b" + br + "c" << 1 << 4;
        QTest::newRow("the empty line") << 8 << 2 << br << 8 << 2;
        QTest::newRow("last line") << 10 << 2 << QStringLiteral("ef") << 10 << 2;
        QTest::newRow("inside a break") << 3 << 1 << br << 2 << 2;
        QTest::newRow("past the end") << 12 << 5 << QString() << 12 << 0;
        QTest::newRow("before the start") << -3 << 2 << QStringLiteral("ab") << 0 << 2;
        QTest::newRow("negative length") << 5 << -1 << QString() << 5 << 0;
    }

    void textBoxSelectionCountsCrLfAsTwo() {
        QFETCH(int, start);
        QFETCH(int, length);
        QFETCH(QString, selected);
        QFETCH(int, readStart);
        QFETCH(int, readLength);
        ui::TextBox box(true);
        box.SetText(QStringLiteral("ab\r\ncd\r\n\r\nef"));
        box.SetSelStart(start);
        box.SetSelLength(length);
        auto* editor = qobject_cast<QPlainTextEdit*>(box.editor());
        QCOMPARE(editor->textCursor().selectedText(), selected);
        QCOMPARE(box.SelStart(), readStart);
        QCOMPARE(box.SelLength(), readLength);
    }

    void textBoxReadsWhereTheUserPutTheCursor() {
        ui::TextBox box(true);
        box.SetText(QStringLiteral("ab\r\ncd\r\nef"));
        auto* editor = qobject_cast<QPlainTextEdit*>(box.editor());
        QTextCursor c = editor->textCursor();
        c.setPosition(4);                          // after "ab\nc"
        c.setPosition(7, QTextCursor::KeepAnchor); // through "d\ne"
        editor->setTextCursor(c);
        QCOMPARE(box.SelStart(), 5);
        QCOMPARE(box.SelLength(), 4);

        // A text that ends in a line break is still selected whole.
        box.SetText(QStringLiteral("x\r\n"));
        box.SetSelStart(0);
        box.SetSelLength(int(box.Text().size()));
        QCOMPARE(editor->textCursor().selectedText(), QStringLiteral("x") + QChar(0x2029));
        QCOMPARE(box.SelLength(), 3);

        ui::TextBox line(false);
        line.SetText(QStringLiteral("abc"));
        line.SetSelStart(1);
        line.SetSelLength(5);
        QCOMPARE(line.SelStart(), 1);
        QCOMPARE(line.SelLength(), 2);
    }

    void cursorFileGivesItsHotSpot_data() {
        QTest::addColumn<QPoint>("hot");
        QTest::newRow("inside") << QPoint(5, 9);
        QTest::newRow("top right") << QPoint(31, 0);
        QTest::newRow("bottom left") << QPoint(0, 30);
    }

    void cursorFileGivesItsHotSpot() {
        QFETCH(QPoint, hot);
        const QByteArray bytes = cursorFile(hot);
        QVERIFY(!bytes.isEmpty());
        const QString path = testsupport::writeFile(
            testsupport::sandboxRoot() + QStringLiteral("/cur/hand.cur"), bytes);
        const QCursor cursor = ui::LoadCursorFile(path);
        QCOMPARE(cursor.shape(), Qt::BitmapCursor);
        QCOMPARE(cursor.hotSpot(), hot);
        const QImage img = cursor.pixmap().toImage();
        QCOMPARE(img.size(), QSize(32, 32));
        QCOMPARE(img.pixelColor(hot), QColor(Qt::red));
        QCOMPARE(img.pixelColor(0, 31), QColor(Qt::blue)); // not upside down
    }

    void theShippedHandPointsWithItsFingertip() {
        const QCursor hand =
            ui::LoadCursorFile(QStringLiteral(VELTRANE_SOURCE_DIR "/resources/HAND-M.CUR"));
        const QImage img = hand.pixmap().toImage();
        QCOMPARE(img.size(), QSize(32, 32));
        const QPoint hot = hand.hotSpot();
        QVERIFY(img.rect().contains(hot));
        QVERIFY2(img.pixelColor(hot).alpha() > 0, "the hot spot is on a transparent pixel");
        for (int y = 0; y < hot.y(); ++y) // nothing of the hand above the fingertip
            for (int x = 0; x < img.width(); ++x)
                QCOMPARE(img.pixelColor(x, y).alpha(), 0);
    }

    void unreadableCursorFilesFail() {
        const QString root = testsupport::sandboxRoot() + QStringLiteral("/badcur/");
        const QString missing = root + QStringLiteral("missing.cur");
        QCOMPARE(errorOf([&] { ui::LoadCursorFile(missing); }),
                 QStringLiteral("File not found: ") + missing);
        const QString invalid = QStringLiteral("Invalid picture");
        const QString icon =
            testsupport::writeFile(root + QStringLiteral("icon.cur"), cursorFile({1, 1}, 1));
        QCOMPARE(errorOf([&] { ui::LoadCursorFile(icon); }), invalid);
        const QString shortFile =
            testsupport::writeFile(root + QStringLiteral("short.cur"), cursorFile({1, 1}).left(21));
        QCOMPARE(errorOf([&] { ui::LoadCursorFile(shortFile); }), invalid);
        QByteArray broken = cursorFile({1, 1});
        broken.truncate(40); // the header promises an image that is not there
        const QString cut = testsupport::writeFile(root + QStringLiteral("cut.cur"), broken);
        QCOMPARE(errorOf([&] { ui::LoadCursorFile(cut); }), invalid);
    }

    // A page picture as the office makes one: opaque, of odd width, with
    // every row different, at twice 96 dpi.
    static QImage pagePicture() {
        QImage img(333, 211, QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                img.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256));
        img.setDotsPerMeterX(7559);
        img.setDotsPerMeterY(7559);
        return img;
    }

    void aStoredPictureIsARealBmpThatLoadsBackTheSame() {
        const QString path = testsupport::sandboxRoot() + QStringLiteral("/pictures/temp.bmp");
        QDir().mkpath(QFileInfo(path).path());
        const QImage picture = pagePicture();
        ui::SavePicture(picture, path);
        // Any BMP reader sees the same picture, right side up, at its resolution.
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("bmp"));
        const QImage general = reader.read().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(general, picture);
        QCOMPARE(general.dotsPerMeterX(), 7559);
        const QImage loaded = ui::LoadPicture(path);
        QCOMPARE(loaded.format(), QImage::Format_RGB32);
        QCOMPARE(loaded, picture);
        QCOMPARE(loaded.dotsPerMeterY(), 7559);
        QCOMPARE(ui::naturalSizeTwips(loaded), QSize(2498, 1583));
        // Stored again over the last one.
        ui::SavePicture(picture.mirrored(), path);
        QCOMPARE(ui::LoadPicture(path), picture.mirrored());
    }

    void otherPicturesStillStoreAndLoad() {
        const QString root = testsupport::sandboxRoot() + QStringLiteral("/pictures/");
        QDir().mkpath(root);
        QImage grey(40, 30, QImage::Format_Grayscale8);
        grey.fill(90);
        ui::SavePicture(grey, root + QStringLiteral("grey.bmp"));
        QCOMPARE(ui::LoadPicture(root + QStringLiteral("grey.bmp")).pixelColor(5, 5),
                 QColor(90, 90, 90));
        // A 32-bit BMP from another writer leaves its fourth byte 0: still opaque.
        QByteArray bmp;
        {
            QImage two(2, 2, QImage::Format_RGB32);
            two.fill(qRgb(10, 20, 30));
            ui::SavePicture(two, root + QStringLiteral("two.bmp"));
            bmp = testsupport::readFile(root + QStringLiteral("two.bmp"));
            for (qsizetype i = 54 + 3; i < bmp.size(); i += 4)
                bmp[i] = 0;
        }
        testsupport::writeFile(root + QStringLiteral("zero.bmp"), bmp);
        const QImage zero = ui::LoadPicture(root + QStringLiteral("zero.bmp"));
        QCOMPARE(zero.pixel(1, 1), qRgb(10, 20, 30));
        // A PNG under the name: the format comes from the content.
        QImage png(3, 3, QImage::Format_RGB32);
        png.fill(Qt::red);
        png.save(root + QStringLiteral("png.bmp"), "PNG");
        QCOMPARE(ui::LoadPicture(root + QStringLiteral("png.bmp")).pixel(1, 1), qRgb(255, 0, 0));
    }

    void aFileInPiecesIsWrittenWhole() {
        const QString path = testsupport::sandboxRoot() + QStringLiteral("/pieces/file");
        QDir().mkpath(QFileInfo(path).path());
        // More pieces than one system call takes, some of them empty.
        QByteArray expected;
        QList<QByteArray> store;
        for (int i = 0; i < 3000; ++i)
            store << QByteArray(i % 7, char('a' + i % 26));
        QList<QByteArrayView> pieces;
        for (const QByteArray& b : store) {
            pieces << QByteArrayView(b);
            expected += b;
        }
        ui::writeNewFile(pieces, path);
        QCOMPARE(testsupport::readFile(path), expected);
        QCOMPARE(errorOf([&] { ui::writeNewFile(pieces, path); }).startsWith("File exists"), true);
    }
};

VELTRANE_TEST_MAIN(UiTest)
#include "test_ui.moc"
