#include "segment/CSegment.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "segment/CDictionary.h"
#include "segment/CharClass.h"
#include "segment/GbkText.h"
#include "segment/NumberTests.h"

namespace kestrel {

namespace {

struct SegmentTexts {
    std::string numberToken = gbkText("未##数");
    std::string timeToken = gbkText("未##时");
    std::string ordinaryShortNumbers = gbkText("第上成±—＋∶·．／");
    std::string dashes = gbkText("－－");
    std::string dash = gbkText("—");
    std::string minus = gbkText("－");
    // Marks whose runs (——, ……) are one punctuation word.
    CharSet repeatedMarks{gbkText("—…－")};
    CharSet timeUnits{gbkText("月日时分秒")};
    std::string monthPortion = gbkText("月份");
    std::string year = gbkText("年");
    std::string oclock = gbkText("点");
    CharSet separators{gbkText("∶·．／")};
};

const SegmentTexts& texts() {
    static const SegmentTexts t;
    return t;
}

constexpr double kOneMinusT = 0.9999995192300758;
constexpr double kT = 4.807699241873907e-07;

// True when the 4-byte string occurs at an even byte offset of `set`.
bool occursAtEvenOffset(std::string_view s, std::string_view set) {
    for (size_t i = 0; i + s.size() <= set.size(); i += 2) {
        if (set.substr(i, s.size()) == s) return true;
    }
    return false;
}

}  // namespace

void CSegment::biGraphGenerate(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                               double smoothing) {
    const auto& words = wordGraph.elements();
    // The position of an element in the row-first list is its word index;
    // rowStart[r] is the index of the first word starting at vertex r.
    const size_t vertices = static_cast<size_t>(std::max(wordGraph.rowCount(), wordGraph.colCount())) + 2;
    m_rowStart.assign(vertices + 1, words.size());
    for (size_t i = words.size(); i-- > 0;) {
        if (words[i].row >= 0 && static_cast<size_t>(words[i].row) < vertices) m_rowStart[static_cast<size_t>(words[i].row)] = i;
    }
    for (size_t r = vertices; r-- > 0;) m_rowStart[r] = std::min(m_rowStart[r], m_rowStart[r + 1]);
    // Each word is looked up once as a part of word pairs; its pairs are
    // then scored by the two ids.
    const bool scorePairs = bigram.entryCount() > 0;
    if (m_shortcuts) identifyTexts(bigram, core, wordGraph);
    const bool byIds = scorePairs && (!m_shortcuts || pairsByIds(bigram));
    if (byIds) {
        m_pairIds.resize(words.size());
        for (size_t i = 0; i < words.size(); ++i) {
            if (!m_shortcuts) {
                m_pairIds[i] = bigram.pairWordId(wordGraph.word(words[i]));
                continue;
            }
            int& id = m_textPairIds[static_cast<size_t>(m_wordTextIds[i])];
            if (id == kUnaskedPairId) id = bigram.pairWordId(wordGraph.word(words[i]));
            m_pairIds[i] = id;
        }
    }
    collectEnds(core, wordGraph, vertices, smoothing);
    const WordPairIndex* index = byIds ? bigram.wordPairIndex() : nullptr;
    if (index) keyPairs(*index, wordGraph, vertices);
    // The edges go to the search grouped by the word they lead to, each
    // group in the order of the words they come from: the order in which
    // it reads them.
    m_shortPath.startSearch(static_cast<unsigned>(words.size()) + 1);
    size_t last = 0;  // the largest word index an edge names
    size_t edge = 0;
    forEachPairEdge(words.size(), vertices, [&](size_t i1, size_t i2) {
        const CDynamicArray::Element& w1 = words[i1];
        const CDynamicArray::Element& w2 = words[i2];
        const double f1 = m_firstFrequency[i1];
        double f12 = 0;
        if (index && m_edgeKeys[edge] != kPairByText) {
            f12 = static_cast<uint32_t>(index->countOf(m_edgeKeys[edge]));
        } else if (byIds) {
            const int count = bigram.pairFrequency(wordGraph.word(w1), m_pairIds[i1], wordGraph.word(w2),
                                                   m_pairIds[i2], m_key);
            f12 = static_cast<uint32_t>(count);
        } else if (scorePairs) {
            f12 = static_cast<uint32_t>(pairFrequencyByText(bigram, wordGraph.word(w1), wordGraph.word(w2)));
        }
        ++edge;
        double cost = f12 == 0 ? m_unseenCost[i1]
                               : -std::log(smoothing * (f1 + 1) / 2159997 +
                                           (1 - smoothing) * (kOneMinusT * f12 / (f1 + 1) + kT));
        if (w1.handle < 0) cost += w1.value;
        m_shortPath.offer(static_cast<int>(i2), static_cast<int>(i1), cost);
        last = std::max({last, i1, i2});
    });
    m_shortPath.finishSearch(static_cast<unsigned>(last));
}

template <typename Fn>
void CSegment::forEachPairEdge(size_t wordCount, size_t vertices, Fn fn) const {
    size_t c = 0;  // the vertex where word i2 starts
    for (size_t i2 = 0; i2 < wordCount; ++i2) {
        while (c < vertices && m_rowStart[c + 1] <= i2) ++c;
        if (c >= vertices || i2 < m_rowStart[c]) continue;
        for (size_t e = m_endStart[c]; e < m_endStart[c + 1]; ++e) fn(static_cast<size_t>(m_endWords[e]), i2);
    }
}

void CSegment::keyPairs(const WordPairIndex& index, const CDynamicArray& wordGraph, size_t vertices) {
    // The pair counts lie far apart in a large table, behind a filter that
    // turns most of them away: the filter's words of all the graph's pairs
    // are fetched at once, then the slots of those it lets through.
    const auto& words = wordGraph.elements();
    m_edgeKeys.clear();
    forEachPairEdge(words.size(), vertices, [&](size_t i1, size_t i2) {
        // A blank at either end of the joined text would be trimmed by the
        // text lookup: such a pair is counted as the dictionary counts it.
        const std::string_view first = wordGraph.word(words[i1]);
        const std::string_view second = wordGraph.word(words[i2]);
        if ((!first.empty() && first.front() == ' ') || (!second.empty() && second.back() == ' ')) {
            m_edgeKeys.push_back(kPairByText);
            return;
        }
        const uint64_t key = index.keyOf(m_pairIds[i1], m_pairIds[i2]);
        index.prefetchFilter(key);
        m_edgeKeys.push_back(key);
    });
    for (uint64_t& key : m_edgeKeys) {
        if (key != kPairByText) key = index.admit(key);
    }
}

void CSegment::collectEnds(const CDictionary& core, const CDynamicArray& wordGraph, size_t vertices, double smoothing) {
    const auto& words = wordGraph.elements();
    // The words that some word follows, by the vertex where they end, each
    // vertex's in word order.
    m_endStart.assign(vertices + 1, 0);
    for (const CDynamicArray::Element& w : words) {
        if (w.col >= 0 && static_cast<size_t>(w.col) < vertices &&
            m_rowStart[static_cast<size_t>(w.col)] < m_rowStart[static_cast<size_t>(w.col) + 1])
            ++m_endStart[static_cast<size_t>(w.col) + 1];
    }
    for (size_t v = 1; v <= vertices; ++v) m_endStart[v] += m_endStart[v - 1];
    m_endWords.resize(m_endStart[vertices]);
    m_firstFrequency.resize(words.size());
    m_unseenCost.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const CDynamicArray::Element& w = words[i];
        if (w.col < 0 || static_cast<size_t>(w.col) >= vertices ||
            m_rowStart[static_cast<size_t>(w.col)] >= m_rowStart[static_cast<size_t>(w.col) + 1])
            continue;
        m_endWords[m_endStart[static_cast<size_t>(w.col)]++] = static_cast<int>(i);
        const double f1 = w.handle >= 0 ? w.value : core.getFrequency(wordGraph.word(w), 2);
        m_firstFrequency[i] = f1;
        // Most pairs have no bigram count: their cost depends on the first
        // word alone.
        m_unseenCost[i] = -std::log(smoothing * (f1 + 1) / 2159997 + (1 - smoothing) * (kOneMinusT * 0.0 / (f1 + 1) + kT));
    }
    // The counting moved each start to the next vertex's: shift them back.
    for (size_t v = vertices; v > 0; --v) m_endStart[v] = m_endStart[v - 1];
    m_endStart[0] = 0;
}

