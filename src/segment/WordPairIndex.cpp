#include "segment/WordPairIndex.h"

#include <algorithm>

#include "segment/KeyPrefixTable.h"

namespace kestrel {

namespace {

size_t powerOfTwoAtLeast(size_t n) {
    size_t size = 16;
    while (size < n) size *= 2;
    return size;
}

}  // namespace

void WordPairIndex::clear() {
    m_words.clear();
    m_wordMask = 0;
    m_text.clear();
    m_offsets.assign(1, 0);
    m_pairs.clear();
    m_pairMask = 0;
    m_pairShift = 64;
    m_pairCount = 0;
    m_complete = true;
    m_aheadCount = 0;
    m_aheadFirst = 0;
    m_lastFirstId = -1;
}

void WordPairIndex::growWords() {
    const size_t wanted = powerOfTwoAtLeast(m_words.size() * 2);
    std::vector<Word> old(wanted, Word{0, -1, 0});
    old.swap(m_words);
    m_wordMask = m_words.size() - 1;
    for (const Word& w : old) {
        if (w.id < 0) continue;
        Word probe;
        m_words[slotOf(wordText(w.id), probe)] = w;
    }
}

size_t WordPairIndex::slotOf(std::string_view word, Word& probe) const {
    const uint64_t hash = KeyPrefixTable::hashOf(word);
    probe.check = (static_cast<uint32_t>(hash >> 32) & 0xFFFFFF00u) | static_cast<uint32_t>(std::min<size_t>(word.size(), 255));
    probe.head = KeyPrefixTable::load(word.data(), std::min<size_t>(word.size(), 8));
    for (size_t slot = static_cast<size_t>(hash) & m_wordMask;; slot = (slot + 1) & m_wordMask) {
        const Word& w = m_words[slot];
        if (w.id < 0) return slot;
        if (w.check == probe.check && w.head == probe.head && (word.size() <= 8 || wordText(w.id) == word)) return slot;
    }
}

int WordPairIndex::wordId(std::string_view word) const {
    if (m_words.empty()) return -1;
    Word probe;
    return m_words[slotOf(word, probe)].id;
}

int WordPairIndex::addWord(std::string_view word) {
    const size_t count = m_offsets.size() - 1;
    if ((count + 1) * 2 > m_words.size()) growWords();
    Word probe;
    const size_t slot = slotOf(word, probe);
    if (m_words[slot].id >= 0) return m_words[slot].id;
    probe.id = static_cast<int>(count);
    m_words[slot] = probe;
    m_text.append(word);
    m_offsets.push_back(static_cast<uint32_t>(m_text.size()));
    return probe.id;
}

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
    std::vector<uint64_t> table(size, kFree);
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
        m_lastFirstId = addWord(first);
        m_lastFirst.assign(first);
    }
    const int secondId = addWord(second);
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
    m_lastFirstId = -1;
    m_lastFirst.clear();
}

size_t WordPairIndex::memoryBytes() const {
    return m_words.capacity() * sizeof(Word) + m_text.capacity() + m_offsets.capacity() * sizeof(uint32_t) +
           m_pairs.capacity() * sizeof(uint64_t);
}

}  // namespace kestrel
