#pragma once
// The yardstick's office profile, seeded the way the program seeds its own,
// so a bare conversion does not pay for the first-start graphics test either.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>

namespace bench {

// The installed LibreOffice's major.minor ("7.4"), empty when unknown.
inline QString officeVersion() {
    QFile f(QStringLiteral("/usr/lib/libreoffice/program/bootstraprc"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const auto m = QRegularExpression(QStringLiteral("ProductKey=.*?(\\d+\\.\\d+)"))
                       .match(QString::fromUtf8(f.readAll()));
    return m.hasMatch() ? m.captured(1) : QString();
}

inline void seedProfile(const QString& profile) {
    QDir().mkpath(profile + QStringLiteral("/user"));
    QFile f(profile + QStringLiteral("/user/registrymodifications.xcu"));
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.write(QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items "
                "xmlns:oor=\"http://openoffice.org/2001/registry\" "
                "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<item "
                "oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
                "oor:op=\"fuse\"><value>%1</value></prop></item>\n</oor:items>\n")
                .arg(officeVersion())
                .toUtf8());
}

} // namespace bench
