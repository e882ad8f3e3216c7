#pragma once

#include <QImage>
#include <cstdint>

namespace generate {

// Reads a picture from the system clipboard, trying up to 1000 times; the
// first successful read ends the tries. Format 0 takes any picture format.
// Returns a null image when no read succeeded; never fails.
QImage getClipboardPicture(const int32_t& format);

// How many reads the last call made (for tests and benchmarks).
int lastClipboardAttempts();

} // namespace generate
