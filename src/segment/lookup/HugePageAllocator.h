#pragma once
// An allocator for the large lookup tables of the segmenter, which are read
// at random: a block of a few megabytes or more is aligned to 2 MiB and the
// kernel is asked to back it with huge pages, so that the lookups do not
// also miss the address-translation caches at every probe. Smaller blocks,
// or a kernel that declines, get ordinary memory.
#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace kestrel {

template <typename T>
class HugePageAllocator {
public:
    using value_type = T;
    static constexpr size_t kHugePage = size_t{2} << 20;

    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (bytes < kHugePage) return std::allocator<T>().allocate(n);
        const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = std::aligned_alloc(kHugePage, rounded);
        if (!p) throw std::bad_alloc();
        madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < kHugePage)
            std::allocator<T>().deallocate(p, n);
        else
            std::free(p);
    }

    template <typename U>
    bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
};

// A vector of a large table.
template <typename T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace kestrel
