#include "segment/CDictionary.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "segment/CharClass.h"

namespace kestrel {

namespace {

std::string_view trimBlanks(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && s[begin] == ' ') ++begin;
    while (end > begin && s[end - 1] == ' ') --end;
    return s.substr(begin, end - begin);
}

}  // namespace

uint64_t CDictionary::nextVersion() {
    static std::atomic<uint64_t> versions{0};
    return ++versions;
}

bool CDictionary::locate(std::string_view word, Location& where) {
    // The common case first: a word that begins with a GB2312 ideograph and
    // does not end in a blank is its own trimmed form.
    if (word.size() >= 2 && word.back() != ' ') {
        const auto lead = static_cast<unsigned char>(word[0]);
        const auto trail = static_cast<unsigned char>(word[1]);
        if (lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1 && trail <= 0xFE) {
            where.cell = (lead - 0xB0) * 94 + (trail - 0xA1);
            where.head = word.substr(0, 2);
            where.key = word.substr(2);
            return true;
        }
    }
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
    return lowerBoundIn(items, 0, items.size(), key);
}

void CDictionary::buildPrefixTable() {
    struct Prefix {
        uint64_t hash;
        uint32_t lo;
        uint32_t hi;
        size_t depth;
        bool whole;
    };
    std::vector<Prefix> prefixes;  // of one cell
    std::vector<size_t> open;      // those whose range has not ended, shortest first
    // Each key adds about one prefix per unit; ASCII keys are rare.
    m_prefixes.reset(kCellCount, m_text.size() / 2 + 1, m_entryCount);
    std::vector<uint32_t> trieNodes(kCellCount, 0);
    for (int cell = 0; cell < kCellCount; ++cell) {
        const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
        if (items.empty()) continue;
        prefixes.clear();
        size_t longKeyBytes = 0;
        for (size_t i = 0; i <= items.size(); ++i) {
            // The prefixes a key adds to those of the entry before it are
            // new, because the entries that share a prefix follow one
            // another; those longer than what it keeps end here.
            size_t common = 0;
            std::string_view text;
            if (i < items.size()) {
                text = textOf(items[i]);
                if (i > 0) common = commonBytes(items[i - 1], items[i]);
            }
            while (!open.empty() && prefixes[open.back()].depth > common) {
                prefixes[open.back()].hi = static_cast<uint32_t>(i);
                open.pop_back();
            }
            const size_t longest = std::min(text.size(), KeyPrefixTable::kMaxDepth);
            longKeyBytes += text.size() - longest;
            size_t depth = 0;
            while (depth < longest) {
                depth += KeyPrefixTable::unitLength(static_cast<unsigned char>(text[depth]));
                if (depth > longest) break;
                if (depth <= common) continue;
                open.push_back(prefixes.size());
                prefixes.push_back(Prefix{KeyPrefixTable::hashOf(text.substr(0, depth)), static_cast<uint32_t>(i), 0, depth,
                                          depth == text.size()});
            }
        }
        m_prefixes.addRegion(cell, prefixes.size());
        // The trie's nodes of the cell are these prefixes and the units of
        // keys beyond the table's depth.
        trieNodes[static_cast<size_t>(cell)] = static_cast<uint32_t>(prefixes.size() + longKeyBytes);
        for (const Prefix& p : prefixes) m_prefixes.insert(cell, p.depth, p.hash, p.lo, p.hi, p.whole);
    }
    m_prefixes.finish();
    buildWordTrie(trieNodes);
    m_prefixesValid = true;
}

void CDictionary::buildWordTrie(const std::vector<uint32_t>& cellNodes) {
    m_trie.reset(cellNodes);
    for (int cell = 0; cell < kCellCount; ++cell) {
        const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
        for (size_t i = 0; i < items.size(); ++i) {
            m_trie.addEntry(cell, textOf(items[i]), items[i].handle, items[i].frequency, kMaxHandles,
                            i == 0 ? 0 : commonBytes(items[i - 1], items[i]));
        }
    }
    m_trie.finish();
}

void CDictionary::usePrefixTable(bool use) {
    if (use && !m_prefixesValid) {
        buildPrefixTable();
    } else if (!use) {
        m_prefixes.clear();
        m_trie.clear();
        m_prefixesValid = false;
    }
}

