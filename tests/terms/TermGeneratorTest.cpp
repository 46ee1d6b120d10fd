// The terms of documents: n-grams of mixed text, pairs, and words exactly as
// segmentation alone gives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "features/SegmentedCorpus.h"
#include "segment/CWordSegment.h"
#include "terms/TermGenerator.h"
#include "terms/TermText.h"

using kestrel::TermGenerator;
using kestrel::TermKind;
using kestrel::TermOptions;
using kestrel::WordCounts;

namespace {

std::string G(std::string_view utf8) { return kestrel::utf8ToGbk(utf8); }

TermOptions options(const char* written) {
    auto parsed = TermOptions::parse(written);
    EXPECT_TRUE(parsed.ok()) << parsed.message();
    return parsed.valueOr(TermOptions());
}

// The segmenter with the data of the build.
kestrel::CWordSegment& segmenter() {
    static kestrel::CWordSegment loaded = [] {
        kestrel::CWordSegment s;
        EXPECT_TRUE(kestrel::testing::succeeded(s.loadDataDirectory(KESTREL_DATA_DIR)));
        s.recognitionSwitch = 2;
        return s;
    }();
    return loaded;
}

// A stand-in segmenter whose words are single characters, with 了 as the
// one stop word; ASCII runs are kept as the real rules keep them.
void characterWords(std::string_view run, std::vector<std::string>& words) {
    if (static_cast<unsigned char>(run[0]) < 0x80) {
        if (run.size() >= 2 && !(run[0] >= '0' && run[0] <= '9')) words.emplace_back(run);
        return;
    }
    for (size_t i = 0; i < run.size(); i += kestrel::gb18030CharLength(run, i)) {
        const std::string_view ch = run.substr(i, kestrel::gb18030CharLength(run, i));
        if (ch != G("了")) words.emplace_back(ch);
    }
}

// The terms of one kind as UTF-8 (marks removed) with their counts, in order.
std::vector<std::pair<std::string, uint32_t>> termsOf(const WordCounts& counts, TermKind kind) {
    std::vector<std::pair<std::string, uint32_t>> out;
    for (const auto& [term, count] : counts.entries()) {
        const kestrel::TermParts parts = kestrel::splitTerm(term);
        if (parts.kind != kind) continue;
        std::string shown = kestrel::gbkToUtf8(parts.first);
        if (kind == TermKind::kPair) shown += " " + kestrel::gbkToUtf8(parts.second);
        out.emplace_back(shown, count);
    }
    return out;
}

std::vector<std::string> namesOf(const std::vector<std::pair<std::string, uint32_t>>& terms) {
    std::vector<std::string> names;
    for (const auto& term : terms) names.push_back(term.first);
    return names;
}

WordCounts countTerms(const char* written, std::string_view gbk,
                      TermGenerator::RunWords words = characterWords) {
    WordCounts counts;
    TermGenerator(options(written), std::move(words)).countTerms(gbk, counts);
    return counts;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(TermGenerator, CharacterNgramsStayInsideTheRunsWordsAreCutFrom) {
    // Ideographs across a line break (layout inside a run), the particle
    // 的 and punctuation (both end a run), a Latin word with a digit, a run
    // starting with a digit and a single letter (both dropped by the word
    // rules), full-width letters, and a character outside GBK.
    const std::string text = G("中国\n人民的书，Win7网络 3G手机 x 好ＡＢ读𠀀字");
    kestrel::CWordSegment& real = segmenter();
    const WordCounts counts =
        countTerms("chars:2", text, [&real](std::string_view run, std::vector<std::string>& words) {
            real.segmentText(run, words);
        });
    EXPECT_EQ(namesOf(termsOf(counts, TermKind::kCharacters)),
              (Names{"中国", "国人", "人民", "Wi", "in", "n7", "网络", "手机", "读𠀀", "𠀀字"}));

    const WordCounts single = countTerms("chars:1-3", G("𠀀中"));
    EXPECT_EQ(namesOf(termsOf(single, TermKind::kCharacters)), (Names{"𠀀", "𠀀中", "中"}));
    EXPECT_EQ(single.entries()[1].first, "#" + G("𠀀中"));  // mark, four bytes, two bytes

    // Counts add up per term; a run shorter than n gives nothing of length n.
    const WordCounts repeated = countTerms("chars:2-3", G("中国中国。书"));
    EXPECT_EQ(termsOf(repeated, TermKind::kCharacters),
              (std::vector<std::pair<std::string, uint32_t>>{
                  {"中国", 2}, {"中国中", 1}, {"国中", 1}, {"国中国", 1}}));
}

TEST(TermGenerator, TinyAndEmptyDocuments) {
    EXPECT_TRUE(countTerms("words,chars:1-2,pairs", "").empty());
    EXPECT_TRUE(countTerms("words,chars:1-2,pairs", G("，。 ！１２３ 4")).empty());
    const WordCounts one = countTerms("words,chars:1-2,pairs", G("书"));
    ASSERT_EQ(one.entries().size(), 2u);
    EXPECT_EQ(one.entries()[0].first, G("书"));
    EXPECT_EQ(one.entries()[1].first, "#" + G("书"));
    // A stop word is a rule of words alone: its character stays an n-gram.
    const WordCounts stop = countTerms("words,chars:1", G("了"));
    ASSERT_EQ(stop.entries().size(), 1u);
    EXPECT_EQ(stop.entries()[0].first, "#" + G("了"));
}

TEST(TermGenerator, PairsJoinNeighboursOfARunAfterStopWords) {
    const WordCounts counts = countTerms("pairs", G("加快了经济，发展。发展"));
    EXPECT_EQ(namesOf(termsOf(counts, TermKind::kPair)), (Names{"加 快", "快 经", "经 济", "发 展"}));
    EXPECT_EQ(termsOf(counts, TermKind::kPair).back().second, 2u);
    EXPECT_TRUE(termsOf(counts, TermKind::kWord).empty());
    EXPECT_TRUE(termsOf(counts, TermKind::kCharacters).empty());

    // Kinds come in a fixed order: words, n-grams, pairs.
    const WordCounts all = countTerms("pairs,chars:1,words", G("文本分类"));
    std::vector<TermKind> kinds;
    for (const auto& entry : all.entries()) kinds.push_back(kestrel::splitTerm(entry.first).kind);
    EXPECT_EQ(kinds, (std::vector<TermKind>{TermKind::kWord, TermKind::kWord, TermKind::kWord, TermKind::kWord,
                                            TermKind::kCharacters, TermKind::kCharacters, TermKind::kCharacters,
                                            TermKind::kCharacters, TermKind::kPair, TermKind::kPair,
                                            TermKind::kPair}));
}

TEST(TermGenerator, WordsAreTheSegmentersWordsByteForByte) {
    // The sample corpus: every document, mixed Chinese, Latin words and
    // digits, through the real segmenter.
    const std::filesystem::path sample = std::filesystem::path(KESTREL_SOURCE_DIR) / "examples/sample";
    kestrel::CWordSegment& real = segmenter();
    size_t documents = 0, ngramTerms = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sample)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".txt") continue;
        const auto bytes = kestrel::readFile(entry.path().string());
        ASSERT_TRUE(bytes.ok());
        const std::string text = kestrel::decodeText(*bytes);
        std::vector<std::string> words;
        real.segmentText(text, words);
        WordCounts expected;
        expected.add(words);
        std::string expectedSeg, wordsOnlySeg, allSeg;
        expected.appendEntries(expectedSeg, '\n');

