// Checks that o.cjs leaves every control of a main-window mock-up where it was and
// renders it with and without the sheet. Build and run (Debian qt6-base-dev):
//   g++ -std=c++17 -fPIC skin-preview.cpp $(pkg-config --cflags --libs Qt6Widgets) -o skin-preview
//   QT_QPA_PLATFORM=offscreen ./skin-preview o.cjs plain.png skinned.png
// Exit status 1 when any geometry differs.
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextStream>
#include <QVBoxLayout>

namespace {

int px(int twips) {
    return twips / 15;
}

void setBack(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// The main window's controls at their fixed places, built from the same widget
// kinds the program uses (text boxes are an editor in a zero-margin layout).
struct MockUp : QWidget {
    QList<QWidget*> watched;

    QWidget* textBox(QWidget* parent, bool multi, QRect r, const QString& text) {
        auto* box = new QWidget(parent);
        box->setGeometry(px(r.x()), px(r.y()), px(r.width()), px(r.height()));
        auto* lay = new QVBoxLayout(box);
        lay->setContentsMargins(0, 0, 0, 0);
        QWidget* editor;
        if (multi) {
            auto* e = new QPlainTextEdit(box);
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            e->setPlainText(text);
            watched << e->viewport() << e->verticalScrollBar();
            editor = e;
        } else {
            editor = new QLineEdit(text, box);
        }
        lay->addWidget(editor);
        watched << box << editor;
        return box;
    }
    QGroupBox* frame(const QString& caption, QRect r) {
        auto* f = new QGroupBox(caption, this);
        f->setGeometry(px(r.x()), px(r.y()), px(r.width()), px(r.height()));
        watched << f;
        return f;
    }
    void label(QWidget* parent, const QString& s, QRect r) {
        auto* l = new QLabel(s, parent);
        l->setGeometry(px(r.x()), px(r.y()), px(r.width()), px(r.height()));
        watched << l;
    }
    void button(const QString& s, QRect r) {
        auto* b = new QPushButton(s, this);
        b->setGeometry(px(r.x()), px(r.y()), px(r.width()), px(r.height()));
        QFont f(QStringLiteral("Arial"));
        f.setPointSizeF(11.25);
        f.setBold(true);
        b->setFont(f);
        watched << b;
    }

    MockUp() {
        setFixedSize(px(8040), px(8730));
        QFont f(QStringLiteral("Arial"), 9);
        f.setBold(true);
        setFont(f);
        button("Start Creating Template", {120, 120, 7800, 405});
        button("Clear/Reset Data", {120, 630, 3840, 405});
        button("Load Sample/Example Data", {4080, 630, 3840, 405});
        QGroupBox* warningData = frame("Warning Data", {120, 1110, 7800, 2625});
        label(warningData, "Date:", {240, 345, 435, 225});
        textBox(warningData, false, {1680, 300, 2055, 345}, "12/8/2026");
        label(warningData, "Employee ID:", {4320, 345, 1080, 225});
        textBox(warningData, false, {5520, 300, 2055, 345}, "111");
        label(warningData, "Employee Name:", {240, 795, 1410, 225});
        textBox(warningData, false, {1680, 750, 5895, 345}, "John Smith");
        label(warningData, "Job Title:", {240, 1245, 765, 225});
        textBox(warningData, false, {1680, 1200, 5895, 345}, "Software Engineer");
        label(warningData, "Manager:", {240, 1695, 795, 225});
        textBox(warningData, false, {1680, 1650, 5895, 345}, "Alan Merrow");
        label(warningData, "Department:", {240, 2145, 1050, 225});
        textBox(warningData, false, {1680, 2100, 5895, 345}, "Information Technology");
        textBox(frame("Description of Infraction", {120, 3810, 7800, 1545}), true,
                {240, 300, 7320, 1065},
                "Keyboard wasn't plugged in during work hours.\n\n\n\n\n\n");
        textBox(frame("Plan for Improvement", {120, 5430, 7800, 1545}), true,
                {240, 300, 7320, 1065}, "Plug it in.");
        textBox(frame("Consequences of Further Infractions", {120, 7050, 7800, 1545}), true,
                {240, 300, 7320, 1065}, "You're fired.");
    }

    QList<QRect> geometries() const {
        QList<QRect> out;
        for (QWidget* w : watched)
            out << QRect(w->mapTo(this, QPoint(0, 0)), w->size());
        return out;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        QTextStream(stderr) << "usage: skin-preview SHEET PLAIN.png SKINNED.png\n";
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot read " << argv[1] << "\n";
        return 2;
    }
    const QString sheet = QString::fromUtf8(file.readAll());

    MockUp plain;
    plain.show();
    app.processEvents();
    plain.grab().save(QString::fromLocal8Bit(argv[2]));

    MockUp skinned; // as the program does it: face colour first, then the sheet
    const QColor face = QApplication::palette().color(QPalette::Button);
    setBack(&skinned, face);
    for (QWidget* w : skinned.findChildren<QWidget*>())
        if (qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w))
            setBack(w, face);
    skinned.setStyleSheet(sheet);
    skinned.show();
    app.processEvents();
    skinned.grab().save(QString::fromLocal8Bit(argv[3]));

    const QList<QRect> a = plain.geometries(), b = skinned.geometries();
    int moved = 0;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            ++moved;
            QTextStream(stdout) << plain.watched[i]->metaObject()->className() << ": " << a[i].x()
                                << "," << a[i].y() << " " << a[i].width() << "x" << a[i].height()
                                << " -> " << b[i].x() << "," << b[i].y() << " " << b[i].width()
                                << "x" << b[i].height() << "\n";
        }
    }
    QTextStream(stdout) << a.size() << " controls, " << moved << " moved or resized\n";
    return moved ? 1 : 0;
}
