#pragma once
// The per-user settings store: application "Ardmoor", section "Veltrane".
// On Linux this is ~/.config/Ardmoor.conf, UTF-8.

#include "entry/warningrecord.h"

#include <QString>

namespace entry {

// The stored string, or "" when the key is missing or unreadable.
QString getSetting(const QString& key);

// Stores the value at once. Returns false when the store could not be written
// (read-only file, full disk); the caller decides what the user is told.
bool saveSetting(const QString& key, const QString& value);

// True the first time in a run that a failed write is to be told: a person
// typing should not meet a box per keystroke.
bool takeStoreFailureNotice();

// A fact's field as stored by the last run, and storing it anew.
inline QString storedField(Fact fact) {
    return getSetting(settingsKey(fact));
}
inline bool storeField(Fact fact, const QString& text) {
    return saveSetting(settingsKey(fact), text);
}

// As at a new start: the store is opened afresh and no failure told yet.
void startNewRunForTests();

} // namespace entry
