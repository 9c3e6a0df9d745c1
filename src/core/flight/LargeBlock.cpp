#include "core/flight/LargeBlock.h"

#include "core/platform/Processes.h"

namespace korvel {

void *AllocateLarge(std::size_t bytes)
{
    return platform::AllocateLarge(bytes);
}

void ReleaseLarge(void *block, std::size_t bytes) noexcept
{
    platform::ReleaseLarge(block, bytes);
}

} // namespace korvel
