#include "segment/lookup/WordPrefixTrie.h"

#include <algorithm>

namespace kestrel {

void WordPrefixTrie::clear() {
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_roots.clear();
    m_roots.shrink_to_fit();
    m_regions.clear();
    m_regions.shrink_to_fit();
    m_nodeCount = 0;
    m_filter.clear();
    finish();
}

void WordPrefixTrie::reset(const std::vector<uint32_t>& cellNodes) {
    // At most five slots in eight taken keeps the probes short; node ids
    // must fit 32 bits with the roots above them. A cell whose region would
    // be too large for the keys gets none, and no root.
    m_regions.assign(cellNodes.size() + 1, 0);
    m_roots.assign(cellNodes.size(), Slot{});
    uint64_t slots = 0;
    for (size_t cell = 0; cell < cellNodes.size(); ++cell) {
        m_regions[cell] = static_cast<uint32_t>(slots);
        const uint64_t nodes = cellNodes[cell];
        const uint64_t region = nodes == 0 ? 0 : nodes + nodes / 3 + 1;
        if (region > kMaxRegion) continue;
        m_roots[cell].key = kHeld;
        slots += region;
        if (slots + cellNodes.size() >= kNone) {
            clear();
            return;
        }
    }
    m_regions[cellNodes.size()] = static_cast<uint32_t>(slots);
    m_slots.assign(slots, Slot{});
    m_nodeCount = 0;
    finish();
}

void WordPrefixTrie::finish() {
    // The filter is filled once all nodes are in; until then (during a
    // build) it lets every key through.
    m_filter.clear();
    if (m_nodeCount > 0) {
        m_filter.reset(m_nodeCount);
        for (size_t cell = 0; cell + 1 < m_regions.size(); ++cell) {
            for (size_t slot = m_regions[cell]; slot < m_regions[cell + 1]; ++slot) {
                const uint32_t key = m_slots[slot].key & kKeyBits;
                if (key != 0) m_filter.add(filterKey(static_cast<int>(cell), key));
            }
        }
    }
    m_lastCell = -1;
    m_lastReached = 0;
    m_pathAt.clear();
    m_unitEndAt.clear();
}

uint32_t WordPrefixTrie::childOrNew(int cell, uint32_t parent, uint32_t unit) {
    const size_t begin = m_regions[static_cast<size_t>(cell)];
    const size_t end = m_regions[static_cast<size_t>(cell) + 1];
    const uint32_t key = keyOf(begin, parent, unit);
    for (size_t slot = home(begin, end, key);; slot = slot + 1 == end ? begin : slot + 1) {
        Slot& s = m_slots[slot];
        if ((s.key & kKeyBits) == key) return static_cast<uint32_t>(slot);
        if (s.key == 0) {
            s.key = key;
            ++m_nodeCount;
            return static_cast<uint32_t>(slot);
        }
    }
}

void WordPrefixTrie::addEntry(int cell, std::string_view key, int32_t handle, int32_t frequency, int maxCount,
                              size_t common) {
    if (static_cast<size_t>(cell) >= m_roots.size() || root(cell) == kNone) return;
    if (cell != m_lastCell) {
        m_lastCell = cell;
        m_lastReached = 0;
        m_pathAt.assign(1, root(cell));
        m_unitEndAt.assign(1, 0);
    }
    // The nodes of the units this key shares with the last one are known:
    // the walk resumes after the last whole unit within the common bytes.
    common = std::min(common, m_lastReached);
    size_t at = m_unitEndAt[common];
    uint32_t id = m_pathAt[common];
    if (m_pathAt.size() < key.size() + 1) {
        m_pathAt.resize(key.size() + 1);
        m_unitEndAt.resize(key.size() + 1);
    }
    uint32_t unit = 0;
    while (at < key.size()) {
        const size_t length = unitAt(key, at, unit);
        writable(id).key |= kLonger;
        // A cut-off last unit: the key only makes its whole part a prefix.
        if (length == 0) break;
        if (length == 2) {
            m_pathAt[at + 1] = id;
            m_unitEndAt[at + 1] = at;
        }
        id = childOrNew(cell, id, unit);
        at += length;
        m_pathAt[at] = id;
        m_unitEndAt[at] = at;
    }
    m_lastReached = at;
    if (at < key.size()) return;
    Slot& s = writable(id);
    const int64_t count = s.sumAndCount & kCountMask;
    if (count >= maxCount || count >= kCountMask) return;
    s.key |= kWord;
    s.handle = count == 0 ? handle : 0;
    s.sumAndCount = ((((s.sumAndCount >> kCountBits) + frequency)) << kCountBits) | (count + 1);
}

}  // namespace kestrel
