#include "settingsstore.h"

#include <QSettings>

namespace entry {

namespace {
QSettings& store() {
    // Organisation-less: the file is named after "Ardmoor" alone.
    static QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Ardmoor"));
    return s;
}
} // namespace

QString GetSetting(const QString& key) {
    QSettings& s = store();
    s.sync(); // pick up what another run wrote meanwhile
    const QVariant v = s.value(QStringLiteral("Veltrane/") + key);
    // A value that is not a plain string (a list, a hand-edited oddity) reads
    // as its text where it has one, else as "".
    if (v.canConvert<QString>())
        return v.toString();
    return QString();
}

bool SaveSetting(const QString& key, const QString& value) {
    QSettings& s = store();
    s.setValue(QStringLiteral("Veltrane/") + key, value);
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace entry
