#include "heap.h"

#include <QTimer>

#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace common {

void releaseFreedMemorySoon() {
    static bool pending = false;
    if (pending)
        return;
    pending = true;
    // Half a second: the preview is on screen by then, and trimming takes a
    // few milliseconds that nobody waits for. Trimming here, once a
    // generation, rather than giving each large buffer a mapping of its own,
    // which costs a page fault on every page of every copy of the picture.
    QTimer::singleShot(500, [] {
        pending = false;
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    });
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
