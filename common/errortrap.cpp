#include "errortrap.h"

#include "common/programend.h"
#include "platform/ui/msgbox.h"

#ifndef VELTRANE_SUPPORT_EMAIL
#define VELTRANE_SUPPORT_EMAIL "support@example.com"
#endif

namespace common {

QString errorReportText(const QString& procedureText, int line, const QString& description) {
    return description + QStringLiteral("\r\n") + procedureText + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QStringLiteral(VELTRANE_SUPPORT_EMAIL);
}

void reportError(const QString& procedureText, int line, const QString& description) {
    ui::MsgBox(errorReportText(procedureText, line, description), ui::vbExclamation,
               QStringLiteral("Application Error"));
}

bool ErrorTrap::programHasEnded() {
    return programEnded();
}

void ErrorTrap::report(std::exception_ptr e) {
    QString description;
    try {
        std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
        description = QStringLiteral("Out of memory");
    } catch (const std::exception& ex) {
        description = QString::fromUtf8(ex.what());
    } catch (...) {
        description = QStringLiteral("Unexpected error");
    }
    reportError(mProc, mLine, description);
}

} // namespace common
