#pragma once
// The per-user settings store: application "Ardmoor", section "Veltrane".
// On Linux this is ~/.config/Ardmoor.conf, UTF-8.

#include <QString>

namespace entry {

// The stored string, or "" when the key is missing or unreadable.
QString GetSetting(const QString& key);

// Stores the value at once. Returns false when the store could not be written
// (read-only file, full disk); the caller decides what the user is told.
bool SaveSetting(const QString& key, const QString& value);

} // namespace entry
