#pragma once
// A word list with part-of-speech handles and frequencies, indexed by the
// first character of each word (one cell per GB2312 ideograph, plus one cell
// for delimiters). Serves the core, bigram and role dictionaries alike.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"
#include "segment/lookup/KeyPrefixTable.h"
#include "segment/lookup/WordPairIndex.h"
#include "segment/lookup/WordPrefixTrie.h"

namespace kestrel {

class CDictionary {
public:
    static constexpr int kCellCount = 6768;      // 72 rows of 94 ideographs
    static constexpr int kDelimiterCell = 3755;  // the unassigned code D7 FA
    static constexpr int kMaxHandles = 20;       // room callers give getHandles

    // Where a lookup of a string lands after preprocessWord: the cell, the key
    // within the cell and the removed first character.
    struct Location {
        int cell = -1;
        std::string_view key;
        std::string_view head;
    };

    // What load indexes for fast lookups: the key prefixes of every word, or
    // (for the word-pair dictionary) the pairs "first@second" by the ids of
    // their words; lookups that the index does not serve search the cells.
    enum class Index { kPrefixes, kPairs };

    // Loads a .dct file; the previous content is freed first. A file that
    // ends early, has a negative length or counts more entries than it holds
    // fails with a message naming the file and leaves the dictionary empty.
    Status load(const std::string& path, Index index = Index::kPrefixes);
    // The same from bytes already read; `name` names them in messages.
    Status loadFromBytes(std::string_view bytes, const std::string& name, Index index = Index::kPrefixes);
    // Writes the .dct format (crash-safe: temp file + rename).
    Status save(const std::string& path) const;
    std::string serialize() const;
    void release();

    // Adds one entry (word, handle) with its frequency, or sets the frequency
    // when that entry exists. False when the word has no cell.
    bool addWord(std::string_view word, int handle, int frequency);

    // Trims blanks from both ends in place and finds the cell and key; false
    // when the word has no cell. The class comes from the untrimmed word.
    static bool preprocessWord(std::string& word, int& cell, std::string& key);
    // The same without modifying anything: views into `word`.
    static bool locate(std::string_view word, Location& where);

    // Binary search of `key` with `handle` (-1: any) in a cell. `position`
    // receives the entry found (the first of its key for handle -1) or, when
    // not found, mid - 1 of the last probe.
    bool findWord(int cell, std::string_view key, int handle, int* position = nullptr) const;

    bool isWord(std::string_view word, int handle = -1) const;
    // Number of entries of the word (0 when absent), at most `capacity`
    // copied, in entry order (handle ascending).
    int getHandles(std::string_view word, int* handles, int* frequencies,
                   int capacity = kMaxHandles) const;
    // Frequency of the entry (word, handle); with -1 the word's first entry.
    int getFrequency(std::string_view word, int handle = -1) const;
    // The first dictionary word that begins with `s`, and its handle.
    bool getMaxMatch(std::string_view s, std::string& word, int& handle) const;

    // What the word graph needs from one probe: whether some word begins with
    // `s`, and whether `s` itself is a word (then its summed frequency and
    // the handle of its only entry, or 0 with several entries). `count` and
    // `frequencySum` are what getHandles gives for `s`: its number of
    // entries and the sum of their frequencies, so that the word found need
    // not be looked up again.
    struct PrefixProbe {
        bool prefix = false;
        bool exact = false;
        double frequencySum = 0;
        int handle = 0;
        int count = 0;
        // False when no word longer than `s` begins with it: a longer
        // string need not be probed.
        bool longer = true;
        // With probeExtension: a number of `s` among the strings that begin
        // some word, the same for the same string while version() stays
        // (WordPrefixTrie::kNone when the walk does not give one).
        uint32_t node = WordPrefixTrie::kNone;
    };
    PrefixProbe probePrefix(std::string_view s) const;
    // The same for strings that each extend the one of the walk's last
    // probe (the word graph probes a character, then two, and so on): the
    // walk goes on from where it stopped, one probe per character.
    struct PrefixWalk {
        int cell = -1;
        uint32_t node = WordPrefixTrie::kNone;
        size_t walked = 0;  // bytes of the string walked to `node`
        bool started = false;
        bool fallback = false;  // the trie does not serve this string
        // The string is its key, without a head character (a delimiter's):
        // its probes give it no number, as the single probes of such
        // strings never did, so that a number names one text.
        bool headless = false;
    };
    PrefixProbe probeExtension(PrefixWalk& walk, std::string_view s) const;

