#include <random>

#include "SegmentTestSupport.h"
#include "segment/CharClass.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

CDictionary sampleDictionary() {
    return makeCore({{"中", 50, kNoun},
                     {"中国", 300, kNoun},
                     {"中国人", 80, kNoun},
                     {"中间", 40, 'f' * 256},
                     {"中间", 60, kNoun},
                     {"国", 30, kNoun},
                     {"。", 1000, 'w' * 256}});
}

// The binary search the positions are defined by, over a cell's entries.
int referencePosition(const std::vector<CDictionary::Entry>& items, const std::string& key, int handle, bool& found) {
    int lo = 0, hi = static_cast<int>(items.size()) - 1, mid = (lo + hi) / 2;
    found = false;
    while (lo <= hi) {
        int cmp = items[static_cast<size_t>(mid)].text.compare(key);
        if (cmp == 0) {
            if (handle == -1 || items[static_cast<size_t>(mid)].handle == handle) {
                if (handle == -1)
                    while (mid > 0 && items[static_cast<size_t>(mid - 1)].text == key) --mid;
                found = true;
                return mid;
            }
            cmp = items[static_cast<size_t>(mid)].handle < handle ? -1 : 1;
        }
        if (cmp < 0) lo = mid + 1; else hi = mid - 1;
        mid = (lo + hi) / 2;
    }
    return mid - 1;
}

}  // namespace

TEST(CharClassTest, ClassesOfFirstCharacter) {
    EXPECT_EQ(charClass(""), CT_DELIMITER);
    EXPECT_EQ(charClass("a"), CT_SINGLE);
    EXPECT_EQ(charClass("7"), CT_SINGLE);
    EXPECT_EQ(charClass("+"), CT_DELIMITER);
    EXPECT_EQ(charClass(G("，")), CT_DELIMITER);
    EXPECT_EQ(charClass(G("。")), CT_DELIMITER);
    EXPECT_EQ(charClass(G("中")), CT_CHINESE);
    EXPECT_EQ(charClass(G("Ａ")), CT_LETTER);
    EXPECT_EQ(charClass(G("５")), CT_NUM);
    EXPECT_EQ(charClass(G("！")), CT_DELIMITER);
    EXPECT_EQ(charClass(G("①")), CT_INDEX);
    EXPECT_EQ(charClass("\x81\x40"), CT_OTHER);
}

TEST(DictionaryTest, LookupsAndHandles) {
    const CDictionary d = sampleDictionary();
    EXPECT_TRUE(d.isWord(G("中国")));
    EXPECT_TRUE(d.isWord(G("中国"), kNoun));
    EXPECT_FALSE(d.isWord(G("中国"), kVerb));
    EXPECT_FALSE(d.isWord(G("国中")));
    EXPECT_TRUE(d.isWord(G("。")));
    EXPECT_EQ(d.getFrequency(G("中国人")), 80);
    EXPECT_EQ(d.getFrequency(G("不在")), 0);
    // With -1 the first entry, i.e. the smallest handle.
    EXPECT_EQ(d.getFrequency(G("中间"), -1), 40);
    EXPECT_EQ(d.getFrequency(G("中间"), kNoun), 60);
    int handles[20], freqs[20];
    ASSERT_EQ(d.getHandles(G("中间"), handles, freqs), 2);
    EXPECT_EQ(handles[0], 'f' * 256);
    EXPECT_EQ(handles[1], kNoun);
    EXPECT_EQ(freqs[1], 60);
    EXPECT_EQ(d.getHandles(G("中间"), handles, freqs, 1), 1);  // bounded copy
    // Trailing blanks are trimmed; a leading blank makes the word unfindable.
    EXPECT_TRUE(d.isWord(G("中国 ")));
    EXPECT_FALSE(d.isWord(G(" 中国")));
    std::string word = G("中国  ");
    int cell = 0;
    std::string key;
    EXPECT_TRUE(CDictionary::preprocessWord(word, cell, key));
    EXPECT_EQ(word, G("中国"));
    EXPECT_EQ(key, G("国"));
    // Words that have no cell: ASCII, GBK extension characters, a lone lead byte.
    EXPECT_FALSE(d.isWord("abc"));
    EXPECT_FALSE(d.isWord("\xB0\x40"));
    EXPECT_FALSE(d.isWord("\xD6"));
    CDictionary writable;
    EXPECT_FALSE(writable.addWord("\xB0\x40", kNoun, 1));
}

