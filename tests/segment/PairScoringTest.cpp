// The pair table holds every count whatever room was made for it; the
// shortest paths over edges offered one by one are those over the graph.
#include <algorithm>
#include <map>
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CDynamicArray.h"
#include "segment/CNShortPath.h"
#include "segment/lookup/WordPairIndex.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// An edge of a word-pair graph; `value` is its cost.
struct Edge {
    int from;
    int to;
    double value;
};

}  // namespace

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
        // The lookup in steps (key, filter, slot) gives what count() gives.
        auto stepwise = [&](int first, int second) {
            const uint64_t key = index.keyOf(first, second);
            index.prefetchFilter(key);
            return index.countOf(index.admit(key));
        };
        for (const auto& [words, count] : expected) {
            const int first = index.wordId(words.first);
            const int second = index.wordId(words.second);
            ASSERT_EQ(index.count(first, second), count) << room;
            ASSERT_EQ(stepwise(first, second), count) << room;
        }
        // Pairs of known words that were never added, and unknown words.
        int absent = 0;
        for (int i = 0; i < 3000; ++i) {
            const std::string a = "a" + std::to_string(i);
            const std::string b = "b" + std::to_string((i * 7) % 3000);
            if (expected.count({a, b})) continue;
            absent += index.count(index.wordId(a), index.wordId(b));
            absent += stepwise(index.wordId(a), index.wordId(b));
        }
        EXPECT_EQ(absent, 0) << room;
        EXPECT_EQ(index.count(index.wordId("nothing"), index.wordId("b1")), 0);
    }
}

TEST(PairScoringTest, EdgesOfferedOneByOneGiveThePathsOfTheGraph) {
    // Random layered graphs with tied costs: the edges offered to the
    // search one by one give the costs and the tied paths that the graph
    // ordered by column gives.
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        const int vertices = static_cast<int>(rng() % 30) + 2;
        std::vector<Edge> edges;
        for (int from = 0; from + 1 < vertices; ++from) {
            for (int to = from + 1; to < vertices && to <= from + 3; ++to) {
                if (to == from + 1 || rng() % 2) edges.push_back(Edge{from, to, static_cast<double>(rng() % 3)});
            }
        }
        CDynamicArray graph(false);
        for (const Edge& e : edges) graph.appendUnordered(e.from, e.to, e.value, 0);
        graph.finishAppending();
        CNShortPath fromGraph;
        fromGraph.init(graph);
        fromGraph.shortPath();
        std::vector<std::vector<int>> expected;
        const int expectedCount = fromGraph.output(expected);

        // The same edges offered one by one, grouped by `to`, with room for
        // more vertices than they name.
        std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.to < b.to; });
        CNShortPath offered;
        offered.startSearch(static_cast<unsigned>(vertices) + 5);
        for (const Edge& e : edges) offered.offer(e.to, e.from, e.value);
        offered.finishSearch(static_cast<unsigned>(vertices - 1));
        std::vector<std::vector<int>> offeredPaths(12, std::vector<int>{9, 9});  // refilled, not appended to
        ASSERT_EQ(offered.output(offeredPaths), expectedCount);
        EXPECT_EQ(offeredPaths, expected);
        EXPECT_EQ(offered.vertexCount(), fromGraph.vertexCount());
        for (unsigned v = 0; v < offered.vertexCount(); ++v) EXPECT_EQ(offered.cost(v), fromGraph.cost(v));
    }
}

TEST(PairScoringTest, AUniqueCheapestPathIsTheOneFound) {
    // Random layered graphs whose costs make ties unlikely: the path found
    // is the cheapest of all paths, enumerated one by one.
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> costOf(0.5, 9.5);
    for (int round = 0; round < 300; ++round) {
        const int vertices = static_cast<int>(rng() % 10) + 2;
        std::vector<Edge> edges;
        for (int to = 1; to < vertices; ++to) {
            for (int from = std::max(0, to - 3); from < to; ++from) {
                if (from == to - 1 || rng() % 2) edges.push_back(Edge{from, to, costOf(rng)});
            }
        }
        // Every path from 0 to the last vertex, with its cost.
        std::vector<std::pair<double, std::vector<int>>> all;
        std::vector<int> stack = {0};
        auto extend = [&](auto& self, double cost) -> void {
            if (stack.back() == vertices - 1) {
                all.emplace_back(cost, stack);
                return;
            }
            for (const Edge& e : edges) {
                if (e.from != stack.back()) continue;
                stack.push_back(e.to);
                self(self, cost + e.value);
                stack.pop_back();
            }
        };
        extend(extend, 0.0);
        std::sort(all.begin(), all.end());
        if (all.size() > 1 && all[1].first - all[0].first < 1e-9) continue;  // a tie after all

        CNShortPath search;
        search.startSearch(static_cast<unsigned>(vertices));
        for (const Edge& e : edges) search.offer(e.to, e.from, e.value);
        search.finishSearch(static_cast<unsigned>(vertices - 1));
        std::vector<std::vector<int>> paths;
        ASSERT_EQ(search.output(paths), 1);
        EXPECT_EQ(paths[0], all[0].second);
    }
}
