#include "settingsstore.h"

#include <QLoggingCategory>
#include <QSettings>

#include <memory>

namespace entry {

namespace {

Q_LOGGING_CATEGORY(lcSettings, "veltrane.settings")

std::unique_ptr<QSettings> openStore() {
    // Organisation-less: the file is named after "Ardmoor" alone.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Ardmoor"));
}

std::unique_ptr<QSettings> gStore;
bool gStoreFailureTold = false;

QSettings& store() {
    if (!gStore)
        gStore = openStore();
    return *gStore;
}

} // namespace

QString getSetting(const QString& key) {
    QSettings& s = store();
    s.sync(); // pick up what another run wrote meanwhile
    const QVariant v = s.value(QStringLiteral("Veltrane/") + key);
    // A value that is not a plain string (a list, a hand-edited oddity) reads
    // as its text where it has one, else as "".
    if (v.canConvert<QString>())
        return v.toString();
    return QString();
}

bool saveSetting(const QString& key, const QString& value) {
    const QString name = QStringLiteral("Veltrane/") + key;
    QSettings& s = store();
    s.setValue(name, value);
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    // The status keeps the first error met since the store was opened, which
    // may be a malformed line read before this write rather than the write.
    // A fresh look at the file tells whether the value landed: a failed write
    // leaves the old file (or the unwritten change) behind.
    std::unique_ptr<QSettings> fresh = openStore();
    const QVariant back = fresh->value(name);
    if (fresh->status() != QSettings::NoError || back.toString() != value) {
        qCWarning(lcSettings, "could not write %s to %s", qPrintable(key),
                  qPrintable(fresh->fileName()));
        return false;
    }
    gStore = std::move(fresh); // a clean status for the writes to come
    return true;
}

bool takeStoreFailureNotice() {
    if (gStoreFailureTold)
        return false;
    gStoreFailureTold = true;
    return true;
}

void startNewRunForTests() {
    gStore.reset();
    gStoreFailureTold = false;
}

} // namespace entry