TEST(DictionaryTest, MaxMatchAndCellOrder) {
    const CDictionary d = sampleDictionary();
    std::string word;
    int handle = 0;
    ASSERT_TRUE(d.getMaxMatch(G("中国"), word, handle));
    EXPECT_EQ(U(word), "中国");
    ASSERT_TRUE(d.getMaxMatch(G("中间"), word, handle));
    EXPECT_EQ(handle, 'f' * 256);
    EXPECT_FALSE(d.getMaxMatch(G("中华"), word, handle));
    // A single character yields the first word of its cell, whether or not
    // the character alone is a word.
    const CDictionary d2 = makeCore({{"中国", 3, kNoun}, {"中文", 3, kNoun}});
    ASSERT_TRUE(d2.getMaxMatch(G("中"), word, handle));
    EXPECT_EQ(U(word), "中国");
    // The one-character word sorts first in its cell (empty key).
    CDictionary::Location where;
    ASSERT_TRUE(CDictionary::locate(G("中"), where));
    const auto entries = d.cellEntries(where.cell);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().text, "");
}

TEST(DictionaryTest, FindWordPositionsMatchThePlainBinarySearch) {
    // Random keys in one cell, searched with present and absent keys.
    std::mt19937 rng(7);
    CDictionary d;
    const std::string head = G("中");
    std::vector<std::string> keys;
    for (int i = 0; i < 300; ++i) {
        std::string key;
        const int len = static_cast<int>(rng() % 4);
        for (int k = 0; k < len; ++k) {
            key.push_back(static_cast<char>(0xB0 + rng() % 3));
            key.push_back(static_cast<char>(0xA1 + rng() % 3));
        }
        keys.push_back(key);
        d.addWord(head + key, static_cast<int>(rng() % 3) + 1, 1);
    }
    CDictionary::Location where;
    ASSERT_TRUE(CDictionary::locate(head, where));
    const auto items = d.cellEntries(where.cell);
    for (int round = 0; round < 500; ++round) {
        std::string key = keys[rng() % keys.size()];
        if (round % 3 == 0) key += "\xB5\xA1";  // mostly absent
        const int handle = static_cast<int>(rng() % 5) - 1;
        bool expectFound = false;
        const int expected = referencePosition(items, key, handle, expectFound);
        int position = -5;
        EXPECT_EQ(d.findWord(where.cell, key, handle, &position), expectFound);
        EXPECT_EQ(position, expected) << "round " << round;
    }
}

TEST(DictionaryTest, SaveLoadRoundTripAndReload) {
    TempDir dir;
    const CDictionary d = sampleDictionary();
    ASSERT_TRUE(succeeded(d.save(dir.path() + "d.dct")));
    CDictionary loaded;
    ASSERT_TRUE(succeeded(loaded.load(dir.path() + "d.dct")));
    EXPECT_EQ(loaded.entryCount(), d.entryCount());
    EXPECT_EQ(loaded.serialize(), d.serialize());
    // Loading again replaces the content instead of adding to it.
    ASSERT_TRUE(succeeded(loaded.load(dir.path() + "d.dct")));
    EXPECT_EQ(loaded.entryCount(), d.entryCount());
    EXPECT_EQ(loaded.getFrequency(G("中国")), 300);
}

