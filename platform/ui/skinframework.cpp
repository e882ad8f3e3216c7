#include "skinframework.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

namespace ui {

using automation::CallKind;
using automation::Error;
using automation::Variant;

static Error unsupported() {
    return Error(QStringLiteral("Object doesn't support this property or method"));
}

Variant SkinFramework::invoke(int dispId, CallKind kind, const QList<Variant>& args) {
    switch (dispId) {
    case 2: { // load skin: path, ini section
        if (kind != CallKind::Method || args.isEmpty())
            throw unsupported();
        QFile f(args[0].toString());
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            throw Error(QStringLiteral("Unable to load skin file %1").arg(args[0].toString()));
        mSheet = QString::fromUtf8(f.readAll());
        mLoaded = true;
        return Variant(true);
    }
    case 1: // option word
        if (kind == CallKind::Get)
            return Variant(static_cast<int32_t>(mOptions));
        if (kind == CallKind::Put && !args.isEmpty()) {
            mOptions = args[0].toInt();
            return {};
        }
        throw unsupported();
    case 5:
    case 10:
        if (kind != CallKind::Put || args.isEmpty())
            throw unsupported();
        (dispId == 5 ? mSwitch5 : mSwitch10) = args[0].toBool();
        return {};
    case 3: { // apply to window handle
        if (kind != CallKind::Method || args.isEmpty())
            throw unsupported();
        if (!mLoaded)
            throw Error(QStringLiteral("No skin loaded"));
        const int32_t handle = args[0].toInt();
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (static_cast<int32_t>(w->winId()) == handle) {
                w->setStyleSheet(mSheet);
                return {};
            }
        }
        throw Error(QStringLiteral("Invalid window handle"));
    }
    default:
        throw unsupported();
    }
}

} // namespace ui
