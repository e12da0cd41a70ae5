#include "text/hugepages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace memory {

void preferHugePages(const void *data, qsizetype size) {
    constexpr qsizetype kHugePage = 2 * 1024 * 1024;
    if (size < kHugePage)
        return;
#ifdef MADV_HUGEPAGE
    // The whole pages around the buffer, not only the huge ones inside it: advice on part of a
    // mapping splits it, and malloc can then no longer grow the buffer in place with mremap but
    // copies it to fresh memory instead.
    static const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
    const auto end =
        (reinterpret_cast<std::uintptr_t>(data) + std::uintptr_t(size) + page - 1) & ~(page - 1);
    ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
#endif
}

} // namespace memory
