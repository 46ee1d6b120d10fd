#include "segment/CDictionary.h"

#include <algorithm>
#include <cstring>

#include "common/FileSystem.h"
#include "common/LittleEndian.h"
#include "segment/CharClass.h"

namespace kestrel {

namespace {

// Keys compare as unsigned bytes (string_view's compare is memcmp-based).
int compareKeys(std::string_view a, std::string_view b) { return a.compare(b); }

std::string_view trimBlanks(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && s[begin] == ' ') ++begin;
    while (end > begin && s[end - 1] == ' ') --end;
    return s.substr(begin, end - begin);
}

}  // namespace

bool CDictionary::locate(std::string_view word, Location& where) {
    const int cls = charClass(word);
    const std::string_view trimmed = trimBlanks(word);
    where = Location{};
    if (trimmed.empty() && !word.empty()) return false;  // blanks only
    if (cls == CT_CHINESE) {
        const unsigned char lead = byteAt(trimmed, 0);
        const unsigned char trail = byteAt(trimmed, 1);
        // Only the GB2312 positions have cells: a GBK extension character
        // (trail byte below A1) or a cut-off lead byte has none.
        if (trimmed.size() < 2 || lead < 0xB0 || lead > 0xF7 || trail < 0xA1 || trail > 0xFE)
            return false;
        where.cell = (lead - 0xB0) * 94 + (trail - 0xA1);
        where.head = trimmed.substr(0, 2);
        where.key = trimmed.substr(2);
        return true;
    }
    if (cls == CT_DELIMITER) {
        where.cell = kDelimiterCell;
        where.key = trimmed;
        return true;
    }
    return false;
}

bool CDictionary::preprocessWord(std::string& word, int& cell, std::string& key) {
    const int cls = charClass(word);
    size_t begin = 0;
    size_t end = word.size();
    while (begin < end && word[begin] == ' ') ++begin;
    while (end > begin && word[end - 1] == ' ') --end;
    const bool blanksOnly = (begin == end) && !word.empty();
    word = word.substr(begin, end - begin);
    cell = -1;
    key.clear();
    if (blanksOnly) return false;
    if (cls == CT_CHINESE) {
        Location where;
        // The class was taken before trimming: a leading blank never gets here.
        if (!locate(word, where)) return false;
        cell = where.cell;
        key.assign(where.key);
        return true;
    }
    if (cls == CT_DELIMITER) {
        cell = kDelimiterCell;
        key = word;
        return true;
    }
    return false;
}

void CDictionary::indexCell(int cell) {
    const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
    CellIndex& index = m_index[static_cast<size_t>(cell)];
    index.heads.clear();
    index.starts.clear();
    for (size_t i = 0; i < items.size(); ++i) {
        const auto head = static_cast<uint16_t>(items[i].prefix >> 48);
        if (index.heads.empty() || index.heads.back() != head) {
            index.heads.push_back(head);
            index.starts.push_back(static_cast<uint32_t>(i));
        }
    }
    index.starts.push_back(static_cast<uint32_t>(items.size()));
}