bool CDictionary::keyRange(int cell, std::string_view key, size_t& lo, size_t& hi, bool wholeKey) const {
    // Most keys sought whole are not there, and the filter of the prefix
    // table, which is small, says so before the cell is read.
    const bool indexed = m_prefixesValid && KeyPrefixTable::answers(key);
    const uint64_t hash = indexed ? KeyPrefixTable::hashOf(key) : 0;
    if (indexed && wholeKey && !m_prefixes.mayBeKey(cell, hash)) return false;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
    if (items.empty()) return false;
    if (key.empty()) {
        lo = 0;
        hi = items.size();
        return true;
    }
    const uint64_t keyPrefix = prefixOf(key);
    if (indexed) {
        KeyPrefixTable::Range range;
        const bool found = m_prefixes.find(
            cell, key.size(), hash,
            [&](uint32_t first) { return first < items.size() && beginsWith(items[first], key, keyPrefix); }, range);
        lo = range.lo;
        hi = range.hi;
        return found;
    }
    lo = lowerBoundIn(items, 0, items.size(), key);
    if (lo >= items.size() || !beginsWith(items[lo], key, keyPrefix)) return false;
    // The entries that begin with the key end where the first one does not.
    size_t from = lo + 1;
    size_t to = items.size();
    while (from < to) {
        const size_t mid = from + (to - from) / 2;
        if (beginsWith(items[mid], key, keyPrefix))
            from = mid + 1;
        else
            to = mid;
    }
    hi = from;
    return true;
}

long CDictionary::findEntry(int cell, std::string_view key, int handle) const {
    size_t lo = 0;
    size_t hi = 0;
    if (!keyRange(cell, key, lo, hi, true)) return -1;
    // The key's own entries come first in its range, by ascending handle.
    const std::vector<Item>& items = m_cells[static_cast<size_t>(cell)];
    for (size_t at = lo; at < hi && items[at].length == key.size(); ++at) {
        if (handle == -1 || items[at].handle == handle) return static_cast<long>(at);
        if (items[at].handle > handle) break;
    }
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
    if (!keyRange(where.cell, where.key, range.lo, range.hi)) {
        range.lo = range.hi = 0;
        return range;
    }
    range.cell = where.cell;
    range.headLength = where.head.size();
    return range;
}

int CDictionary::frequencyInRange(const PrefixRange& range, std::string_view word, int handle) const {
    if (range.empty() || word.size() < range.headLength) return 0;
    const long at = findEntry(range.cell, word.substr(range.headLength), handle);
    return at < 0 ? 0 : m_cells[static_cast<size_t>(range.cell)][static_cast<size_t>(at)].frequency;
}

void CDictionary::buildPairIndex(WordPairIndex& pairs) const {
    pairs.clear();
    pairs.reserve(m_entryCount);
    std::string text;
    for (int cell = 0; cell < kCellCount; ++cell) {
        const char head[2] = {static_cast<char>(0xB0 + cell / 94), static_cast<char>(0xA1 + cell % 94)};
        for (const Item& item : m_cells[static_cast<size_t>(cell)]) {
            const std::string_view key = textOf(item);
            if (item.handle != 3 || key.find('@') == std::string_view::npos) continue;
            // The texts whose lookup lands on this entry: the cell's character
            // and the key, and in the delimiter cell (which is also the cell
            // of the unassigned code D7 FA) the key alone. A text that the
            // lookup would trim never lands here.
            for (int form = 0; form < (cell == kDelimiterCell ? 2 : 1); ++form) {
                text.assign(form == 0 ? std::string_view(head, 2) : std::string_view());
                text.append(key);
                // The cell's character and a key that ends in no blank
                // land on the key without a look.
                const bool lands = form == 0 && (key.empty() || key.back() != ' ');
                Location where;
                if (!lands && (!locate(text, where) || where.cell != cell || where.key != key)) continue;
                // Split at every '@': a word of the pair may hold one itself.
                // The first entry of a text with handle 3 is the one found,
                // and the index keeps the first count of a pair.
                for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1))
                    pairs.add(std::string_view(text).substr(0, at), std::string_view(text).substr(at + 1),
                              item.frequency);
            }
        }
    }
    pairs.finish();
}

