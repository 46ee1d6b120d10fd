#include "segment/CNShortPath.h"

#include <algorithm>
#include <limits>

namespace kestrel {

void CQueue::push(int vertex, int index, double weight) {
    size_t at = 0;
    while (at < m_items.size() && m_items[at].weight < weight) ++at;
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), Item{vertex, index, weight});
}

bool CQueue::pop(Item& item) {
    if (m_cursor >= m_items.size()) return false;
    item = m_items[m_cursor++];
    return true;
}

void CNShortPath::init(const CDynamicArray& graph, unsigned valueKind) {
    m_graph = &graph;
    m_valueKind = valueKind == 0 ? 1 : valueKind;
    resetVertices(std::max(graph.colCount(), graph.rowCount()) + 1);
}

void CNShortPath::resetVertices(unsigned vertexCount) {
    m_vertexCount = vertexCount;
    const size_t slots = static_cast<size_t>(m_vertexCount) * m_valueKind;
    m_cost.assign(slots, CDynamicArray::kInfinite);
    m_reached.assign(slots, 0);
    if (m_valueKind > 1) {
        if (m_parents.size() < slots) m_parents.resize(slots);
        for (size_t i = 0; i < slots; ++i) m_parents[i].clear();
    } else {
        m_parentRanges.assign(slots, ParentRange{});
        m_flatParents.clear();
    }
    m_pathCount = 0;
}

double CNShortPath::cost(unsigned vertex, unsigned i) const {
    if (vertex >= m_vertexCount || i >= m_valueKind || !m_reached[slot(vertex, i)])
        return std::numeric_limits<double>::infinity();
    return m_cost[slot(vertex, i)];
}

bool CNShortPath::reachable(unsigned vertex, unsigned i) const {
    return vertex < m_vertexCount && i < m_valueKind && m_reached[slot(vertex, i)];
}

void CNShortPath::shortPath() {
    if (!m_graph) return;
    // The graph is ordered by column: the edges into v are consecutive.
    if (m_valueKind == 1) {
        shortPathSingle();
        return;
    }
    const auto& elements = m_graph->elements();
    size_t e = 0;
    for (unsigned v = 1; v < m_vertexCount; ++v) {
        m_queue.clear();
        while (e < elements.size() && elements[e].col < static_cast<int>(v)) ++e;
        for (; e < elements.size() && elements[e].col == static_cast<int>(v); ++e) {
            const CDynamicArray::Element& edge = elements[e];
            const int u = edge.row;
            if (u == 0) {
                m_queue.push(0, 0, edge.value);
                continue;
            }
            if (u < 0 || static_cast<unsigned>(u) >= m_vertexCount) continue;
            for (unsigned i = 0; i < m_valueKind; ++i) {
                // An unreached cost slot stands for the infinite cost: the
                // costs themselves may grow past any fixed sentinel.
                if (!m_reached[slot(static_cast<unsigned>(u), i)]) break;
                m_queue.push(u, static_cast<int>(i), m_cost[slot(static_cast<unsigned>(u), i)] + edge.value);
            }
        }
        unsigned j = 0;
        CQueue::Item item;
        while (m_queue.pop(item)) {
            const size_t s = slot(v, j);
            if (!m_reached[s]) {
                m_cost[s] = item.weight;
                m_reached[s] = 1;
            } else if (m_cost[s] < item.weight) {
                ++j;
                if (j >= m_valueKind) break;
                m_cost[slot(v, j)] = item.weight;
                m_reached[slot(v, j)] = 1;
            } else {
                m_cost[s] = item.weight;
            }
            // Parents are pushed with weight 0 before each other: the list
            // ends up in reverse order of arrival.
            auto& parents = m_parents[slot(v, j)];
            parents.insert(parents.begin(), Parent{item.vertex, item.index});
        }
    }
}

// With one cost per vertex the queue keeps the cheapest weight and every
// predecessor reaching it exactly; as the parent list reverses the order in
// which equal weights leave the queue (itself the reverse of arrival), the
// parents end up in edge order. This computes the same without the queue.
void CNShortPath::shortPathSingle() {
    m_open = -1;
    for (const CDynamicArray::Element& edge : m_graph->elements()) offer(edge.col, edge.row, edge.value);
    openVertex(-1);
}

