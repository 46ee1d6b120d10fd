// The prefix table against the plain binary searches over the cells: both
// must give the same answers to every lookup, on the built data files and on
// strings made up to miss.
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "SegmentTestSupport.h"
#include "segment/lookup/WordPairIndex.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Compares every lookup of `s` between the table and the reference.
void expectSameAnswers(const CDictionary& fast, const CDictionary& slow, const std::string& s) {
    const CDictionary::PrefixProbe a = fast.probePrefix(s);
    const CDictionary::PrefixProbe b = slow.probePrefix(s);
    ASSERT_EQ(a.prefix, b.prefix) << U(s);
    ASSERT_EQ(a.exact, b.exact) << U(s);
    ASSERT_EQ(a.frequencySum, b.frequencySum) << U(s);
    ASSERT_EQ(a.handle, b.handle) << U(s);

    int handlesA[CDictionary::kMaxHandles], frequenciesA[CDictionary::kMaxHandles];
    int handlesB[CDictionary::kMaxHandles], frequenciesB[CDictionary::kMaxHandles];
    const int n = fast.getHandles(s, handlesA, frequenciesA);
    ASSERT_EQ(n, slow.getHandles(s, handlesB, frequenciesB)) << U(s);
    // What the word graph carries on instead of looking the word up again.
    ASSERT_EQ(a.count, n) << U(s);
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += frequenciesA[i];
    ASSERT_EQ(a.frequencySum, sum) << U(s);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(handlesA[i], handlesB[i]) << U(s);
        ASSERT_EQ(frequenciesA[i], frequenciesB[i]) << U(s);
        ASSERT_EQ(fast.getFrequency(s, handlesA[i]), slow.getFrequency(s, handlesA[i])) << U(s);
    }
    ASSERT_EQ(fast.getFrequency(s, -1), slow.getFrequency(s, -1)) << U(s);
    ASSERT_EQ(fast.isWord(s, 44), slow.isWord(s, 44)) << U(s);

    std::string wordA, wordB;
    int handleA = 0, handleB = 0;
    ASSERT_EQ(fast.getMaxMatch(s, wordA, handleA), slow.getMaxMatch(s, wordB, handleB)) << U(s);
    ASSERT_EQ(wordA, wordB) << U(s);
    ASSERT_EQ(handleA, handleB) << U(s);

    const CDictionary::PrefixRange rangeA = fast.prefixRange(s);
    const CDictionary::PrefixRange rangeB = slow.prefixRange(s);
    ASSERT_EQ(rangeA.empty(), rangeB.empty()) << U(s);
    if (!rangeA.empty()) {
        ASSERT_EQ(rangeA.lo, rangeB.lo) << U(s);
        ASSERT_EQ(rangeA.hi, rangeB.hi) << U(s);
    }
}

}  // namespace

TEST(PrefixTableTest, AgreesWithTheBinarySearchesOnMadeUpKeys) {
    // Keys of a few characters from a small alphabet, so that they share
    // prefixes: ideographs, '@' pairs, ASCII, a cut-off lead byte at the
    // end, several handles per key, words of the delimiter cell and keys
    // longer than the table holds.
    std::mt19937 rng(5);
    const std::vector<std::string> pieces = {G("中"), G("国"), G("人"), G("民"), "@", "a", "7", G("，"), "\xB0"};
    auto randomWord = [&](int most) {
        std::string w = rng() % 8 == 0 ? G("。") : G("中");
        const int n = static_cast<int>(rng() % static_cast<unsigned>(most + 1));
        for (int i = 0; i < n; ++i) w += pieces[rng() % pieces.size()];
        return w;
    };
    CDictionary built;
    for (int i = 0; i < 3000; ++i) built.addWord(randomWord(5), static_cast<int>(rng() % 4) + 1, static_cast<int>(rng() % 90) + 1);
    std::string longWord = G("中");
    for (int i = 0; i < 200; ++i) longWord += G("国");
    built.addWord(longWord, 1, 5);
    built.addWord(longWord + G("人"), 1, 6);

    CDictionary fast;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(built.serialize(), "made-up")));
    const CDictionary slow = withoutTable(fast);
    for (const std::string& w : allWords(fast)) {
        expectSameAnswers(fast, slow, w);
        for (size_t cut = 1; cut < w.size(); ++cut) expectSameAnswers(fast, slow, w.substr(0, cut));
        expectSameAnswers(fast, slow, w + " ");
    }
    for (int round = 0; round < 20000; ++round) expectSameAnswers(fast, slow, randomWord(7));
    EXPECT_EQ(fast.getFrequency(longWord + G("人")), 6);

    // addWord leaves the table stale: the answers come from the cells then,
    // and again from a rebuilt table.
    fast.addWord(G("中国民"), 9, 77);
    EXPECT_EQ(fast.getFrequency(G("中国民"), 9), 77);
    fast.usePrefixTable(true);
    EXPECT_EQ(fast.getFrequency(G("中国民"), 9), 77);
    EXPECT_TRUE(fast.probePrefix(G("中国")).prefix);
}

