// Copies a file with the program's own routine, for tests that need it done
// by another user: copy_file_as SOURCE TARGET. Exit status 0 when copied, 1
// with the error's text on stderr when not.

#include "common/files.h"
#include "platform/automation/automation.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    try {
        common::copyFileWhole(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    } catch (const automation::Error& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
