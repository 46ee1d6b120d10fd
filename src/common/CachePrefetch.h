#pragma once
// Starts fetching the cache line of an address that is about to be read, so
// that several reads can wait for memory together. The compiler's builtin
// is dropped by the optimiser when it sits under a condition in an inlined
// loop, and so did nothing where it mattered most; this form always stays.
namespace kestrel {

inline void prefetchForRead(const void* address) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
    __builtin_prefetch(address);
#endif
}

}  // namespace kestrel
