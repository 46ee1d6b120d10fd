#pragma once
// Candidate segmentations of one sentence: the word graph is scored with
// bigram statistics, the cheapest paths through the word-pair graph become
// word paths, and numbers and time expressions are merged on the way. Runs
// twice per sentence: over the dictionary word graph, then over the optimum
// graph that collects the first stage's words and recognised names.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "segment/CDynamicArray.h"
#include "segment/CNShortPath.h"
#include "segment/CSegGraph.h"
#include "segment/lookup/WordIdTable.h"
#include "segment/lookup/WordPairIndex.h"
#include "segment/lookup/WordPrefixTrie.h"

namespace kestrel {

class CDictionary;

// One word of a path. A path ends with a result whose text is empty and
// whose handle is -1. `coreEntries` and `coreFrequency` are what the core
// dictionary's getHandles gives for the word, when the word graph found
// them (the number of entries and the sum of their frequencies); -1 when
// they are unknown and must be looked up. `textId` is the id of the text in
// the word table `textTable` of the CSegment that made the path (-1: none),
// so that later stages can keep what they learn of a text by its id.
// Changing the text makes all of them unknown.
struct WordResult {
    std::string word;
    int handle = -1;
    double value = 0;
    int coreEntries = -1;
    double coreFrequency = 0;
    int textId = -1;
    uint32_t textTable = 0;
};
using WordPath = std::vector<WordResult>;

class CSegment {
public:
    static constexpr int kMaxPaths = CNShortPath::kMaxPaths;

    bool biSegment(std::string_view sentence, const CDictionary& core, const CDictionary& bigram,
                   double smoothing);
    bool biOptimumSegment(const CDictionary& bigram, const CDictionary& core, double smoothing);
    // Fills word path k from atom vertices, merging numbers and times, and
    // adds its words to the optimum graph. `elements`, when given, holds the
    // index in the segment graph of the element of each word, so that they
    // need not be searched.
    bool generateWord(const std::vector<int>& atomVertices, int k, const std::vector<int>* elements = nullptr);

    int segmentCount() const { return m_segmentCount; }
    WordPath& path(int k) { return m_paths[static_cast<size_t>(k)]; }
    const WordPath& path(int k) const { return m_paths[static_cast<size_t>(k)]; }
    CDynamicArray& optimumGraph() { return m_optimum; }
    const CDynamicArray& optimumGraph() const { return m_optimum; }
    CSegGraph& segGraph() { return m_segGraph; }
    const CSegGraph& segGraph() const { return m_segGraph; }

    // Work whose result is known without doing it is skipped (a graph with
    // one path through it is not scored) and what was learnt of a word text
    // is kept for its next occurrence; off, everything is computed afresh,
    // for comparing the two.
    void setShortcuts(bool on) { m_shortcuts = on; }
    // True when the words of `graph` form a single chain: every word starts
    // where the one before it ends and no two start at one vertex. Its
    // word-pair graph links each word to the next alone, so the chain is
    // the one path through it, whatever the pair costs.
    static bool isSingleChain(const CDynamicArray& graph);
    // The number of word pairs scored by their text before the pair
    // dictionary's index is built and used (0: the index from the start).
    void setTextPairLimit(size_t pairs) { m_textPairLimit = pairs; }

private:
    // The word-pair graph of `wordGraph`: an edge from each word to each
    // word that starts where it ends, with the cost of the pair, searched
    // for its cheapest paths as it is made.
    void biGraphGenerate(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                         double smoothing);
    // Cheapest paths of the pair graph as word indices, then as atom vertices
    // of `wordGraph`, each run through generateWord.
    void findPaths(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                   double smoothing);
    void pathsToWords(const CDynamicArray& wordGraph);

    // The pieces of generateWord, over the path it is filling: word w of
    // the path covers atoms vertex(w) .. vertex(w + 1) - 1.
    int vertex(int w) const { return m_vertices[static_cast<size_t>(w)]; }
    bool validSpan(int a, int b) const { return a >= 0 && b <= m_segGraph.atomCount() && a < b; }
    std::string_view wordText(int w) const { return m_segGraph.atomSpan(vertex(w), vertex(w + 1)); }
    // The word the segment graph stores for atoms [a, b), else `fallback`.
    std::string_view graphWord(int a, int b, std::string_view fallback) const;
    // Appends a word to the path and puts it into the optimum graph.
    void emit(std::string_view text, int handle, double value, int a, int b, std::string_view graphText);
    // Where a run of one repeated dash or ellipsis mark from word w ends;
    // w + 1 when there is none.
    int markRunEnd(int w) const;
    // Where the longest run of words from w that reads as a number ends; w
    // when there is none.
    int numberRunEnd(int w) const;
    // Emits the number of words [w, end) with what follows it (a time
    // unit, 年, a trailing separator) and returns the next word to read.
    int emitNumber(int w, int end, int handle, double value, std::string_view storedWord);
    // Emits a dash or minus that leads a number right after another number
    // as a word of its own; returns the number's first atom after it.
    int splitLeadingSign(int start, int stop);
    // A number of atoms [start, stop) that ends in a separator of
    // `sepLength` bytes.
    void emitSeparatedNumber(int start, int stop, size_t sepLength, int handle, double value);

