#pragma once
// The program as the desktop knows it: its folder, its title, its icon.

#include <QIcon>
#include <QString>

namespace common {

inline constexpr const char* kProductName = "Veltrane";

// The folder of the running executable (where HAND-M.CUR and x/o.cjs live).
QString appPath();
void setAppPathForTests(const QString& path); // "" restores the real one

// Sets the application title from the product name, cutting whole words from
// the end while it is longer than 40 characters.
void shortenAppTitle();
QString shortenTitle(const QString& name);

// The program's own icon (32, 48, 128 and 256 pixel images).
QIcon applicationIcon();

} // namespace common
