#pragma once
// Cheapest paths through a word-pair graph. Each vertex keeps the N best
// distinct path costs and every predecessor reaching them, so tied paths
// are all found; at most kMaxPaths paths are produced.
#include <cstdint>
#include <utility>
#include <vector>

#include "segment/CDynamicArray.h"

namespace kestrel {

// List of (vertex, index, weight) ordered by weight ascending; a push goes
// before the first element whose weight is not smaller, so among equal
// weights the element pushed last comes first. Has a read cursor.
class CQueue {
public:
    struct Item {
        int vertex = 0;
        int index = 0;
        double weight = 0;
    };
    void push(int vertex, int index, double weight);
    // Next element from the cursor; false at the end.
    bool pop(Item& item);
    void resetCursor() { m_cursor = 0; }
    bool empty() const { return m_items.empty(); }
    size_t size() const { return m_items.size(); }
    const Item& at(size_t i) const { return m_items[i]; }
    void clear() {
        m_items.clear();
        m_cursor = 0;
    }

private:
    std::vector<Item> m_items;
    size_t m_cursor = 0;
};

class CNShortPath {
public:
    static constexpr int kMaxPaths = 10;

    // `graph` is ordered by column; vertex 0 is the start, the last vertex
    // the end. `valueKind` is N, the number of distinct costs kept.
    void init(const CDynamicArray& graph, unsigned valueKind = 1);
    void shortPath();
    // The search with one cost per vertex fed directly, edge by edge,
    // without a list: startSearch with more vertices than any edge names,
    // then offer each vertex's edges, vertex after vertex in increasing
    // order, then finishSearch with the largest vertex an edge named (0
    // when none). Gives what init and shortPath give for a graph of those
    // edges ordered by column, in that order within a column.
    void startSearch(unsigned vertexBound);
    void offer(int to, int from, double value) {
        if (to <= 0) return;  // the start has no predecessor
        if (to != m_open) openVertex(to);
        double weight = value;
        if (from != 0) {
            if (from < 0 || static_cast<unsigned>(from) >= m_vertexCount || !m_reached[static_cast<size_t>(from)]) return;
            weight = m_cost[static_cast<size_t>(from)] + value;
        }
        // The cheapest weight, with every predecessor that reaches it. The
        // open vertex's predecessors are the last ones of the list.
        ParentRange& range = m_parentRanges[static_cast<size_t>(to)];
        if (!m_openReached || weight < m_openBest) {
            m_openReached = true;
            m_openBest = weight;
            m_flatParents.resize(range.begin);
        } else if (!(weight == m_openBest)) {
            return;
        }
        m_flatParents.push_back(Parent{from, 0});
        range.end = static_cast<uint32_t>(m_flatParents.size());
    }
    void finishSearch(unsigned last);
    // Fills up to kMaxPaths vertex lists (each 0, ..., last vertex) and
    // returns their number.
    int output(std::vector<std::vector<int>>& paths);

    unsigned vertexCount() const { return m_vertexCount; }
    // Cost of the cheapest path to `vertex` (valueKind index i); infinite
    // when unreachable.
    double cost(unsigned vertex, unsigned i = 0) const;
    bool reachable(unsigned vertex, unsigned i = 0) const;

private:
    struct Parent {
        int vertex;
        int index;
    };
    void shortPathSingle();
    // The one path output finds when every vertex on the way back from the
    // end has one predecessor (most searches); false when some has not.
    bool outputChain(std::vector<std::vector<int>>& paths);
    std::vector<int> m_chain;
    // Settles the vertex being offered edges, and opens `to`.
    void openVertex(int to);
    size_t slot(unsigned vertex, unsigned i) const { return static_cast<size_t>(vertex) * m_valueKind + i; }

    // Sizes the cost and parent tables for the vertices.
    void resetVertices(unsigned vertexCount);

    const CDynamicArray* m_graph = nullptr;
    unsigned m_valueKind = 1;
    unsigned m_vertexCount = 0;
    std::vector<double> m_cost;
    std::vector<char> m_reached;  // cost slot holds a real cost
    std::vector<std::vector<Parent>> m_parents;  // per slot, in list order, with several costs per vertex
    // With one cost per vertex, the predecessors of each vertex in one list,
    // vertex after vertex: those of v are [begin, end) of m_flatParents.
    struct ParentRange {
        uint32_t begin = 0;
        uint32_t end = 0;
    };
    std::vector<ParentRange> m_parentRanges;
    std::vector<Parent> m_flatParents;
    // The predecessors kept for a cost slot, in list order.
    std::pair<const Parent*, size_t> parentsOf(size_t slot) const {
        if (m_valueKind > 1) return {m_parents[slot].data(), m_parents[slot].size()};
        const ParentRange& range = m_parentRanges[slot];
        return {m_flatParents.data() + range.begin, range.end - range.begin};
    }
    struct Frame {
        int vertex;
        int index;
        size_t next;  // current parent in the vertex's list
    };
    std::vector<Frame> m_stack;  // of output's walk
    CQueue m_queue;
    int m_pathCount = 0;
    int m_open = -1;  // the vertex offer() is filling, -1 none
    bool m_openReached = false;
    double m_openBest = 0;
};

}  // namespace kestrel
