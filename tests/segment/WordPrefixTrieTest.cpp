// Walks of growing strings through the word trie against probes of each
// string by itself over the cells: the word graph must see the same
// answers either way.
#include <filesystem>
#include <random>

#include "SegmentTestSupport.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Walks `s` one character at a time (as the word graph extends its probes)
// and compares every step with a probe of the prefix in `slow`. Past the
// point where no word begins with the string, the walk must say so too.
void expectSameWalk(const CDictionary& fast, const CDictionary& slow, const std::string& s) {
    CDictionary::PrefixWalk walk;
    size_t end = 0;
    bool deadEnd = false;
    while (end < s.size()) {
        end += (static_cast<unsigned char>(s[end]) >= 0x80 && end + 1 < s.size()) ? 2 : 1;
        const std::string prefix = s.substr(0, end);
        const CDictionary::PrefixProbe a = fast.probeExtension(walk, prefix);
        const CDictionary::PrefixProbe b = slow.probePrefix(prefix);
        ASSERT_EQ(a.prefix, b.prefix) << U(prefix);
        ASSERT_EQ(a.exact, b.exact) << U(prefix);
        ASSERT_EQ(a.frequencySum, b.frequencySum) << U(prefix);
        ASSERT_EQ(a.handle, b.handle) << U(prefix);
        ASSERT_EQ(a.count, b.count) << U(prefix);
        // A walk that says nothing longer begins with the string is right
        // (a trailing blank is trimmed: that string is another one).
        if (deadEnd && prefix.back() != ' ') {
            ASSERT_FALSE(a.prefix) << U(prefix);
        }
        if (!a.longer && prefix.back() != ' ') deadEnd = true;
    }
}

}  // namespace

TEST(WordPrefixTrieTest, WalksAgreeWithSingleProbesOnMadeUpKeys) {
    // Keys sharing prefixes, with ASCII units, cut-off lead bytes (inside
    // and at the end of keys), blanks, many handles of one key (more than
    // a probe counts), words of the delimiter cell and a long key.
    std::mt19937 rng(11);
    const std::vector<std::string> pieces = {G("中"), G("国"), G("人"), "@", "a", " ", G("，"), "\xB0"};
    auto randomWord = [&](int most) {
        std::string w = rng() % 8 == 0 ? G("。") : (rng() % 9 == 0 ? std::string("\xD7\xFA") : G("中"));
        const int n = static_cast<int>(rng() % static_cast<unsigned>(most + 1));
        for (int i = 0; i < n; ++i) w += pieces[rng() % pieces.size()];
        return w;
    };
    CDictionary built;
    for (int i = 0; i < 3000; ++i)
        built.addWord(randomWord(5), static_cast<int>(rng() % 4) + 1, static_cast<int>(rng() % 90) + 1);
    for (int handle = 1; handle <= CDictionary::kMaxHandles + 5; ++handle) built.addWord(G("中国人"), handle, handle * 7);
    std::string longWord = G("中");
    for (int i = 0; i < 300; ++i) longWord += G("国");
    built.addWord(longWord, 1, 5);

    CDictionary fast;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(built.serialize(), "made-up")));
    const CDictionary slow = withoutTable(fast);
    for (const std::string& w : allWords(fast)) {
        expectSameWalk(fast, slow, w);
        expectSameWalk(fast, slow, w + G("国人"));
    }
    for (int round = 0; round < 20000; ++round) expectSameWalk(fast, slow, randomWord(8));
    expectSameWalk(fast, slow, longWord + G("人"));

    // A dictionary whose trie is stale (after addWord) or dropped answers
    // by single probes.
    fast.addWord(G("中国民"), 9, 77);
    expectSameWalk(fast, withoutTable(fast), G("中国民"));
    expectSameWalk(withoutTable(fast), withoutTable(fast), G("中国民"));
}

TEST(WordPrefixTrieTest, WalksAgreeWithSingleProbesOnTheBuiltData) {
    std::mt19937 rng(13);
    const bool built = forEachBuiltDictionary([&](const CDictionary& fast, const CDictionary& slow,
                                                  const std::vector<std::string>& words) {
        if (words.empty()) return;
        for (const std::string& w : words) expectSameWalk(fast, slow, w);
        // Words run together, as sentences hold them.
        for (int round = 0; round < 20000; ++round)
            expectSameWalk(fast, slow, words[rng() % words.size()] + words[rng() % words.size()]);
    });
    if (!built) GTEST_SKIP() << "no dictionary files built in " << KESTREL_DATA_DIR;
}

TEST(WordPrefixTrieTest, CellTooLargeForTheTrieIsLookedUpByItself) {
    // Twenty thousand words beginning with one character need more slots
    // than the trie gives a cell: walks of that cell fall back to single
    // probes, and the other cells keep the trie.
    CDictionary built;
    std::mt19937 rng(17);
    auto ideograph = [&] {
        const std::string c = {static_cast<char>(0xB0 + rng() % 0x40), static_cast<char>(0xA1 + rng() % 94)};
        return c;
    };
    std::vector<std::string> words;
    for (int i = 0; i < 20000; ++i) words.push_back(G("中") + ideograph() + ideograph());
    for (int i = 0; i < 2000; ++i) words.push_back(G("国") + ideograph());
    for (const std::string& w : words) built.addWord(w, static_cast<int>(rng() % 3) + 1, static_cast<int>(rng() % 50) + 1);
    CDictionary fast;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(built.serialize(), "large cell")));
    const CDictionary slow = withoutTable(fast);
    for (int round = 0; round < 3000; ++round) {
        const std::string& w = words[rng() % words.size()];
        expectSameWalk(fast, slow, w + words[rng() % words.size()]);
        expectSameWalk(fast, slow, w.substr(0, 4) + ideograph() + ideograph());
    }
    CDictionary::PrefixWalk walk;
    EXPECT_EQ(fast.probeExtension(walk, words.back()).node == WordPrefixTrie::kNone, false);
}
