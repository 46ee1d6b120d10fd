#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "TestSupport.h"
#include "features/DocumentVectors.h"
#include "features/FeatureIndex.h"
#include "features/FeatureSelection.h"
#include "workspace/WorkspaceFiles.h"
#include "features/SegmentedCorpus.h"

using namespace kestrel;
using kestrel::testing::TempDir;

namespace {

TermEntry entry(uint32_t docCount, std::vector<uint32_t> perClass) {
    TermEntry e;
    e.term = "t";
    e.docCount = docCount;
    e.classDocCount = std::move(perClass);
    return e;
}

}  // namespace

TEST(FeatureIndex, CountsDocumentsPerCategoryInOrderOfFirstAppearance) {
    TempDir dir;
    dir.write("c0/1.seg", "abc:7\nzz:1\n");
    dir.write("c0/2.seg", "abc\r\n");
    dir.write("c1/1.seg", "new:1\n");
    dir.write("c2/1.seg", "abc:1\nzz:2\n");
    dir.mkdir("c3");
    CategoryTable categories{{"c0", 2}, {"c1", 1}, {"c2", 1}, {"c3", 0}};
    TermIndex index;
    std::vector<std::string> warnings;
    buildTermIndex(dir.dir(), categories, 4, index, warnings);
    ASSERT_EQ(index.size(), 3u);
    const auto& e = index.entries();
    EXPECT_EQ(e[0].term, "abc");
    EXPECT_EQ(e[0].docCount, 3u);
    EXPECT_EQ(e[0].classDocCount, (std::vector<uint32_t>{2, 0, 1, 0}));
    EXPECT_EQ(e[1].term, "zz");
    EXPECT_EQ(e[2].term, "new");  // first seen in category 1, after every term of category 0
    EXPECT_TRUE(warnings.empty());

    TermIndex empty;
    buildTermIndex(dir.path("nothing/"), {}, 0, empty, warnings);
    EXPECT_TRUE(empty.empty());
}

TEST(FeatureSelection, ScoresOfTheTwoCategoryExample) {
    // N = 10, five documents per category; the term is in all of category 0.
    const std::vector<double> classDocs{5, 5};
    const TermEntry t = entry(5, {5, 0});
    EXPECT_NEAR(selectionScore(t, kChi, 10, classDocs), 10.0, 1e-12);
    EXPECT_NEAR(selectionScore(t, kIg, 10, classDocs), std::log(2.0), 1e-12);
    EXPECT_NEAR(selectionScore(t, kMi, 10, classDocs), 0.5 * std::log(2.0), 1e-12);
    // In every document: all chi-square denominators are tiny.
    EXPECT_EQ(selectionScore(entry(10, {5, 5}), kChi, 10, classDocs), 0.0);
    EXPECT_EQ(inverseDocumentFrequency(10, 10), 0.0);
}

TEST(FeatureSelection, RanksStablyClipsAndWritesIdf) {
    TermIndex index;
    // a and b score the same; a came first. c occurs everywhere.
    index.addOccurrence("c", 0, 2);
    index.addOccurrence("a", 0, 2);
    index.addOccurrence("b", 1, 2);
    index.addOccurrence("c", 1, 2);
    CategoryTable categories{{"x", 1}, {"y", 1}};
    FeatureTable features;
    std::string text;
    features = selectByStatistics(index, kChi, 2, categories, 2, 50);
    text = featuresText(features);
    EXPECT_EQ(text, "0 a 0.693147\n1 b 0.693147\n2 c 0.000000\n");
    EXPECT_EQ(features.at("a").id, 0u);
    EXPECT_EQ(features.at("c").id, 2u);
    // The index keeps the new order and still finds its terms.
    EXPECT_EQ(index.entries()[0].term, "a");
    EXPECT_EQ(index.find("c"), 2);

    // Whatever order an earlier selection left, equal scores rank in order
    // of first appearance, as in a fresh index.
    std::reverse(index.entries().begin(), index.entries().end());
    index.reindex();
    features = selectByStatistics(index, kChi, 2, categories, 2, 50);
    text = featuresText(features);
    EXPECT_EQ(text, "0 a 0.693147\n1 b 0.693147\n2 c 0.000000\n");

    features = selectByStatistics(index, kMi, 2, categories, 2, 1);
    text = featuresText(features);
    EXPECT_EQ(features.size(), 1u);
    features = selectByStatistics(index, kIg, 2, categories, 2, 0);
    text = featuresText(features);
    EXPECT_TRUE(features.empty());
    EXPECT_TRUE(text.empty());
}

TEST(DocumentVectors, LogTfIdfWithCosineNormalisation) {
    FeatureTable features{{"a", {4, 1.0}}, {"b", {0, 2.0}}, {"zero", {2, 0.0}}};
    std::vector<SegLine> lines{{"a", 3}, {"b", 1}, {"unknown", 9}};
    EXPECT_EQ(vectorItems(lines, features), " 1:0.707107 5:0.707107\n");
    // A feature with idf 0 is written with weight 0 beside the others.
    lines.push_back({"zero", 2});
    EXPECT_EQ(vectorItems(lines, features), " 1:0.707107 3:0.000000 5:0.707107\n");
    // Only weightless features: no division by zero.
    EXPECT_EQ(vectorItems({{"zero", 1}}, features), " 3:0.000000\n");
    EXPECT_EQ(vectorItems({}, features), "\n");
    // A repeated term keeps its first frequency; a negative count weighs 0.
    EXPECT_EQ(vectorItems({{"a", 3}, {"a", 1}}, features), " 5:1.000000\n");
    EXPECT_EQ(vectorItems({{"a", -3}, {"b", 1}}, features), " 1:1.000000 5:0.000000\n");
}