bool CSegment::pairsByIds(const CDictionary& bigram) {
    if (m_pairsBigram != bigram.version()) {
        m_pairsBigram = bigram.version();
        m_pairsByText = 0;
    }
    return m_pairsByText >= m_textPairLimit;
}

int CSegment::pairFrequencyByText(const CDictionary& bigram, std::string_view first, std::string_view second) {
    ++m_pairsByText;
    m_key.assign(first);
    m_key.push_back('@');
    m_key.append(second);
    return bigram.getFrequency(m_key, 3);
}

bool CSegment::isSingleChain(const CDynamicArray& graph) {
    const auto& words = graph.elements();
    if (words.size() < 2 || !graph.rowFirst() || words[0].row < 0) return false;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i].row != words[i - 1].col || words[i].row <= words[i - 1].row) return false;
    }
    // The last word ends past every start: nothing follows it.
    return words.back().col > words.back().row;
}

void CSegment::identifyTexts(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph) {
    static std::atomic<uint32_t> tables{0};
    // A new table makes every reader of the ids (the role taggers) read
    // each text afresh: it holds enough texts that a long run makes few.
    constexpr size_t kMaxTexts = 1 << 15;
    if (m_textTable == 0 || m_textsBigram != bigram.version() || m_textsCore != core.version() ||
        m_texts.size() > kMaxTexts) {
        m_texts.clear();
        m_textPairIds.clear();
        m_nodeTexts.assign(kNodeTextSlots, NodeText{});
        m_textsBigram = bigram.version();
        m_textsCore = core.version();
        m_textTable = ++tables;
        if (m_textTable == 0) m_textTable = ++tables;  // 0 stands for none
    }
    const auto& words = wordGraph.elements();
    // The words the core dictionary's probes numbered are mostly found by
    // their number in a small direct-mapped table, without hashing the text.
    const bool numbered = m_graphNodes && m_graphNodes->size() == words.size();
    // The optimum graph mostly holds words of the word graph, whose ids are
    // known: both are ordered by start and end, and are walked together.
    const bool earlier =
        m_earlierGraph && m_earlierTable == m_textTable && m_earlierIds.size() == m_earlierGraph->size();
    const auto* earlierWords = earlier ? &m_earlierGraph->elements() : nullptr;
    size_t e = 0;
    m_wordTextIds.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string_view text = wordGraph.word(words[i]);
        const uint32_t node = numbered ? (*m_graphNodes)[i] : WordPrefixTrie::kNone;
        NodeText* cached = nullptr;
        if (node != WordPrefixTrie::kNone) {
            cached = &m_nodeTexts[static_cast<size_t>((node * 0x9E3779B9u) >> (32 - kNodeTextBits))];
            if (cached->node == node) {
                m_wordTextIds[i] = cached->textId;
                continue;
            }
        }
        if (earlierWords) {
            const CDynamicArray::Element& w = words[i];
            const auto before = [&](const CDynamicArray::Element& x) {
                return x.row < w.row || (x.row == w.row && x.col < w.col);
            };
            while (e < earlierWords->size() && before((*earlierWords)[e])) ++e;
            if (e < earlierWords->size() && (*earlierWords)[e].row == w.row && (*earlierWords)[e].col == w.col &&
                m_earlierGraph->word((*earlierWords)[e]) == text) {
                m_wordTextIds[i] = m_earlierIds[e];
                continue;
            }
        }
        const int id = m_texts.add(text);
        if (static_cast<size_t>(id) == m_textPairIds.size()) m_textPairIds.push_back(kUnaskedPairId);
        m_wordTextIds[i] = id;
        if (cached) *cached = NodeText{node, id};
    }
    m_wordTextIdsValid = true;
}

