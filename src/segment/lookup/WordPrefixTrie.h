#pragma once
// The words of a dictionary as a trie of key units, stored in one hash table
// keyed by (parent node, unit), built once at load time. The word graph
// probes a string, then the same string one character longer, and so on:
// walking on from the last node costs one probe of a slot, without hashing
// the whole string again or reading an entry to confirm it.
//
// A slot is sixteen bytes: the node's key within its cell (the parent's
// place in the cell's region and the unit) with two bits telling whether
// the string is a word and whether longer keys begin with it, and the
// word's data (entries' count and frequency sum in one integer, handle).
// Small slots keep more of the table in the caches.
//
// Keys are split into the units of KeyPrefixTable (an ASCII byte, or a byte
// of 0x80 or above with the byte after it); a key whose last unit is cut
// off is a prefix of nothing a walk on unit boundaries can reach, so only
// its whole units are stored. Each dictionary cell has a root node. A cell
// with more nodes than a key can place in its region has no root here, and
// its strings are looked up another way.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/CachePrefetch.h"
#include "segment/lookup/HugePageAllocator.h"
#include "segment/lookup/KeyFilter.h"

namespace kestrel {

class WordPrefixTrie {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // What is stored for one node: the string from the cell's character to
    // this node.
    struct Node {
        double frequencySum = 0;
        int32_t handle = 0;   // of the only entry; 0 with several
        uint16_t count = 0;   // entries of the string as a key (0: no word)
        bool longer = false;  // some key is longer and begins with the string
    };

    void clear();
    bool empty() const { return m_roots.empty(); }
    size_t memoryBytes() const {
        return (m_slots.capacity() + m_roots.capacity()) * sizeof(Slot) + m_regions.capacity() * sizeof(uint32_t) +
               m_filter.memoryBytes();
    }

    // Starts a build with the number of nodes below the root of each cell.
    void reset(const std::vector<uint32_t>& cellNodes);
    // Adds one entry of `cell` whose key is `key`, which has its first
    // `common` bytes in common with the key of the entry added before it
    // (0 for the cell's first). Entries come cell by cell in the cells'
    // order (keys ascending, those of one key in entry order); at most
    // `maxCount` of one key are counted.
    void addEntry(int cell, std::string_view key, int32_t handle, int32_t frequency, int maxCount, size_t common);
    // Ends a build.
    void finish();

