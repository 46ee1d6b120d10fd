#pragma once
// Counts of word pairs by the ids of their two words. A pair dictionary
// stores a pair as the text "first@second"; here each word that appears in
// some pair gets a dense id, so that a sentence looks each of its words up
// once and then scores every pair of neighbours with one probe of an
// integer hash table, instead of one string search per pair.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/CachePrefetch.h"
#include "segment/lookup/WordIdTable.h"
#include "segment/lookup/HugePageAllocator.h"
#include "segment/lookup/KeyFilter.h"

namespace kestrel {

class WordPairIndex {
public:
    void clear();
    // Makes room for about `pairs` pairs to be added.
    void reserve(size_t pairs);
    // Adds the pair with its count; a pair already added keeps its first
    // count. The pairs become visible to count() with finish().
    void add(std::string_view first, std::string_view second, int32_t count);
    void finish();

    bool empty() const { return m_pairCount == 0; }
    size_t pairCount() const { return m_pairCount; }
    size_t memoryBytes() const;
    // False when some pair could not be held (a count beyond 24 bits or a
    // negative one, more than a million words): its count would be wrong.
    bool complete() const { return m_complete; }

    // Id of a word that is the first or second word of some pair; -1 otherwise.
    int wordId(std::string_view word) const;
    // Count of the pair of word ids; 0 when absent or when an id is -1.
    int32_t count(int first, int second) const {
        const uint64_t key = keyOf(first, second);
        return key != kNoKey && m_filter.mayContain(key) ? countOf(key) : 0;
    }

    // count() in steps, for many pairs at once, so that their reads wait
    // for memory together: the pair's key (kNoKey: it has no count), the
    // filter's word fetched; then the filter asked (kNoKey: turned away)
    // and the pair's first slot fetched; then the count.
    static constexpr uint64_t kNoKey = 0;
    uint64_t keyOf(int first, int second) const {
        if (first < 0 || second < 0 || first >= kMaxWords || second >= kMaxWords || m_pairs.empty()) return kNoKey;
        return pairKey(first, second);
    }
    void prefetchFilter(uint64_t key) const {
        if (key != kNoKey) m_filter.prefetch(key);
    }
    uint64_t admit(uint64_t key) const {
        if (key == kNoKey || !m_filter.mayContain(key)) return kNoKey;
        prefetchForRead(&m_pairs[pairSlot(key)]);
        return key;
    }
    int32_t countOf(uint64_t key) const {
        if (key == kNoKey) return 0;
        for (size_t slot = pairSlot(key);; slot = (slot + 1) & m_pairMask) {
            const uint64_t p = m_pairs[slot];
            if (p >> kCountBits == key) return static_cast<int32_t>(p & kMaxCount);
            if (p == kFree) return 0;
        }
    }

private:
    // A pair is one 64-bit slot: the two word ids plus one (20 bits each)
    // above the count (24 bits), so that the table is half the size it
    // would be with a slot of key and count, and a free slot is zero.
    static constexpr unsigned kCountBits = 24;
    static constexpr int64_t kMaxCount = (int64_t{1} << kCountBits) - 1;
    static constexpr int kMaxWords = (1 << 20) - 1;
    static constexpr uint64_t kFree = 0;

    static uint64_t pairKey(int first, int second) {
        return (static_cast<uint64_t>(first + 1) << 20) | static_cast<uint64_t>(second + 1);
    }
    size_t pairSlot(uint64_t key) const { return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> m_pairShift); }
    // Stores a pair value in the table unless its pair is there already.
    void insertPair(uint64_t value);
    // Slots for `pairs` pairs: at most four in five taken keeps the probes
    // of a pair within a cache line or two, in a table of half the size
    // that one in two would need.
    static size_t slotsFor(size_t pairs) { return pairs + pairs / 4 + 1; }
    // Makes the table at least `size` slots, keeping what it holds.
    void growPairs(size_t size);
    // Stores the pairs waiting in m_ahead.
    void drainAhead();

    WordIdTable m_words;
    HugePageVector<uint64_t> m_pairs;  // open addressing, power-of-two size
    size_t m_pairMask = 0;
    unsigned m_pairShift = 64;
    size_t m_pairCount = 0;
    bool m_complete = true;
    // Most pairs a sentence asks for have no count: they are mostly turned
    // away before the large table is read. Filled as pairs are stored when
    // reserve() sized it, else by finish().
    KeyFilter m_filter;
    size_t m_filterKeys = 0;  // the number of keys the filter was sized for; 0: not sized
    // Pairs added whose slots are being fetched; stored a few adds later,
    // in the order added, since the table is larger than the caches.
    static constexpr size_t kAhead = 16;
    uint64_t m_ahead[kAhead] = {};
    size_t m_aheadCount = 0;
    size_t m_aheadFirst = 0;
    std::string m_lastFirst;             // the first word of the last pair added, and its id
    int m_lastFirstId = -1;
};

}  // namespace kestrel
