// The dictionary's contents: loading them from a file or from bytes (the
// entries' texts stay in the loaded bytes), adding a word, writing them
// back, and listing a cell.
#include "segment/CDictionary.h"

#include <algorithm>
#include <cstring>

#include "common/FileSystem.h"
#include "common/LittleEndian.h"

namespace kestrel {

namespace {

// Keys compare as unsigned bytes (string_view's compare is memcmp-based).
int compareKeys(std::string_view a, std::string_view b) { return a.compare(b); }

}  // namespace

void CDictionary::release() {
    for (auto& cell : m_cells) {
        cell.clear();
        cell.shrink_to_fit();
    }
    m_prefixes.clear();
    m_trie.clear();
    m_prefixesValid = false;
    m_pairs.reset();
    m_text.clear();
    m_text.shrink_to_fit();
    m_entryCount = 0;
    m_version = nextVersion();
}

bool CDictionary::addWord(std::string_view word, int handle, int frequency) {
    Location where;
    if (!locate(word, where)) return false;
    std::vector<Item>& items = m_cells[static_cast<size_t>(where.cell)];
    int position = 0;
    if (findWord(where.cell, where.key, handle, &position)) {
        items[static_cast<size_t>(position)].frequency = frequency;
        m_pairs.reset();  // it holds the counts
        m_version = nextVersion();
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
    m_prefixesValid = false;
    m_pairs.reset();
    ++m_entryCount;
    m_version = nextVersion();
    return true;
}

Status CDictionary::load(const std::string& path, Index index) {
    Result<std::string> bytes = readFile(path);
    if (!bytes) {
        const std::string& readError = bytes.message();
        release();
        return Status::failure(readError.empty() ? "cannot read dictionary file " + path : readError);
    }
    return loadOwnBytes(std::move(bytes).value(), path, index);
}

Status CDictionary::loadFromBytes(std::string_view bytes, const std::string& name, Index index) {
    return loadOwnBytes(std::string(bytes), name, index);
}

Status CDictionary::loadOwnBytes(std::string file, const std::string& name, Index index) {
    release();
    // The entries' texts stay where they are in the file's bytes, which the
    // dictionary keeps as its text store: nothing is copied per entry.
    m_text = std::move(file);
    const std::string_view bytes(m_text);
    size_t pos = 0;
    auto fail = [&](int cell, const std::string& what) {
        release();
        return Status::failure("dictionary file " + name + " is damaged: " + what + " (cell " + std::to_string(cell) +
                               ", byte offset " + std::to_string(pos) + ")");
    };
    if (bytes.size() > 0xFFFFFFF0u) return fail(0, "file too large");
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
            if (const void* nul = std::memchr(data + pos, 0, textLength))
                textLength = static_cast<size_t>(static_cast<const unsigned char*>(nul) - (data + pos));
            const std::string_view text(bytes.data() + pos, textLength);
            Item& item = items[static_cast<size_t>(i)];
            item = Item{prefixAt(bytes, pos, textLength), static_cast<uint32_t>(pos), static_cast<uint32_t>(textLength),
                        handle, frequency};
            pos += static_cast<size_t>(length);
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
    }
    m_version = nextVersion();
    if (index == Index::kPairs)
        m_pairs = std::make_shared<LazyPairIndex>();
    else
        buildPrefixTable();
    return Status::success();
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

Status CDictionary::save(const std::string& path) const {
    const Status written = writeFileAtomically(path, serialize());
    if (!written)
        return Status::failure(written.message().empty() ? "cannot write dictionary file " + path : written.message());
    return Status::success();
}

std::vector<CDictionary::Entry> CDictionary::cellEntries(int cell) const {
    std::vector<Entry> entries;
    if (cell < 0 || cell >= kCellCount) return entries;
    for (const Item& item : m_cells[static_cast<size_t>(cell)])
        entries.push_back(Entry{std::string(textOf(item)), item.handle, item.frequency});
    return entries;
}

}  // namespace kestrel