    // The root of a cell (kNone when the trie is empty, has no such cell or
    // does not hold the cell's words).
    uint32_t root(int cell) const {
        if (static_cast<size_t>(cell) >= m_roots.size() || (m_roots[static_cast<size_t>(cell)].key & kHeld) == 0)
            return kNone;
        return static_cast<uint32_t>(m_slots.size()) + static_cast<uint32_t>(cell);
    }
    // The child of `node`, a node of `cell`, by `unit`; kNone when there is none.
    uint32_t child(int cell, uint32_t node, uint32_t unit) const {
        const size_t begin = m_regions[static_cast<size_t>(cell)];
        const size_t end = m_regions[static_cast<size_t>(cell) + 1];
        if (begin == end) return kNone;
        const uint32_t key = keyOf(begin, node, unit);
        if (!m_filter.mayContain(filterKey(cell, key))) return kNone;
        for (size_t slot = home(begin, end, key);; slot = slot + 1 == end ? begin : slot + 1) {
            const uint32_t k = m_slots[slot].key;
            if ((k & kKeyBits) == key) return static_cast<uint32_t>(slot);
            if (k == 0) return kNone;
        }
    }
    // Starts fetching what child(cell, node, unit) reads first: the
    // filter's word and the slot where the search begins. Walks from many
    // starts that fetch their next children together wait for the memory
    // once instead of once per walk.
    void prefetchChild(int cell, uint32_t node, uint32_t unit) const {
        const size_t begin = m_regions[static_cast<size_t>(cell)];
        const size_t end = m_regions[static_cast<size_t>(cell) + 1];
        if (begin == end) return;
        const uint32_t key = keyOf(begin, node, unit);
        m_filter.prefetch(filterKey(cell, key));
        prefetchForRead(&m_slots[home(begin, end, key)]);
    }
    Node node(uint32_t id) const {
        const Slot& s = id < m_slots.size() ? m_slots[id] : m_roots[id - m_slots.size()];
        Node n;
        n.longer = (s.key & kLonger) != 0;
        n.frequencySum = static_cast<double>(s.sumAndCount >> kCountBits);
        n.handle = s.handle;
        n.count = static_cast<uint16_t>(s.sumAndCount & kCountMask);
        return n;
    }
    // The unit that begins at `at` in `s` and its length; 0 when `s` ends
    // inside it.
    static size_t unitAt(std::string_view s, size_t at, uint32_t& unit) {
        const auto b = static_cast<unsigned char>(s[at]);
        if (b < 0x80) {
            unit = b;
            return 1;
        }
        if (at + 1 >= s.size()) return 0;
        unit = (static_cast<uint32_t>(b) << 8) | static_cast<unsigned char>(s[at + 1]);
        return 2;
    }

private:
    struct Slot {
        uint32_t key = 0;     // kKeyBits: the key (0: free slot), with kWord and kLonger; kHeld on roots
        int32_t handle = 0;   // of the only entry; 0 with several
        // The frequency sum above the entries' count: exact, as the sum of
        // at most 2^16 32-bit frequencies fits the 48 bits.
        int64_t sumAndCount = 0;
    };
    static constexpr unsigned kCountBits = 16;
    static constexpr int64_t kCountMask = (int64_t{1} << kCountBits) - 1;
    // A key is the unit in the low 16 bits above the parent's place: 0 for
    // the root, else one more than its slot's offset in the cell's region.
    static constexpr unsigned kPlaceBits = 14;
    static constexpr size_t kMaxRegion = (size_t{1} << kPlaceBits) - 1;
    static constexpr uint32_t kKeyBits = (uint32_t{1} << (16 + kPlaceBits)) - 1;
    static constexpr uint32_t kWord = uint32_t{1} << 30;
    static constexpr uint32_t kLonger = uint32_t{1} << 31;
    static constexpr uint32_t kHeld = 1;  // on a root: the cell's words are here

    uint32_t keyOf(size_t begin, uint32_t parent, uint32_t unit) const {
        const uint32_t place = parent >= m_slots.size() ? 0 : parent - static_cast<uint32_t>(begin) + 1;
        // A NUL byte would make the key of a free slot: it takes a code no
        // unit has (single bytes are below 0x80, pairs from 0x8000).
        return (place << 16) | (unit == 0 ? 0x80 : unit);
    }
    static uint64_t filterKey(int cell, uint32_t key) { return (static_cast<uint64_t>(cell) + 1) << 32 | key; }
    // Each cell's nodes have a region of slots of their own, so that the
    // probes of the words that begin with one character stay close together.
    static size_t home(size_t begin, size_t end, uint32_t key) {
        const uint64_t h = (key * 0x9E3779B97F4A7C15ull) >> 32;
        return begin + static_cast<size_t>((h * (end - begin)) >> 32);
    }
    Slot& writable(uint32_t id) { return id < m_slots.size() ? m_slots[id] : m_roots[id - m_slots.size()]; }
    // The child of `parent` by `unit`, made when missing.
    uint32_t childOrNew(int cell, uint32_t parent, uint32_t unit);

    HugePageVector<Slot> m_slots;     // open addressing; a node's id is its slot
    std::vector<Slot> m_roots;        // node id m_slots.size() + cell
    std::vector<uint32_t> m_regions;  // where each cell's slots begin; one more: the end
    // Most probes ask for a child that is not there: the filter of the
    // nodes' keys turns them away before the table is read.
    KeyFilter m_filter;
    size_t m_nodeCount = 0;  // nodes below the roots
    // The nodes of the last key added, which the next key shares up to
    // where the two differ: by byte offset, the node of the last whole
    // unit ending there or before and where that unit ends.
    int m_lastCell = -1;
    size_t m_lastReached = 0;  // bytes of it walked (short of a cut-off last unit)
    std::vector<uint32_t> m_pathAt;
    std::vector<size_t> m_unitEndAt;
};

}  // namespace kestrel
