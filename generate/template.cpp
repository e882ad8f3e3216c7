#include "template.h"

#include "platform/automation/automation.h"

#include <QFile>

namespace generate {

QByteArray LoadResData(int id, const QString& type) {
    QFile f(QStringLiteral(":/%1/%2").arg(type).arg(id));
    if (!f.open(QIODevice::ReadOnly))
        throw automation::Error(QStringLiteral("Resource with identifier '%1' not found").arg(id));
    return f.readAll();
}

} // namespace generate
