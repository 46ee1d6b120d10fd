#include "segment/WordPairIndex.h"

namespace kestrel {

void WordPairIndex::clear() {
    m_words.clear();
    m_pairs.clear();
    m_pairMask = 0;
    m_pairShift = 64;
    m_pairCount = 0;
    m_complete = true;
    m_filter.clear();
    m_aheadCount = 0;
    m_aheadFirst = 0;
    m_lastFirstId = -1;
}

int WordPairIndex::wordId(std::string_view word) const { return m_words.find(word); }

void WordPairIndex::reserve(size_t pairs) {
    if (pairs * 2 > m_pairs.size()) growPairs(pairs * 2);
}

void WordPairIndex::growPairs(size_t wanted) {
    drainAhead();
    size_t size = 16;
    unsigned shift = 60;
    while (size < wanted) {
        size *= 2;
        --shift;
    }
    HugePageVector<uint64_t> table(size, kFree);
    table.swap(m_pairs);
    m_pairMask = size - 1;
    m_pairShift = shift;
    m_pairCount = 0;
    for (const uint64_t p : table) {
        if (p != kFree) insertPair(p);
    }
}

void WordPairIndex::insertPair(uint64_t value) {
    const uint64_t key = value >> kCountBits;
    for (size_t slot = pairSlot(key);; slot = (slot + 1) & m_pairMask) {
        uint64_t& p = m_pairs[slot];
        if (p >> kCountBits == key) return;  // the first count stays
        if (p == kFree) {
            p = value;
            ++m_pairCount;
            return;
        }
    }
}

void WordPairIndex::drainAhead() {
    for (; m_aheadCount > 0; --m_aheadCount, m_aheadFirst = (m_aheadFirst + 1) % kAhead) insertPair(m_ahead[m_aheadFirst]);
    m_aheadFirst = 0;
}

void WordPairIndex::add(std::string_view first, std::string_view second, int32_t count) {
    // The pairs of one first word mostly follow one another.
    if (m_lastFirstId < 0 || first != m_lastFirst) {
        m_lastFirstId = m_words.add(first);
        m_lastFirst.assign(first);
    }
    const int secondId = m_words.add(second);
    if (m_lastFirstId >= kMaxWords || secondId >= kMaxWords || count < 0 || count > kMaxCount) {
        m_complete = false;
        return;
    }
    // At most half of the slots taken keeps the probes short.
    if ((m_pairCount + m_aheadCount + 1) * 2 > m_pairs.size()) growPairs((m_pairCount + m_aheadCount + 1) * 4);
    const uint64_t key = pairKey(m_lastFirstId, secondId);
    __builtin_prefetch(&m_pairs[pairSlot(key)], 1);
    if (m_aheadCount == kAhead) {
        insertPair(m_ahead[m_aheadFirst]);
        m_aheadFirst = (m_aheadFirst + 1) % kAhead;
        --m_aheadCount;
    }
    m_ahead[(m_aheadFirst + m_aheadCount) % kAhead] = (key << kCountBits) | static_cast<uint64_t>(count);
    ++m_aheadCount;
}

void WordPairIndex::finish() {
    drainAhead();
    m_filter.reset(m_pairCount);
    for (const uint64_t p : m_pairs) {
        if (p != kFree) m_filter.add(p >> kCountBits);
    }
    m_lastFirstId = -1;
    m_lastFirst.clear();
}

size_t WordPairIndex::memoryBytes() const {
    return m_words.memoryBytes() + m_pairs.capacity() * sizeof(uint64_t) + m_filter.memoryBytes();
}

}  // namespace kestrel
