// Skipped work must not change a result: the segmenter with its shortcuts
// against the same segmenter computing every step, path by path, on the
// built data with real and with random sentences.
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CSegment.h"
#include "segment/CUnknowWord.h"
#include "segment/CWordSegment.h"
#include "segment/CharClass.h"
#include "segment/WordSegmenter.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Segments `sentence` with both and compares every path, word by word.
void expectSamePaths(CWordSegment& fast, CWordSegment& full, std::string_view sentence) {
    fast.segmentSentence(sentence);
    full.segmentSentence(sentence);
    ASSERT_EQ(fast.segment().segmentCount(), full.segment().segmentCount()) << U(sentence);
    for (int k = 0; k < full.segment().segmentCount(); ++k) {
        const WordPath& a = fast.segment().path(k);
        const WordPath& b = full.segment().path(k);
        ASSERT_EQ(a.size(), b.size()) << U(sentence);
        for (size_t i = 0; i < a.size(); ++i) {
            ASSERT_EQ(a[i].word, b[i].word) << U(sentence);
            ASSERT_EQ(a[i].handle, b[i].handle) << U(sentence) << " word " << U(a[i].word);
            ASSERT_EQ(a[i].value, b[i].value) << U(sentence) << " word " << U(a[i].word);
        }
    }
}

// Runs of double-byte characters of `text`, at most `longest` bytes each.
std::vector<std::string> sentencesOf(const std::string& text, size_t longest) {
    std::vector<std::string> sentences;
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        while (i + 1 < text.size() && static_cast<unsigned char>(text[i]) >= 0x80 && i - start < longest) i += 2;
        if (i > start) sentences.push_back(text.substr(start, i - start));
        if (i == start) ++i;
    }
    return sentences;
}

struct Segmenters {
    CWordSegment fast;
    CWordSegment full;
    bool load(const std::string& dir) {
        if (!fast.loadDataDirectory(dir) || !full.loadDataDirectory(dir)) return false;
        fast.recognitionSwitch = full.recognitionSwitch = 2;
        full.setShortcuts(false);
        return true;
    }
};

}  // namespace

TEST(ShortcutTest, SingleChainsAreTheGraphsWithOnePath) {
    CDynamicArray chain(true);
    chain.setElement(0, 1, 0, 0);
    chain.setElement(1, 3, 0, 0);
    chain.setElement(3, 4, 0, 0);
    EXPECT_TRUE(CSegment::isSingleChain(chain));
    CDynamicArray branch = chain;
    branch.setElement(1, 2, 0, 0);  // a second word from vertex 1
    EXPECT_FALSE(CSegment::isSingleChain(branch));
    CDynamicArray gap(true);
    gap.setElement(0, 1, 0, 0);
    gap.setElement(2, 3, 0, 0);
    EXPECT_FALSE(CSegment::isSingleChain(gap));
    CDynamicArray back(true);
    back.setElement(0, 2, 0, 0);
    back.setElement(2, 0, 0, 0);  // leads back to the first word
    EXPECT_FALSE(CSegment::isSingleChain(back));
    CDynamicArray one(true);
    one.setElement(0, 1, 0, 0);
    EXPECT_FALSE(CSegment::isSingleChain(one));
}

TEST(ShortcutTest, SameResultsOnCorpusAndRandomSentences) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    Segmenters s;
    ASSERT_TRUE(s.load(data.string()));

    std::string text = G("中华人民共和国成立于一九四九年十月一日，迈克尔·乔丹在１９９８年访问了北京大学。"
                         "郑秋雁和基普罗蒂奇到张家村、李庄镇，二００一年３月５日－３．５％");
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "pfr199801" / "199801.txt";
    if (const Result<std::string> bytes = readFile(corpus.string()); bytes) text += toGbk(bytes->substr(0, 300000));
    const std::vector<std::string> sentences = sentencesOf(text, 300);
    ASSERT_FALSE(sentences.empty());
    for (const std::string& sentence : sentences) expectSamePaths(s.fast, s.full, sentence);

    // Random mixtures of the corpus's characters, so that unknown names,
    // numbers and marks meet in ways the corpus does not show.
    std::vector<std::string> characters;
    for (size_t i = 0; i + 1 < text.size() && characters.size() < 5000; i += 2) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) characters.push_back(text.substr(i, 2));
    }
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        std::string sentence;
        for (unsigned n = rng() % 20 + 1; n > 0; --n) sentence += characters[rng() % characters.size()];
        expectSamePaths(s.fast, s.full, sentence);
    }
}

