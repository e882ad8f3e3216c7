#include "appearance.h"

#include "app/errortrap.h"
#include "app/files.h"
#include "app/form1.h"
#include "app/shell.h"
#include "platform/ui/pointer.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScreen>
#include <sys/stat.h>

namespace app {

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

void ApplySkin() {
    Form1* form = Form1::instance();
    const QString skinPath = AppPath() + QStringLiteral("/x/o.cjs");
    if (!ordinaryFile(skinPath))
        return;
    ApplySystemBackColors(form);

    using automation::CallKind;
    using automation::Variant;
    ui::SkinFramework& skin = form->SkinFramework1;
    skin.invoke(2, CallKind::Method, {Variant(skinPath), Variant("")});
    const int32_t options = skin.invoke(1, CallKind::Get).toInt();
    skin.invoke(1, CallKind::Put, {Variant(static_cast<int32_t>(options | 1))});
    skin.invoke(5, CallKind::Put, {Variant(true)});
    skin.invoke(10, CallKind::Put, {Variant(true)});
    skin.invoke(3, CallKind::Method, {Variant(static_cast<int32_t>(form->winId()))});
}

void ApplySystemBackColors(QWidget* window) {
    const QColor face = systemButtonFace();
    setBack(window, face);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (isOptionCheckFrameOrLabel(w))
            setBack(w, face);
}

bool CentreOnFirstShow(QWidget* window, bool& centred) {
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

void LoadHandCursor(ErrorTrap& trap, int checkLine, int loadLine, ui::WindowPointer& pointer) {
    bool haveCursor = false;
    const QString cursorPath = AppPath() + QStringLiteral("/HAND-M.CUR");
    trap.at(checkLine, [&] { haveCursor = FileExists(cursorPath); });
    if (haveCursor)
        trap.at(loadLine, [&] { pointer.SetMouseIcon(ui::LoadCursorFile(cursorPath)); });
}

} // namespace app