    // The walks of probeExtension from every start of a sentence at once,
    // taken level by level: the next lookups of all the walks still going
    // are fetched together, so that their cache misses overlap instead of
    // coming one after another. `units[i]` is the key unit of the sentence's
    // atom i when that atom is one two-byte character, else 0. A walk
    // starts at each atom that is a character with a cell in the trie; the
    // probe of atoms [start, start + k) is answered for k = 1, 2, ... while
    // the string begins a longer word and atom start + k is one unit.
    struct SentenceWalks {
        // Probes answered from each start (0: none, the walk is not taken).
        std::vector<uint32_t> depth;
        // The walk from each start after its answered probes, to go on with.
        std::vector<PrefixWalk> walks;
        // The answers: probe(start, k) for atoms [start, start + k).
        const PrefixProbe& probe(size_t start, size_t k) const { return levels[k - 1][start]; }

        std::vector<std::vector<PrefixProbe>> levels;
        std::vector<PrefixProbe>& level(size_t k, size_t count) {
            if (levels.size() < k) levels.resize(k);
            if (levels[k - 1].size() < count) levels[k - 1].resize(count);
            return levels[k - 1];
        }
        struct Going {
            uint32_t start;
            uint32_t node;
            int cell;
            bool headless;  // the string is its key, without a head character
        };
        std::vector<Going> going;   // scratch: the walks of the next level
        std::vector<Going> second;  // scratch: the walks that join at the second
    };
    void walkSentence(const std::vector<uint32_t>& units, SentenceWalks& walks) const;

    // Lookups go through a table of key prefixes, built by load (and here
    // after addWord), or without it through binary searches over the cells:
    // the same answers, slower; tests compare the two.
    void usePrefixTable(bool use);

    // Read access for tools and tests.
    struct Entry {
        std::string text;
        int handle = 0;
        int frequency = 0;
    };
    std::vector<Entry> cellEntries(int cell) const;
    size_t entryCount() const { return m_entryCount; }
    // A number that changes whenever the content does (load, release,
    // addWord), for callers that keep what they learnt from lookups.
    uint64_t version() const { return m_version; }

    // Where the entries whose word begins with `prefix` lie, for many
    // lookups of words that share it (the bigram pairs of one word): empty
    // when no entry begins with it, so that those lookups can be skipped.
    struct PrefixRange {
        int cell = -1;
        size_t lo = 0;
        size_t hi = 0;
        size_t headLength = 0;  // bytes of the word before its key
        bool empty() const { return lo >= hi; }
    };
    PrefixRange prefixRange(std::string_view prefix) const;
    // getFrequency(word, handle) for a word that begins with the range's
    // prefix and does not end in a blank.
    int frequencyInRange(const PrefixRange& range, std::string_view word, int handle) const;

