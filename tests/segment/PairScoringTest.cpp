// Word pairs scored by their joined text give what the pair index gives;
// the pair table holds every count whatever room was made for it; the
// shortest paths over edges given in any order are those over the graph.
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CNShortPath.h"
#include "segment/CWordSegment.h"
#include "segment/WordPairIndex.h"

using namespace kestrel;
using namespace kestrel::test;

TEST(PairScoringTest, PairsByTextAndByIdsGiveTheSamePaths) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    CWordSegment byText, byIds;
    ASSERT_TRUE(succeeded(byText.loadDataDirectory(data.string())));
    ASSERT_TRUE(succeeded(byIds.loadDataDirectory(data.string())));
    byText.recognitionSwitch = byIds.recognitionSwitch = 2;
    byText.segment().setTextPairLimit(std::numeric_limits<size_t>::max());
    byIds.segment().setTextPairLimit(0);

    std::string text = G("中华人民共和国成立于一九四九年十月一日，郑秋雁和基普罗蒂奇到张家村。");
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "pfr199801" / "199801.txt";
    if (const Result<std::string> bytes = readFile(corpus.string()); bytes) text += toGbk(bytes->substr(1000000, 100000));
    std::vector<std::string> characters;
    for (size_t i = 0; i + 1 < text.size(); i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) characters.push_back(text.substr(i, 2));
    }
    ASSERT_FALSE(characters.empty());
    // Corpus sentences, then random mixtures of their characters, whose
    // pairs mostly have no count.
    std::vector<std::string> sentences;
    for (size_t i = 0; i < characters.size();) {
        std::string sentence;
        for (size_t n = 0; n < 40 && i < characters.size(); ++n) sentence += characters[i++];
        sentences.push_back(sentence);
    }
    std::mt19937 rng(5);
    for (int round = 0; round < 1000; ++round) {
        std::string sentence;
        for (unsigned n = rng() % 16 + 2; n > 0; --n) sentence += characters[rng() % characters.size()];
        sentences.push_back(sentence);
    }
    for (const std::string& sentence : sentences) {
        byText.segmentSentence(sentence);
        byIds.segmentSentence(sentence);
        ASSERT_EQ(byText.segment().segmentCount(), byIds.segment().segmentCount()) << U(sentence);
        for (int k = 0; k < byIds.segment().segmentCount(); ++k) {
            const WordPath& a = byText.segment().path(k);
            const WordPath& b = byIds.segment().path(k);
            ASSERT_EQ(a.size(), b.size()) << U(sentence);
            for (size_t i = 0; i < a.size(); ++i) {
                ASSERT_EQ(a[i].word, b[i].word) << U(sentence);
                ASSERT_EQ(a[i].handle, b[i].handle) << U(sentence);
                ASSERT_EQ(a[i].value, b[i].value) << U(sentence);
            }
        }
    }
}

TEST(PairScoringTest, PairTableHoldsEveryCountWhateverRoomWasMade) {
    // Room for far fewer pairs than come (the filter is then made afresh
    // at the end), for somewhat fewer (it is filled beyond its size), for
    // exactly as many, and none made at all.
    for (const size_t room : {size_t{10}, size_t{12000}, size_t{20000}, size_t{0}}) {
        std::mt19937 rng(static_cast<unsigned>(room) + 1);
        WordPairIndex index;
        if (room > 0) index.reserve(room);
        std::map<std::pair<std::string, std::string>, int> expected;
        while (expected.size() < 20000) {
            const std::string a = "a" + std::to_string(rng() % 3000);
            const std::string b = "b" + std::to_string(rng() % 3000);
            const int count = static_cast<int>(rng() % 100000);
            index.add(a, b, count);
            expected.emplace(std::make_pair(a, b), count);
        }
        index.finish();
        ASSERT_TRUE(index.complete());
        ASSERT_EQ(index.pairCount(), expected.size());
        for (const auto& [words, count] : expected)
            ASSERT_EQ(index.count(index.wordId(words.first), index.wordId(words.second)), count) << room;
        // Pairs of known words that were never added, and unknown words.
        int absent = 0;
        for (int i = 0; i < 3000; ++i) {
            const std::string a = "a" + std::to_string(i);
            const std::string b = "b" + std::to_string((i * 7) % 3000);
            if (expected.count({a, b})) continue;
            absent += index.count(index.wordId(a), index.wordId(b));
        }
        EXPECT_EQ(absent, 0) << room;
        EXPECT_EQ(index.count(index.wordId("nothing"), index.wordId("b1")), 0);
    }
}

TEST(PairScoringTest, EdgesInAnyOrderGiveThePathsOfTheGraph) {
    // Random layered graphs with tied costs: the edges given in a shuffled
    // order (each vertex's own edges keeping theirs) give the costs and the
    // tied paths that the graph ordered by column gives.
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const int vertices = static_cast<int>(rng() % 30) + 2;
        std::vector<CNShortPath::Edge> edges;
        for (int from = 0; from + 1 < vertices; ++from) {
            for (int to = from + 1; to < vertices && to <= from + 3; ++to) {
                if (to == from + 1 || rng() % 2) edges.push_back(CNShortPath::Edge{from, to, static_cast<double>(rng() % 3)});
            }
        }
        CDynamicArray graph(false);
        for (const CNShortPath::Edge& e : edges) graph.appendUnordered(e.from, e.to, e.value, 0);
        graph.finishAppending();
        CNShortPath fromGraph;
        fromGraph.init(graph);
        fromGraph.shortPath();
        std::vector<std::vector<int>> expected;
        const int expectedCount = fromGraph.output(expected);

        // Edges grouped by their source vertex: out of order by `to`.
        CNShortPath fromEdges;
        fromEdges.edges() = edges;
        fromEdges.initEdges();
        fromEdges.shortPath();
        std::vector<std::vector<int>> paths(12, std::vector<int>{9, 9});  // refilled, not appended to
        ASSERT_EQ(fromEdges.output(paths), expectedCount);
        EXPECT_EQ(paths, expected);
        EXPECT_EQ(fromEdges.vertexCount(), fromGraph.vertexCount());
        EXPECT_EQ(fromEdges.cost(fromEdges.vertexCount() - 1), fromGraph.cost(fromGraph.vertexCount() - 1));
    }
}
