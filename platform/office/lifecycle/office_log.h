#pragma once
// The office layer's trace: warnings show on stderr, the rest on demand
// (QT_LOGGING_RULES="veltrane.office.debug=true").

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcOffice)