void CSegment::findPaths(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                         double smoothing) {
    // Most sentences reach the second stage with nothing but the first
    // stage's one path in the optimum graph: the shortest path search would
    // return that path, so the pairs need no scoring.
    m_wordTextIdsValid = false;
    if (m_shortcuts && isSingleChain(wordGraph)) {
        m_indexPaths.resize(1);
        m_indexPaths[0].resize(wordGraph.size());
        for (size_t i = 0; i < wordGraph.size(); ++i) m_indexPaths[0][i] = static_cast<int>(i);
        m_segmentCount = 1;
        return;
    }
    biGraphGenerate(bigram, core, wordGraph, smoothing);
    m_segmentCount = m_shortPath.output(m_indexPaths);
}

void CSegment::pathsToWords(const CDynamicArray& wordGraph) {
    const auto& words = wordGraph.elements();
    int produced = 0;
    for (int k = 0; k < m_segmentCount; ++k) {
        // Word indices become the rows of their words, then the column of
        // the last word closes the path.
        m_atomVertices.clear();
        bool valid = !m_indexPaths[static_cast<size_t>(k)].empty();
        for (int index : m_indexPaths[static_cast<size_t>(k)]) {
            if (index < 0 || static_cast<size_t>(index) >= words.size()) {
                valid = false;
                break;
            }
            m_atomVertices.push_back(words[static_cast<size_t>(index)].row);
        }
        if (!valid) continue;
        m_atomVertices.push_back(words[static_cast<size_t>(m_indexPaths[static_cast<size_t>(k)].back())].col);
        generateWord(m_atomVertices, produced++, &m_indexPaths[static_cast<size_t>(k)]);
    }
    m_segmentCount = produced;
}

