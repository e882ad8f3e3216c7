#include "sample.h"

#include <QDate>
#include <QLocale>

namespace entry {

QString sampleValue(Fact fact) {
    switch (fact) {
    case Fact::Date:
        return QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    case Fact::EmployeeId:
        return QStringLiteral("111");
    case Fact::EmployeeName:
        return QStringLiteral("John Smith");
    case Fact::JobTitle:
        return QStringLiteral("Software Engineer");
    case Fact::Manager:
        return QStringLiteral("Alan Merrow");
    case Fact::Department:
        return QStringLiteral("Information Technology");
    case Fact::Infraction:
        return QStringLiteral("Keyboard wasn't plugged in during work hours.");
    case Fact::Improvement:
        return QStringLiteral("Plug it in.");
    case Fact::Consequences:
        return QStringLiteral("You're fired.");
    }
    return QString();
}

} // namespace entry
