// The preview window driven the way a user drives it: the hand-over and the
// set-up, zoom, the scroll bars, dragging, and the drop that syncs the bars.

#include "app/mainwindow.h"
#include "common/appearance.h"
#include "common/shell.h"
#include "platform/ui/picture.h"
#include "platform/ui/twips.h"
#include "preview/picturebox.h"
#include "preview/previewwindow.h"
#include "tests/support/testenv.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

struct PreviewWindowProbe {
    static float zoom(const PreviewWindow* f) { return f->mZoom; }
    static QList<int> steps(const PreviewWindow* f) { return {f->mHStep, f->mVStep}; }
    static QSize image(const PreviewWindow* f) { return {f->mImageWidth, f->mImageHeight}; }
    static bool setUpDue(const PreviewWindow* f) { return f->mFirstActivate; }
};

namespace {

// A page picture of exactly w x h twips at about 192 dpi, its left half red and
// its right half blue, so stretching shows.
QImage pictureOfTwips(int w, int h) {
    auto pixelsFor = [](int twips, bool across) -> QPair<int, int> {
        const int first = std::max(2, int(std::ceil(twips / 7.5)));
        for (int pixels = first; pixels < first + 40; ++pixels)
            for (int dpm = int(pixels * 1440.0 / twips / 0.0254) - 2, n = 0; n < 5; ++dpm, ++n) {
                QImage probe(across ? pixels : 1, across ? 1 : pixels, QImage::Format_RGB32);
                probe.setDotsPerMeterX(dpm);
                probe.setDotsPerMeterY(dpm);
                const QSize t = ui::naturalSizeTwips(probe);
                if ((across ? t.width() : t.height()) == twips)
                    return {pixels, dpm};
            }
        qFatal("no picture is %d twips long", twips);
    };
    const auto [pw, dpmX] = pixelsFor(w, true);
    const auto [ph, dpmY] = pixelsFor(h, false);
    QImage pic(pw, ph, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    QPainter(&pic).fillRect(0, 0, pw / 2, ph, Qt::red);
    pic.setDotsPerMeterX(dpmX);
    pic.setDotsPerMeterY(dpmY);
    return pic;
}

// This process's resident memory, in bytes.
qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

} // namespace

class ViewportTest : public QObject {
    Q_OBJECT
    PreviewWindow* f = nullptr;
    std::unique_ptr<testsupport::MsgBoxRecorder> boxes; // no test expects an error report
    preview::PictureBox* box() const { return f->viewer; }
    QSize size() const { return {box()->Width(), box()->Height()}; }
    QPointF at() const { return {box()->Left(), box()->Top()}; }
    void zoomIn() { QTest::mouseClick(f->zoomInButton, Qt::LeftButton); }
    void zoomOut() { QTest::mouseClick(f->zoomOutButton, Qt::LeftButton); }

    // Hands a picture over and lets the activation that follows run the set-up.
    void show(const QImage& picture) {
        f->setPicture(picture);
        f->show();
        QTRY_VERIFY(!PreviewWindowProbe::setUpDue(f));
    }

