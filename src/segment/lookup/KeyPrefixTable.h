#pragma once
// A hash table from a key prefix within one dictionary cell to the range of
// the cell's sorted entries whose key begins with it, built once at load
// time: one probe finds a word, or tells whether any word continues a
// string, where a binary search over the cell needs a dozen.
//
// Prefixes are stored where a unit of the key ends (an ASCII byte is one
// unit, a byte of 0x80 or above is one with the byte after it), up to
// kMaxDepth bytes. The units of a string depend only on its own bytes, so a
// string that ends on a unit boundary and begins some key is always one of
// the stored prefixes: the table answers such strings completely, and the
// caller searches the cell for any other. A bit set of the whole keys turns
// most words that are not in the dictionary away before the table is read.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "segment/lookup/HugePageAllocator.h"
#include "segment/lookup/KeyFilter.h"
namespace kestrel {

class KeyPrefixTable {
public:
    static constexpr size_t kMaxDepth = 255;  // longest prefix stored, in bytes

    struct Range {
        uint32_t lo = 0;
        uint32_t hi = 0;
    };

    // Hash of a prefix, eight bytes at a time.
    static uint64_t hashOf(std::string_view prefix) {
        uint64_t hash = (prefix.size() + 1) * 0x9E3779B97F4A7C15ull;
        const char* p = prefix.data();
        size_t left = prefix.size();
        for (; left > 8; p += 8, left -= 8) hash = step(hash, load(p, 8));
        return step(hash, load(p, left));
    }
    // The `n` (at most 8) bytes at `p`, zero-padded, read in at most three
    // loads: on a little-endian machine their little-endian value.
    static uint64_t load(const char* p, size_t n) {
        uint64_t v = 0;
        if (n == 8) {
            std::memcpy(&v, p, 8);
        } else if (n >= 4) {
            uint32_t first = 0;
            uint32_t last = 0;
            std::memcpy(&first, p, 4);
            std::memcpy(&last, p + n - 4, 4);
            v = first | (static_cast<uint64_t>(last) << (8 * (n - 4)));
        } else if (n > 0) {
            const auto b = [&](size_t i) { return static_cast<uint64_t>(static_cast<unsigned char>(p[i])); };
            v = b(0) | (b(n / 2) << (8 * (n / 2))) | (b(n - 1) << (8 * (n - 1)));
        }
        return v;
    }
    static size_t unitLength(unsigned char byte) { return byte < 0x80 ? 1 : 2; }
    // True when `s` (not empty, at most kMaxDepth bytes) is stored whenever
    // some key begins with it.
    static bool answers(std::string_view s) {
        if (s.empty() || s.size() > kMaxDepth) return false;
        size_t i = 0;
        while (i < s.size()) i += unitLength(static_cast<unsigned char>(s[i]));
        return i == s.size();
    }

    void clear();
    // Empties the table for `cells` cells, about `prefixes` prefixes and at
    // most `keys` keys.
    void reset(size_t cells, size_t prefixes, size_t keys);
    // Makes room for `prefixes` prefixes of `cell`, which follows the cells
    // given before. Each cell has a region of its own, so that the probes of
    // the words that begin with one character stay close together.
    void addRegion(int cell, size_t prefixes);
    // Ends the regions after the last one added.
    void finish();
    // Stores a prefix of `depth` bytes of `cell` whose entries are [lo, hi);
    // `whole` when it is itself a key.
    void insert(int cell, size_t depth, uint64_t hash, uint32_t lo, uint32_t hi, bool whole);

    // False when no key of any cell has this hash: a word that is not in the
    // dictionary is mostly turned away by this small bit set, without a look
    // at the larger table.
    bool mayBeKey(int cell, uint64_t hash) const { return m_keys.mayContain(keyOf(cell, hash)); }

    // The range stored for the prefix of `depth` bytes of `cell` with this
    // hash whose first entry `beginsWithPrefix(lo)` confirms.
    template <typename Confirm>
    bool find(int cell, size_t depth, uint64_t hash, Confirm beginsWithPrefix, Range& range) const {
        if (static_cast<size_t>(cell) + 1 >= m_regions.size()) return false;
        const size_t begin = m_regions[static_cast<size_t>(cell)];
        const size_t end = m_regions[static_cast<size_t>(cell) + 1];
        if (begin == end) return false;
        const uint64_t mixed = mix(hash);
        const uint32_t check = checkOf(depth, mixed);
        for (size_t slot = home(begin, end, mixed);; slot = slot + 1 == end ? begin : slot + 1) {
            const Slot& s = m_slots[slot];
            if (s.hi == 0) return false;
            if (s.check == check && beginsWithPrefix(s.lo)) {
                range.lo = s.lo;
                range.hi = s.hi;
                return true;
            }
        }
    }

    size_t memoryBytes() const { return m_slots.capacity() * sizeof(Slot); }

private:
    static uint64_t step(uint64_t hash, uint64_t chunk) {
        hash = (hash ^ chunk) * 0xFF51AFD7ED558CCDull;
        return hash ^ (hash >> 29);
    }
    // A stored prefix: its depth and 24 hash bits in `check`, so that a
    // probe rarely looks at an entry that is not the one sought. hi == 0
    // marks a free slot (a stored range is never empty).
    struct Slot {
        uint32_t check;
        uint32_t lo;
        uint32_t hi;
    };
    static uint64_t mix(uint64_t h) {
        h *= 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 32;
        return h;
    }
    // At most five slots in eight taken: probes stay short.
    static size_t slotsFor(size_t prefixes) { return prefixes == 0 ? 0 : prefixes + prefixes * 3 / 5 + 1; }
    static uint32_t checkOf(size_t depth, uint64_t mixed) {
        return (static_cast<uint32_t>(depth) << 24) | static_cast<uint32_t>(mixed >> 40);
    }
    static size_t home(size_t begin, size_t end, uint64_t mixed) {
        return begin + static_cast<size_t>((static_cast<uint64_t>(static_cast<uint32_t>(mixed)) * (end - begin)) >> 32);
    }

    // A whole key of a cell, as the filter holds it.
    static uint64_t keyOf(int cell, uint64_t hash) { return hash ^ ((static_cast<uint64_t>(cell) + 1) << 40); }

    HugePageVector<Slot> m_slots;
    KeyFilter m_keys;  // the whole keys, about 16 bits each
    std::vector<uint32_t> m_regions;  // where each cell's slots begin; one more: the end
    size_t m_nextCell = 0;            // first cell whose region start is not set
};

}  // namespace kestrel
