#pragma once
// Large buffers backed by huge pages: a book runs to tens of megabytes, and faulting that in
// 4 KiB at a time costs more than writing it.

#include <QtGlobal>

namespace memory {

// Asks the kernel to back the 2 MiB pages of [data, data + size) with huge pages,
// where it offers them on request (transparent huge pages in "madvise" mode). A hint only:
// nothing changes where it is not offered, and small buffers are left alone.
void preferHugePages(const void *data, qsizetype size);

} // namespace memory