    // A mouse event on the viewer box at a point in pixels of the viewport's
    // inside, wherever the box has moved to.
    void mouse(QEvent::Type type, QPointF inViewport, Qt::MouseButton button,
               Qt::MouseButtons held) {
        const QPointF local = inViewport - QPointF(box()->pos());
        QMouseEvent e(type, local, box()->mapToGlobal(local), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(box(), &e);
    }
    // Grabs the picture at (300, 300) and moves the pointer by dx, dy twips.
    void drag(double dx, double dy, bool release = true, Qt::MouseButton b = Qt::LeftButton) {
        const QPointF grab(300, 300);
        const QPointF to = grab + QPointF(dx, dy) / ui::kTwipsPerPixel;
        mouse(QEvent::MouseButtonPress, grab, b, b);
        mouse(QEvent::MouseMove, to, Qt::NoButton, b);
        if (release)
            mouse(QEvent::MouseButtonRelease, to, b, Qt::NoButton);
    }

    static void moveOver(QWidget* w) {
        QMouseEvent e(QEvent::MouseMove, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }

    QColor colourAt(double xShare) const {
        const QImage img = box()->Image();
        return img.pixelColor(int(img.width() * xShare), img.height() / 2);
    }

  private slots:
    // A picture box draws its backing late; what it shows must be as if it
    // had drawn it at once.
    void aPictureBoxShowsWhatItWasGivenInTheOrderGiven() {
        preview::PictureBox holder(nullptr); // never shown, as the unzoomed holder
        holder.SetAutoRedraw(true);
        holder.SetAutoSize(true);
        holder.SetBackColor(Qt::yellow);
        holder.SetPicture(pictureOfTwips(1500, 1500)); // red left, blue right
        holder.SetBackColor(Qt::white);                // the picture stays over it
        QImage img = holder.Image();
        QCOMPARE(img.size(), QSize(100, 100));
        QCOMPARE(img.pixelColor(10, 50), QColor(Qt::red));
        QCOMPARE(img.pixelColor(90, 50), QColor(Qt::blue));

        QImage green(400, 400, QImage::Format_RGB32);
        green.fill(Qt::green);
        green.setDotsPerMeterX(7559);
        green.setDotsPerMeterY(7559);
        // Half of it painted over: the other half still shows the picture.
        holder.SetPicture(pictureOfTwips(1500, 1500));
        holder.PaintPicture(green, 0, 0, 750, 1500, 0, 0, 3000, 3000);
        img = holder.Image();
        QCOMPARE(img.pixelColor(10, 50), QColor(Qt::green));
        QCOMPARE(img.pixelColor(90, 50), QColor(Qt::blue));
        // Grown: what was painted stays, the new room is background.
        holder.SetAutoSize(false);
        holder.SetWidth(2250);
        img = holder.Image();
        QCOMPARE(img.width(), 150);
        QCOMPARE(img.pixelColor(10, 50), QColor(Qt::green));
        QCOMPARE(img.pixelColor(90, 50), QColor(Qt::blue));
        QCOMPARE(img.pixelColor(140, 50), QColor(Qt::white));
        // All of it painted over, shrinking: nothing of the picture is left.
        holder.SetPicture(pictureOfTwips(1500, 1500));
        holder.SetAutoSize(true);
        holder.PaintPicture(green, 0, 0, 1500, 1500, 0, 0, 3000, 3000);
        img = holder.Image();
        QCOMPARE(img.size(), QSize(100, 100));
        QCOMPARE(img.pixelColor(10, 50), QColor(Qt::green));
        QCOMPARE(img.pixelColor(99, 99), QColor(Qt::green));
        QCOMPARE(img.devicePixelRatio(), holder.devicePixelRatioF());
    }

    void initTestCase() {
        // The hand cursor comes from the application folder when it is there.
        const QString appDir = testsupport::sandboxRoot() + QStringLiteral("/app");
        QDir().mkpath(appDir);
        QVERIFY(QFile::copy(QStringLiteral(VELTRANE_SOURCE_DIR "/resources/HAND-M.CUR"),
                            appDir + QStringLiteral("/HAND-M.CUR")));
        common::setAppPathForTests(appDir);
        QVERIFY(!PreviewWindow::loaded());
        f = PreviewWindow::instance();
        QCOMPARE(PreviewWindow::loaded(), f);
    }
    void memoryAGenerationFreedGoesBackOnceThePreviewIsShown() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizer's own allocator decides when freed memory goes back");
#endif
        constexpr size_t kMiB = 1 << 20;
        // Freed the way a generation frees its buffers: after the first big
        // one, the allocator serves the others from its heap and keeps them.
        auto touched = [](size_t n) {
            auto p = std::make_unique<char[]>(n);
            std::memset(p.get(), 1, n);
            return p;
        };
        touched(24 * kMiB).reset();
        std::vector<std::unique_ptr<char[]>> blocks, spacers;
        for (int i = 0; i < 20; ++i) {
            blocks.push_back(touched(4 * kMiB));
            spacers.push_back(touched(256 * 1024)); // in use: nothing trims past it
        }
        blocks.clear();
        const qint64 held = residentBytes();

        show(pictureOfTwips(9422, 3002));
        QTRY_VERIFY_WITH_TIMEOUT(residentBytes() < held - qint64(60 * kMiB), 5000);
    }

    void init() {
        boxes = std::make_unique<testsupport::MsgBoxRecorder>();
    }
    void cleanup() {
        QCOMPARE(boxes->prompts(), QStringList());
    }

    void windowIsLaidOutAsDesigned() {
        QCOMPARE(f->size(), QSize(656, 626));
        QCOMPARE(f->minimumSize(), f->maximumSize());
        QVERIFY(!(f->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(f->windowTitle(), QStringLiteral("Veltrane"));
        QCOMPARE(f->viewport->ScaleWidth(), 9270); // a two-pixel border all round
        QCOMPARE(f->viewport->ScaleHeight(), 7365);
        QCOMPARE(f->palette().color(QPalette::Window), common::systemButtonFace());

        QStringList order;
        const QStringList tabs{"HScroll1",    "VScroll1",   "Picture2",    "Picture1",
                               "Frame1",      "Zoom_Ori",   "PushButton1", "PushButton2",
                               "PushButton6", "PushButton8"};
        QWidget* w = f->hScroll;
        do {
            if (tabs.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
        } while ((w = w->nextInFocusChain()) != f->hScroll);
        QCOMPARE(order, tabs);
    }

    void aScreenReaderHearsEveryPartInTabOrder() {
        // Large enough to scroll both ways, so both bars take the focus.
        show(pictureOfTwips(12000, 15000));
        QVERIFY(QTest::qWaitForWindowActive(f));
        auto iface = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w); };

        QAccessibleInterface* picture = iface(f->viewer);
        QVERIFY(picture);
        QCOMPARE(picture->role(), QAccessible::Graphic);
        QCOMPARE(picture->text(QAccessible::Name), QStringLiteral("Filled warning notice"));
        const QString description = picture->text(QAccessible::Description);
        QVERIFY2(description.contains(QStringLiteral("warning notice")) &&
                     description.contains(QStringLiteral("Zoom In")),
                 qPrintable(description));
        QCOMPARE(iface(f->zoomFrame)->text(QAccessible::Name), QStringLiteral("Zoom:"));
        QCOMPARE(iface(f->zoomInButton)->role(), QAccessible::Button);

        // Tab from the first stop: what is focused, and what it is called.
        f->hScroll->setFocus(Qt::TabFocusReason);
        QStringList heard;
        for (int i = 0; i < 9; ++i) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            heard << focused->objectName() + QStringLiteral(": ") +
                         iface(focused)->text(QAccessible::Name);
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(heard,
                 QStringList({"HScroll1: Move the notice left or right",
                              "VScroll1: Move the notice up or down", "Picture2: Preview",
                              "Picture1: Filled warning notice", "PushButton1: Zoom In",
                              "PushButton2: Zoom Out", "PushButton6: Save Results To Word File",
                              "PushButton8: Back", "HScroll1: Move the notice left or right"}));
    }

    void handOverTheButtonsArrowElsewhere() {
        QVERIFY(f->pointer.hasMouseIcon());
        for (QWidget* b : {f->zoomInButton, f->zoomOutButton, f->saveButton, f->backButton}) {
            moveOver(f->zoomFrame);
            QCOMPARE(f->pointer.MousePointer(), int(ui::vbDefault));
            moveOver(b);
            QCOMPARE(f->pointer.MousePointer(), int(ui::vbCustom));
            QCOMPARE(f->cursor().shape(), Qt::BitmapCursor);
        }
        moveOver(f);
        QCOMPARE(f->pointer.MousePointer(), int(ui::vbDefault));
        f->pointer.SetMousePointer(ui::vbHourglass);
        moveOver(f->saveButton);
        QCOMPARE(f->pointer.MousePointer(), int(ui::vbHourglass));
        f->pointer.SetMousePointer(ui::vbDefault);
    }

    void setUpShowsTheNewPictureAtTheTopLeft() {
        const QImage picture = pictureOfTwips(6002, 5002);
        show(picture);
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        QCOMPARE(PreviewWindowProbe::image(f), QSize(6000, 5000));
        QCOMPARE(size(), QSize(6000, 5000));
        QCOMPARE(at(), QPointF(0, 0));
        QVERIFY(!f->hScroll->isEnabled() && !f->vScroll->isEnabled());
        QCOMPARE(PreviewWindowProbe::steps(f), (QList<int>{0, 0}));
        QVERIFY(f->unzoomed->isHidden());
        QCOMPARE(f->unzoomed->Picture().cacheKey(), picture.cacheKey());
        QCOMPARE(box()->BackColor(), QColor(Qt::white));
        QCOMPARE(colourAt(0.25), QColor(Qt::red));
        QCOMPARE(colourAt(0.75), QColor(Qt::blue));

        // A generation whose picture could not be read hands over none: a blank page.
        show(QImage());
        QCOMPARE(colourAt(0.25), QColor(Qt::white));
    }

    void laterActivationsChangeNothing() {
        show(pictureOfTwips(6002, 5002));
        zoomIn();
        QWidget other;
        other.show();
        QTRY_VERIFY(other.isActiveWindow());
        f->activateWindow();
        QTRY_VERIFY(f->isActiveWindow());
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.25f);
        QCOMPARE(size(), QSize(7500, 6250));

        // Back, then a new document: set up afresh, and zoom paints the new picture.
        f->hide();
        QCoreApplication::processEvents();
        show(pictureOfTwips(4002, 3002));
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        zoomOut();
        QCOMPARE(size(), QSize(3000, 2250));
    }

    void scrollRangesFollowTheOverflow_data() {
        QTest::addColumn<int>("overflow");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("maximum");
        QTest::newRow("narrower") << -500 << 0 << 0;
        QTest::newRow("exactly as large") << 0 << 0 << 0;
        QTest::newRow("100") << 100 << 1 << 100;
        QTest::newRow("105: 10.5 to even") << 105 << 10 << 10;
        QTest::newRow("135") << 135 << 10 << 14;
    }
    void scrollRangesFollowTheOverflow() {
        QFETCH(int, overflow);
        QFETCH(int, step);
        QFETCH(int, maximum);
        show(pictureOfTwips(9330 + overflow + 2, 7425 + overflow + 2));
        QCOMPARE(PreviewWindowProbe::steps(f), (QList<int>{step, step}));
        for (QScrollBar* bar : {f->hScroll, f->vScroll}) {
            QCOMPARE(bar->isEnabled(), step != 0);
            if (step)
                QCOMPARE(bar->maximum(), maximum);
        }
    }

    void scrollBarsMoveTheBoxByWholeSteps() {
        show(pictureOfTwips(12332, 10002));
        f->hScroll->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        f->hScroll->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(box()->Left(), -20.0f);
        // The box follows the thumb only when it is let go.
        f->hScroll->setSliderDown(true);
        f->hScroll->setSliderPosition(100);
        QCOMPARE(box()->Left(), -20.0f);
        f->hScroll->setSliderDown(false);
        QCOMPARE(box()->Left(), -1000.0f);

        show(pictureOfTwips(9422, 3002));
        f->hScroll->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(box()->Left(), -1.0f);
    }

    // The wheel over the picture scrolls about three text lines a notch,
    // Shift+wheel sideways, both through the bars; Ctrl+wheel zooms as the
    // buttons do.
    void theWheelScrollsAndZoomsTheView() {
        show(pictureOfTwips(11002, 13002));
        auto wheel = [&](QPoint angle, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            const QPointF p(100, 100);
            QWheelEvent e(p, box()->mapToGlobal(p), QPoint(), angle, Qt::NoButton, mods,
                          Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(box(), &e);
        };
        wheel({0, -120}); // one notch towards the user: further down
        const float down = -box()->Top();
        QVERIFY2(down >= 700 && down <= 900, qPrintable(QString::number(down)));
        QCOMPARE(box()->Top(), -10.0f * float(f->vScroll->value()));
        QCOMPARE(box()->Left(), 0.0f);
        wheel({0, -60}); // half notches add up
        wheel({0, -60});
        QVERIFY(qAbs(-box()->Top() - 2 * down) <= 10);
        wheel({0, 240});
        QCOMPARE(f->vScroll->value(), 0);
        QCOMPARE(box()->Top(), 0.0f);

        wheel({0, -120}, Qt::ShiftModifier);
        QCOMPARE(box()->Top(), 0.0f);
        QVERIFY(qAbs(-box()->Left() - down) <= 10);
        QCOMPARE(box()->Left(), -10.0f * float(f->hScroll->value()));
        for (int i = 0; i < 10; ++i) // far past the end stops at it
            wheel({-120, 0});
        QCOMPARE(f->hScroll->value(), f->hScroll->maximum());

        // Ctrl: a notch towards the user is Zoom Out, away is Zoom In.
        wheel({0, -120}, Qt::ControlModifier);
        QCOMPARE(PreviewWindowProbe::zoom(f), 0.75f);
        const QSize out = size();
        wheel({0, 120}, Qt::ControlModifier);
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        zoomOut();
        QCOMPARE(size(), out);
        QCOMPARE(at(), QPointF(0, 0));
    }

    // With the picture focused, the keys a viewer takes move the view.
    void keysMoveTheFocusedView() {
        show(pictureOfTwips(11002, 20002)); // beyond the caps: shown at natural size
        QCOMPARE(size(), QSize(11002, 20002));
        box()->setFocus();
        QTest::keyClick(box(), Qt::Key_End);
        QCOMPARE(f->vScroll->value(), f->vScroll->maximum());
        QCOMPARE(box()->Top(), -10.0f * float(f->vScroll->maximum()));
        QTest::keyClick(box(), Qt::Key_Home);
        QCOMPARE(box()->Top(), 0.0f);
        QTest::keyClick(box(), Qt::Key_PageDown);
        const float page = -box()->Top();
        const float shown = float(f->viewport->ScaleHeight());
        QVERIFY2(page > shown * 0.8f && page <= shown, qPrintable(QString::number(page)));
        QTest::keyClick(box(), Qt::Key_Down);
        const float line = -box()->Top() - page;
        QVERIFY2(line >= 200 && line <= 400, qPrintable(QString::number(line)));
        QTest::keyClick(box(), Qt::Key_Up);
        QTest::keyClick(box(), Qt::Key_PageUp);
        QCOMPARE(box()->Top(), 0.0f);
        QTest::keyClick(box(), Qt::Key_Right);
        QCOMPARE(box()->Left(), -line);
        QTest::keyClick(box(), Qt::Key_Left);
        QCOMPARE(box()->Left(), 0.0f);
        // The viewport focused (the picture smaller than it) takes them too.
        f->viewport->setFocus();
        QTest::keyClick(f->viewport, Qt::Key_End);
        QCOMPARE(f->vScroll->value(), f->vScroll->maximum());
    }

    void zoomStepsInQuartersWithinTheLimits() {
        show(pictureOfTwips(2003, 2503)); // 2001 x 2501: the floors show
        const QList<QSize> out{{1500, 1875}, {1000, 1250}, {500, 625}, {500, 625}};
        for (const QSize& s : out) {
            zoomOut();
            QCOMPARE(size(), s);
        }
        QCOMPARE(PreviewWindowProbe::zoom(f), 0.25f); // 0.0 was refused
        for (int i = 0; i < 16; ++i)                  // 15 steps reach 4.0, the 16th is refused
            zoomIn();
        QCOMPARE(PreviewWindowProbe::zoom(f), 4.0f);
        QCOMPARE(size(), QSize(8004, 10004));
        QCOMPARE(colourAt(0.45), QColor(Qt::red));
        QCOMPARE(colourAt(0.55), QColor(Qt::blue));
        // What is painted survives being covered and uncovered.
        const QImage shown = box()->grab().toImage();
        QCOMPARE(shown.pixelColor(int(shown.width() * 0.45), 300), QColor(Qt::red));
        f->hide();
        f->show();
        QCOMPARE(box()->grab().toImage(), shown);

        // A press that repaints brings back the arrow and the top-left corner.
        f->vScroll->setValue(20);
        f->pointer.SetMousePointer(ui::vbCustom);
        zoomOut();
        QCOMPARE(f->pointer.MousePointer(), int(ui::vbDefault));
        QCOMPARE(at(), QPointF(0, 0));
        QCOMPARE(f->vScroll->value(), 0);
    }

    void zoomFallsBackAtTheCaps() {
        show(pictureOfTwips(9002, 11002));
        const QImage before = box()->Image();
        zoomIn(); // 13750 high
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        QCOMPARE(size(), QSize(9000, 11000));
        QCOMPARE(box()->Image(), before);
        zoomOut();
        QCOMPARE(size(), QSize(6750, 8250));

        show(pictureOfTwips(9002, 10002));
        zoomIn();
        QCOMPARE(size(), QSize(11250, 12500));
        f->hScroll->setValue(50);
        zoomIn(); // 13500 wide
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        QCOMPARE(PreviewWindowProbe::image(f), QSize(9000, 10000));
        QCOMPARE(size(), QSize(11250, 12500));
        QCOMPARE(at(), QPointF(0, 0));
        QCOMPARE(f->hScroll->maximum(), 192);
        zoomOut();
        QCOMPARE(size(), QSize(6750, 7500));
    }

    void picturesBeyondTheCapsStayAtNaturalSize() {
        show(pictureOfTwips(11402, 3002));
        QCOMPARE(PreviewWindowProbe::image(f), QSize(11400, 3000));
        QCOMPARE(size(), QSize(11402, 3002));
        QCOMPARE(colourAt(0.25), QColor(Qt::red)); // the handed-over picture itself
        QCOMPARE(f->hScroll->maximum(), 207);

        // Far beyond what 16-bit scroll values express: the bar stops at its
        // end, dragging reaches the rest, and nothing fails.
        show(pictureOfTwips(400000, 302));
        QCOMPARE(f->hScroll->maximum(), 32767);
        f->hScroll->setValue(32767);
        QCOMPARE(box()->Left(), -327670.0f);
        drag(-500000, 0);
        QCOMPARE(box()->Left(), float(9270 - 400000));
    }

    // A long notice is taller than the height cap at its natural size: the
    // caps stop it from growing, never from shrinking or coming back.
    void aPictureBeyondTheCapsStillZoomsOutAndBack() {
        show(pictureOfTwips(10002, 48002)); // four pages
        const QImage natural = box()->Image();
        zoomOut();
        QCOMPARE(PreviewWindowProbe::zoom(f), 0.75f);
        QCOMPARE(size(), QSize(7500, 36000));
        QCOMPARE(colourAt(0.45), QColor(Qt::red));
        QCOMPARE(colourAt(0.55), QColor(Qt::blue));
        f->zoomOutAction->trigger(); // Ctrl+-, and the picture's menu
        f->zoomOutAction->trigger();
        QCOMPARE(PreviewWindowProbe::zoom(f), 0.25f);
        QCOMPARE(size(), QSize(2500, 12000));
        QVERIFY(f->vScroll->isEnabled());
        QVERIFY(!f->hScroll->isEnabled());
        zoomIn();
        zoomIn();
        QCOMPARE(size(), QSize(7500, 36000));
        zoomIn(); // the picture itself again, as the set-up showed it
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        QCOMPARE(size(), QSize(10002, 48002));
        QCOMPARE(box()->Image(), natural);
        QCOMPARE(at(), QPointF(0, 0));
        // Past the natural size the caps hold, as before.
        zoomIn();
        QCOMPARE(PreviewWindowProbe::zoom(f), 1.0f);
        QCOMPARE(size(), QSize(10002, 48002));
        zoomOut();
        QCOMPARE(size(), QSize(7500, 36000));
    }

    void draggingStaysWithinTheLimits() {
        // Natural size beyond the width cap; the viewport's inside is 9270 x 7365.
        show(pictureOfTwips(12330, 10000));
        mouse(QEvent::MouseMove, QPointF(50, 50), Qt::NoButton, Qt::NoButton);
        QCOMPARE(at(), QPointF(0, 0));
        drag(-1500, -600, false);
        QCOMPARE(at(), QPointF(-1500, -600));
        QCOMPARE(f->hScroll->value(), 0); // the bars wait for the release
        mouse(QEvent::MouseMove, QPointF(5000, 5000), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(at(), QPointF(0, 0));
        drag(-90000, -90000, true, Qt::RightButton);
        QCOMPARE(at(), QPointF(9270 - 12330, 7365 - 10000));
        drag(150, 0, true, Qt::MiddleButton);
        QCOMPARE(box()->Left(), float(9270 - 12330 + 150));

        // Narrower and shorter than the viewport: it jumps between the edges.
        show(pictureOfTwips(5002, 4002));
        drag(-15, 0, false);
        QCOMPARE(at(), QPointF(9270 - 5000, 7365 - 4000));
        mouse(QEvent::MouseMove, QPointF(400, 400), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(at(), QPointF(0, 0));
    }

    void aDropSetsTheBarsByPercentage() {
        show(pictureOfTwips(12330, 10000)); // overflow 3000 wide, 2575 high
        drag(-1500, 0);
        QCOMPARE(f->hScroll->value(), 150);
        QCOMPARE(box()->Left(), -1500.0f);
        f->hScroll->setValue(0);
        drag(-1234, -1000);
        QCOMPARE(f->hScroll->value(), 123);
        QCOMPARE(at(), QPointF(-1230, -1010)); // 41 % of 300, 39 % of 258
        // Beyond 100 % (the inside is smaller than the outside): bar and box stay.
        drag(-5000, 0);
        QCOMPARE(f->hScroll->value(), 123);
        QCOMPARE(box()->Left(), -3060.0f);
        // A plain click snaps to what the bar can express.
        f->hScroll->setValue(127);
        drag(0, 0);
        QCOMPARE(f->hScroll->value(), 126);
        QCOMPARE(box()->Left(), -1260.0f);

        show(pictureOfTwips(9422, 3002)); // step 1, maximum 90
        drag(-45, 0);
        QCOMPARE(f->hScroll->value(), 45);
        QCOMPARE(box()->Left(), -45.0f);

        // Exactly as wide as the viewport: nothing to sync, and no report.
        show(pictureOfTwips(9332, 3002));
        drag(-300, 0);
        QCOMPARE(box()->Left(), -60.0f);
        QCOMPARE(f->hScroll->value(), 0);
    }
};

VELTRANE_TEST_MAIN(ViewportTest)
#include "test_viewport.moc"
