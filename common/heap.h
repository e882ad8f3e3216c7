#pragma once
// The allocator and the page pictures' large buffers.

namespace common {

// Page pictures pass through buffers of megabytes, and once they are freed
// the allocator keeps that memory for itself: run after run the program would
// hold tens of megabytes it does not use. Half a second after this was last
// called (never on the way to a painted preview) what is free goes back to the
// system.
void releaseFreedMemorySoon();

// A new process's allocator gives each buffer of megabytes a mapping of its
// own, faulted in page by page and unmapped again when freed, until it has
// seen one such buffer freed. Run once off the user's wait (the main window
// up, no generation yet), this shows it one, so the first generation's page
// pictures come from the heap as every later generation's do.
void readyAllocatorForPictures();

} // namespace common