const WordPairIndex* CDictionary::buildPairIndexOnce() const {
    LazyPairIndex* lazy = m_pairs.get();
    if (!lazy) return nullptr;
    std::call_once(lazy->built, [&] {
        buildPairIndex(lazy->index);
        // Pairs the index cannot hold are looked up by their text.
        lazy->complete = lazy->index.complete();
        if (!lazy->complete) lazy->index.clear();
        lazy->ready.store(true, std::memory_order_release);
    });
    return lazy->complete ? &lazy->index : nullptr;
}

int CDictionary::pairFrequencyOfText(std::string_view first, std::string_view second, std::string& scratch) const {
    scratch.assign(first);
    scratch.push_back('@');
    scratch.append(second);
    return getFrequency(scratch, 3);
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
    size_t lo = 0;
    size_t hi = 0;
    if (!locate(word, where) || !keyRange(where.cell, where.key, lo, hi, true)) return 0;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    int count = 0;
    for (size_t i = lo; i < hi && count < capacity && items[i].length == where.key.size(); ++i) {
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
    size_t lo = 0;
    size_t hi = 0;
    if (!locate(s, where) || !keyRange(where.cell, where.key, lo, hi)) return false;
    // The first entry that begins with the key is the first one not smaller.
    const Item& item = m_cells[static_cast<size_t>(where.cell)][lo];
    word.assign(where.head);
    word.append(textOf(item));
    handle = item.handle;
    return true;
}

CDictionary::PrefixProbe CDictionary::probePrefix(std::string_view s) const {
    PrefixProbe probe;
    if (m_entryCount == 0) return probe;
    Location where;
    size_t at = 0;
    size_t end = 0;
    if (!locate(s, where) || !keyRange(where.cell, where.key, at, end)) return probe;
    probe.prefix = true;
    const std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    if (items[at].length != where.key.size()) return probe;
    probe.exact = true;
    int count = 0;
    for (; at < end && count < kMaxHandles && items[at].length == where.key.size(); ++at, ++count) {
        probe.frequencySum += items[at].frequency;
        probe.handle = items[at].handle;
    }
    if (count != 1) probe.handle = 0;
    probe.count = count;
    return probe;
}

CDictionary::PrefixProbe CDictionary::probeExtension(PrefixWalk& walk, std::string_view s) const {
    if (!walk.started) {
        walk.started = true;
        // The trie serves strings that begin with the character of a cell.
        Location where;
        // A string without a cell begins no word, nor does any longer one
        // (their first character is the same).
        if (m_entryCount == 0 || !locate(s, where)) {
            walk.fallback = true;
            return PrefixProbe{};
        }
        walk.fallback =
            !m_prefixesValid || m_trie.empty() || where.head.size() != 2 || where.head.data() != s.data();
        if (!walk.fallback) {
            walk.cell = where.cell;
            walk.node = m_trie.root(where.cell);
            walk.walked = 2;
            walk.fallback = walk.node == WordPrefixTrie::kNone;
        }
    }
    // A string that ends in a blank, which a lookup trims, is looked up by
    // itself; the walk goes on with the next one.
    if (walk.fallback || s.back() == ' ') return probePrefix(s);
    uint32_t unit = 0;
    while (walk.node != WordPrefixTrie::kNone && walk.walked < s.size()) {
        const size_t length = WordPrefixTrie::unitAt(s, walk.walked, unit);
        if (length == 0) break;
        walk.node = m_trie.child(walk.cell, walk.node, unit);
        walk.walked += length;
    }
    PrefixProbe probe;
    if (walk.node == WordPrefixTrie::kNone) {
        // A shorter string on a unit boundary begins no word: nor does `s`.
        probe.longer = false;
        return probe;
    }
    // So is a string that ends inside a unit.
    if (walk.walked != s.size()) return probePrefix(s);
    probe = probeOfNode(walk.node);
    if (walk.headless) probe.node = WordPrefixTrie::kNone;
    return probe;
}

CDictionary::PrefixProbe CDictionary::probeOfNode(uint32_t node) const {
    const WordPrefixTrie::Node n = m_trie.node(node);
    PrefixProbe probe;
    probe.prefix = n.count > 0 || n.longer;
    probe.exact = n.count > 0;
    probe.frequencySum = n.frequencySum;
    probe.handle = n.handle;
    probe.count = n.count;
    probe.longer = n.longer;
    probe.node = node;
    return probe;
}

void CDictionary::walkSentence(const std::vector<uint32_t>& units, SentenceWalks& walks) const {
    const size_t count = units.size();
    walks.depth.assign(count, 0);
    walks.walks.resize(count);
    if (!m_prefixesValid || m_trie.empty() || m_entryCount == 0) return;
    std::vector<SentenceWalks::Going>& going = walks.going;
    std::vector<SentenceWalks::Going>& second = walks.second;
    going.clear();
    second.clear();
    std::vector<PrefixProbe>& first = walks.level(1, count);
    const uint32_t delimiters = m_trie.root(kDelimiterCell);
    for (size_t start = 0; start < count; ++start) {
        const uint32_t lead = units[start] >> 8;
        const uint32_t trail = units[start] & 0xFF;
        const auto at = static_cast<uint32_t>(start);
        if (lead >= 0xB0 && lead <= 0xF7 && trail >= 0xA1 && trail <= 0xFE) {
            // A GB2312 ideograph: the root of its cell is the string's node.
            const int cell = static_cast<int>((lead - 0xB0) * 94 + (trail - 0xA1));
            const uint32_t root = m_trie.root(cell);
            if (root == WordPrefixTrie::kNone) continue;
            walks.walks[start] = PrefixWalk{cell, root, 2, true, false};
            walks.depth[start] = 1;
            first[start] = probeOfNode(root);
            if (first[start].longer && start + 1 < count && units[start + 1] != 0)
                second.push_back({at, root, cell, false});
        } else if (delimiters != WordPrefixTrie::kNone &&
                   (lead == 0xA1 || (lead == 0xA3 && !(trail >= 0xB0 && trail <= 0xB9) &&
                                     !(trail >= 0xC1 && trail <= 0xDA) && !(trail >= 0xE1 && trail <= 0xFA)))) {
            // A double-byte delimiter: its whole string is the key in the
            // delimiter cell, walked from that cell's root.
            walks.walks[start] = PrefixWalk{kDelimiterCell, delimiters, 0, true, false, true};
            going.push_back({at, delimiters, kDelimiterCell, true});
        }
    }
    if (!going.empty()) advanceWalks(units, walks, 1);
    going.insert(going.end(), second.begin(), second.end());
    for (size_t k = 2; !going.empty(); ++k) advanceWalks(units, walks, k);
}

void CDictionary::advanceWalks(const std::vector<uint32_t>& units, SentenceWalks& walks, size_t k) const {
    // The probes of atoms [start, start + k): each walk takes one unit more.
    std::vector<SentenceWalks::Going>& going = walks.going;
    std::vector<PrefixProbe>& probes = walks.level(k, units.size());
    for (const SentenceWalks::Going& w : going) m_trie.prefetchChild(w.cell, w.node, units[w.start + k - 1]);
    size_t kept = 0;
    for (const SentenceWalks::Going& w : going) {
        const uint32_t node = m_trie.child(w.cell, w.node, units[w.start + k - 1]);
        PrefixWalk& walk = walks.walks[w.start];
        walk.node = node;
        walk.walked += 2;
        walks.depth[w.start] = static_cast<uint32_t>(k);
        PrefixProbe& probe = probes[w.start];
        if (node == WordPrefixTrie::kNone) {
            probe = PrefixProbe{};
            probe.longer = false;
            continue;
        }
        probe = probeOfNode(node);
        const size_t next = w.start + k;
        if (probe.longer && next < units.size() && units[next] != 0) going[kept++] = {w.start, node, w.cell, w.headless};
        // A delimiter's strings used to be looked up one by one, and those
        // lookups say that a longer string may begin a word: a string with
        // a trailing blank, which the lookup trims, can be a word again.
        // Its walks say so too, so that the graph probes on as before.
        if (w.headless) {
            probe.longer = true;
            probe.node = WordPrefixTrie::kNone;
        }
    }
    going.resize(kept);
}

}  // namespace kestrel
