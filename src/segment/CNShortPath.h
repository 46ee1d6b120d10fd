#pragma once
// Cheapest paths through a word-pair graph. Each vertex keeps the N best
// distinct path costs and every predecessor reaching them, so tied paths
// are all found; at most kMaxPaths paths are produced.
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
    size_t slot(unsigned vertex, unsigned i) const { return static_cast<size_t>(vertex) * m_valueKind + i; }

    const CDynamicArray* m_graph = nullptr;
    unsigned m_valueKind = 1;
    unsigned m_vertexCount = 0;
    std::vector<double> m_cost;
    std::vector<char> m_reached;  // cost slot holds a real cost
    std::vector<std::vector<Parent>> m_parents;  // per slot, in list order
    CQueue m_queue;
    int m_pathCount = 0;
};

}  // namespace kestrel