        WordCounts wordsOnly, all;
        TermGenerator(TermOptions(), real).countTerms(text, wordsOnly);
        TermGenerator(options("words,chars:1-2,pairs"), real).countTerms(text, all);
        wordsOnly.appendEntries(wordsOnlySeg, '\n');
        all.appendEntries(allSeg, '\n');
        EXPECT_EQ(wordsOnlySeg, expectedSeg) << entry.path();
        EXPECT_EQ(allSeg.substr(0, expectedSeg.size()), expectedSeg) << entry.path();
        // Nothing after the words is a word, and every term is written whole.
        for (size_t i = expected.entries().size(); i < all.entries().size(); ++i) {
            EXPECT_NE(kestrel::splitTerm(all.entries()[i].first).kind, TermKind::kWord) << all.entries()[i].first;
        }
        EXPECT_EQ(std::count(allSeg.begin(), allSeg.end(), '\n'), static_cast<long>(all.entries().size()));
        ngramTerms += all.entries().size() - expected.entries().size();
        ++documents;
    }
    EXPECT_GT(documents, 10u);
    EXPECT_GT(ngramTerms, documents * 10);
}

TEST(TermGenerator, SegFilesOfMarkedTermsReadBackUnambiguously) {
    // A document with a word, the n-gram and the pair of equal text, beside
    // words of another segmenter that hold the marks.
    kestrel::testing::TempDir dir;
    WordCounts counts;
    TermGenerator(options("words,chars:2,pairs"), segmenter()).countTerms(G("中国人民。中国"), counts);
    counts.add("C++", 3);
    counts.add("#", 1);
    std::string content;
    counts.appendEntries(content, '\n');
    dir.write("doc.seg", content);

    std::vector<kestrel::SegLine> lines;
    ASSERT_TRUE(kestrel::testing::succeeded(kestrel::readSegFile(dir.path("doc.seg"), lines)));
    std::map<std::string, std::pair<TermKind, int64_t>> read;
    for (const kestrel::SegLine& line : lines) read[line.term] = {kestrel::splitTerm(line.term).kind, line.count};
    ASSERT_EQ(lines.size(), counts.entries().size());
    EXPECT_EQ(read[G("中国")], std::make_pair(TermKind::kWord, int64_t{2}));
    EXPECT_EQ(read["#" + G("中国")], std::make_pair(TermKind::kCharacters, int64_t{2}));
    EXPECT_EQ(read[G("中国+人民")], std::make_pair(TermKind::kPair, int64_t{1}));
    EXPECT_EQ(read["C++"], std::make_pair(TermKind::kWord, int64_t{3}));
    EXPECT_EQ(read["#"], std::make_pair(TermKind::kWord, int64_t{1}));
}
