#pragma once
// The allocator and the page pictures' large buffers.

#include <QByteArray>

#include <cstddef>

namespace common {

// Page pictures pass through buffers of megabytes, and once they are freed
// the allocator keeps that memory for itself: run after run the program would
// hold tens of megabytes it does not use. Half a second after this was last
// called (never on the way to a painted preview), when more than
// keptFreeHeapBytes() is free, what is free goes back to the system; less is
// kept for the next notice's buffers.
void releaseFreedMemorySoon();
size_t keptFreeHeapBytes();

// A new process's allocator gives each buffer of megabytes a mapping of its
// own, faulted in page by page and unmapped again when freed, until it has
// seen one such buffer freed. Run once off the user's wait (the main window
// up, no generation yet), this shows it one, so the first generation's page
// pictures come from the heap as every later generation's do.
void readyAllocatorForPictures();

// Page pictures are faulted in page by page, and once memory has gone back to
// the system every generation pays for that again: thousands of faults, a
// tenth of a second on some machines. The C library can ask for huge pages
// for its heap instead (512 times fewer faults), but reads that setting only
// when a program starts; called first thing in main, this starts the program
// again, once, with the setting on. The programs it starts see the
// environment as it was. Where the system has no transparent huge pages, the
// setting is the user's own, or the start fails, it returns and nothing
// changes.
void restartWithHugePageHeap(char** argv);

// The page picture is rendered in two halves at once, the lower on a thread
// of its own; each thread's first allocation would give it a heap of its own,
// and the memory its half took would stay there, never given back (only the
// main heap is trimmed). Called at the start, before any thread, this keeps
// every thread on the one heap, unless the user set the number of heaps.
void useOneHeapForAllThreads();

// The caller's GLIBC_TUNABLES with the huge-page heap added, unless it already
// says something about it.
QByteArray tunablesWithHugePageHeap(const QByteArray& callers);

} // namespace common