bool CSegment::biSegment(std::string_view sentence, const CDictionary& core, const CDictionary& bigram,
                         double smoothing) {
    m_segGraph.generateWordGraph(sentence, core);
    m_graphNodes = &m_segGraph.wordNodes();
    findPaths(bigram, core, m_segGraph.graph(), smoothing);
    m_graphNodes = nullptr;
    m_optimum.clear();
    pathsToWords(m_segGraph.graph());
    return true;
}

bool CSegment::biOptimumSegment(const CDictionary& bigram, const CDictionary& core, double smoothing) {
    // The ids of the word graph's texts serve the optimum graph's words.
    if (m_wordTextIdsValid) {
        m_earlierIds.swap(m_wordTextIds);
        m_earlierGraph = &m_segGraph.graph();
        m_earlierTable = m_textTable;
    }
    findPaths(bigram, core, m_optimum, smoothing);
    m_earlierGraph = nullptr;
    // The paths refer to the optimum graph's words: it becomes the word
    // graph that generateWord reads, and collects the new paths afresh.
    m_segGraph.graph().copyFrom(m_optimum);
    m_optimum.clear();
    pathsToWords(m_segGraph.graph());
    return true;
}

std::string_view CSegment::graphWord(int a, int b, std::string_view fallback) const {
    const CDynamicArray& graph = m_segGraph.graph();
    const CDynamicArray::Element* e = graph.getElement(a, b);
    return (e && e->hasWord) ? graph.word(*e) : fallback;
}

void CSegment::emit(std::string_view text, int handle, double value, int a, int b, std::string_view graphText) {
    // Built in place: the text is copied once.
    WordResult& word = m_out->emplace_back();
    word.word.assign(text);
    word.handle = handle;
    word.value = value;
    m_optimum.setElement(a, b, value, handle, graphText);
}

int CSegment::markRunEnd(int w) const {
    const std::string_view text = wordText(w);
    if (text.size() != 2 || !texts().repeatedMarks.contains(text)) return w + 1;
    int end = w + 1;
    while (end < m_wordCount && validSpan(vertex(end), vertex(end + 1)) && wordText(end) == text) ++end;
    return end;
}

