#include "segment/lookup/WordIdTable.h"

#include <algorithm>

#include "segment/lookup/KeyPrefixTable.h"

namespace kestrel {

void WordIdTable::clear() {
    m_slots.clear();
    m_mask = 0;
    m_text.clear();
    m_offsets.assign(1, 0);
}

void WordIdTable::grow() {
    size_t wanted = 16;
    while (wanted < m_slots.size() * 2) wanted *= 2;
    HugePageVector<Slot> old(wanted, Slot{0, -1, 0});
    old.swap(m_slots);
    m_mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.id < 0) continue;
        Slot probe;
        m_slots[slotOf(text(s.id), probe)] = s;
    }
}

size_t WordIdTable::slotOf(std::string_view word, Slot& probe) const {
    const uint64_t hash = KeyPrefixTable::hashOf(word);
    probe.check = (static_cast<uint32_t>(hash >> 32) & 0xFFFFFF00u) | static_cast<uint32_t>(std::min<size_t>(word.size(), 255));
    probe.head = KeyPrefixTable::load(word.data(), std::min<size_t>(word.size(), 8));
    for (size_t slot = static_cast<size_t>(hash) & m_mask;; slot = (slot + 1) & m_mask) {
        const Slot& s = m_slots[slot];
        if (s.id < 0) return slot;
        if (s.check == probe.check && s.head == probe.head && (word.size() <= 8 || text(s.id) == word)) return slot;
    }
}

int WordIdTable::find(std::string_view word) const {
    if (m_slots.empty()) return -1;
    Slot probe;
    return m_slots[slotOf(word, probe)].id;
}

int WordIdTable::add(std::string_view word) {
    const size_t count = size();
    if ((count + 1) * 2 > m_slots.size()) grow();
    Slot probe;
    const size_t slot = slotOf(word, probe);
    if (m_slots[slot].id >= 0) return m_slots[slot].id;
    probe.id = static_cast<int>(count);
    m_slots[slot] = probe;
    m_text.append(word);
    m_offsets.push_back(static_cast<uint32_t>(m_text.size()));
    return probe.id;
}

size_t WordIdTable::memoryBytes() const {
    return m_slots.capacity() * sizeof(Slot) + m_text.capacity() + m_offsets.capacity() * sizeof(uint32_t);
}

}  // namespace kestrel
