#include "segment/lookup/WordPairIndex.h"

namespace kestrel {

void WordPairIndex::clear() {
    m_words.clear();
    m_pairs.clear();
    m_pairMask = 0;
    m_pairShift = 64;
    m_pairCount = 0;
    m_complete = true;
    m_filter.clear();
    m_filterKeys = 0;
    m_aheadCount = 0;
    m_aheadFirst = 0;
    m_lastFirstId = -1;
}

int WordPairIndex::wordId(std::string_view word) const { return m_words.find(word); }

void WordPairIndex::reserve(size_t pairs) {
    if (slotsFor(pairs) > m_pairs.size()) growPairs(slotsFor(pairs));
    // A filter sized now is filled as the pairs come, without a pass over
    // the table at the end.
    if (m_pairCount == 0 && m_aheadCount == 0 && pairs > 0) {
        m_filter.reset(pairs);
        m_filterKeys = pairs;
    }
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
            if (m_filterKeys > 0) m_filter.add(key);
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
    const size_t pending = m_pairCount + m_aheadCount + 1;
    if (slotsFor(pending) > m_pairs.size()) growPairs(slotsFor(pending) * 2);
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
    // A filter holding many more keys than it was sized for turns little
    // away: it is made afresh at its proper size.
    if (m_filterKeys == 0 || m_pairCount > 2 * m_filterKeys) {
        m_filter.reset(m_pairCount);
        m_filterKeys = m_pairCount;
        for (const uint64_t p : m_pairs) {
            if (p != kFree) m_filter.add(p >> kCountBits);
        }
    }
    m_lastFirstId = -1;
    m_lastFirst.clear();
}

size_t WordPairIndex::memoryBytes() const {
    return m_words.memoryBytes() + m_pairs.capacity() * sizeof(uint64_t) + m_filter.memoryBytes();
}

}  // namespace kestrel