TEST(SegmentedCorpus, ReadsSegLinesInEitherEncoding) {
    TempDir dir;
    dir.write("u.seg", "中国:2\r\n人民:1\r\n\r\nnocolon\n x: 12abc\n");
    std::vector<SegLine> lines;
    ASSERT_TRUE(readSegFile(dir.path("u.seg"), lines));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].term, "\xD6\xD0\xB9\xFA");  // converted to GBK
    EXPECT_EQ(lines[0].count, 2);
    EXPECT_EQ(lines[2].term, "nocolon");
    EXPECT_EQ(lines[2].count, 0);
    EXPECT_EQ(lines[3].term, " x");
    EXPECT_EQ(lines[3].count, 12);
    EXPECT_EQ(leadingInteger("  -42x"), -42);
    EXPECT_EQ(leadingInteger("99999999999999999999999"), leadingInteger("99999999999999999999999"));
    EXPECT_GT(leadingInteger("99999999999999999999999"), 0);
    const Status missing = readSegFile(dir.path("none.seg"), lines);
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message().find("none.seg"), std::string::npos);
}

TEST(SegmentedCorpus, ADocumentCountsOnceForATermOnSeveralLines) {
    TempDir dir;
    dir.write("A/1.seg", "a:1\nb:2\na:3\r\na\n");
    dir.write("A/2.seg", "b:1\rc:1\r");  // lone CR line ends
    std::vector<SegLine> lines;
    ASSERT_TRUE(readSegFile(dir.path("A/1.seg"), lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].term, "a");
    EXPECT_EQ(lines[0].count, 4);  // duplicate lines add their counts
    EXPECT_EQ(lines[1].term, "b");
    // Sums past the range stop at its ends instead of wrapping round.
    dir.write("big/1.seg", "a:6111111111111111111\na:6111111111111111111\nb:-6111111111111111111\n"
                           "b:-6111111111111111111\n");
    ASSERT_TRUE(readSegFile(dir.path("big/1.seg"), lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].count, INT64_MAX);
    EXPECT_EQ(lines[1].count, INT64_MIN);

    TermIndex index;
    std::vector<std::string> warnings;
    buildTermIndex(dir.dir(), {{"A", 2}}, 1, index, warnings);
    ASSERT_EQ(index.size(), 3u);
    for (const auto& e : index.entries()) EXPECT_LE(e.docCount, 2u) << e.term;
    FeatureTable features;
    std::string text;
    features = selectByStatistics(index, kChi, 2, {{"A", 2}}, 1, 3);
    text = featuresText(features);
    for (const auto& [word, info] : features) EXPECT_GE(info.idf, 0.0) << word;
}

TEST(SegmentedCorpus, TermsAreNumberedInCorpusOrderAndKeptWithinTheBudget) {
    TempDir dir;
    dir.write("A/1.seg", "b:2\na:1\n");
    dir.write("A/2.seg", "c:1\nb:1\n");
    dir.write("B/1.seg", "a:4\nd:1\n");
    const CategoryTable categories{{"A", 0}, {"B", 0}};
    std::vector<std::string> warnings;
    std::vector<std::vector<uint32_t>> seen;
    auto collect = [&](const SegmentedCorpus&, const SegmentedCorpus::Document&, const std::vector<uint32_t>& ids,
                       const std::vector<int64_t>&) { seen.push_back(ids); };
    const SegmentedCorpus corpus = SegmentedCorpus::read(dir.dir(), categories, 2, warnings, nullptr, collect);
    EXPECT_EQ(seen, (std::vector<std::vector<uint32_t>>{{0, 1}, {2, 0}, {1, 3}}));
    ASSERT_EQ(corpus.termCount(), 4u);
    EXPECT_EQ(corpus.term(2), "c");
    ASSERT_TRUE(corpus.keepsTerms());
    const auto& last = corpus.documents()[2];
    EXPECT_EQ(last.category, 1u);
    SegmentedCorpus::Batch batch;
    ASSERT_TRUE(corpus.loadBatch(2, 1, batch));
    std::vector<uint32_t> ids;
    std::vector<int64_t> counts;
    ASSERT_TRUE(batch.terms(2, ids, counts));
    EXPECT_EQ(ids, (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(counts, (std::vector<int64_t>{4, 1}));

    // Over the budget the lists are dropped, but every document is still seen.
    seen.clear();
    const SegmentedCorpus large = SegmentedCorpus::read(dir.dir(), categories, 1, warnings, nullptr, collect, {}, 3);
    EXPECT_FALSE(large.keepsTerms());
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(warnings.empty());

    // A temporary file that cannot be made drops the lists with a warning;
    // the index still sees every document.
    seen.clear();
    const SegmentedCorpus unspillable =
        SegmentedCorpus::read(dir.dir(), categories, 1, warnings, nullptr, collect, dir.path("none/"), 0);
    EXPECT_FALSE(unspillable.keepsTerms());
    EXPECT_EQ(seen.size(), 3u);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("read the .seg files again"), std::string::npos) << warnings[0];
    SegmentedCorpus::Batch batch2;
    EXPECT_FALSE(unspillable.loadBatch(0, 1, batch2));
}