void CNShortPath::openVertex(int to) {
    if (m_open > 0 && m_openReached) {
        m_cost[static_cast<size_t>(m_open)] = m_openBest;
        m_reached[static_cast<size_t>(m_open)] = 1;
    }
    m_open = to;
    m_openReached = false;
    if (to > 0) {
        const auto at = static_cast<uint32_t>(m_flatParents.size());
        m_parentRanges[static_cast<size_t>(to)] = ParentRange{at, at};
    }
}

void CNShortPath::startSearch(unsigned vertexBound) {
    m_graph = nullptr;
    m_valueKind = 1;
    resetVertices(std::max(vertexBound, 1u));
    m_open = -1;
}

void CNShortPath::finishSearch(unsigned last) {
    openVertex(-1);
    m_vertexCount = std::min(m_vertexCount, last + 1);
}

bool CNShortPath::outputChain(std::vector<std::vector<int>>& paths) {
    if (m_valueKind != 1) return false;
    std::vector<int>& chain = m_chain;  // the path from its end back
    chain.clear();
    int v = static_cast<int>(m_vertexCount) - 1;
    for (;;) {
        const auto [parents, parentCount] = parentsOf(static_cast<size_t>(v));
        if (parentCount != 1 || chain.size() >= m_vertexCount) return false;
        chain.push_back(v);
        v = parents[0].vertex;
        if (v == 0) break;
        if (v < 0 || static_cast<unsigned>(v) >= m_vertexCount) return false;
    }
    if (paths.empty()) paths.emplace_back();
    paths.resize(1);
    paths[0].assign(1, 0);
    paths[0].insert(paths[0].end(), chain.rbegin(), chain.rend());
    m_pathCount = 1;
    return true;
}

int CNShortPath::output(std::vector<std::vector<int>>& paths) {
    // The lists `paths` holds are refilled in place: their room is kept.
    m_pathCount = 0;
    if (m_vertexCount <= 1) {
        paths.resize(1);
        paths[0].assign({0, 1});
        m_pathCount = 1;
        return m_pathCount;
    }
    if (outputChain(paths)) return m_pathCount;
    const unsigned last = m_vertexCount - 1;
    std::vector<Frame>& stack = m_stack;
    for (unsigned i = 0; i < m_valueKind && m_pathCount < kMaxPaths; ++i) {
        if (!m_reached[slot(last, i)]) continue;
        stack.clear();
        stack.push_back(Frame{static_cast<int>(last), static_cast<int>(i), 0});
        while (!stack.empty() && m_pathCount < kMaxPaths) {
            Frame& top = stack.back();
            const auto [parents, parentCount] =
                parentsOf(slot(static_cast<unsigned>(top.vertex), static_cast<unsigned>(top.index)));
            if (top.next >= parentCount) {
                // Exhausted: back to the nearest vertex with a further parent.
                stack.pop_back();
                if (!stack.empty()) ++stack.back().next;
                continue;
            }
            const Parent parent = parents[top.next];
            if (parent.vertex == 0) {
                if (paths.size() <= static_cast<size_t>(m_pathCount)) paths.emplace_back();
                std::vector<int>& path = paths[static_cast<size_t>(m_pathCount)];
                path.clear();
                path.push_back(0);
                for (size_t k = stack.size(); k-- > 0;) path.push_back(stack[k].vertex);
                ++m_pathCount;
                ++top.next;
                continue;
            }
            if (parent.vertex < 0 || static_cast<unsigned>(parent.vertex) >= m_vertexCount ||
                stack.size() > m_vertexCount) {
                ++top.next;  // never follows a damaged parent or loops
                continue;
            }
            stack.push_back(Frame{parent.vertex, parent.index, 0});
        }
    }
    paths.resize(static_cast<size_t>(m_pathCount));
    return m_pathCount;
}

}  // namespace kestrel
