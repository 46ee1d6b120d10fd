#include "DictionaryFile.h"

#include <algorithm>
#include <limits>

#include "common/FileSystem.h"
#include "common/LittleEndian.h"

namespace kestrel {

bool dictionaryCellAndKey(std::string_view word, int& cell, std::string& key) {
    // The runtime trims blanks when it looks words up; a word stored with
    // them could never be found.
    if (word.empty() || word.front() == ' ' || word.back() == ' ') return false;
    CDictionary::Location where;
    if (!CDictionary::locate(word, where)) return false;
    cell = where.cell;
    key.assign(where.key);
    return true;
}

int32_t clampToInt32(int64_t value) {
    if (value < 0) return 0;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

bool DictionaryFileWriter::add(std::string_view word, int32_t handle, int64_t frequency) {
    int cell = 0;
    std::string key;
    if (word.size() > kMaxWordBytes || word.find('\0') != std::string_view::npos ||
        !dictionaryCellAndKey(word, cell, key))
        return false;
    auto it = words_.find(word);
    if (it == words_.end()) it = words_.emplace(std::string(word), std::map<int32_t, int64_t>{}).first;
    auto& f = it->second[handle];
    f = std::min<int64_t>(f + std::max<int64_t>(frequency, 0), std::numeric_limits<int32_t>::max());
    return true;
}

int64_t DictionaryFileWriter::frequency(std::string_view word, int32_t handle) const {
    const auto it = words_.find(word);
    if (it == words_.end()) return 0;
    const auto h = it->second.find(handle);
    return h == it->second.end() ? 0 : h->second;
}

int64_t DictionaryFileWriter::totalFrequency(std::string_view word) const {
    const auto it = words_.find(word);
    if (it == words_.end()) return 0;
    int64_t sum = 0;
    for (const auto& [handle, f] : it->second) sum += f;
    return sum;
}

bool DictionaryFileWriter::contains(std::string_view word) const {
    return words_.find(word) != words_.end();
}

size_t DictionaryFileWriter::entryCount() const {
    size_t n = 0;
    for (const auto& [word, readings] : words_) n += std::min(readings.size(), kMaxEntriesPerWord);
    return n;
}

std::string DictionaryFileWriter::serialize() const {
    struct Entry {
        std::string key;
        int32_t handle;
        int32_t frequency;
    };
    std::vector<std::vector<Entry>> cells(kDictionaryCells);
    for (const auto& [word, readings] : words_) {
        int cell = 0;
        std::string key;
        if (!dictionaryCellAndKey(word, cell, key)) continue;  // add() admits only words with a cell
        std::vector<std::pair<int32_t, int64_t>> kept(readings.begin(), readings.end());
        if (kept.size() > kMaxEntriesPerWord) {
            // Keep the most frequent readings; ties keep the smaller handle.
            std::stable_sort(kept.begin(), kept.end(),
                             [](const auto& a, const auto& b) { return a.second > b.second; });
            kept.resize(kMaxEntriesPerWord);
            std::sort(kept.begin(), kept.end());
        }
        for (const auto& [handle, f] : kept) cells[cell].push_back({key, handle, clampToInt32(f)});
    }
    std::string out;
    for (auto& entries : cells) {
        // Byte order of keys (std::string compares as unsigned char), then handle.
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            const int c = a.key.compare(b.key);
            return c != 0 ? c < 0 : a.handle < b.handle;
        });
        appendInt32(out, static_cast<int32_t>(entries.size()));
        for (const auto& e : entries) {
            appendInt32(out, e.frequency);
            appendInt32(out, static_cast<int32_t>(e.key.size()));
            appendInt32(out, e.handle);
            out += e.key;
        }
    }
    return out;
}

bool saveDataFile(const std::string& path, const std::string& bytes, std::string& error) {
    const Status written = writeFileAtomically(path, bytes);
    if (!written) {
        error = written.message().empty() ? "cannot write " + path : written.message();
        return false;
    }
    return true;
}

bool DictionaryFileWriter::save(const std::string& path, std::string& error) const {
    return saveDataFile(path, serialize(), error);
}

}  // namespace kestrel
