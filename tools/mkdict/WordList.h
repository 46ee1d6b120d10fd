#pragma once
// Reader of a word list of lines "word frequency tag" (UTF-8), such as the
// one Debian's python3-jieba ships.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct WordListEntry {
    std::string word;   // GBK
    int64_t frequency;
    std::string tag;
};

struct WordListStats {
    size_t lines = 0;          // non-blank lines read
    size_t kept = 0;           // entries returned
    size_t noCell = 0;         // first character neither a GB2312 ideograph nor a delimiter
    size_t noGbk = 0;          // a character without a GBK form
    size_t tooLong = 0;        // longer than the segmenter's word buffer
};

// Reads the list; words that the dictionary cannot hold are skipped and
// counted. False with "FILE:LINE: ..." in `error` on an unreadable file,
// invalid UTF-8 or a malformed line.
bool readWordList(const std::string& path, std::vector<WordListEntry>& entries, WordListStats& stats,
                  std::string& error);

}  // namespace kestrel