// Pairs scored by their joined text until the pair index is built give
// what the index gives.
TEST(ShortcutTest, PairsByTextAndByIdsGiveTheSamePaths) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    CWordSegment byText, byIds;
    ASSERT_TRUE(succeeded(byText.loadDataDirectory(data.string())));
    ASSERT_TRUE(succeeded(byIds.loadDataDirectory(data.string())));
    byText.recognitionSwitch = byIds.recognitionSwitch = 2;
    byText.segment().setTextPairLimit(std::numeric_limits<size_t>::max());
    byIds.segment().setTextPairLimit(0);

    std::string text = G("中华人民共和国成立于一九四九年十月一日，郑秋雁和基普罗蒂奇到张家村。"
                         "粘聿亘丌兀丐廿卅丕亘丞鬲孬噩丨禺丿匕乇夭爻卮氐囟胤馗毓睾鼗");
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "pfr199801" / "199801.txt";
    if (const Result<std::string> bytes = readFile(corpus.string()); bytes) text += toGbk(bytes->substr(1000000, 100000));
    for (const std::string& sentence : sentencesOf(text, 80)) expectSamePaths(byText, byIds, sentence);
}

TEST(ShortcutTest, WhatIsKeptOfTextsIsForgottenWhenTheDataChange) {
    const CDictionary core = makeCore({{"我们", 400, 'r' * 256}, {"喜欢", 200, kVerb}, {"欢", 10, kVerb},
                                       {"我", 500, 'r' * 256}, {"们", 5, 'k' * 256}, {"喜", 10, kVerb}});
    const std::string sentence = std::string(kSentenceBegin) + G("我们喜欢") + std::string(kSentenceEnd);
    auto firstPath = [&](CSegment& seg, const CDictionary& bigram) {
        seg.biSegment(sentence, core, bigram, 0.1);
        std::vector<std::string> words;
        for (const WordResult& w : seg.path(0)) words.push_back(U(w.word));
        return words;
    };
    // Pair counts that favour 我们/喜欢, then ones that favour 我/们喜欢...
    CDictionary favoured, other;
    favoured.addWord(G("我们@喜欢"), 3, 1000);
    other.addWord(G("我@们"), 3, 100000);
    other.addWord(G("们@喜"), 3, 100000);
    other.addWord(G("喜@欢"), 3, 100000);
    CDictionary bigram;
    ASSERT_TRUE(succeeded(bigram.loadFromBytes(favoured.serialize(), "favoured", CDictionary::Index::kPairs)));
    CSegment seg;
    seg.setTextPairLimit(0);  // pairs by their ids from the start
    const std::vector<std::string> first = firstPath(seg, bigram);
    // ... loaded into the same dictionary object: the segmenter must not
    // use the pair ids it found in the first one.
    ASSERT_TRUE(succeeded(bigram.loadFromBytes(other.serialize(), "other", CDictionary::Index::kPairs)));
    CSegment fresh;
    const std::vector<std::string> expected = firstPath(fresh, bigram);  // pairs by their text
    EXPECT_NE(first, expected);
    EXPECT_EQ(firstPath(seg, bigram), expected);

    // A place tagger that read its role dictionary before the dictionary
    // learnt that 我们喜欢 reads as the first and last part of a place.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->context = makeContext({0, 1, 3, 100, 101}, {{100, 1}, {1, 3}, {3, 101}, {100, 0}, {0, 0}, {0, 101}}, 100, 50);
    auto places = [&](CSpan& tagger) {
        CSegment s;
        s.biSegment(sentence, core, CDictionary(), 0.1);
        tagger.tagPath(s.path(0), core, roles->dictionary);
        return tagger.unknownCount();
    };
    CSpan tagger;
    tagger.setTagType(CSpan::kPlace);
    tagger.setContext(&roles->context);
    EXPECT_EQ(places(tagger), 0);
    roles->dictionary.addWord(G("我们"), 1, 100000);
    roles->dictionary.addWord(G("喜欢"), 3, 100000);
    CSpan freshTagger;
    freshTagger.setTagType(CSpan::kPlace);
    freshTagger.setContext(&roles->context);
    EXPECT_EQ(places(freshTagger), 1);
    EXPECT_EQ(places(tagger), 1);
}

