#pragma once

#include <QByteArray>
#include <QString>

namespace generate {

// Reads a resource compiled into the program by type and id, e.g. the
// warning-notice template ("CUSTOM", 101). Throws automation::Error.
QByteArray LoadResData(int id, const QString& type);

} // namespace generate
