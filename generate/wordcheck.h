#pragma once

namespace generate {

// Start-up check that a word processor can be created; when it cannot, says
// so and ends the program before the main window is shown.
void checkWordAvailable();

} // namespace generate
