#include "office_log.h"

Q_LOGGING_CATEGORY(lcOffice, "veltrane.office", QtWarningMsg)