TEST(PrefixTableTest, AgreesWithTheBinarySearchesOnTheBuiltData) {
    // Every entry of every dictionary file built into the data directory,
    // every prefix of it, and random strings of its characters.
    std::mt19937 rng(3);
    const bool built = forEachBuiltDictionary([&](const CDictionary& fast, const CDictionary& slow,
                                                  const std::vector<std::string>& words) {
        for (const std::string& w : words) {
            expectSameAnswers(fast, slow, w);
            for (size_t cut = 1; cut < w.size(); ++cut) expectSameAnswers(fast, slow, w.substr(0, cut));
        }
        if (words.empty()) return;
        for (int round = 0; round < 20000; ++round) {
            // Pieces of two words joined, as the segmenter's probes and
            // word pairs are.
            const std::string& a = words[rng() % words.size()];
            const std::string& b = words[rng() % words.size()];
            const std::string s = a.substr(0, rng() % (a.size() + 1)) + (rng() % 4 == 0 ? "@" : "") +
                                  b.substr(0, rng() % (b.size() + 1));
            expectSameAnswers(fast, slow, s);
        }
    });
    if (!built) GTEST_SKIP() << "no dictionary files built in " << KESTREL_DATA_DIR;
}

TEST(PrefixTableTest, AgreesWithTheBinarySearchesOnCorpusText) {
    // The strings segmentation looks up: every run of one to six characters
    // of real documents, and pairs of adjacent runs as bigram keys.
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "cn10" / "train";
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::is_directory(corpus, ec)) GTEST_SKIP() << "no corpus in " << corpus;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    std::vector<std::filesystem::path> documents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus, ec))
        if (entry.path().extension() == ".txt") documents.push_back(entry.path());
    std::sort(documents.begin(), documents.end());
    CDictionary core, bigram;
    std::string error;
    ASSERT_TRUE(succeeded(core.load((data / "coreDict.dct").string())));
    ASSERT_TRUE(succeeded(bigram.load((data / "BigramDict.dct").string())));
    const CDictionary slowCore = withoutTable(core);
    const CDictionary slowBigram = withoutTable(bigram);
    for (size_t d = 0; d < documents.size(); d += std::max<size_t>(1, documents.size() / 100)) {
        const Result<std::string> bytes = readFile(documents[d].string());
        ASSERT_TRUE(bytes) << bytes.message();
        const std::string text = toGbk(*bytes).substr(0, 20000);
        std::vector<size_t> starts;  // character boundaries
        for (size_t i = 0; i < text.size(); i += (static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1)) starts.push_back(i);
        starts.push_back(text.size());
        for (size_t i = 0; i + 1 < starts.size(); ++i) {
            for (size_t n = 1; n <= 6 && i + n < starts.size(); ++n) {
                const std::string s = text.substr(starts[i], starts[i + n] - starts[i]);
                expectSameAnswers(core, slowCore, s);
                const size_t end = std::min(starts.size() - 1, i + n + 2);
                expectSameAnswers(bigram, slowBigram, s + "@" + text.substr(starts[i + n], starts[end] - starts[i + n]));
            }
        }
    }
}

