#pragma once
// Program-wide routines of the shell: the application folder, the title, and
// ending the program at once.

#include <QIcon>
#include <QString>

namespace app {

inline constexpr const char* kProductName = "Veltrane";

// The folder of the running executable (where HAND-M.CUR and x/o.cjs live).
QString AppPath();
void setAppPathForTests(const QString& path); // "" restores the real one

// Sets the application title from the product name, cutting whole words from
// the end while it is longer than 40 characters.
void ShortenAppTitle();
QString shortenTitle(const QString& name);

// The program's own icon (32, 48, 128 and 256 pixel images).
QIcon applicationIcon();

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

// Ends the program at once: every window is destroyed without its closing
// handlers, and the event loop is left (or never entered).
void EndProgram(int exitCode = 0);
bool programEnded();
int programExitCode();
void resetProgramEndedForTests();

} // namespace app
