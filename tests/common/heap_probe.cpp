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

// Whether a line of /proc/self/maps or smaps is a mapping's first line
// ("from-to perms ..."; the fields of smaps read "Name: value") and the
// mapping holds address.
bool mappingHolds(const QByteArray& line, const void* address, bool* isMapping) {
    const qsizetype dash = line.indexOf('-'), space = line.indexOf(' ');
    *isMapping = dash > 0 && space > dash && !line.left(space).contains(':');
    if (!*isMapping)
        return false;
    bool ok1 = false, ok2 = false;
    const quintptr from = line.left(dash).toULongLong(&ok1, 16);
    const quintptr to = line.mid(dash + 1, space - dash - 1).toULongLong(&ok2, 16);
    const auto at = reinterpret_cast<quintptr>(address);
    return ok1 && ok2 && from <= at && at < to;
}

QList<QByteArray> linesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray>();
}

// The mapping holding address may take huge pages ("hg" among its flags).
bool hugePageAdvised(const void* address) {
    bool inside = false, isMapping = false;
    for (const QByteArray& line : linesOf(QStringLiteral("/proc/self/smaps"))) {
        const bool holds = mappingHolds(line, address, &isMapping);
        if (isMapping)
            inside = holds;
        else if (inside && line.startsWith("VmFlags:"))
            return line.split(' ').contains("hg");
    }
    return false;
}

// The mapping holding address is the main heap, the one that is trimmed.
bool inMainHeap(const void* address) {
    bool isMapping = false;
    for (const QByteArray& line : linesOf(QStringLiteral("/proc/self/maps")))
        if (line.endsWith("[heap]") && mappingHolds(line, address, &isMapping))
            return true;
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