namespace {

// The pair lookup of `fast` (pair index) against the joined text looked up
// in `slow`, with the ids `fast` gives the two words.
void expectSamePairCount(const CDictionary& fast, const CDictionary& slow, const std::string& first,
                         const std::string& second) {
    std::string scratch;
    const int expected = slow.getFrequency(first + "@" + second, 3);
    ASSERT_EQ(fast.pairFrequency(first, fast.pairWordId(first), second, fast.pairWordId(second), scratch), expected)
        << U(first) << " @ " << U(second);
}

// The two words of every '@' split of a dictionary text.
std::vector<std::pair<std::string, std::string>> pairSplits(const std::vector<std::string>& texts) {
    std::vector<std::pair<std::string, std::string>> splits;
    for (const std::string& t : texts) {
        for (size_t at = t.find('@'); at != std::string::npos; at = t.find('@', at + 1))
            splits.emplace_back(t.substr(0, at), t.substr(at + 1));
    }
    return splits;
}

void expectPairIndexAgrees(const std::string& bytes, std::mt19937& rng) {
    CDictionary fast, slow;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(bytes, "pairs", CDictionary::Index::kPairs)));
    ASSERT_TRUE(succeeded(slow.loadFromBytes(bytes, "pairs")));
    const auto splits = pairSplits(allWords(slow));
    ASSERT_FALSE(splits.empty());
    for (const auto& [first, second] : splits) expectSamePairCount(fast, slow, first, second);
    // Words of different pairs joined, cut short, with blanks at the ends.
    for (int round = 0; round < 20000; ++round) {
        std::string first = splits[rng() % splits.size()].first;
        std::string second = splits[rng() % splits.size()].second;
        if (round % 5 == 1) first = first.substr(0, rng() % (first.size() + 1));
        if (round % 5 == 2) second = splits[rng() % splits.size()].first;
        if (round % 7 == 3) second += " ";
        if (round % 7 == 4) first = " " + first;
        expectSamePairCount(fast, slow, first, second);
    }
}

}  // namespace

TEST(PairIndexTest, AgreesWithTheJoinedTextOnMadeUpPairs) {
    // Words that hold '@' themselves, pairs of the delimiter cell and of the
    // unassigned code that shares its cell, one pair twice with handle 3
    // (the first count is the one found), other handles, trailing blanks.
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {G("中"), G("国"), "@", "a", G("，"), "\xD7\xFA", "\xB0"};
    auto word = [&] {
        std::string w = rng() % 6 == 0 ? G("。") : (rng() % 9 == 0 ? std::string("\xD7\xFA") : G("中"));
        for (unsigned n = rng() % 4; n > 0; --n) w += pieces[rng() % pieces.size()];
        return w;
    };
    CDictionary built;
    for (int i = 0; i < 3000; ++i) built.addWord(word() + "@" + word(), rng() % 5 == 0 ? 2 : 3, static_cast<int>(rng() % 90) + 1);
    built.addWord(G("中") + "@" + G("国") + " ", 3, 4);
    expectPairIndexAgrees(built.serialize(), rng);
    // Two entries (中@国, 3), as a file written elsewhere may hold: the
    // lookup finds the first. The second is written with handle 2, then
    // its handle is patched.
    CDictionary twice;
    twice.addWord(G("中") + "@" + G("国"), 3, 11);
    twice.addWord(G("中") + "@" + G("国"), 2, 12);
    std::string bytes = twice.serialize();
    const std::string record = std::string("\x0c\0\0\0\x03\0\0\0\x02\0\0\0", 12);
    const size_t at = bytes.find(record);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 8] = 3;
    expectPairIndexAgrees(bytes, rng);
    // Counts the index cannot hold leave every pair to the joined text.
    CDictionary large;
    large.addWord(G("中") + "@" + G("民"), 3, -5);
    large.addWord(G("国") + "@" + G("民"), 3, 1 << 25);
    expectPairIndexAgrees(large.serialize(), rng);

    // addWord leaves the index stale: the joined text is looked up then.
    CDictionary fast;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(bytes, "pairs", CDictionary::Index::kPairs)));
    std::string scratch;
    EXPECT_EQ(fast.pairFrequency(G("中"), fast.pairWordId(G("中")), G("国"), fast.pairWordId(G("国")), scratch), 12);
    fast.addWord(G("中") + "@" + G("国"), 3, 99);
    EXPECT_EQ(fast.pairFrequency(G("中"), fast.pairWordId(G("中")), G("国"), fast.pairWordId(G("国")), scratch), 99);
}