    // Word pairs: the id of a word as a part of some pair (-1: none, or no
    // pair index), then getFrequency(first + "@" + second, 3) from the two
    // words and their ids. With the pair index of a dictionary loaded with
    // Index::kPairs and current, that is one probe; otherwise the joined
    // text, built in `scratch`, is looked up. The index is built on the
    // first of these calls, not by load, so that a program that segments
    // nothing does not wait for it; copies share it, and threads may make
    // the first call at once.
    int pairWordId(std::string_view word) const {
        const WordPairIndex* pairs = pairIndex();
        return pairs ? pairs->wordId(word) : -1;
    }
    int pairFrequency(std::string_view first, int firstId, std::string_view second, int secondId,
                      std::string& scratch) const {
        // A blank at either end of the joined text would be trimmed by the lookup.
        const bool trimmed = (!first.empty() && first.front() == ' ') || (!second.empty() && second.back() == ' ');
        if (!trimmed) {
            if (const WordPairIndex* pairs = pairIndex()) return pairs->count(firstId, secondId);
        }
        return pairFrequencyOfText(first, second, scratch);
    }
    // The pair index behind pairFrequency, for callers that look up many
    // pairs at once (null: none; pairs are then looked up by their text).
    const WordPairIndex* wordPairIndex() const { return pairIndex(); }

private:
    struct Item {
        uint64_t prefix;  // first 8 key bytes, big-endian, zero-padded
        uint32_t offset;  // text in m_text
        uint32_t length;
        int32_t handle;
        int32_t frequency;
    };
    // Byte-order comparison of an entry's key with a key whose prefix is
    // given: the prefixes decide unless both agree, then the bytes do.
    int compareItem(const Item& item, std::string_view key, uint64_t keyPrefix) const {
        if (item.prefix != keyPrefix) return item.prefix < keyPrefix ? -1 : 1;
        if (item.length <= 8 && key.size() <= 8)
            return item.length == key.size() ? 0 : (item.length < key.size() ? -1 : 1);
        return textOf(item).compare(key);
    }
    // prefixOf(bytes.substr(at, n)): with eight bytes left to read, in one
    // load, without branching on the length.
    static uint64_t prefixAt(std::string_view bytes, size_t at, size_t n) {
        if constexpr (std::endian::native == std::endian::little) {
            if (bytes.size() - at >= 8) {
                uint64_t v = 0;
                std::memcpy(&v, bytes.data() + at, 8);
                const uint64_t mask = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * (n & 7))) - 1;
                return __builtin_bswap64(v & mask);
            }
        }
        return prefixOf(bytes.substr(at, n));
    }
    static uint64_t prefixOf(std::string_view key) {
        const size_t n = key.size() < 8 ? key.size() : 8;
        if constexpr (std::endian::native == std::endian::little)
            return __builtin_bswap64(KeyPrefixTable::load(key.data(), n));
        uint64_t p = 0;
        for (size_t i = 0; i < 8; ++i) p = (p << 8) | (i < n ? static_cast<unsigned char>(key[i]) : 0u);
        return p;
    }
    std::string_view textOf(const Item& item) const {
        return std::string_view(m_text).substr(item.offset, item.length);
    }
    // How many bytes the keys of two entries have in common.
    size_t commonBytes(const Item& a, const Item& b) const {
        const size_t most = std::min(a.length, b.length);
        // Where the padding of the shorter key begins, `most` ends the count.
        if (a.prefix != b.prefix) return std::min(most, static_cast<size_t>(__builtin_clzll(a.prefix ^ b.prefix) / 8));
        const char* x = m_text.data() + a.offset;
        const char* y = m_text.data() + b.offset;
        size_t common = std::min<size_t>(most, 8);
        while (common < most && x[common] == y[common]) ++common;
        return common;
    }
    // One level of walkSentence: the probes of atoms [start, start + k).
    void advanceWalks(const std::vector<uint32_t>& units, SentenceWalks& walks, size_t k) const;
    // The probe of the string the trie numbers `node`.
    PrefixProbe probeOfNode(uint32_t node) const;
    // loadFromBytes of bytes the dictionary may keep.
    Status loadOwnBytes(std::string file, const std::string& name, Index index);
    // Index of the first entry of the cell whose key is not smaller than `key`.
    size_t lowerBound(int cell, std::string_view key) const;
    // First entry not smaller than `key` within [lo, hi).
    size_t lowerBoundIn(const std::vector<Item>& items, size_t lo, size_t hi, std::string_view key) const;
    // Whether the entry's key begins with `key`, whose prefix is given.
    bool beginsWith(const Item& item, std::string_view key, uint64_t keyPrefix) const {
        if (item.length < key.size()) return false;
        if (key.size() <= 8) return key.empty() || (item.prefix ^ keyPrefix) >> (64 - 8 * key.size()) == 0;
        return item.prefix == keyPrefix && std::memcmp(m_text.data() + item.offset + 8, key.data() + 8, key.size() - 8) == 0;
    }
    // The entries of the cell whose key begins with `key`: [lo, hi), false
    // when there are none, or, with `wholeKey`, when `key` itself is no key.
    // Answered by the prefix table when it is current and holds such
    // strings, else by binary searches over the cell.
    bool keyRange(int cell, std::string_view key, size_t& lo, size_t& hi, bool wholeKey = false) const;
    // Index of the entry (key, handle), handle -1 giving the key's first
    // entry, or -1.
    long findEntry(int cell, std::string_view key, int handle) const;
    // Rebuilds the prefix table and the word trie from the cells; the trie
    // is given at least the number of nodes each cell needs.
    void buildPrefixTable();
    void buildWordTrie(const std::vector<uint32_t>& cellNodes);
    // Builds the pair index from the entries "first@second" with handle 3.
    void buildPairIndex(WordPairIndex& pairs) const;
    // The pair index, built on first use; null when there is none or it
    // cannot hold every pair.
    const WordPairIndex* pairIndex() const {
        const LazyPairIndex* lazy = m_pairs.get();
        if (lazy && lazy->ready.load(std::memory_order_acquire)) return lazy->complete ? &lazy->index : nullptr;
        return buildPairIndexOnce();
    }
    const WordPairIndex* buildPairIndexOnce() const;
    // The count of the pair looked up by its joined text.
    int pairFrequencyOfText(std::string_view first, std::string_view second, std::string& scratch) const;

    std::vector<std::vector<Item>> m_cells = std::vector<std::vector<Item>>(kCellCount);
    // Rebuilt by load; addWord leaves it stale, and lookups then search the
    // cells themselves.
    KeyPrefixTable m_prefixes;
    WordPrefixTrie m_trie;
    bool m_prefixesValid = false;
    // Made by load with Index::kPairs and filled on first use; addWord,
    // which leaves it stale, drops it.
    struct LazyPairIndex {
        std::once_flag built;
        WordPairIndex index;
        bool complete = false;
        std::atomic<bool> ready{false};  // set once `index` and `complete` are final
    };
    std::shared_ptr<LazyPairIndex> m_pairs;
    std::string m_text;
    size_t m_entryCount = 0;
    uint64_t m_version = nextVersion();
    static uint64_t nextVersion();
};

}  // namespace kestrel
