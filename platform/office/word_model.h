#pragma once
// The word processor's object model ("Word.Application" and what hangs off it)
// on Writer's API.

#include "office_session.h"

#include <memory>

namespace office {

std::shared_ptr<automation::Dispatch> makeApplication(std::shared_ptr<OfficeSession> session);

// The office process behind an application object made here, or -1.
pid_t applicationProcessId(automation::Dispatch* app);

} // namespace office
