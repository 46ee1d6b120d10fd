#pragma once
// Candidate segmentations of one sentence: the word graph is scored with
// bigram statistics, the cheapest paths through the word-pair graph become
// word paths, and numbers and time expressions are merged on the way. Runs
// twice per sentence: over the dictionary word graph, then over the optimum
// graph that collects the first stage's words and recognised names.
#include <string>
#include <string_view>
#include <vector>

#include "segment/CDynamicArray.h"
#include "segment/CNShortPath.h"
#include "segment/CSegGraph.h"

namespace kestrel {

class CDictionary;

// One word of a path. A path ends with a result whose text is empty and
// whose handle is -1.
struct WordResult {
    std::string word;
    int handle = -1;
    double value = 0;
};
using WordPath = std::vector<WordResult>;

class CSegment {
public:
    static constexpr int kMaxPaths = CNShortPath::kMaxPaths;

    bool biSegment(std::string_view sentence, const CDictionary& core, const CDictionary& bigram,
                   double smoothing);
    bool biOptimumSegment(const CDictionary& bigram, const CDictionary& core, double smoothing);
    // Word-pair graph of `wordGraph`, ordered by column.
    void biGraphGenerate(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                         double smoothing, CDynamicArray& pairGraph);
    // Fills word path k from atom vertices, merging numbers and times, and
    // adds its words to the optimum graph.
    bool generateWord(const std::vector<int>& atomVertices, int k);

    int segmentCount() const { return m_segmentCount; }
    WordPath& path(int k) { return m_paths[static_cast<size_t>(k)]; }
    const WordPath& path(int k) const { return m_paths[static_cast<size_t>(k)]; }
    CDynamicArray& optimumGraph() { return m_optimum; }
    const CDynamicArray& optimumGraph() const { return m_optimum; }
    CSegGraph& segGraph() { return m_segGraph; }
    const CSegGraph& segGraph() const { return m_segGraph; }

private:
    // Cheapest paths of the pair graph as word indices, then as atom vertices
    // of `wordGraph`, each run through generateWord.
    void findPaths(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                   double smoothing);
    void pathsToWords(const CDynamicArray& wordGraph);

    std::vector<WordPath> m_paths = std::vector<WordPath>(kMaxPaths);
    int m_segmentCount = 0;
    CDynamicArray m_optimum{true};
    CSegGraph m_segGraph;
    CDynamicArray m_pairGraph{false};
    CNShortPath m_shortPath;
    std::vector<std::vector<int>> m_indexPaths;
    std::vector<int> m_atomVertices;
    std::vector<size_t> m_rowStart;
    std::string m_key;
};

}  // namespace kestrel