TEST(PairIndexTest, AgreesWithTheJoinedTextOnTheBuiltPairs) {
    const std::filesystem::path file = std::filesystem::path(KESTREL_DATA_DIR) / "BigramDict.dct";
    const Result<std::string> bytes = readFile(file.string());
    if (!bytes || bytes->size() < 6768 * 4 + 16) GTEST_SKIP() << "no word pairs built in " << file;
    std::mt19937 rng(9);
    expectPairIndexAgrees(*bytes, rng);
}

TEST(PairIndexTest, BuiltOnceOnFirstUseBySeveralThreadsAndCopies) {
    // The index is made by the first pair lookup: copies taken before it
    // and threads that make that lookup at the same time all get the
    // answers of the joined text.
    std::mt19937 rng(11);
    CDictionary built;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 2000; ++i) {
        std::string a = G("中"), b = G("国");
        for (unsigned n = rng() % 3; n > 0; --n) a += G(rng() % 2 ? "民" : "人");
        for (unsigned n = rng() % 3; n > 0; --n) b += G(rng() % 2 ? "家" : "们");
        built.addWord(a + "@" + b, 3, static_cast<int>(rng() % 500) + 1);
        pairs.emplace_back(a, b);
    }
    pairs.emplace_back(G("国"), G("中"));  // no such pair
    CDictionary fast;
    ASSERT_TRUE(succeeded(fast.loadFromBytes(built.serialize(), "pairs", CDictionary::Index::kPairs)));
    const CDictionary copy = fast;
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const CDictionary& d = t % 2 ? copy : fast;
            std::string scratch;
            for (const auto& [a, b] : pairs) {
                if (d.pairFrequency(a, d.pairWordId(a), b, d.pairWordId(b), scratch) != built.getFrequency(a + "@" + b, 3))
                    ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
    EXPECT_GE(fast.pairWordId(pairs[0].first), 0);
}

TEST(PairIndexTest, GrowsAsPairsComeAndKeepsTheFirstCount) {
    // Without room made up front the table grows many times while pairs
    // are still waiting to be stored; a pair added again keeps its first
    // count, and counts that do not fit make the index incomplete.
    std::mt19937 rng(13);
    WordPairIndex index;
    std::map<std::pair<std::string, std::string>, int> expected;
    for (int i = 0; i < 30000; ++i) {
        const std::string a = "w" + std::to_string(rng() % 400);
        const std::string b = "v" + std::to_string(rng() % 400);
        const int count = static_cast<int>(rng() % 1000);
        index.add(a, b, count);
        expected.emplace(std::make_pair(a, b), count);
    }
    index.finish();
    EXPECT_TRUE(index.complete());
    EXPECT_EQ(index.pairCount(), expected.size());
    for (const auto& [words, count] : expected)
        ASSERT_EQ(index.count(index.wordId(words.first), index.wordId(words.second)), count) << words.first << words.second;
    EXPECT_EQ(index.count(index.wordId("w1"), index.wordId("w1")), 0);
    index.add("w1", "w2", -1);
    index.finish();
    EXPECT_FALSE(index.complete());
}
