// The preview window driven the way a user drives it: the hand-over and the
// set-up, zoom, the scroll bars, dragging, and the drop that syncs the bars.

#include "previewtest.h"

#include "app/form1.h"
#include "app/shell.h"
#include "platform/ui/twips.h"
#include "preview/viewmath.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QScrollBar>

using namespace previewtest;
using testsupport::MsgBoxRecorder;

class ViewportTest : public QObject {
    Q_OBJECT
    Form2* f = nullptr;
    Form2Probe probe{nullptr};
    std::unique_ptr<MsgBoxRecorder> boxes; // no test expects an error report
    preview::PictureBox* box() const { return f->Picture1; }
    QPointF boxAt() const { return QPointF(box()->Left(), box()->Top()); }

    // Hands a picture over and lets the activation that follows run the set-up.
    void show(const QImage& picture) {
        f->setPicture1(picture);
        f->show();
        QTRY_VERIFY(!probe.firstActivate());
    }

    static void moveOver(QWidget* w) {
        QMouseEvent e(QEvent::MouseMove, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }

    QColor colourAt(double xShare, double yShare) const {
        const QImage img = box()->Image();
        return img.pixelColor(int(img.width() * xShare), int(img.height() * yShare));
    }

  private slots:
    void initTestCase() {
        // The hand cursor is found in the application folder when it is there.
        const QString appDir = testsupport::sandboxRoot() + QStringLiteral("/app");
        QDir().mkpath(appDir);
        QVERIFY(QFile::copy(QStringLiteral(VELTRANE_SOURCE_DIR "/resources/HAND-M.CUR"),
                            appDir + QStringLiteral("/HAND-M.CUR")));
        app::setAppPathForTests(appDir);
        f = Form2::instance();
        probe.f = f;
        QCOMPARE(Form2::loaded(), f);
        QCOMPARE(Form2::instance(), f);
    }

    void init() { boxes = std::make_unique<MsgBoxRecorder>(); }
    void cleanup() {
        QCOMPARE(boxes->prompts(), QStringList());
        boxes.reset();
    }

    void windowIsLaidOutAsDesigned() {
        QCOMPARE(f->size(), QSize(656, 626));
        QCOMPARE(f->minimumSize(), f->maximumSize());
        QVERIFY(!(f->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(f->windowTitle(), QStringLiteral("Veltrane"));
        QVERIFY(!f->windowIcon().isNull());
        const struct {
            const char* name;
            int l, t, w, h;
        } table[] = {{"Picture2", 120, 120, 9330, 7425},     {"Picture1", 0, 0, 2340, 3435},
                     {"VScroll1", 9450, 120, 255, 7425},     {"HScroll1", 120, 7545, 9330, 255},
                     {"Frame1", 120, 7860, 9600, 855},       {"PushButton1", 240, 300, 4440, 405},
                     {"PushButton2", 4800, 300, 4560, 405},  {"PushButton8", 120, 8850, 4680, 405},
                     {"PushButton6", 4920, 8850, 4800, 405}, {"Zoom_Ori", 10320, 480, 735, 375}};
        for (const auto& c : table) {
            auto* w = f->findChild<QWidget*>(QLatin1String(c.name));
            QVERIFY2(w, c.name);
            QCOMPARE(w->geometry(), ui::pxRect(c.l, c.t, c.w, c.h));
        }
        QCOMPARE(f->Picture2->ScaleWidth(), 9270);
        QCOMPARE(f->PushButton6->text(), QStringLiteral("Save Results To Word File"));
        QCOMPARE(f->PushButton8->text(), QStringLiteral("< Back"));
        QCOMPARE(f->PushButton1->text(), QStringLiteral("Zoom In"));
        QCOMPARE(f->PushButton2->text(), QStringLiteral("Zoom Out"));
        QCOMPARE(f->Frame1->title(), QStringLiteral("Zoom:"));
        for (QWidget* w : {static_cast<QWidget*>(f), static_cast<QWidget*>(f->Frame1)}) {
            QCOMPARE(w->font().family(), QStringLiteral("Arial"));
            QCOMPARE(w->font().pointSizeF(), 9.0);
            QVERIFY(w->font().bold());
        }
        QCOMPARE(f->PushButton6->font().pointSizeF(), 11.25);
        QVERIFY(f->PushButton6->font().bold());
        QCOMPARE(f->palette().color(QPalette::Window), app::systemButtonFace());
        QCOMPARE(f->Frame1->palette().color(QPalette::Window), app::systemButtonFace());
        QCOMPARE(f->Picture2->BackColor(), QColor(Qt::white));

        const QStringList order{"HScroll1",    "VScroll1",   "Picture2",    "Picture1",
                                "Frame1",      "Zoom_Ori",   "PushButton1", "PushButton2",
                                "PushButton6", "PushButton8"};
        QStringList chain;
        QWidget* w = f->HScroll1;
        do {
            if (order.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        } while (w != f->HScroll1);
        QCOMPARE(chain, order);
    }

    void handOverButtonsAndArrowElsewhere() {
        QVERIFY(f->Pointer.hasMouseIcon());
        for (QWidget* b : {f->PushButton1, f->PushButton2, f->PushButton6, f->PushButton8}) {
            moveOver(f->Frame1);
            QCOMPARE(f->Pointer.MousePointer(), int(ui::vbDefault));
            moveOver(b);
            QCOMPARE(f->Pointer.MousePointer(), int(ui::vbCustom));
            QCOMPARE(f->cursor().shape(), Qt::BitmapCursor);
        }
        moveOver(f);
        QCOMPARE(f->Pointer.MousePointer(), int(ui::vbDefault));
        f->Pointer.SetMousePointer(ui::vbHourglass);
        moveOver(f->PushButton6);
        moveOver(f->Frame1);
        QCOMPARE(f->Pointer.MousePointer(), int(ui::vbHourglass));
        f->Pointer.SetMousePointer(ui::vbDefault);
    }

    void setUpShowsTheNewPictureAtTheTopLeft() {
        const QImage picture = pictureOfTwips(6002, 5002);
        show(picture);
        QCOMPARE(probe.zoom(), 1.0f);
        QCOMPARE(probe.imageWidth(), 6000);
        QCOMPARE(probe.imageHeight(), 5000);
        QCOMPARE(box()->Width(), 6000);
        QCOMPARE(box()->Height(), 5000);
        QCOMPARE(boxAt(), QPointF(0, 0));
        QVERIFY(!f->HScroll1->isEnabled() && !f->VScroll1->isEnabled());
        QCOMPARE(probe.hStep(), 0);
        QCOMPARE(probe.vStep(), 0);
        QVERIFY(f->Zoom_Ori->isHidden());
        QCOMPARE(f->Zoom_Ori->Picture().cacheKey(), picture.cacheKey());
        QCOMPARE(box()->BackColor(), QColor(255, 255, 255));
        QCOMPARE(colourAt(0.25, 0.5), QColor(Qt::red));
        QCOMPARE(colourAt(0.75, 0.5), QColor(Qt::blue));
    }

    void laterActivationsChangeNothing() {
        show(pictureOfTwips(6002, 5002));
        QTest::mouseClick(f->PushButton1, Qt::LeftButton);
        QCOMPARE(probe.zoom(), 1.25f);
        QWidget other;
        other.show();
        QTRY_VERIFY(other.isActiveWindow());
        f->activateWindow();
        QTRY_VERIFY(f->isActiveWindow());
        QCOMPARE(probe.zoom(), 1.25f);
        QCOMPARE(box()->Width(), 7500);

        // Back, then a new document: set up afresh at 1.0.
        f->hide();
        QCoreApplication::processEvents();
        show(pictureOfTwips(4002, 3002));
        QCOMPARE(probe.zoom(), 1.0f);
        QCOMPARE(box()->Width(), 4000);
        QTest::mouseClick(f->PushButton2, Qt::LeftButton);
        QCOMPARE(box()->Width(), 3000);
        QCOMPARE(box()->Height(), 2250);
    }

    void scrollRangesFollowTheOverflow_data() {
        QTest::addColumn<int>("overflow");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("maximum");
        QTest::newRow("narrower") << -500 << false << 0 << 0;
        QTest::newRow("exactly as wide") << 0 << false << 0 << 0;
        QTest::newRow("100") << 100 << true << 1 << 100;
        QTest::newRow("105, 10.5 to even") << 105 << true << 10 << 10;
        QTest::newRow("135") << 135 << true << 10 << 14;
        QTest::newRow("2575") << 2575 << true << 10 << 258;
    }
    void scrollRangesFollowTheOverflow() {
        QFETCH(int, overflow);
        QFETCH(bool, enabled);
        QFETCH(int, step);
        QFETCH(int, maximum);
        show(pictureOfTwips(9330 + overflow + 2, 7425 + overflow + 2));
        QCOMPARE(f->HScroll1->isEnabled(), enabled);
        QCOMPARE(f->VScroll1->isEnabled(), enabled);
        QCOMPARE(int(probe.hStep()), step);
        QCOMPARE(int(probe.vStep()), step);
        if (enabled) {
            QCOMPARE(f->HScroll1->maximum(), maximum);
            QCOMPARE(f->VScroll1->maximum(), maximum);
            QCOMPARE(f->HScroll1->value(), 0);
        }
    }

    void scrollBarsMoveTheBoxByWholeSteps() {
        show(pictureOfTwips(12332, 10002));
        f->HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(box()->Left(), -10.0f);
        f->HScroll1->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(box()->Left(), -20.0f);
        // The box follows the thumb only when it is let go.
        f->HScroll1->setSliderDown(true);
        f->HScroll1->setSliderPosition(100);
        QCOMPARE(box()->Left(), -20.0f);
        f->HScroll1->setSliderDown(false);
        QCOMPARE(box()->Left(), -1000.0f);
        f->VScroll1->setValue(5);
        QCOMPARE(box()->Top(), -50.0f);

        show(pictureOfTwips(9422, 3002));
        f->HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(box()->Left(), -1.0f);
    }

    void zoomStepsInQuartersWithinTheLimits() {
        show(pictureOfTwips(2003, 2503)); // 2001 x 2501: floors show
        const struct {
            float zoom;
            int w, h;
        } out[] = {{0.75f, 1500, 1875}, {0.5f, 1000, 1250}, {0.25f, 500, 625}, {0.25f, 500, 625}};
        for (const auto& s : out) {
            QTest::mouseClick(f->PushButton2, Qt::LeftButton);
            QCOMPARE(probe.zoom(), s.zoom);
            QCOMPARE(box()->Width(), s.w);
            QCOMPARE(box()->Height(), s.h);
        }
        for (int i = 0; i < 16; ++i) // 15 steps reach 4.0, the 16th is refused
            QTest::mouseClick(f->PushButton1, Qt::LeftButton);
        QCOMPARE(probe.zoom(), 4.0f);
        QCOMPARE(box()->Width(), 8004);
        QCOMPARE(box()->Height(), 10004);
        QCOMPARE(colourAt(0.45, 0.5), QColor(Qt::red));
        QCOMPARE(colourAt(0.55, 0.5), QColor(Qt::blue));

        // A press that repaints brings back the arrow and the top-left corner.
        f->VScroll1->setValue(20);
        f->Pointer.SetMousePointer(ui::vbCustom);
        QTest::mouseClick(f->PushButton2, Qt::LeftButton);
        QCOMPARE(f->Pointer.MousePointer(), int(ui::vbDefault));
        QCOMPARE(boxAt(), QPointF(0, 0));
        QCOMPARE(f->VScroll1->value(), 0);
    }

    void zoomFallsBackAtTheCaps() {
        show(pictureOfTwips(9002, 11002));
        const QImage before = box()->Image();
        QTest::mouseClick(f->PushButton1, Qt::LeftButton); // 13750 high: refused
        QCOMPARE(probe.zoom(), 1.0f);
        QCOMPARE(probe.zoomedWidth(), 9000);
        QCOMPARE(box()->Width(), 9000);
        QCOMPARE(box()->Image(), before);
        QTest::mouseClick(f->PushButton2, Qt::LeftButton);
        QCOMPARE(box()->Width(), 6750);
        QCOMPARE(box()->Height(), 8250);

        show(pictureOfTwips(9002, 10002));
        QTest::mouseClick(f->PushButton1, Qt::LeftButton);
        QCOMPARE(box()->Width(), 11250);
        QCOMPARE(box()->Height(), 12500);
        f->HScroll1->setValue(50);
        QTest::mouseClick(f->PushButton1, Qt::LeftButton); // 13500 wide: refused
        QCOMPARE(probe.zoom(), 1.0f);
        QCOMPARE(probe.imageWidth(), 9000);
        QCOMPARE(box()->Width(), 11250);
        QCOMPARE(boxAt(), QPointF(0, 0));
        QCOMPARE(f->HScroll1->maximum(), 192);
        QTest::mouseClick(f->PushButton2, Qt::LeftButton);
        QCOMPARE(probe.zoom(), 0.75f);
        QCOMPARE(box()->Width(), 6750);
    }

    void picturesBeyondTheCapsStayAtNaturalSize() {
        show(pictureOfTwips(11402, 3002));
        QCOMPARE(probe.zoom(), 1.0f);
        QCOMPARE(probe.imageWidth(), 11400);
        QCOMPARE(box()->Width(), 11402);
        QVERIFY(!box()->Picture().isNull());
        QCOMPARE(f->HScroll1->maximum(), 207);

        // Far beyond what 16-bit scroll values can express: the bar stops at
        // its end, dragging reaches the rest, and nothing fails.
        show(pictureOfTwips(400000, 302));
        QCOMPARE(f->HScroll1->maximum(), 32767);
        f->HScroll1->setValue(32767);
        QCOMPARE(box()->Left(), -327670.0f);
        drag(box(), QPointF(100, 10), QPointF(-30000, 10));
        QCOMPARE(f->HScroll1->value(), 32767);
        QCOMPARE(box()->Left(), float(9270 - 400000));
    }

    void draggingStaysWithinTheLimits() {
        // Beyond the width cap, so shown at its natural 12330 x 10000; the
        // viewport's inside is 9270 x 7365.
        show(pictureOfTwips(12330, 10000));
        mouse(box(), QEvent::MouseMove, QPointF(50, 50), Qt::NoButton, Qt::NoButton);
        QCOMPARE(boxAt(), QPointF(0, 0));
        drag(box(), QPointF(300, 300), QPointF(300, 300) - twipsToPixels(1500, 600), false);
        QCOMPARE(boxAt(), QPointF(-1500, -600));
        QCOMPARE(f->HScroll1->value(), 0); // bars wait for the release
        mouse(box(), QEvent::MouseMove, QPointF(5000, 5000), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(boxAt(), QPointF(0, 0));
        drag(box(), QPointF(300, 300), QPointF(-5000, -5000), true, Qt::RightButton);
        QCOMPARE(boxAt(), QPointF(9270 - 12330, 7365 - 10000));
        drag(box(), QPointF(300, 300), QPointF(310, 300), true, Qt::MiddleButton);
        QCOMPARE(box()->Left(), float(9270 - 12330 + 150));

        // Narrower and shorter than the viewport: it jumps between the edges.
        show(pictureOfTwips(5002, 4002));
        drag(box(), QPointF(100, 100), QPointF(99, 100), false);
        QCOMPARE(boxAt(), QPointF(9270 - 5000, 7365 - 4000));
        mouse(box(), QEvent::MouseMove, QPointF(400, 400), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(boxAt(), QPointF(0, 0));
        mouse(box(), QEvent::MouseButtonRelease, QPointF(400, 400), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(boxAt(), QPointF(0, 0));
    }

    void aDropSetsTheBarsByPercentage() {
        show(pictureOfTwips(12330, 10000)); // overflow 3000 wide, 2575 high
        const QPointF grab(300, 300);
        drag(box(), grab, grab - twipsToPixels(1500, 0));
        QCOMPARE(f->HScroll1->value(), 150);
        QCOMPARE(box()->Left(), -1500.0f);
        f->HScroll1->setValue(0);
        drag(box(), grab, grab - twipsToPixels(1234, 1000));
        QCOMPARE(f->HScroll1->value(), 123);
        QCOMPARE(box()->Left(), -1230.0f);
        QCOMPARE(f->VScroll1->value(), 101); // 39 % of 258
        QCOMPARE(box()->Top(), -1010.0f);
        // Beyond 100 % (inner size smaller than outer): the bar stays, so does the box.
        drag(box(), grab, grab - twipsToPixels(5000, 0));
        QCOMPARE(f->HScroll1->value(), 123);
        QCOMPARE(box()->Left(), -3060.0f);
        // A plain click snaps to what the bar can express.
        f->HScroll1->setValue(127);
        drag(box(), grab, grab);
        QCOMPARE(f->HScroll1->value(), 126);
        QCOMPARE(box()->Left(), -1260.0f);

        show(pictureOfTwips(9422, 3002)); // step 1, maximum 90
        drag(box(), grab, grab - twipsToPixels(45, 0));
        QCOMPARE(f->HScroll1->value(), 45);
        QCOMPARE(box()->Left(), -45.0f);

        // Exactly as wide as the viewport: nothing to sync, and no report.
        show(pictureOfTwips(9332, 3002));
        drag(box(), grab, grab - twipsToPixels(300, 0));
        QCOMPARE(box()->Left(), -60.0f);
        QCOMPARE(f->HScroll1->value(), 0);
    }

    void percentSettersIgnoreWhatIsOutOfRange() {
        show(pictureOfTwips(9332 + 910, 3002)); // maximum 91
        QScrollBar* bar = f->HScroll1;
        for (int16_t p : {int16_t(-1), int16_t(101)}) {
            f->SetHScrollbarByPercent(bar, p);
            QCOMPARE(bar->value(), 0);
        }
        f->SetHScrollbarByPercent(bar, 50); // 45.5, halves to even
        QCOMPARE(bar->value(), 46);
        f->SetHScrollbarByPercent(bar, 100);
        QCOMPARE(bar->value(), 91);
    }

    void paintedPageSurvivesBeingCovered() {
        show(pictureOfTwips(3002, 3002));
        for (int i = 0; i < 4; ++i)
            QTest::mouseClick(f->PushButton1, Qt::LeftButton); // 2.0: 6000 twips, 400 px
        const QImage first = box()->grab().toImage();
        QCOMPARE(first.pixelColor(190, 200), QColor(Qt::red));
        QCOMPARE(first.pixelColor(210, 200), QColor(Qt::blue));
        f->hide();
        f->show();
        QCoreApplication::processEvents();
        QCOMPARE(box()->grab().toImage(), first);
    }

    void roundingAndClamping() {
        QCOMPARE(preview::toInt16(10.5), int16_t(10));
        QCOMPARE(preview::toInt16(13.5), int16_t(14));
        QCOMPARE(preview::toInt16(-2.5), int16_t(-2));
        QCOMPARE(preview::toInt16(1e6), int16_t(32767));
        QCOMPARE(preview::toInt16(-1e6), int16_t(-32768));
        QCOMPARE(preview::toInt32(std::nan("")), 0);
        QCOMPARE(preview::zoomedSize(2001, 0.75f), 1500);
        QCOMPARE(preview::barRange(400000, 9330).maximum, int16_t(32767));
        QCOMPARE(preview::dropPercent(-45, 9330, 9330), 0);
    }
};

VELTRANE_TEST_MAIN(ViewportTest)
#include "test_viewport.moc"
