#include "segment/CSegment.h"

#include <algorithm>
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
                               double smoothing, CDynamicArray& pairGraph) {
    pairGraph.clear();
    pairGraph.setRowFirst(false);
    const auto& words = wordGraph.elements();
    // The position of an element in the row-first list is its word index;
    // rowStart[r] is the index of the first word starting at vertex r.
    const size_t vertices = static_cast<size_t>(std::max(wordGraph.rowCount(), wordGraph.colCount())) + 2;
    m_rowStart.assign(vertices + 1, words.size());
    for (size_t i = words.size(); i-- > 0;) {
        if (words[i].row >= 0 && static_cast<size_t>(words[i].row) < vertices) m_rowStart[static_cast<size_t>(words[i].row)] = i;
    }
    for (size_t r = vertices; r-- > 0;) m_rowStart[r] = std::min(m_rowStart[r], m_rowStart[r + 1]);
    for (size_t i1 = 0; i1 < words.size(); ++i1) {
        const CDynamicArray::Element& w1 = words[i1];
        if (w1.col < 0 || static_cast<size_t>(w1.col) >= vertices) continue;
        const size_t first = m_rowStart[static_cast<size_t>(w1.col)];
        const size_t last = m_rowStart[static_cast<size_t>(w1.col) + 1];
        if (first >= last) continue;
        const double f1 = w1.handle >= 0 ? w1.value : core.getFrequency(wordGraph.word(w1), 2);
        // Most pairs have no bigram count: their cost depends on w1 alone.
        const double unseenCost = -std::log(smoothing * (f1 + 1) / 2159997 + (1 - smoothing) * (kOneMinusT * 0.0 / (f1 + 1) + kT));
        // All pairs of w1 begin with "w1@": find their entries once.
        CDictionary::PrefixRange pairs;
        if (bigram.entryCount() > 0) {
            m_key.assign(wordGraph.word(w1));
            m_key.push_back('@');
            pairs = bigram.prefixRange(m_key);
        }
        const size_t stem = m_key.size();
        for (size_t i2 = first; i2 < last; ++i2) {
            const CDynamicArray::Element& w2 = words[i2];
            double f12 = 0;
            if (!pairs.empty()) {
                m_key.resize(stem);
                m_key.append(wordGraph.word(w2));
                // A pair ending in a blank would be trimmed by the lookup.
                const int count = m_key.back() == ' ' ? bigram.getFrequency(m_key, 3)
                                                      : bigram.frequencyInRange(pairs, m_key, 3);
                f12 = static_cast<uint32_t>(count);
            }
            double cost = f12 == 0 ? unseenCost
                                   : -std::log(smoothing * (f1 + 1) / 2159997 +
                                               (1 - smoothing) * (kOneMinusT * f12 / (f1 + 1) + kT));
            if (w1.handle < 0) cost += w1.value;
            pairGraph.appendUnordered(static_cast<int>(i1), static_cast<int>(i2), cost, w1.handle);
        }
    }
    pairGraph.finishAppending();
}

void CSegment::findPaths(const CDictionary& bigram, const CDictionary& core, const CDynamicArray& wordGraph,
                         double smoothing) {
    biGraphGenerate(bigram, core, wordGraph, smoothing, m_pairGraph);
    m_shortPath.init(m_pairGraph, 1);
    m_shortPath.shortPath();
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
        generateWord(m_atomVertices, produced++);
    }
    m_segmentCount = produced;
}

bool CSegment::biSegment(std::string_view sentence, const CDictionary& core, const CDictionary& bigram,
                         double smoothing) {
    m_segGraph.generateWordGraph(sentence, core);
    findPaths(bigram, core, m_segGraph.graph(), smoothing);
    m_optimum.clear();
    pathsToWords(m_segGraph.graph());
    return true;
}

