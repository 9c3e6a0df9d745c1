#include "core/flight/LargeBlock.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace korvel {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

#ifdef Q_OS_LINUX
std::size_t HugeRounded(std::size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}
#endif

} // namespace

void *AllocateLarge(std::size_t bytes)
{
#ifdef Q_OS_LINUX
    if (bytes >= kHugePage) {
        // Map one huge page more than needed and cut the ends off, so the block starts on a huge page.
        const std::size_t length = HugeRounded(bytes);
        void *raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED)
            throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
        if (aligned > start)
            munmap(raw, aligned - start);
        const std::size_t tail = (start + length + kHugePage) - (aligned + length);
        if (tail > 0)
            munmap(reinterpret_cast<void *>(aligned + length), tail);
        madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
        return reinterpret_cast<void *>(aligned);
    }
#endif
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void ReleaseLarge(void *block, std::size_t bytes) noexcept
{
    if (!block)
        return;
#ifdef Q_OS_LINUX
    if (bytes >= kHugePage) {
        munmap(block, HugeRounded(bytes));
        return;
    }
#endif
    std::free(block);
}

} // namespace korvel
