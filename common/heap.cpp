#include "heap.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/auxv.h>
#include <unistd.h>
#include <utility>

#ifdef __GLIBC__
#include <gnu/libc-version.h>
#include <malloc.h>
#endif

namespace common {

namespace {
// What a notice's picture at a common screen's resolution leaves free (a few
// megabytes) stays for the next one, which then takes it without faulting a
// page in. More than this (pictures at twice that, or a long document's)
// goes back to the system.
constexpr size_t kKeptFreeBytes = size_t(16) << 20;
} // namespace

size_t keptFreeHeapBytes() {
    return kKeptFreeBytes;
}

void releaseFreedMemorySoon() {
    // Half a second after the last preview shown: the preview is on screen by
    // then, and trimming takes a few milliseconds that nobody waits for.
    // Trimming here rather than giving each large buffer a mapping of its
    // own, which costs a page fault on every page of every copy of the
    // picture. Notices made one after the other put it off, so the next
    // one finds its buffers' pages still there instead of faulting them in.
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(500);
        QObject::connect(timer, &QTimer::timeout, [] {
#ifdef __GLIBC__
            if (mallinfo2().fordblks > kKeptFreeBytes)
                malloc_trim(0);
#endif
        });
    }
    timer->start();
}

void readyAllocatorForPictures() {
#ifdef __GLIBC__
    // A page at 192 dpi in 32 bits, Legal paper with room to spare. Freeing
    // a mapped buffer raises the size from which buffers get mappings of
    // their own to its size: what the first generation would teach it.
    constexpr size_t kPageBytes = size_t(9 * 192) * size_t(14 * 192) * 4;
    void* page = std::malloc(kPageBytes);
    if (!page)
        return;
    // Written to, so the pair is not optimised away.
    static_cast<volatile char*>(page)[0] = 0;
    std::free(page);
#endif
}

namespace {

Q_LOGGING_CATEGORY(lcHeap, "veltrane.heap")

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kHugePageTunable = "glibc.malloc.hugetlb";
// The caller's own GLIBC_TUNABLES across the restart: "=value", or empty
// when it had none.
constexpr const char* kCallersTunables = "VELTRANE_CALLERS_GLIBC_TUNABLES";

bool hugePagesOnOffer() {
#ifdef __GLIBC__
    // The setting came with glibc 2.35; an older one would ignore it.
    int major = 0, minor = 0;
    if (std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) != 2 ||
        std::make_pair(major, minor) < std::make_pair(2, 35))
        return false;
#endif
    QFile mode(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    if (!mode.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = mode.readAll();
    return text.contains("[always]") || text.contains("[madvise]");
}

void restoreCallersTunables(const QByteArray& saved) {
    if (saved.startsWith('='))
        ::setenv(kTunables, saved.constData() + 1, 1);
    else
        ::unsetenv(kTunables);
    ::unsetenv(kCallersTunables);
}

} // namespace

void useOneHeapForAllThreads() {
#ifdef __GLIBC__
    const char* tunables = ::getenv(kTunables);
    if (::getenv("MALLOC_ARENA_MAX") ||
        (tunables && std::strstr(tunables, "glibc.malloc.arena_max")))
        return; // the user's choice stands
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

QByteArray tunablesWithHugePageHeap(const QByteArray& callers) {
    if (callers.contains(kHugePageTunable))
        return callers;
    const QByteArray mine = QByteArray(kHugePageTunable) + "=1";
    return callers.isEmpty() ? mine : callers + ':' + mine;
}

void restartWithHugePageHeap(char** argv) {
#ifdef __GLIBC__
    if (const char* saved = ::getenv(kCallersTunables)) {
        // This is the restarted program: the setting has been read.
        restoreCallersTunables(QByteArray(saved));
        return;
    }
    if (!argv || !argv[0] || ::getauxval(AT_SECURE) || !hugePagesOnOffer())
        return;
    const char* current = ::getenv(kTunables);
    const QByteArray callers = current ? QByteArray(current) : QByteArray();
    if (callers.contains(kHugePageTunable))
        return; // the user's choice stands
    const QByteArray saved = current ? '=' + callers : QByteArray();
    ::setenv(kCallersTunables, saved.constData(), 1);
    ::setenv(kTunables, tunablesWithHugePageHeap(callers).constData(), 1);
    ::execv("/proc/self/exe", argv);
    const int error = errno;
    restoreCallersTunables(saved);
    qCWarning(lcHeap) << "could not start again with a huge-page heap:" << std::strerror(error);
#else
    Q_UNUSED(argv);
#endif
}

} // namespace common
