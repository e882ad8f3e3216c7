#pragma once
// The word processor's object model ("Word.Application" and what hangs off it)
// on Writer's API.

#include "platform/office/lifecycle/office_session.h"

#include <memory>

namespace office {

std::shared_ptr<automation::Dispatch> makeApplication(std::shared_ptr<OfficeSession> session);

// The office process behind an application object made here, or -1.
pid_t applicationProcessId(automation::Dispatch* app);

// Builds, saves, reopens and renders a tiny document in office, so Writer,
// the Word 97 filters and the PDF export are loaded before a user waits.
void warmOffice(OfficeProcess& office);

} // namespace office