// Documents segmented one after another by the kept working segmenters give
// what a fresh copy of the loaded data gives; a change of the unknown-word
// switch reaches the next document.
TEST(ShortcutTest, KeptWorkersSegmentAsFreshOnes) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    WordSegmenter segmenter;
    ASSERT_TRUE(succeeded(segmenter.loadDataDirectory(data.string())));
    segmenter.setUnknownWordSwitch(1);

    TempDir docs;
    const std::vector<std::string> texts = {"郑秋雁和基普罗蒂奇到张家村、李庄镇。", "中华人民共和国成立于一九四九年十月一日。",
                                            "迈克尔·乔丹在１９９８年访问了北京大学。", "郑秋雁说，二００一年３月５日－３．５％"};
    auto fresh = [&](const std::string& text) {
        CWordSegment worker = segmenter.worker();
        std::vector<std::string> words;
        worker.segmentText(G(text), words);
        return words;
    };
    for (int round = 0; round < 2; ++round) {
        if (round == 1) segmenter.setUnknownWordSwitch(0);
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string path = docs.path() + std::to_string(i) + ".txt";
            ASSERT_TRUE(writeFileAtomically(path, G(texts[i])));
            const Result<SegmentedDocument> segmented = segmenter.segmentDocument(path);
            ASSERT_TRUE(segmented);
            EXPECT_EQ(segmented->words, fresh(texts[i])) << round << " " << texts[i];
        }
    }
    // The switch did change the words: names are no longer recognised.
    segmenter.setUnknownWordSwitch(1);
    const std::vector<std::string> withNames = fresh(texts[0]);
    segmenter.setUnknownWordSwitch(0);
    EXPECT_NE(withNames, fresh(texts[0]));
}

// The words of a sentence are numbered by the core dictionary's probes, and
// a segmenter keeps the ids of texts it learnt by those numbers: a
// dictionary loaded anew numbers other words alike, and what was kept must
// not serve them. Within one table, an id names one text.
TEST(ShortcutTest, WordsKeptByTheirNumbersAreForgottenWhenTheCoreChanges) {
    const std::vector<std::string> seconds = {"们", "喜", "欢", "爱", "好", "看"};
    CDictionary pairs;
    for (size_t i = 0; i < seconds.size(); i += 2) pairs.addWord(G("我" + seconds[i]) + "@" + G("欢"), 3, 5000);
    CDictionary bigram;
    ASSERT_TRUE(succeeded(bigram.loadFromBytes(pairs.serialize(), "pairs", CDictionary::Index::kPairs)));
    CDictionary core;
    CSegment kept;
    std::map<std::pair<uint32_t, int>, std::string> texts;
    for (const std::string& x : seconds) {
        const std::string word = "我" + x;
        const CDictionary built = makeCore({{word.c_str(), 400, 'r' * 256}, {"喜欢", 200, kVerb}, {"我", 500, 'r' * 256},
                                            {"喜", 10, kVerb}, {"欢", 10, kVerb}});
        ASSERT_TRUE(succeeded(core.loadFromBytes(built.serialize(), "core")));
        for (const std::string& y : seconds) {
            const std::string sentence = std::string(kSentenceBegin) + G("我" + y + "喜欢" + word + "欢") + std::string(kSentenceEnd);
            CSegment fresh;
            kept.biSegment(sentence, core, bigram, 0.1);
            fresh.biSegment(sentence, core, bigram, 0.1);
            ASSERT_EQ(kept.segmentCount(), fresh.segmentCount());
            for (int k = 0; k < kept.segmentCount(); ++k) {
                ASSERT_EQ(kept.path(k).size(), fresh.path(k).size()) << U(sentence);
                for (size_t i = 0; i < kept.path(k).size(); ++i) {
                    const WordResult& w = kept.path(k)[i];
                    EXPECT_EQ(w.word, fresh.path(k)[i].word) << U(sentence);
                    if (w.textId < 0) continue;
                    const auto [at, added] = texts.emplace(std::make_pair(w.textTable, w.textId), w.word);
                    EXPECT_EQ(at->second, w.word) << U(sentence);
                }
            }
        }
    }
}
