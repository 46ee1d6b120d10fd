#pragma once
// The word counts of one document as a ".seg" file holds them: each distinct
// word with how often it occurs, in the order the words first occur.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct WordCount {
    const std::string* word;  // points into the word list counted
    uint32_t count;
};

// The distinct words of `words` with their counts, in order of first
// occurrence. Words an entry "word:count" cannot hold (empty, or holding ':',
// CR or LF) are left out.
std::vector<WordCount> countWords(const std::vector<std::string>& words);

// Appends one "word:count" entry per distinct word, each followed by
// `separator` ('\n' gives the content of a ".seg" file).
void appendWordCounts(std::string& out, const std::vector<std::string>& words, char separator);

}  // namespace kestrel
