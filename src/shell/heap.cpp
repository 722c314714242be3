#include "shell/heap.h"

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace corvane {

// Every refresh builds tables of several megabytes and drops them again, and touching a
// fresh page costs more here than what is written into it. So large blocks come from the
// heap rather than from mappings of their own, freed memory stays in the heap for the next
// refresh, and the heap is reserved in one piece backed by transparent huge pages: the
// first touch of a table then costs one fault per 2 MiB instead of one per 4 KiB.
void prepareHeapForLargeTables() {
    constexpr std::size_t mib = std::size_t(1) << 20;
    constexpr std::size_t hugePage = 2 * mib;
    constexpr std::size_t reserve = 256 * mib;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(32 * mib)); // the largest glibc allows
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(reserve));
    mallopt(M_TOP_PAD, static_cast<int>(reserve));
    // A block larger than what the heap has free makes malloc grow it by the whole reserve.
    void* first = std::malloc(mib);
    const auto from = (reinterpret_cast<std::uintptr_t>(first) + hugePage - 1) & ~(hugePage - 1);
    const auto to = reinterpret_cast<std::uintptr_t>(::sbrk(0)) & ~(hugePage - 1);
    if (first && to > from)
        // Advice only: where huge pages are off or short, ordinary pages serve as before.
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    std::free(first);
}

} // namespace corvane
