#include "segment/lookup/KeyPrefixTable.h"

namespace kestrel {

void KeyPrefixTable::clear() {
    m_slots.clear();
    m_slots.shrink_to_fit();
    m_regions.clear();
    m_regions.shrink_to_fit();
    m_keys.clear();
}

void KeyPrefixTable::reset(size_t cells, size_t prefixes, size_t keys) {
    m_keys.reset(keys, 4);
    m_slots.clear();
    // Room the table may not need costs address space only.
    m_slots.reserve(slotsFor(prefixes));
    m_regions.assign(cells + 1, 0);
    m_nextCell = 0;
}

void KeyPrefixTable::addRegion(int cell, size_t prefixes) {
    while (m_nextCell <= static_cast<size_t>(cell)) m_regions[m_nextCell++] = static_cast<uint32_t>(m_slots.size());
    m_slots.resize(m_slots.size() + slotsFor(prefixes), Slot{0, 0, 0});
    m_regions[static_cast<size_t>(cell) + 1] = static_cast<uint32_t>(m_slots.size());
}

void KeyPrefixTable::finish() {
    while (m_nextCell < m_regions.size()) m_regions[m_nextCell++] = static_cast<uint32_t>(m_slots.size());
}

void KeyPrefixTable::insert(int cell, size_t depth, uint64_t hash, uint32_t lo, uint32_t hi, bool whole) {
    const size_t begin = m_regions[static_cast<size_t>(cell)];
    const size_t end = m_regions[static_cast<size_t>(cell) + 1];
    const uint64_t mixed = mix(hash);
    if (whole) m_keys.add(keyOf(cell, hash));
    size_t slot = home(begin, end, mixed);
    while (m_slots[slot].hi != 0) slot = slot + 1 == end ? begin : slot + 1;
    m_slots[slot] = Slot{checkOf(depth, mixed), lo, hi};
}

}  // namespace kestrel
