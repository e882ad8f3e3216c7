#include "heap.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace common {

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

} // namespace common
