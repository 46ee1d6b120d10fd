#pragma once
// Dense ids of words: the first word added gets 0, the next new one 1, and
// so on. A lookup hashes the word once and compares most words by their
// first eight bytes, without reading their text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "segment/lookup/HugePageAllocator.h"

namespace kestrel {

class WordIdTable {
public:
    void clear();
    size_t size() const { return m_offsets.size() - 1; }
    size_t memoryBytes() const;

    // Id of the word, -1 when it was never added.
    int find(std::string_view word) const;
    // Id of the word, added when new (then its id is the old size()).
    int add(std::string_view word);
    std::string_view text(int id) const {
        return std::string_view(m_text).substr(m_offsets[static_cast<size_t>(id)],
                                                m_offsets[static_cast<size_t>(id) + 1] - m_offsets[static_cast<size_t>(id)]);
    }

private:
    // A word's slot: hash bits with the length, and the first eight bytes.
    struct Slot {
        uint32_t check;
        int32_t id;  // -1: free slot
        uint64_t head;
    };
    // The slot of the word, or the free slot where it belongs, with what
    // that slot holds for it.
    size_t slotOf(std::string_view word, Slot& probe) const;
    void grow();

    HugePageVector<Slot> m_slots;  // open addressing, power-of-two size
    size_t m_mask = 0;
    std::string m_text;                  // the words' bytes, by id
    std::vector<uint32_t> m_offsets{0};  // where word id begins in m_text; one more: the end
};

}  // namespace kestrel
