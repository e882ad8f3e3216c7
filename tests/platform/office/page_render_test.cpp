// Pages rendered in two bands at once come out exactly as one render makes
// them, whatever the page's size and resolution.

#include "platform/office/wordmodel/page_render.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTest>

namespace {

// A page with what a notice has: text of several sizes, rules, a filled box,
// and a slanted line that crosses the middle, where the bands meet.
QByteArray samplePdf(const QPageSize& size, int pages) {
    QByteArray pdf;
    QBuffer out(&pdf);
    out.open(QIODevice::WriteOnly);
    QPdfWriter writer(&out);
    writer.setPageSize(size);
    writer.setResolution(300);
    QPainter painter(&writer);
    for (int p = 0; p < pages; ++p) {
        if (p > 0)
            writer.newPage();
        const QRect area = painter.viewport();
        for (int i = 0; i < 30; ++i) {
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPointSizeF(7 + (i % 5) * 2.5);
            painter.setFont(font);
            painter.drawText(
                QPoint(150, 200 + i * area.height() / 32),
                QStringLiteral("Line %1 of page %2: Employee Warning Notice").arg(i).arg(p));
        }
        painter.setPen(QPen(Qt::black, 3));
        painter.drawLine(area.topLeft() + QPoint(100, 100), area.bottomRight() - QPoint(100, 100));
        painter.drawLine(QPoint(100, area.height() / 2 - 1),
                         QPoint(area.width() - 100, area.height() / 2 + 1));
        painter.fillRect(QRect(area.width() / 3, area.height() / 2 - 40, 300, 80),
                         QColor(90, 90, 90));
    }
    painter.end();
    return pdf;
}

} // namespace

class PageRenderTest : public QObject {
    Q_OBJECT

  private slots:
    void bandsJoinIntoExactlyTheOneRender_data() {
        QTest::addColumn<int>("paper");
        QTest::addColumn<double>("dpi");
        QTest::newRow("Letter at 192 dpi") << int(QPageSize::Letter) << 192.0;
        QTest::newRow("A4 at 192 dpi") << int(QPageSize::A4) << 192.0;
        QTest::newRow("Legal at 150 dpi (odd sizes)") << int(QPageSize::Legal) << 150.0;
    }

    void bandsJoinIntoExactlyTheOneRender() {
        QFETCH(int, paper);
        QFETCH(double, dpi);
        office::PageRenderer renderer(samplePdf(QPageSize(QPageSize::PageSizeId(paper)), 2));
        QVERIFY(renderer.isValid());
        QCOMPARE(renderer.pageCount(), 2);
        for (int page = 0; page < 2; ++page) {
            const QImage whole = renderer.render(page, dpi, false);
            const QImage bands = renderer.renderInBands(page, dpi);
            QVERIFY(!whole.isNull());
            QVERIFY2(!bands.isNull(), "the page was not split");
            QCOMPARE(bands.size(), whole.size());
            QCOMPARE(bands.format(), whole.format());
            bool same = true;
            for (int y = 0; y < whole.height() && same; ++y)
                same = std::memcmp(bands.constScanLine(y), whole.constScanLine(y),
                                   size_t(whole.width()) * 4) == 0;
            QVERIFY2(same, "the joined bands differ from the one render");
            // What the program gets carries the resolution.
            const QImage shown = renderer.render(page, dpi);
            QCOMPARE(shown.dotsPerMeterX(), qRound(dpi / 0.0254));
            QCOMPARE(shown.size(), whole.size());
        }
    }

    void smallPagesAndMissingPagesAreNotSplit() {
        office::PageRenderer renderer(samplePdf(QPageSize(QPageSize::Letter), 1));
        QVERIFY(renderer.renderInBands(0, 24.0).isNull());
        QVERIFY(!renderer.render(0, 24.0).isNull());
        QVERIFY(renderer.render(1, 192.0).isNull());
        QVERIFY(renderer.render(-1, 192.0).isNull());
        office::PageRenderer unreadable(QByteArrayLiteral("%PDF-1.4 not really"));
        QVERIFY(!unreadable.isValid());
        QVERIFY(unreadable.render(0, 96.0).isNull());
    }
};

QTEST_MAIN(PageRenderTest)
#include "page_render_test.moc"
