#ifndef ZEROPAGES_H
#define ZEROPAGES_H

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

#if defined(__unix__)
#include <sys/mman.h>
#endif

// An allocator for large arrays most of whose elements may never be written: blocks of
// a megabyte or more are mapped from the system, which hands out zeroed pages only when
// first written (reading an untouched page costs no memory either), and smaller ones
// come from calloc. Elements are default-initialised, so a resized vector of numbers
// reads 0 without a single page having been touched. Stateless; any thread.
template <typename T> struct ZeroPageAllocator {
    using value_type = T;

    ZeroPageAllocator() noexcept = default;
    template <typename U> ZeroPageAllocator(const ZeroPageAllocator<U> &) noexcept { }

    static constexpr std::size_t mappedFrom = std::size_t(1) << 20;

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        const std::size_t bytes = n * sizeof(T);
#if defined(__unix__)
        if (bytes >= mappedFrom) {
            void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED)
                throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
            // Reads of untouched memory then map the one zero huge page per 2 MiB.
            madvise(p, bytes, MADV_HUGEPAGE);
#endif
            return static_cast<T *>(p);
        }
#endif
        void *p = std::calloc(n ? n : 1, sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T *>(p);
    }

    void deallocate(T *p, std::size_t n) noexcept
    {
#if defined(__unix__)
        if (n * sizeof(T) >= mappedFrom) {
            munmap(p, n * sizeof(T));
            return;
        }
#endif
        std::free(p);
    }

    // Value-initialisation would write every element: the memory is zero already.
    template <typename U> void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <typename U, typename... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T, typename U> bool operator==(const ZeroPageAllocator<T> &, const ZeroPageAllocator<U> &)
{
    return true;
}
template <typename T, typename U> bool operator!=(const ZeroPageAllocator<T> &, const ZeroPageAllocator<U> &)
{
    return false;
}

#endif