int CSegment::numberRunEnd(int w) const {
    // A word that is no number by itself may begin one with the next word:
    // 百分 之 五十 is the fraction 百分之五十.
    const int a = vertex(w);
    if (!mayBeginNumber(wordText(w))) return w;
    const bool beginsNumber =
        w + 1 < m_wordCount && validSpan(a, vertex(w + 2)) && isNumber(m_segGraph.atomSpan(a, vertex(w + 2)));
    if (!isNumber(wordText(w)) && !beginsNumber) return w;
    int end = w + 1;
    while (end < m_wordCount) {
        const int to = vertex(end + 1);
        if (!validSpan(a, to) || !isNumber(m_segGraph.atomSpan(a, to))) break;
        ++end;
    }
    return end;
}

int CSegment::splitLeadingSign(int start, int stop) {
    // A sign after a number or time is a word of its own. Only a sign that
    // is an atom by itself can be split off.
    if (m_out->empty()) return start;
    const SegmentTexts& t = texts();
    const int prev = m_out->back().handle;
    const bool afterNumber = prev == -kHandleNumber || prev == kHandleNumber || prev == -kHandleTime || prev == kHandleTime;
    const std::string_view number = m_segGraph.atomSpan(start, stop);
    std::string_view sign;
    if (number.substr(0, t.dash.size()) == t.dash) sign = t.dash;
    else if (number.substr(0, t.minus.size()) == t.minus) sign = t.minus;
    else if (number.substr(0, 1) == "-") sign = "-";
    if (afterNumber && !sign.empty() && number.size() > sign.size() && m_segGraph.atomText(start) == sign &&
        start + 1 < stop) {
        emit(sign, kHandlePunctuation, 0, start, start + 1, sign);
        return start + 1;
    }
    return start;
}

void CSegment::emitSeparatedNumber(int start, int stop, size_t sepLength, int handle, double value) {
    const SegmentTexts& t = texts();
    const std::string_view number = m_segGraph.atomSpan(start, stop);
    if (number.size() <= charLength(number, 0)) {
        emit(number, handle, value, start, stop, graphWord(start, stop, number));
        return;
    }
    // The trailing separator leaves the number. It becomes a word of its
    // own when it is an atom; otherwise the number keeps it so that no text
    // is lost.
    const int lastAtom = stop - 1;
    if (lastAtom > start && static_cast<size_t>(m_segGraph.atomLength(lastAtom)) == sepLength) {
        emit(m_segGraph.atomSpan(start, lastAtom), kHandleNumber, 0, start, lastAtom, t.numberToken);
        double sepValue = 0;
        int sepHandle = 0;
        m_segGraph.graph().getElement(lastAtom, stop, &sepValue, &sepHandle);
        const std::string_view sep = m_segGraph.atomSpan(lastAtom, stop);
        emit(sep, sepHandle, sepValue, lastAtom, stop, graphWord(lastAtom, stop, sep));
    } else {
        emit(number, kHandleNumber, 0, start, stop, t.numberToken);
    }
}

