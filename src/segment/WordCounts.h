#pragma once
// The words of one document with their counts, in the order each word first
// appears: what a segmented (.seg) document holds. Memory grows with the
// distinct words, not with the length of the document.
#include <charconv>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kestrel {

class WordCounts {
public:
    using Entry = std::pair<std::string, uint32_t>;

    // The index views the stored words, so a copy would view another
    // object's words; moving keeps the deque's elements where they are.
    WordCounts() = default;
    WordCounts(const WordCounts&) = delete;
    WordCounts& operator=(const WordCounts&) = delete;
    WordCounts(WordCounts&&) = default;
    WordCounts& operator=(WordCounts&&) = default;

    void add(std::string_view word, uint32_t count = 1) {
        auto it = position_.find(word);
        if (it != position_.end()) {
            entries_[it->second].second += count;
            return;
        }
        entries_.emplace_back(std::string(word), count);
        // A deque never moves its elements, so the key may view the stored word.
        position_.emplace(entries_.back().first, entries_.size() - 1);
    }
    void add(const std::vector<std::string>& words) {
        for (const std::string& word : words) add(word);
    }
    // The words of a later part of the same document.
    void append(const WordCounts& later) {
        for (const Entry& entry : later.entries_) add(entry.first, entry.second);
    }

    // Appends one "word:count" entry per word, each followed by `separator`
    // ('\n' gives the content of a .seg file). Words such an entry cannot
    // hold (empty, or holding ':', CR or LF) are left out.
    void appendEntries(std::string& out, char separator) const {
        for (const auto& [word, count] : entries_) {
            if (word.empty() || word.find_first_of(":\r\n") != std::string::npos) continue;
            out += word;
            out += ':';
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
            out.append(digits, end);
            out += separator;
        }
    }

    const std::deque<Entry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

private:
    std::deque<Entry> entries_;
    std::unordered_map<std::string_view, size_t> position_;
};

}  // namespace kestrel