    bool m_shortcuts = true;
    std::vector<WordPath> m_paths = std::vector<WordPath>(kMaxPaths);
    int m_segmentCount = 0;
    CDynamicArray m_optimum{true};
    CSegGraph m_segGraph;
    CNShortPath m_shortPath;
    std::vector<std::vector<int>> m_indexPaths;
    std::vector<int> m_atomVertices;
    std::vector<int> m_vertices;  // of the path generateWord fills
    int m_wordCount = 0;
    WordPath* m_out = nullptr;
    std::vector<size_t> m_rowStart;
    // The words some word follows, by their end vertex: those ending at v
    // are m_endWords[m_endStart[v] .. m_endStart[v + 1]). With each word's
    // frequency and the cost of its pairs that have no count.
    void collectEnds(const CDictionary& core, const CDynamicArray& wordGraph, size_t vertices, double smoothing);
    std::vector<size_t> m_endStart;
    std::vector<int> m_endWords;
    std::vector<double> m_firstFrequency;
    std::vector<double> m_unseenCost;
    // Calls fn(i1, i2) for every pair of a word i1 and a word i2 that
    // starts where i1 ends, grouped by i2, each group in the order of i1.
    template <typename Fn>
    void forEachPairEdge(size_t wordCount, size_t vertices, Fn fn) const;
    // The keys in `index` of the graph's pairs in the order they are
    // scored, their reads started; kPairByText for a pair whose count the
    // index cannot give.
    void keyPairs(const WordPairIndex& index, const CDynamicArray& wordGraph, size_t vertices);
    static constexpr uint64_t kPairByText = ~uint64_t{0};
    std::vector<uint64_t> m_edgeKeys;
    std::vector<int> m_pairIds;  // of the word graph's words, for the bigram lookups
    std::string m_key;
    // Pairs are looked up by their text until this segmenter has scored
    // m_textPairLimit of them, and by the ids of the pair dictionary's
    // index from then on. Building the index takes as long as some 250,000
    // text lookups: a short text never pays for it, and a long one pays for
    // a tenth of that in text lookups first.
    size_t m_textPairLimit = 1 << 15;
    size_t m_pairsByText = 0;
    uint64_t m_pairsBigram = 0;  // version of the pair dictionary counted for
    bool pairsByIds(const CDictionary& bigram);
    int pairFrequencyByText(const CDictionary& bigram, std::string_view first, std::string_view second);
    // A text's pair id before the pair index was asked for it.
    static constexpr int kUnaskedPairId = -2;
    // The texts of the graphs' words seen lately, each with its id in the
    // pair dictionary, so that a recurring word is hashed in
    // this small table only; forgotten (with a new table number) when full.
    WordIdTable m_texts;
    std::vector<int> m_textPairIds;
    uint64_t m_textsBigram = 0;  // version of the pair dictionary
    uint64_t m_textsCore = 0;    // version of the core dictionary, whose probes number the words
    // Ids in m_texts of words by the number the core dictionary's probe
    // gave them, direct-mapped: a slot keeps the last number put there.
    struct NodeText {
        uint32_t node = WordPrefixTrie::kNone;
        int textId = -1;
    };
    static constexpr unsigned kNodeTextBits = 14;
    static constexpr size_t kNodeTextSlots = size_t{1} << kNodeTextBits;
    std::vector<NodeText> m_nodeTexts;
    // The numbers of the words of the graph being scored, when it is the
    // word graph the probes built.
    const std::vector<uint32_t>* m_graphNodes = nullptr;
    uint32_t m_textTable = 0;
    std::vector<int> m_wordTextIds;  // of the words of the graph last scored
    bool m_wordTextIdsValid = false;
    // While the optimum graph is scored: the word graph and the ids of its
    // words' texts in table m_earlierTable.
    const CDynamicArray* m_earlierGraph = nullptr;
    std::vector<int> m_earlierIds;
    uint32_t m_earlierTable = 0;
    // Ids of the texts of the last scored graph's words, in m_texts.
    void identifyTexts(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph);
};

}  // namespace kestrel
