#pragma once
// A bit set that tells, for a 64-bit key, that a large table surely does not
// hold it: about a byte per key held, two bits of one word per key, small
// enough to stay in the caches where the table does not. Most lookups of
// the segmenter ask for what is not there, and are turned away here.
#include <cstddef>
#include <cstdint>

#include "common/CachePrefetch.h"
#include "segment/lookup/HugePageAllocator.h"

namespace kestrel {

class KeyFilter {
public:
    void clear() {
        m_words.clear();
        m_words.shrink_to_fit();
        m_shift = 63;
    }
    // Empties the filter, sized for about `keys` keys, at most
    // `keysPerWord` of them to a 64-bit word (fewer turn more away).
    void reset(size_t keys, size_t keysPerWord = 8) {
        size_t words = 2;
        unsigned shift = 63;
        while (words * keysPerWord < keys) {
            words *= 2;
            --shift;
        }
        m_words.assign(words, 0);
        m_shift = shift;
    }
    void add(uint64_t key) {
        const uint64_t h = hashOf(key);
        m_words[h >> m_shift] |= bitsOf(h);
    }
    // False only when the key was never added; true for every key when the
    // filter is empty.
    bool mayContain(uint64_t key) const {
        if (m_words.empty()) return true;
        const uint64_t h = hashOf(key);
        return (m_words[h >> m_shift] & bitsOf(h)) == bitsOf(h);
    }
    // Starts fetching the word mayContain(key) reads.
    void prefetch(uint64_t key) const {
        if (!m_words.empty()) prefetchForRead(&m_words[hashOf(key) >> m_shift]);
    }
    size_t memoryBytes() const { return m_words.capacity() * sizeof(uint64_t); }

private:
    static uint64_t hashOf(uint64_t key) { return (key ^ (key >> 29)) * 0xBF58476D1CE4E5B9ull; }
    static uint64_t bitsOf(uint64_t h) { return (uint64_t{1} << (h & 63)) | (uint64_t{1} << ((h >> 6) & 63)); }

    HugePageVector<uint64_t> m_words;  // power-of-two size
    unsigned m_shift = 63;
};

}  // namespace kestrel