int CSegment::emitNumber(int w, int end, int handle, double value, std::string_view storedWord) {
    const SegmentTexts& t = texts();
    int start = vertex(w);          // first atom of the number
    const int stop = vertex(end);   // atom after it
    std::string_view number = m_segGraph.atomSpan(start, stop);
    if ((number.size() == 4 && occursAtEvenOffset(number, t.ordinaryShortNumbers)) ||
        (number.size() == 1 && std::string_view("+-./").find(number[0]) != std::string_view::npos)) {
        emit(number, handle, value, start, stop, end == w + 1 ? storedWord : number);
        return end;
    }
    if (number == t.dashes || number == t.dash || number == t.minus || number == "-") {
        emit(number, kHandlePunctuation, value, start, stop, number);
        return end;
    }
    start = splitLeadingSign(start, stop);
    number = m_segGraph.atomSpan(start, stop);

    // Classify by the follower and by the number's own ending.
    const bool hasFollower = end < m_wordCount && validSpan(vertex(end), vertex(end + 1));
    const std::string_view follower = hasFollower ? wordText(end) : std::string_view();
    const bool timeFollows = hasFollower && ((follower.size() == 2 && t.timeUnits.contains(follower)) ||
                                             follower == t.monthPortion || (follower == t.year && isYearTime(number)));
    if (timeFollows) {
        const int to = vertex(end + 1);
        emit(m_segGraph.atomSpan(start, to), kHandleTime, 0, start, to, t.timeToken);
        return end + 1;
    }
    if (hasFollower && follower == t.year) {
        emit(number, kHandleNumber, 0, start, stop, t.numberToken);
        return end;
    }
    if (number.size() >= 2 && number.substr(number.size() - 2) == t.oclock) {
        emit(number, kHandleTime, 0, start, stop, t.timeToken);
        return end;
    }
    size_t sepLength = 0;
    if (number.size() >= 2 && byteAt(number, number.size() - 2) >= 0x80 &&
        t.separators.contains(number.substr(number.size() - 2)))
        sepLength = 2;
    else if (number.back() == '.' || number.back() == '/')
        sepLength = 1;
    if (sepLength > 0)
        emitSeparatedNumber(start, stop, sepLength, handle, value);
    else
        emit(number, kHandleNumber, 0, start, stop, t.numberToken);
    return end;
}

bool CSegment::generateWord(const std::vector<int>& atomVertices, int k, const std::vector<int>* elements) {
    m_vertices = atomVertices;
    m_wordCount = static_cast<int>(atomVertices.size()) - 1;
    m_out = &m_paths[static_cast<size_t>(k)];
    m_out->clear();
    const CDynamicArray& graph = m_segGraph.graph();
    int w = 0;
    while (w < m_wordCount) {
        const int a = vertex(w);
        const int b = vertex(w + 1);
        if (!validSpan(a, b)) {
            ++w;
            continue;
        }
        double value = 0;
        int handle = 0;
        const CDynamicArray::Element* element = nullptr;
        if (elements && static_cast<size_t>(w) < elements->size()) {
            element = &graph[static_cast<size_t>((*elements)[static_cast<size_t>(w)])];
            value = element->value;
            handle = element->handle;
        } else {
            element = graph.getElement(a, b, &value, &handle);
        }
        const std::string_view text = wordText(w);
        const std::string_view storedWord = (element && element->hasWord) ? graph.word(*element) : text;

        // A run of one dash or ellipsis mark is one punctuation word. The
        // marks are double-byte punctuation, below the ideographs.
        const bool mayBeMark = text.size() == 2 && byteAt(text, 0) >= 0x80 && byteAt(text, 0) < 0xB0;
        if (const int end = mayBeMark ? markRunEnd(w) : w + 1; end > w + 1) {
            const int stop = vertex(end);
            const std::string_view run = m_segGraph.atomSpan(a, stop);
            emit(run, kHandlePunctuation, value, a, stop, run);
            w = end;
            continue;
        }
        // Merge the longest run of words whose concatenation is a number.
        const int end = mayBeNumber(text) ? numberRunEnd(w) : w;
        if (end == w) {
            emit(text, handle, value, a, b, storedWord);
            if (element && element->coreEntries >= 0) {
                m_out->back().coreEntries = element->coreEntries;
                m_out->back().coreFrequency = element->coreEntries > 0 ? element->value : 0;
            }
            // The element's stored word is the text of the word (a class
            // token is not: it has no id here).
            if (elements && m_wordTextIdsValid && static_cast<size_t>(w) < elements->size() && storedWord == text) {
                m_out->back().textId = m_wordTextIds[static_cast<size_t>((*elements)[static_cast<size_t>(w)])];
                m_out->back().textTable = m_textTable;
            }
            ++w;
            continue;
        }
        w = emitNumber(w, end, handle, value, storedWord);
    }
    m_out->push_back(WordResult{std::string(), -1, 0});
    m_out = nullptr;
    return true;
}

}  // namespace kestrel
