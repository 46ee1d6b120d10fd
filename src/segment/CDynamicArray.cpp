#include "segment/CDynamicArray.h"

#include <algorithm>
#include <cstdint>

namespace kestrel {

CDynamicArray::Element& CDynamicArray::place(int row, int col, double value, int handle, bool& added) {
    raiseCounts(row, col);
    // Graphs are mostly built in order: check the end before searching. The
    // last element itself is often set again (a one-atom word found in the
    // dictionary).
    auto it = m_elements.end();
    if (!m_elements.empty()) {
        const Element& last = m_elements.back();
        if (last.row == row && last.col == col) {
            it = m_elements.end() - 1;
        } else if (!less(last.row, last.col, row, col)) {
            it = std::lower_bound(m_elements.begin(), m_elements.end(), 0, [&](const Element& e, int) {
                return less(e.row, e.col, row, col);
            });
        }
    }
    added = it == m_elements.end() || it->row != row || it->col != col;
    if (!added) {
        it->value = value;
        it->handle = handle;
        it->coreEntries = -1;
        return *it;
    }
    // Built in place: most elements are appended.
    Element& element = it == m_elements.end() ? m_elements.emplace_back() : *m_elements.emplace(it);
    element.row = row;
    element.col = col;
    element.value = value;
    element.handle = handle;
    return element;
}

CDynamicArray::Element& CDynamicArray::setElement(int row, int col, double value, int handle,
                                                  const std::string_view* word) {
    bool added = false;
    Element& element = place(row, col, value, handle, added);
    if (added && word) {
        element.wordOffset = storeText(*word);
        element.wordLength = static_cast<uint32_t>(word->size());
        element.hasWord = true;
    }
    return element;
}

const CDynamicArray::Element* CDynamicArray::getElement(int row, int col, double* value, int* handle) const {
    if (value) *value = kInfinite;
    if (handle) *handle = 0;
    if ((row >= 0 && static_cast<unsigned>(row) > m_rowCount) ||
        (col >= 0 && static_cast<unsigned>(col) > m_colCount))
        return nullptr;
    const Element* found = nullptr;
    const int major = m_rowFirst ? row : col;
    const int minor = m_rowFirst ? col : row;
    auto majorOf = [&](const Element& e) { return m_rowFirst ? e.row : e.col; };
    auto minorOf = [&](const Element& e) { return m_rowFirst ? e.col : e.row; };
    if (major >= 0) {
        // The first element not before (major, minor), or the line's first.
        const int probe = minor >= 0 ? minor : INT32_MIN;
        const auto it = std::lower_bound(m_elements.begin(), m_elements.end(), 0, [&](const Element& e, int) {
            return majorOf(e) < major || (majorOf(e) == major && minorOf(e) < probe);
        });
        if (it != m_elements.end() && majorOf(*it) == major && (minor < 0 || minorOf(*it) == minor)) found = &*it;
    } else {
        for (const Element& e : m_elements) {
            if (minor < 0 || minorOf(e) == minor) {
                found = &e;
                break;
            }
        }
    }
    if (found) {
        if (value) *value = found->value;
        if (handle) *handle = found->handle;
    }
    return found;
}

std::pair<size_t, size_t> CDynamicArray::lineRange(int line) const {
    auto majorOf = [&](const Element& e) { return m_rowFirst ? e.row : e.col; };
    const auto first = std::lower_bound(m_elements.begin(), m_elements.end(), line,
                                        [&](const Element& e, int l) { return majorOf(e) < l; });
    auto last = first;
    while (last != m_elements.end() && majorOf(*last) == line) ++last;
    return {static_cast<size_t>(first - m_elements.begin()), static_cast<size_t>(last - m_elements.begin())};
}

void CDynamicArray::copyFrom(const CDynamicArray& other) {
    if (this == &other) return;
    m_rowFirst = other.m_rowFirst;
    m_colCount = other.m_colCount;
    m_rowCount = other.m_rowCount;
    m_elements = other.m_elements;
    m_words = other.m_words;
}

void CDynamicArray::clear() {
    m_elements.clear();
    m_words.clear();
    m_colCount = 0;
    m_rowCount = 0;
}

void CDynamicArray::setRowFirst(bool rowFirst) {
    m_rowFirst = rowFirst;
    finishAppending();
}

void CDynamicArray::appendUnordered(int row, int col, double value, int handle) { appendNew(row, col, value, handle); }

void CDynamicArray::finishAppending() {
    // Counting sort by the major index (stable), which is all that is needed
    // when the minor indices arrive in ascending order; anything else falls
    // back to a comparison sort.
    const unsigned majorCount = (m_rowFirst ? m_rowCount : m_colCount) + 1;
    bool simple = majorCount <= m_elements.size() * 4 + 64;
    for (const Element& e : m_elements) {
        if (e.row < 0 || e.col < 0) simple = false;
    }
    if (simple) {
        std::vector<size_t>& start = m_sortStart;
        start.assign(majorCount + 1, 0);
        for (const Element& e : m_elements) ++start[static_cast<size_t>(m_rowFirst ? e.row : e.col) + 1];
        for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
        std::vector<Element>& sorted = m_sortBuffer;
        sorted.resize(m_elements.size());
        for (Element& e : m_elements) sorted[start[static_cast<size_t>(m_rowFirst ? e.row : e.col)]++] = e;
        m_elements.swap(sorted);
    }
    const auto order = [&](const Element& a, const Element& b) { return less(a.row, a.col, b.row, b.col); };
    if (!std::is_sorted(m_elements.begin(), m_elements.end(), order))
        std::stable_sort(m_elements.begin(), m_elements.end(), order);
}

}  // namespace kestrel
