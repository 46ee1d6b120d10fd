#pragma once
// Writer of the segmenter's binary dictionary files (core, bigram and role
// dictionaries): 6,768 cells, one per GB2312 ideograph position, each a
// sorted list of (frequency, length, handle, key) records, little-endian.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "segment/CDictionary.h"

namespace kestrel {

constexpr int kDictionaryCells = CDictionary::kCellCount;
constexpr int kDelimiterCell = CDictionary::kDelimiterCell;
constexpr size_t kMaxEntriesPerWord = 20; // callers read at most 20 handles
constexpr size_t kMaxWordBytes = 98;      // the runtime keeps words in 100-byte buffers

// Cell and key of a word the way the segmenter files it: ideographs by their
// position with the first character removed from the key, delimiters in
// cell 3755 with the whole word as key. False when the word has no cell or
// begins or ends with a blank.
bool dictionaryCellAndKey(std::string_view word, int& cell, std::string& key);

// Collects (word, handle, frequency) readings and writes them as a .dct file.
class DictionaryFileWriter {
public:
    // Adds `frequency` to the reading (word, handle). False (and nothing
    // added) when the word has no cell or is too long for the segmenter.
    bool add(std::string_view word, int32_t handle, int64_t frequency);

    // Frequency of one reading, 0 when absent.
    int64_t frequency(std::string_view word, int32_t handle) const;
    // Sum over all readings of a word, 0 when absent.
    int64_t totalFrequency(std::string_view word) const;
    bool contains(std::string_view word) const;

    size_t wordCount() const { return words_.size(); }
    size_t entryCount() const;

    // The file's bytes. Readings of one word beyond the 20 a caller can
    // take are dropped, keeping the most frequent ones.
    std::string serialize() const;
    bool save(const std::string& path, std::string& error) const;

    const std::map<std::string, std::map<int32_t, int64_t>, std::less<>>& words() const {
        return words_;
    }

private:
    std::map<std::string, std::map<int32_t, int64_t>, std::less<>> words_;
};

// Writes a data file whole or not at all; false with a message naming it.
bool saveDataFile(const std::string& path, const std::string& bytes, std::string& error);

// Clamps a count into the int32 range the file formats store.
int32_t clampToInt32(int64_t value);

}  // namespace kestrel