size_t CDictionary::lowerBoundIn(const std::vector<Item>& items, size_t lo, size_t hi, std::string_view key) const {
    const uint64_t keyPrefix = prefixOf(key);
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (compareItem(items[mid], key, keyPrefix) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

size_t CDictionary::lowerBound(int cell, std::string_view key) const {
    if (key.empty()) return 0;  // the empty key sorts first
    const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
    const CellIndex& index = m_index[static_cast<size_t>(cell)];
    const auto head = static_cast<uint16_t>(prefixOf(key) >> 48);
    const auto at = std::lower_bound(index.heads.begin(), index.heads.end(), head);
    const size_t h = static_cast<size_t>(at - index.heads.begin());
    if (at == index.heads.end() || *at != head) return h < index.starts.size() ? index.starts[h] : items.size();
    return lowerBoundIn(items, index.starts[h], index.starts[h + 1], key);
}

namespace {

inline uint32_t headKey(int cell, uint16_t head) {
    return static_cast<uint32_t>(cell) * 65536u + head + 1u;
}

inline size_t headHash(uint32_t key, size_t mask) { return (static_cast<size_t>(key) * 0x9E3779B1u >> 7) & mask; }

}  // namespace

void CDictionary::buildHeadTable() {
    size_t heads = 0;
    for (const CellIndex& index : m_index) heads += index.heads.size();
    size_t size = 16;
    while (size < heads * 2) size *= 2;
    m_headTable.assign(size, HeadSlot{});
    const size_t mask = size - 1;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const CellIndex& index = m_index[static_cast<size_t>(cell)];
        for (size_t h = 0; h < index.heads.size(); ++h) {
            const uint32_t key = headKey(cell, index.heads[h]);
            size_t slot = headHash(key, mask);
            while (m_headTable[slot].key != 0) slot = (slot + 1) & mask;
            m_headTable[slot] = HeadSlot{key, index.starts[h], index.starts[h + 1]};
        }
    }
    m_headTableValid = true;
}

bool CDictionary::headRange(int cell, std::string_view key, size_t& lo, size_t& hi) const {
    const auto head = static_cast<uint16_t>((static_cast<unsigned>(static_cast<unsigned char>(key[0])) << 8) |
                                            static_cast<unsigned char>(key[1]));
    if (m_headTableValid) {
        const uint32_t wanted = headKey(cell, head);
        const size_t mask = m_headTable.size() - 1;
        for (size_t slot = headHash(wanted, mask);; slot = (slot + 1) & mask) {
            const HeadSlot& s = m_headTable[slot];
            if (s.key == 0) return false;
            if (s.key == wanted) {
                lo = s.lo;
                hi = s.hi;
                return true;
            }
        }
    }
    const CellIndex& index = m_index[static_cast<size_t>(cell)];
    const auto at = std::lower_bound(index.heads.begin(), index.heads.end(), head);
    if (at == index.heads.end() || *at != head) return false;
    const size_t h = static_cast<size_t>(at - index.heads.begin());
    lo = index.starts[h];
    hi = index.starts[h + 1];
    return true;
}

long CDictionary::findEntry(int cell, std::string_view key, int handle) const {
    const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
    size_t at = 0;
    size_t end = items.size();
    if (key.size() >= 2) {
        if (!headRange(cell, key, at, end)) return -1;
        at = lowerBoundIn(items, at, end, key);
    } else if (!key.empty()) {
        at = lowerBound(cell, key);
    }  // the empty key sorts first
    if (handle != -1) {
        while (at < end && items[at].handle < handle && textOf(items[at]) == key) ++at;
    }
    if (at < end && textOf(items[at]) == key && (handle == -1 || items[at].handle == handle))
        return static_cast<long>(at);
    return -1;
}

// The search the positions are defined by is a plain binary search over the
// cell (lo = 0, hi = count - 1, mid = (lo + hi) / 2; on a miss the position
// is mid - 1 of the last mid). Its probes end with lo at the insertion point
// L of (key, handle) and the last mid at L - 1 (0 when L is 0), so the
// indexed search gives the same results.
bool CDictionary::findWord(int cell, std::string_view key, int handle, int* position) const {
    if (cell < 0 || cell >= kCellCount) {
        if (position) *position = -1;
        return false;
    }
    const long found = findEntry(cell, key, handle);
    if (found >= 0) {
        if (position) *position = static_cast<int>(found);
        return true;
    }
    if (position) {
        const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
        size_t at = lowerBound(cell, key);
        if (handle != -1) {
            while (at < items.size() && items[at].handle < handle && textOf(items[at]) == key) ++at;
        }
        *position = at >= 2 ? static_cast<int>(at) - 2 : -1;
    }
    return false;
}

CDictionary::PrefixRange CDictionary::prefixRange(std::string_view prefix) const {
    PrefixRange range;
    Location where;
    if (m_entryCount == 0 || !locate(prefix, where) || where.key.empty()) return range;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    size_t lo = 0;
    size_t hi = items.size();
    if (where.key.size() >= 2) {
        if (!headRange(where.cell, where.key, lo, hi)) return range;
        lo = lowerBoundIn(items, lo, hi, where.key);
        if (lo >= hi || textOf(items[lo]).substr(0, where.key.size()) != where.key) return range;
    } else {
        // One byte: the heads that begin with it.
        const CellIndex& index = m_index[static_cast<size_t>(where.cell)];
        const auto first = static_cast<uint16_t>(static_cast<unsigned char>(where.key[0]) << 8);
        const auto from = std::lower_bound(index.heads.begin(), index.heads.end(), first);
        if (from == index.heads.end() || (*from >> 8) != (first >> 8)) return range;
        auto to = from;
        while (to != index.heads.end() && (*to >> 8) == (first >> 8)) ++to;
        lo = index.starts[static_cast<size_t>(from - index.heads.begin())];
        hi = index.starts[static_cast<size_t>(to - index.heads.begin())];
    }
    range.cell = where.cell;
    range.lo = lo;
    range.hi = hi;
    range.headLength = where.head.size();
    return range;
}

int CDictionary::frequencyInRange(const PrefixRange& range, std::string_view word, int handle) const {
    if (range.empty() || word.size() < range.headLength) return 0;
    const long at = findEntry(range.cell, word.substr(range.headLength), handle);
    return at < 0 ? 0 : m_cells[static_cast<size_t>(range.cell)][static_cast<size_t>(at)].frequency;
}

bool CDictionary::isWord(std::string_view word, int handle) const {
    if (m_entryCount == 0) return false;  // nothing to find (e.g. no bigram data)
    Location where;
    if (!locate(word, where)) return false;
    return findEntry(where.cell, where.key, handle) >= 0;
}

int CDictionary::getHandles(std::string_view word, int* handles, int* frequencies, int capacity) const {
    if (m_entryCount == 0) return 0;  // nothing to find (e.g. no bigram data)
    Location where;
    if (!locate(word, where)) return 0;
    const long position = findEntry(where.cell, where.key, -1);
    if (position < 0) return 0;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    int count = 0;
    for (size_t i = static_cast<size_t>(position); i < items.size() && count < capacity; ++i) {
        if (textOf(items[i]) != where.key) break;
        if (handles) handles[count] = items[i].handle;
        if (frequencies) frequencies[count] = items[i].frequency;
        ++count;
    }
    return count;
}

int CDictionary::getFrequency(std::string_view word, int handle) const {
    if (m_entryCount == 0) return 0;  // nothing to find (e.g. no bigram data)
    Location where;
    if (!locate(word, where)) return 0;
    const long position = findEntry(where.cell, where.key, handle);
    if (position < 0) return 0;
    return m_cells[static_cast<size_t>(where.cell)][static_cast<size_t>(position)].frequency;
}

bool CDictionary::getMaxMatch(std::string_view s, std::string& word, int& handle) const {
    if (m_entryCount == 0) return false;  // nothing to find (e.g. no bigram data)
    Location where;
    if (!locate(s, where)) return false;
    // The entries that begin with the key follow one another from the first
    // entry not smaller than the key; findWord's start position is never
    // behind that entry, so the first match from there is the same one.
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    size_t at = 0;
    size_t end = items.size();
    if (where.key.size() >= 2) {
        if (!headRange(where.cell, where.key, at, end)) return false;
        at = lowerBoundIn(items, at, end, where.key);
    } else {
        at = lowerBound(where.cell, where.key);
    }
    if (at >= end) return false;
    const std::string_view text = textOf(items[at]);
    if (text.substr(0, where.key.size()) != where.key) return false;
    word.assign(where.head);
    word.append(text);
    handle = items[at].handle;
    return true;
}

CDictionary::PrefixProbe CDictionary::probePrefix(std::string_view s) const {
    PrefixProbe probe;
    if (m_entryCount == 0) return probe;
    Location where;
    if (!locate(s, where)) return probe;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    size_t at = 0;
    size_t end = items.size();
    if (where.key.size() >= 2) {
        if (!headRange(where.cell, where.key, at, end)) return probe;
        at = lowerBoundIn(items, at, end, where.key);
    } else {
        at = lowerBound(where.cell, where.key);
    }
    if (at >= end) return probe;
    const std::string_view text = textOf(items[at]);
    if (text.substr(0, where.key.size()) != where.key) return probe;
    probe.prefix = true;
    if (text.size() != where.key.size()) return probe;
    probe.exact = true;
    int count = 0;
    for (; at < end && count < kMaxHandles && textOf(items[at]) == where.key; ++at, ++count) {
        probe.frequencySum += items[at].frequency;
        probe.handle = items[at].handle;
    }
    if (count != 1) probe.handle = 0;
    return probe;
}

void CDictionary::release() {
    for (auto& cell : m_cells) {
        cell.clear();
        cell.shrink_to_fit();
    }
    for (auto& index : m_index) index = CellIndex();
    m_headTable.clear();
    m_headTable.shrink_to_fit();
    m_headTableValid = false;
    m_text.clear();
    m_text.shrink_to_fit();
    m_entryCount = 0;
}

bool CDictionary::addWord(std::string_view word, int handle, int frequency) {
    Location where;
    if (!locate(word, where)) return false;
    std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    int position = 0;
    if (findWord(where.cell, where.key, handle, &position)) {
        items[static_cast<size_t>(position)].frequency = frequency;
        return true;
    }
    // Insert after every entry that sorts before (key, handle).
    auto it = std::lower_bound(items.begin(), items.end(), 0, [&](const Item& item, int) {
        const int cmp = compareKeys(textOf(item), where.key);
        return cmp < 0 || (cmp == 0 && item.handle < handle);
    });
    const std::string key(where.key);  // `word` may live in m_text
    Item item{prefixOf(key), static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(key.size()), handle,
              frequency};
    m_text.append(key);
    items.insert(it, item);
    indexCell(where.cell);
    m_headTableValid = false;
    ++m_entryCount;
    return true;
}

bool CDictionary::load(const std::string& path, std::string& error) {
    std::string bytes;
    std::string readError;
    if (!readFile(path, bytes, &readError)) {
        release();
        error = readError.empty() ? "cannot read dictionary file " + path : readError;
        return false;
    }
    return loadFromBytes(bytes, path, error);
}

bool CDictionary::loadFromBytes(std::string_view bytes, const std::string& name, std::string& error) {
    release();
    size_t pos = 0;
    auto fail = [&](int cell, const std::string& what) {
        release();
        error = "dictionary file " + name + " is damaged: " + what + " (cell " + std::to_string(cell) +
                ", byte offset " + std::to_string(pos) + ")";
        return false;
    };
    if (bytes.size() > 0xFFFFFFF0u) return fail(0, "file too large");
    m_text.reserve(bytes.size());
    for (int cell = 0; cell < kCellCount; ++cell) {
        int32_t count = 0;
        if (!readInt32(bytes, pos, count)) return fail(cell, "file ends before all cells were read");
        if (count <= 0) continue;
        // Each entry takes at least 12 bytes: a count beyond that is garbage.
        if (static_cast<uint64_t>(count) * 12 > bytes.size() - pos)
            return fail(cell, "entry count " + std::to_string(count) + " exceeds the file size");
        std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
        items.resize(static_cast<size_t>(count));
        bool sorted = true;
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        for (int32_t i = 0; i < count; ++i) {
            if (bytes.size() - pos < 12) return fail(cell, "file ends inside an entry");
            const unsigned char* p = data + pos;
            auto int32At = [](const unsigned char* q) {
                return static_cast<int32_t>(static_cast<uint32_t>(q[0]) | (static_cast<uint32_t>(q[1]) << 8) |
                                            (static_cast<uint32_t>(q[2]) << 16) | (static_cast<uint32_t>(q[3]) << 24));
            };
            const int32_t frequency = int32At(p);
            const int32_t length = int32At(p + 4);
            const int32_t handle = int32At(p + 8);
            pos += 12;
            if (length < 0) return fail(cell, "negative text length " + std::to_string(length));
            if (static_cast<size_t>(length) > bytes.size() - pos)
                return fail(cell, "text length " + std::to_string(length) + " exceeds the file size");
            size_t textLength = static_cast<size_t>(length);
            // Texts are NUL-terminated strings in memory: a NUL ends one.
            for (size_t k = 0; k < textLength; ++k) {
                if (data[pos + k] == 0) {
                    textLength = k;
                    break;
                }
            }
            const std::string_view text(bytes.data() + pos, textLength);
            pos += static_cast<size_t>(length);
            Item& item = items[static_cast<size_t>(i)];
            item = Item{prefixOf(text), static_cast<uint32_t>(m_text.size()), static_cast<uint32_t>(textLength),
                        handle, frequency};
            m_text.append(text);
            if (sorted && i > 0) {
                const Item& prev = items[static_cast<size_t>(i) - 1];
                const int cmp = compareItem(prev, text, item.prefix);
                if (cmp > 0 || (cmp == 0 && prev.handle > handle)) sorted = false;
            }
        }
        // Lookups are binary searches: restore the order if a file lost it.
        if (!sorted) {
            std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
                const int cmp = compareKeys(textOf(a), textOf(b));
                return cmp < 0 || (cmp == 0 && a.handle < b.handle);
            });
        }
        m_entryCount += items.size();
        indexCell(cell);
    }
    buildHeadTable();
    return true;
}

std::string CDictionary::serialize() const {
    std::string out;
    out.reserve(m_text.size() + m_entryCount * 12 + kCellCount * 4);
    for (const auto& items : m_cells) {
        appendInt32(out, static_cast<int32_t>(items.size()));
        for (const Item& item : items) {
            appendInt32(out, item.frequency);
            appendInt32(out, static_cast<int32_t>(item.length));
            appendInt32(out, item.handle);
            out.append(textOf(item));
        }
    }
    return out;
}

bool CDictionary::save(const std::string& path, std::string& error) const {
    std::string writeError;
    if (!writeFileAtomically(path, serialize(), &writeError)) {
        error = writeError.empty() ? "cannot write dictionary file " + path : writeError;
        return false;
    }
    return true;
}

std::vector<CDictionary::Entry> CDictionary::cellEntries(int cell) const {
    std::vector<Entry> entries;
    if (cell < 0 || cell >= kCellCount) return entries;
    for (const Item& item : m_cells[static_cast<size_t>(cell)])
        entries.push_back(Entry{std::string(textOf(item)), item.handle, item.frequency});
    return entries;
}

}  // namespace kestrel
