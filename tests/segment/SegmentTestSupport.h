#pragma once
// Helpers for the segmenter tests: GBK literals and small data directories
// written with the segmenter's own save functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/CContextStat.h"
#include "segment/CDictionary.h"

namespace kestrel::test {

using kestrel::testing::succeeded;

// GBK bytes of a UTF-8 literal.
inline std::string G(std::string_view utf8) { return utf8ToGbk(utf8); }
// UTF-8 of GBK bytes, for readable failure messages.
inline std::string U(std::string_view gbk) { return gbkToUtf8(gbk); }

inline std::string joinUtf8(const std::vector<std::string>& words, const char* sep = " ") {
    std::string out;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i) out += sep;
        out += U(words[i]);
    }
    return out;
}

// A fresh temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-seg-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern + "/" : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

constexpr int kNoun = 'n' * 256;
constexpr int kVerb = 'v' * 256;
constexpr int kTime = 't' * 256;
constexpr int kQuantity = 'q' * 256;

// A core dictionary with the class tokens and the given (UTF-8) words.
struct WordEntry {
    const char* word;
    int frequency;
    int handle;
};

inline CDictionary makeCore(const std::vector<WordEntry>& words) {
    CDictionary core;
    for (const char* token : {"未##数", "未##时", "未##串", "未##人", "未##地"}) core.addWord(G(token), 2, 10000);
    for (const WordEntry& w : words) core.addWord(G(w.word), w.handle, w.frequency);
    return core;
}

// Statistics over the given tags: every tag seen `base` times, the listed
// transitions `count` times each.
inline CContextStat makeContext(std::vector<int32_t> tags, const std::vector<std::pair<int, int>>& transitions,
                                int base, int count) {
    std::sort(tags.begin(), tags.end());
    CContextStat::Table table;
    table.key = 0;
    const size_t n = tags.size();
    table.tagFrequency.assign(n, base);
    table.totalFrequency = base * static_cast<int>(n);
    table.context.assign(n * n, 0);
    auto index = [&](int tag) { return static_cast<size_t>(std::find(tags.begin(), tags.end(), tag) - tags.begin()); };
    for (auto [from, to] : transitions) table.context[index(from) * n + index(to)] = count;
    CContextStat stat;
    EXPECT_TRUE(stat.setData(tags, {table}));
    return stat;
}

// Writes a complete data directory: the core dictionary, an empty bigram
// dictionary, minimal part-of-speech statistics and the stop words.
inline void writeDataDirectory(const std::string& dir, const CDictionary& core,
                               const std::vector<const char*>& stopWords) {
    std::string error;
    ASSERT_TRUE(succeeded(core.save(dir + "coreDict.dct")));
    ASSERT_TRUE(succeeded(CDictionary().save(dir + "BigramDict.dct")));
    CContextStat lexical;
    ASSERT_TRUE(lexical.setData({0}, {}));
    ASSERT_TRUE(succeeded(lexical.save(dir + "lexical.ctx")));
    std::string stops;
    for (const char* w : stopWords) stops += G(w) + "\n";
    const Status written = writeFileAtomically(dir + "stopwords.txt", stops);
    ASSERT_TRUE(written) << written.message();
}

// Copy of `d` that answers through the binary searches over its cells alone.
inline CDictionary withoutTable(const CDictionary& d) {
    CDictionary slow = d;
    slow.usePrefixTable(false);
    return slow;
}

// Every word of the dictionary, as looked up (head character and key).
inline std::vector<std::string> allWords(const CDictionary& d) {
    std::vector<std::string> words;
    for (int cell = 0; cell < CDictionary::kCellCount; ++cell) {
        std::string head;
        if (cell != CDictionary::kDelimiterCell) {
            head.push_back(static_cast<char>(0xB0 + cell / 94));
            head.push_back(static_cast<char>(0xA1 + cell % 94));
        }
        for (const CDictionary::Entry& e : d.cellEntries(cell)) words.push_back(head + e.text);
    }
    return words;
}

// Calls `check(fast, slow, words)` for every dictionary file built into the
// data directory (false when there is none): the file loaded with its lookup
// tables, a copy without them, and every word of it.
template <typename Check>
bool forEachBuiltDictionary(Check check) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(KESTREL_DATA_DIR, ec))
        if (entry.path().extension() == ".dct") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        CDictionary fast;
        EXPECT_TRUE(succeeded(fast.load(file.string())));
        check(fast, withoutTable(fast), allWords(fast));
    }
    return !files.empty();
}

}  // namespace kestrel::test
