#pragma once
// Sparse matrix of graph edges, kept sorted by (row, column) or by
// (column, row). Every graph of the segmenter is stored in one: an element
// (row, col) is the word covering atoms row .. col - 1, or in a word-pair
// graph the transition from word row to word col.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

class CDynamicArray {
public:
    static constexpr double kInfinite = 10000;  // value of a missing element

    struct Element {
        int col = 0;
        int row = 0;
        double value = 0;
        int handle = 0;
        uint32_t wordOffset = 0;  // the word's bytes in the array's text store
        uint32_t wordLength = 0;
        bool hasWord = false;
        // The core dictionary's entries of the text the element covers, when
        // the word graph found them: how many (then `value` is the sum of
        // their frequencies), or -1 when unknown. Changing the value makes
        // it unknown.
        int16_t coreEntries = -1;
    };

    explicit CDynamicArray(bool rowFirst = true) : m_rowFirst(rowFirst) {}

    // Inserts (row, col), or updates value and handle of an existing element
    // (its word is kept). `word` may be null for none. Returns the element,
    // valid until the array changes.
    Element& setElement(int row, int col, double value, int handle, const std::string_view* word = nullptr);
    Element& setElement(int row, int col, double value, int handle, std::string_view word) {
        return setElement(row, col, value, handle, &word);
    }
    // Puts `text` into the word store and returns where it begins there, so
    // that elements can take parts of it as their words without a copy each.
    uint32_t storeText(std::string_view text) {
        const auto offset = static_cast<uint32_t>(m_words.size());
        m_words.append(text);
        return offset;
    }
    // Appends (row, col) with the stored word at `offset`; it must come
    // after every element there (a graph built in order). Returns the
    // element, valid until the array changes.
    Element& appendElement(int row, int col, double value, int handle, uint32_t offset, uint32_t length) {
        Element& element = appendNew(row, col, value, handle);
        element.wordOffset = offset;
        element.wordLength = length;
        element.hasWord = true;
        return element;
    }
    // Value and handle of the first element matching (row, col), -1 matching
    // any; kInfinite and 0 when there is none. Returns the element or null.
    const Element* getElement(int row, int col, double* value = nullptr, int* handle = nullptr) const;

    void copyFrom(const CDynamicArray& other);
    void clear();

    bool rowFirst() const { return m_rowFirst; }
    void setRowFirst(bool rowFirst);
    unsigned colCount() const { return m_colCount; }
    unsigned rowCount() const { return m_rowCount; }
    size_t size() const { return m_elements.size(); }
    const std::vector<Element>& elements() const { return m_elements; }
    const Element& operator[](size_t i) const { return m_elements[i]; }
    // The word stored with an element (empty when it has none).
    std::string_view word(const Element& e) const {
        return std::string_view(m_words).substr(e.wordOffset, e.wordLength);
    }

    // Index range [first, last) of the elements of one row (row-first order)
    // or one column (column-first order).
    std::pair<size_t, size_t> lineRange(int line) const;

    // Fast building: append without keeping the order, then sort once. The
    // appended elements must be distinct.
    void appendUnordered(int row, int col, double value, int handle);
    void finishAppending();

private:
    bool less(int rowA, int colA, int rowB, int colB) const {
        if (m_rowFirst) return rowA < rowB || (rowA == rowB && colA < colB);
        return colA < colB || (colA == colB && rowA < rowB);
    }
    void raiseCounts(int row, int col) {
        // Without branches: whether an index raises a count is hard to guess.
        m_colCount = std::max(m_colCount, static_cast<unsigned>(std::max(col, 0)));
        m_rowCount = std::max(m_rowCount, static_cast<unsigned>(std::max(row, 0)));
    }
    // A new element at the end, without a word.
    Element& appendNew(int row, int col, double value, int handle) {
        raiseCounts(row, col);
        Element& element = m_elements.emplace_back();
        element.row = row;
        element.col = col;
        element.value = value;
        element.handle = handle;
        return element;
    }
    // The element (row, col) with the value and handle set: the one there
    // (`added` false) or a new one without a word.
    Element& place(int row, int col, double value, int handle, bool& added);

    bool m_rowFirst;
    unsigned m_colCount = 0;
    unsigned m_rowCount = 0;
    std::vector<Element> m_elements;
    std::string m_words;  // texts of the elements' words, appended
    std::vector<size_t> m_sortStart;   // scratch of finishAppending
    std::vector<Element> m_sortBuffer;
};

}  // namespace kestrel
