// Started by test_shell: restarts as the program does at its start, then says
// what environment it sees now, and whether a picture-sized
// buffer landed where the system may give it huge pages, and whether another
// thread's memory comes from the main heap.

#include "common/heap.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// The mapping holding address may take huge pages ("hg" among its flags).
bool hugePageAdvised(const void* address) {
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return false;
    const auto at = reinterpret_cast<quintptr>(address);
    bool inside = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        // A mapping's first line starts "from-to ", its fields "Name:".
        const qsizetype dash = line.indexOf('-'), space = line.indexOf(' ');
        if (dash > 0 && space > dash && !line.left(space).contains(':')) {
            bool ok1 = false, ok2 = false;
            const quintptr from = line.left(dash).toULongLong(&ok1, 16);
            const quintptr to = line.mid(dash + 1, space - dash - 1).toULongLong(&ok2, 16);
            inside = ok1 && ok2 && from <= at && at < to;
        } else if (inside && line.startsWith("VmFlags:")) {
            return line.split(' ').contains("hg");
        }
    }
    return false;
}

// The mapping holding address is the main heap, the one that is trimmed.
bool inMainHeap(const void* address) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const auto at = reinterpret_cast<quintptr>(address);
    for (const QByteArray& line : maps.readAll().split('\n')) {
        if (!line.endsWith("[heap]"))
            continue;
        const qsizetype dash = line.indexOf('-'), space = line.indexOf(' ');
        const quintptr from = line.left(dash).toULongLong(nullptr, 16);
        const quintptr to = line.mid(dash + 1, space - dash - 1).toULongLong(nullptr, 16);
        if (from <= at && at < to)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    common::restartWithHugePageHeap(argv);
    common::useOneHeapForAllThreads();
    const size_t bytes = size_t(1632) * 2112 * 4; // a Letter page at 192 dpi
    auto* buffer = static_cast<char*>(std::malloc(bytes));
    std::memset(buffer, 0, bytes);
    const char* now = std::getenv("GLIBC_TUNABLES");
    std::printf("sees: %s\n", now ? now : "-");
    // What the programs it starts would see besides the caller's environment.
    std::printf("marker: %s\n", std::getenv("VELTRANE_CALLERS_GLIBC_TUNABLES") ? "left" : "gone");
    std::printf("huge pages: %s\n", hugePageAdvised(buffer) ? "yes" : "no");
    bool shared = false;
    std::thread([&] {
        void* small = std::malloc(1000);
        shared = inMainHeap(small);
        std::free(small);
    }).join();
    std::printf("a thread's memory on the main heap: %s\n", shared ? "yes" : "no");
    for (int i = 1; i < argc; ++i)
        std::printf("argument: %s\n", argv[i]);
    std::free(buffer);
    return 0;
}