bool CSegment::biOptimumSegment(const CDictionary& bigram, const CDictionary& core, double smoothing) {
    findPaths(bigram, core, m_optimum, smoothing);
    // The paths refer to the optimum graph's words: it becomes the word
    // graph that generateWord reads, and collects the new paths afresh.
    m_segGraph.graph().copyFrom(m_optimum);
    m_optimum.clear();
    pathsToWords(m_segGraph.graph());
    return true;
}

bool CSegment::generateWord(const std::vector<int>& v, int k) {
    const SegmentTexts& t = texts();
    WordPath& out = m_paths[static_cast<size_t>(k)];
    out.clear();
    const CDynamicArray& graph = m_segGraph.graph();
    const int atoms = m_segGraph.atomCount();
    const int wordCount = static_cast<int>(v.size()) - 1;
    auto validSpan = [&](int a, int b) { return a >= 0 && b <= atoms && a < b; };
    auto textOf = [&](int w) { return m_segGraph.atomSpan(v[static_cast<size_t>(w)], v[static_cast<size_t>(w) + 1]); };
    auto graphWord = [&](int a, int b, std::string_view fallback) -> std::string_view {
        const CDynamicArray::Element* e = graph.getElement(a, b);
        return (e && e->hasWord) ? graph.word(*e) : fallback;
    };
    auto emit = [&](std::string_view text, int handle, double value, int a, int b, std::string_view graphText) {
        out.push_back(WordResult{std::string(text), handle, value});
        m_optimum.setElement(a, b, value, handle, graphText);
    };

    int w = 0;
    while (w < wordCount) {
        const int a = v[static_cast<size_t>(w)];
        const int b = v[static_cast<size_t>(w) + 1];
        if (!validSpan(a, b)) {
            ++w;
            continue;
        }
        double value = 0;
        int handle = 0;
        const CDynamicArray::Element* element = graph.getElement(a, b, &value, &handle);
        const std::string_view text = textOf(w);
        const std::string_view storedWord = (element && element->hasWord) ? graph.word(*element) : text;

        // A run of one dash or ellipsis mark is one punctuation word.
        if (text.size() == 2 && t.repeatedMarks.contains(text)) {
            int end = w + 1;
            while (end < wordCount && validSpan(v[static_cast<size_t>(end)], v[static_cast<size_t>(end) + 1]) &&
                   textOf(end) == text)
                ++end;
            if (end > w + 1) {
                const int stop = v[static_cast<size_t>(end)];
                const std::string_view run = m_segGraph.atomSpan(a, stop);
                emit(run, kHandlePunctuation, value, a, stop, run);
                w = end;
                continue;
            }
        }

        // Merge the longest run of words whose concatenation is a number. A
        // word that is no number by itself may begin one with the next word:
        // 百分 之 五十 is the fraction 百分之五十.
        int end = w;  // words w .. end - 1 form the stored number
        const bool beginsNumber = w + 1 < wordCount && validSpan(a, v[static_cast<size_t>(w) + 2]) &&
                                  isNumber(m_segGraph.atomSpan(a, v[static_cast<size_t>(w) + 2]));
        if (isNumber(text) || beginsNumber) {
            end = w + 1;
            while (end < wordCount) {
                const int from = v[static_cast<size_t>(w)];
                const int to = v[static_cast<size_t>(end) + 1];
                if (!validSpan(from, to) || !isNumber(m_segGraph.atomSpan(from, to))) break;
                ++end;
            }
        }
        if (end == w) {
            emit(text, handle, value, a, b, storedWord);
            ++w;
            continue;
        }

        int start = a;                       // first atom of the number
        const int stop = v[static_cast<size_t>(end)];  // atom after it
        std::string_view number = m_segGraph.atomSpan(start, stop);
        if ((number.size() == 4 && occursAtEvenOffset(number, t.ordinaryShortNumbers)) ||
            (number.size() == 1 && std::string_view("+-./").find(number[0]) != std::string_view::npos)) {
            emit(number, handle, value, start, stop, end == w + 1 ? storedWord : number);
            w = end;
            continue;
        }
        if (number == t.dashes || number == t.dash || number == t.minus || number == "-") {
            emit(number, kHandlePunctuation, value, start, stop, number);
            w = end;
            continue;
        }
        // A sign after a number or time is a word of its own. Only a sign
        // that is an atom by itself can be split off.
        if (!out.empty()) {
            const int prev = out.back().handle;
            const bool afterNumber = prev == -kHandleNumber || prev == kHandleNumber || prev == -kHandleTime || prev == kHandleTime;
            std::string_view sign;
            if (number.substr(0, t.dash.size()) == t.dash) sign = t.dash;
            else if (number.substr(0, t.minus.size()) == t.minus) sign = t.minus;
            else if (number.substr(0, 1) == "-") sign = "-";
            if (afterNumber && !sign.empty() && number.size() > sign.size() &&
                m_segGraph.atomText(start) == sign && start + 1 < stop) {
                emit(sign, kHandlePunctuation, 0, start, start + 1, sign);
                ++start;
                number = m_segGraph.atomSpan(start, stop);
            }
        }

        // Classify by the follower and by the number's own ending.
        const bool hasFollower = end < wordCount && validSpan(v[static_cast<size_t>(end)], v[static_cast<size_t>(end) + 1]);
        const std::string_view follower = hasFollower ? textOf(end) : std::string_view();
        if (hasFollower && ((follower.size() == 2 && t.timeUnits.contains(follower)) || follower == t.monthPortion)) {
            const int to = v[static_cast<size_t>(end) + 1];
            emit(m_segGraph.atomSpan(start, to), kHandleTime, 0, start, to, t.timeToken);
            w = end + 1;
            continue;
        }
        if (hasFollower && follower == t.year) {
            if (isYearTime(number)) {
                const int to = v[static_cast<size_t>(end) + 1];
                emit(m_segGraph.atomSpan(start, to), kHandleTime, 0, start, to, t.timeToken);
                w = end + 1;
            } else {
                emit(number, kHandleNumber, 0, start, stop, t.numberToken);
                w = end;
            }
            continue;
        }
        w = end;
        if (number.size() >= 2 && number.substr(number.size() - 2) == t.oclock) {
            emit(number, kHandleTime, 0, start, stop, t.timeToken);
            continue;
        }
        size_t sepLength = 0;
        if (number.size() >= 2 && byteAt(number, number.size() - 2) >= 0x80 &&
            t.separators.contains(number.substr(number.size() - 2)))
            sepLength = 2;
        else if (number.back() == '.' || number.back() == '/')
            sepLength = 1;
        if (sepLength > 0) {
            if (number.size() > charLength(number, 0)) {
                // The trailing separator leaves the number. It becomes a word
                // of its own when it is an atom; otherwise the number keeps it
                // so that no text is lost.
                const int lastAtom = stop - 1;
                if (lastAtom > start && static_cast<size_t>(m_segGraph.atomLength(lastAtom)) == sepLength) {
                    emit(m_segGraph.atomSpan(start, lastAtom), kHandleNumber, 0, start, lastAtom, t.numberToken);
                    double sepValue = 0;
                    int sepHandle = 0;
                    graph.getElement(lastAtom, stop, &sepValue, &sepHandle);
                    const std::string_view sep = m_segGraph.atomSpan(lastAtom, stop);
                    emit(sep, sepHandle, sepValue, lastAtom, stop, graphWord(lastAtom, stop, sep));
                } else {
                    emit(number, kHandleNumber, 0, start, stop, t.numberToken);
                }
            } else {
                emit(number, handle, value, start, stop, graphWord(start, stop, number));
            }
            continue;
        }
        emit(number, kHandleNumber, 0, start, stop, t.numberToken);
    }
    out.push_back(WordResult{std::string(), -1, 0});
    return true;
}

}  // namespace kestrel
