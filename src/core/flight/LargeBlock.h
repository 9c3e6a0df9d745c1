#pragma once
// Memory for a whole flight file and its record index. A fresh 15 MB buffer costs more in page
// faults than the parse itself; blocks of 2 MiB and more are aligned so that the kernel can back
// them with huge pages, one fault per 2 MiB instead of one per 4 KiB.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace korvel {

// Raw memory, at least `bytes` long; released with ReleaseLarge and the same size.
void *AllocateLarge(std::size_t bytes);
void ReleaseLarge(void *block, std::size_t bytes) noexcept;

// An allocator for std::vector that takes its large blocks from AllocateLarge.
template <class T> struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U> LargeAllocator(const LargeAllocator<U> &) {}
    T *allocate(std::size_t n) { return static_cast<T *>(AllocateLarge(n * sizeof(T))); }
    void deallocate(T *p, std::size_t n) noexcept { ReleaseLarge(p, n * sizeof(T)); }
    template <class U> bool operator==(const LargeAllocator<U> &) const { return true; }
};

// A byte buffer that owns its memory, with a few zero bytes past its end so that a scan may read
// a whole machine word beyond the last byte.
class LargeBytes {
public:
    static constexpr std::size_t kPadding = 64;

    LargeBytes() = default;
    explicit LargeBytes(std::size_t size)
        : m_data(static_cast<char *>(AllocateLarge(size + kPadding))), m_size(size), m_allocated(size + kPadding)
    {
        std::memset(m_data + size, 0, kPadding);
    }
    LargeBytes(const char *bytes, std::size_t size) : LargeBytes(size) { std::memcpy(m_data, bytes, size); }
    LargeBytes(LargeBytes &&other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
          m_allocated(std::exchange(other.m_allocated, 0))
    {
    }
    LargeBytes &operator=(LargeBytes &&other) noexcept
    {
        if (this != &other) {
            release();
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
            m_allocated = std::exchange(other.m_allocated, 0);
        }
        return *this;
    }
    LargeBytes(const LargeBytes &) = delete;
    LargeBytes &operator=(const LargeBytes &) = delete;
    ~LargeBytes() { release(); }

    char *data() { return m_data; }
    const char *data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // Keeps the first n bytes (n no more than the size); the padding after them is zeroed again.
    void truncate(std::size_t n)
    {
        if (n < m_size && m_data) {
            std::memset(m_data + n, 0, std::min(m_size - n, kPadding));
            m_size = n;
        }
    }

private:
    void release()
    {
        if (m_data)
            ReleaseLarge(m_data, m_allocated);
        m_data = nullptr;
    }

    char *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_allocated = 0;
};

} // namespace korvel
