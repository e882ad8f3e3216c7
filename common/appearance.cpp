#include "appearance.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "common/shell.h"
#include "platform/ui/pointer.h"
#include "platform/ui/skinframework.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <sys/stat.h>

namespace common {

namespace {

void setBack(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

bool isOptionCheckFrameOrLabel(QWidget* w) {
    return qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w) ||
           qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w);
}

// An ordinary file: not a folder, not a hidden (dot) file, not a device or pipe.
bool ordinaryFile(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (path.mid(slash + 1).startsWith(QLatin1Char('.')))
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

QColor systemButtonFace() {
    return QApplication::palette().color(QPalette::Button);
}

void applySkin(QWidget* window, ui::SkinFramework& skin) {
    const QString skinPath = appPath() + QStringLiteral("/x/o.cjs");
    if (!ordinaryFile(skinPath))
        return;
    applySystemBackColors(window);

    using automation::CallKind;
    using automation::Variant;
    skin.invoke(2, CallKind::Method, {Variant(skinPath), Variant("")});
    const int32_t options = skin.invoke(1, CallKind::Get).toInt();
    skin.invoke(1, CallKind::Put, {Variant(static_cast<int32_t>(options | 1))});
    skin.invoke(5, CallKind::Put, {Variant(true)});
    skin.invoke(10, CallKind::Put, {Variant(true)});
    skin.invoke(3, CallKind::Method, {Variant(static_cast<int32_t>(window->winId()))});
}

void applySystemBackColors(QWidget* window) {
    const QColor face = systemButtonFace();
    setBack(window, face);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (isOptionCheckFrameOrLabel(w))
            setBack(w, face);
}

bool centreOnFirstShow(QWidget* window, bool& centred) {
    if (centred)
        return false;
    centred = true;
    if (QScreen* s = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        window->move(frame.topLeft());
    }
    return true;
}

void loadHandCursor(ErrorTrap& trap, int checkLine, int loadLine, ui::WindowPointer& pointer) {
    bool haveCursor = false;
    const QString cursorPath = appPath() + QStringLiteral("/HAND-M.CUR");
    trap.at(checkLine, [&] { haveCursor = fileExists(cursorPath); });
    if (haveCursor)
        trap.at(loadLine, [&] { pointer.SetMouseIcon(ui::LoadCursorFile(cursorPath)); });
}

} // namespace common