TEST(DictionaryTest, DamagedFilesFailWithTheFileName) {
    const std::string good = sampleDictionary().serialize();
    auto expectDamaged = [](const std::string& bytes, const char* what) {
        CDictionary d;
        const Status loaded = d.loadFromBytes(bytes, "broken.dct");
        EXPECT_FALSE(loaded) << what;
        EXPECT_NE(loaded.message().find("broken.dct"), std::string::npos) << loaded.message();
        EXPECT_EQ(d.entryCount(), 0u) << what;
    };
    expectDamaged(good.substr(0, good.size() - 3), "cut inside an entry");
    expectDamaged(good.substr(0, 100), "cut inside the cell table");
    expectDamaged("", "empty");
    // A cell count that the file cannot hold, and a negative text length.
    std::string huge(4 * CDictionary::kCellCount, '\0');
    huge[0] = '\xff';
    huge[1] = '\xff';
    huge[2] = '\xff';
    huge[3] = '\x7f';
    expectDamaged(huge, "count beyond the file size");
    std::string negative(4 * CDictionary::kCellCount + 12, '\0');
    negative[0] = 1;
    for (int i = 8; i < 12; ++i) negative[static_cast<size_t>(i)] = '\xff';  // length -1
    expectDamaged(negative, "negative length");
    // A negative count is simply an empty cell.
    std::string negativeCount(4 * CDictionary::kCellCount, '\0');
    for (int i = 0; i < 4; ++i) negativeCount[static_cast<size_t>(i)] = '\xff';
    CDictionary d;
    EXPECT_TRUE(succeeded(d.loadFromBytes(negativeCount, "x")));
    CDictionary missing;
    const Status loaded = missing.load("/nonexistent/coreDict.dct");
    EXPECT_FALSE(loaded);
    EXPECT_NE(loaded.message().find("/nonexistent/coreDict.dct"), std::string::npos);
}

TEST(ContextStatTest, ProbabilitiesAndFiles) {
    CContextStat stat = makeContext({0, 1, 2}, {{0, 1}, {1, 2}}, 10, 5);
    // 0.1 * f(prev) / total + 0.9 * k / f(prev)
    EXPECT_DOUBLE_EQ(stat.getContextProbability(1, 0), 0.1 * 10 / 30 + 0.9 * 5 / 10);
    EXPECT_EQ(stat.getContextProbability(0, 1), 0.000001);  // never seen
    EXPECT_EQ(stat.getContextProbability(7, 0), 0.000001);  // unknown tag
    EXPECT_EQ(stat.getTagFrequency(2), 10);
    EXPECT_EQ(stat.getTagFrequency(9), 0);
    EXPECT_DOUBLE_EQ(stat.transitionCost(stat.indexOf(1), stat.indexOf(0)), -std::log(stat.getContextProbability(1, 0)));

    // Two tables: only the first answers.
    CContextStat::Table second = stat.tables().front();
    second.tagFrequency = {99, 99, 99};
    std::vector<CContextStat::Table> tables = {stat.tables().front(), second};
    CContextStat two;
    ASSERT_TRUE(two.setData({0, 1, 2}, tables));
    TempDir dir;
    ASSERT_TRUE(succeeded(two.save(dir.path() + "x.ctx")));
    CContextStat loaded;
    ASSERT_TRUE(succeeded(loaded.load(dir.path() + "x.ctx")));
    EXPECT_EQ(loaded.tables().size(), 2u);
    EXPECT_EQ(loaded.getTagFrequency(0), 10);

    // Only the symbol table: loads, answers the floor and 0.
    CContextStat symbolsOnly;
    ASSERT_TRUE(symbolsOnly.setData({3, 4}, {}));
    ASSERT_TRUE(succeeded(loaded.loadFromBytes(symbolsOnly.serialize(), "s.ctx")));
    EXPECT_EQ(loaded.getContextProbability(3, 4), 0.000001);
    EXPECT_EQ(loaded.getTagFrequency(3), 0);

    // Damaged files.
    const std::string bytes = two.serialize();
    const Status cut = loaded.loadFromBytes(bytes.substr(0, bytes.size() - 2), "cut.ctx");
    EXPECT_FALSE(cut);
    EXPECT_NE(cut.message().find("cut.ctx"), std::string::npos);
    EXPECT_FALSE(loaded.loadFromBytes(std::string("\xff\xff\xff\x7f", 4), "big.ctx"));
    EXPECT_FALSE(loaded.loadFromBytes(std::string("\x02\0\0\0\x05\0\0\0\x01\0\0\0", 12), "order.ctx"));
    EXPECT_EQ(loaded.getContextProbability(1, 0), 0.000001);  // left empty
    EXPECT_FALSE(loaded.load("/nonexistent/lexical.ctx"));
}

