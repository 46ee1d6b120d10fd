#pragma once
// The words of a dictionary as a trie of key units, stored in one hash table
// keyed by (parent node, unit), built once at load time. The word graph
// probes a string, then the same string one character longer, and so on:
// walking on from the last node costs one probe of a slot that holds all a
// probe needs (whether the string is a word, its entries' count, handle and
// frequency sum, whether longer words begin with it), without hashing the
// whole string again or reading an entry to confirm it.
//
// Keys are split into the units of KeyPrefixTable (an ASCII byte, or a byte
// of 0x80 or above with the byte after it); a key whose last unit is cut
// off is a prefix of nothing a walk on unit boundaries can reach, so only
// its whole units are stored. Each dictionary cell has a root node.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "segment/HugePageAllocator.h"
#include "segment/KeyFilter.h"

namespace kestrel {

class WordPrefixTrie {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // What is stored for one node: the string from the cell's character to
    // this node.
    struct Node {
        uint64_t key = 0;  // (parent + 1) << 16 | unit; 0: free slot
        double frequencySum = 0;
        int32_t handle = 0;   // of the only entry; 0 with several
        uint16_t count = 0;   // entries of the string as a key (0: no word)
        bool longer = false;  // some key is longer and begins with the string
    };

    void clear();
    bool empty() const { return m_roots.empty(); }
    size_t memoryBytes() const {
        return (m_slots.capacity() + m_roots.capacity()) * sizeof(Node) + m_regions.capacity() * sizeof(uint32_t) +
               m_filter.memoryBytes();
    }

    // Starts a build with the number of nodes below the root of each cell.
    void reset(const std::vector<uint32_t>& cellNodes);
    // Adds one entry of `cell` whose key is `key`. Entries come cell by
    // cell in the cells' order (keys ascending, those of one key in entry
    // order); at most `maxCount` of one key are counted.
    void addEntry(int cell, std::string_view key, int32_t handle, int32_t frequency, int maxCount);
    // Ends a build.
    void finish();

    // The root of a cell (kNone when the trie is empty or has no such cell).
    uint32_t root(int cell) const {
        return static_cast<size_t>(cell) < m_roots.size() ? static_cast<uint32_t>(m_slots.size()) + static_cast<uint32_t>(cell)
                                                          : kNone;
    }
    // The child of `node`, a node of `cell`, by `unit`; kNone when there is none.
    uint32_t child(int cell, uint32_t node, uint32_t unit) const {
        const size_t begin = m_regions[static_cast<size_t>(cell)];
        const size_t end = m_regions[static_cast<size_t>(cell) + 1];
        const uint64_t key = keyOf(node, unit);
        if (begin == end || !m_filter.mayContain(key)) return kNone;
        for (size_t slot = home(begin, end, key);; slot = slot + 1 == end ? begin : slot + 1) {
            const uint64_t k = m_slots[slot].key;
            if (k == key) return static_cast<uint32_t>(slot);
            if (k == 0) return kNone;
        }
    }
    // Starts fetching the slot where child(cell, node, unit) begins to look.
    void prefetchChild(int cell, uint32_t node, uint32_t unit) const {
        const size_t begin = m_regions[static_cast<size_t>(cell)];
        const size_t end = m_regions[static_cast<size_t>(cell) + 1];
        if (begin != end) __builtin_prefetch(&m_slots[home(begin, end, keyOf(node, unit))]);
    }
    const Node& node(uint32_t id) const {
        return id < m_slots.size() ? m_slots[id] : m_roots[id - m_slots.size()];
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
    static uint64_t keyOf(uint32_t parent, uint32_t unit) { return ((static_cast<uint64_t>(parent) + 1) << 16) | unit; }
    // Each cell's nodes have a region of slots of their own, so that the
    // probes of the words that begin with one character stay close together.
    static size_t home(size_t begin, size_t end, uint64_t key) {
        const uint64_t h = key * 0x9E3779B97F4A7C15ull;
        return begin + static_cast<size_t>(((h >> 32) * (end - begin)) >> 32);
    }
    Node& writable(uint32_t id) { return id < m_slots.size() ? m_slots[id] : m_roots[id - m_slots.size()]; }
    // The child of `parent` by `unit`, made when missing.
    uint32_t childOrNew(int cell, uint32_t parent, uint32_t unit);

    HugePageVector<Node> m_slots;   // open addressing; a node's id is its slot
    std::vector<Node> m_roots;      // node id m_slots.size() + cell
    std::vector<uint32_t> m_regions;  // where each cell's slots begin; one more: the end
    // Most probes ask for a child that is not there: the filter of the
    // nodes' keys turns them away before the table is read.
    KeyFilter m_filter;
    size_t m_nodeCount = 0;  // nodes below the roots
    // The last key added and the nodes of its units, which the next key
    // shares up to where the two differ.
    int m_lastCell = -1;
    std::string m_lastKey;
    std::vector<uint32_t> m_lastPath;
};

}  // namespace kestrel
