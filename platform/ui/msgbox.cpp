#include "msgbox.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {

namespace {
QString& titleStore() {
    static QString t;
    return t;
}
MsgBoxHandler& handlerStore() {
    static MsgBoxHandler h;
    return h;
}
} // namespace

void setAppTitle(const QString& title) {
    titleStore() = title;
}
QString appTitle() {
    return titleStore();
}
void setMsgBoxHandler(MsgBoxHandler handler) {
    handlerStore() = std::move(handler);
}

QString displayText(const QString& prompt) {
    QString s = prompt;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

int MsgBox(const QString& prompt, int style, const QString& title) {
    MsgBoxRequest req{prompt, style, title.isEmpty() ? appTitle() : title};
    if (handlerStore())
        return handlerStore()(req);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(req.title);
    box.setText(displayText(prompt));
    box.setTextFormat(Qt::PlainText);
    switch (style & 0x70) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case vbExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
    }
    if ((style & 0x7) == vbYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? vbYes : vbNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return vbOK;
}

} // namespace ui