TEST(DictionaryTest, IndexedLookupsAgreeWithPlainOnes) {
    // Word pairs of random characters from a few cells, as in a bigram
    // dictionary; a loaded copy answers through its hash index, the built
    // one through the per-cell index. Both must agree with each other and
    // the pair ranges with single lookups.
    std::mt19937 rng(11);
    auto randomWord = [&](int maxChars) {
        std::string w;
        const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(maxChars));
        for (int i = 0; i < n; ++i) {
            w.push_back(static_cast<char>(0xB0 + rng() % 2));
            w.push_back(static_cast<char>(0xA1 + rng() % 4));
        }
        return w;
    };
    CDictionary built;
    std::vector<std::string> firsts;
    for (int i = 0; i < 2000; ++i) {
        const std::string a = randomWord(3);
        firsts.push_back(a);
        built.addWord(a + "@" + randomWord(3), 3, static_cast<int>(rng() % 50) + 1);
    }
    built.addWord(G("中") + "a", 3, 9);  // a one-byte key
    CDictionary loaded;
    ASSERT_TRUE(succeeded(loaded.loadFromBytes(built.serialize(), "pairs")));
    for (int round = 0; round < 3000; ++round) {
        const std::string a = round % 2 ? firsts[rng() % firsts.size()] : randomWord(3);
        const std::string pair = a + "@" + randomWord(3);
        const int expected = built.getFrequency(pair, 3);
        EXPECT_EQ(loaded.getFrequency(pair, 3), expected);
        EXPECT_EQ(loaded.getFrequency(pair, -1), built.getFrequency(pair, -1));
        const CDictionary::PrefixRange range = loaded.prefixRange(a + "@");
        EXPECT_EQ(loaded.frequencyInRange(range, pair, 3), expected) << round;
        if (expected > 0) {
            EXPECT_FALSE(range.empty());
        }
        const std::string probe = randomWord(4);
        EXPECT_EQ(loaded.probePrefix(probe).prefix, built.probePrefix(probe).prefix);
        EXPECT_EQ(loaded.isWord(probe), built.isWord(probe));
    }
    EXPECT_EQ(loaded.getFrequency(G("中") + "a", 3), 9);
    EXPECT_FALSE(loaded.prefixRange(G("中") + "a").empty());
    EXPECT_TRUE(loaded.prefixRange(G("中") + "b").empty());
}

TEST(DictionaryTest, TextsEndAtANulAndOutliveTheBytesTheyCameFrom) {
    // One entry of the cell of 中 whose text holds a NUL: the key ends there.
    auto int32 = [](std::string& out, int32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
    };
    const std::string key = G("国") + std::string("\0xx", 3);
    std::string bytes;
    for (int cell = 0; cell < CDictionary::kCellCount; ++cell) {
        if (cell != (0xD6 - 0xB0) * 94 + (0xD0 - 0xA1)) {
            int32(bytes, 0);
            continue;
        }
        int32(bytes, 1);
        int32(bytes, 7);
        int32(bytes, static_cast<int32_t>(key.size()));
        int32(bytes, 1);
        bytes += key;
    }
    CDictionary d;
    {
        const std::string copy = bytes;
        ASSERT_TRUE(succeeded(d.loadFromBytes(copy, "nul.dct")));
    }
    EXPECT_EQ(d.getFrequency(G("中国")), 7);
    EXPECT_FALSE(d.isWord(G("中国") + "xx"));
    // Words added later live beside the loaded ones.
    EXPECT_TRUE(d.addWord(G("中国人"), 2, 3));
    EXPECT_EQ(d.getFrequency(G("中国人")), 3);
    EXPECT_EQ(d.getFrequency(G("中国")), 7);
    CDictionary reloaded;
    ASSERT_TRUE(succeeded(reloaded.loadFromBytes(d.serialize(), "again.dct")));
    EXPECT_EQ(reloaded.serialize(), d.serialize());
    EXPECT_EQ(reloaded.entryCount(), 2u);
}
