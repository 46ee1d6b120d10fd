#include "segment/CSpan.h"

#include <cmath>
#include <limits>

#include "segment/CContextStat.h"
#include "segment/CDictionary.h"

namespace kestrel {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const double kNoContextCost = -std::log(0.000001);

}  // namespace


std::vector<int> CSpan::lastBestTags() const {
    std::vector<int> tags;
    for (size_t i = 1; i < m_bestTags.size() && m_bestTags[i] != -1; ++i) tags.push_back(m_bestTags[i]);
    return tags;
}

bool CSpan::tagPath(WordPath& path, const CDictionary& core, const CDictionary& dictionary) {
    // Records by id are dropped with their table, their extra tags are not:
    // those are bounded here too.
    if (m_knownCore != core.version() || m_knownRoles != dictionary.version() || m_known.size() > kMaxKnownTexts ||
        m_knownTags.size() > 4 * kMaxKnownTexts)
        forgetRoleTags();
    m_knownCore = core.version();
    m_knownRoles = dictionary.version();
    m_core = &core;
    m_dictionary = &dictionary;
    m_path = &path;
    m_candidates.clear();
    m_offset = 0;
    m_atPathStart = true;

    readPathWords(path);
    // Each segment's tags depend on the segments before it, never on those
    // after it: tagging stops after the segment that holds the last word a
    // name may hold.
    const int lastNeeded = lastPossibleNameWord();
    int next = m_pathWordCount == 0 || lastNeeded < 0 ? -1 : 0;
    m_taggedToEnd = next == -1 && m_pathWordCount == 0;
    while (next != -1) {
        if (next > lastNeeded) break;
        next = readSegment(next);
        if (next == -1) m_taggedToEnd = true;
        viterbi();
        bestPath();
        if (m_tagType == kPartOfSpeech) {
            for (int i = 1; i < m_length; ++i) {
                const SegmentWord& w = m_words[static_cast<size_t>(i)];
                if (w.text.empty() || w.pathIndex < 0) continue;
                WordResult& result = path[static_cast<size_t>(w.pathIndex)];
                const int tag = m_bestTags[static_cast<size_t>(i)];
                result.handle = tag;
                if (result.value > 0 && core.isWord(result.word))
                    result.value = core.getFrequency(result.word, tag);
            }
        } else if (m_tagType == kPerson) {
            recognizePerson(dictionary);
        } else {
            recognizeSpan(dictionary);
        }
    }
    m_path = nullptr;
    return true;
}

void CSpan::layOutTransitions() {
    constexpr size_t kMaxSlots = 512;
    const size_t slots = (m_context ? m_context->symbols().size() : 0) + 1;
    m_transitions.clear();
    m_transitionSlots = 0;
    if (slots > kMaxSlots) return;
    m_transitions.resize(slots * slots);
    for (size_t p = 0; p < slots; ++p) {
        for (size_t c = 0; c < slots; ++c) {
            m_transitions[p * slots + c] =
                m_context ? m_context->transitionCost(static_cast<int>(c) - 1, static_cast<int>(p) - 1) : kNoContextCost;
        }
    }
    m_transitionSlots = slots;
}

void CSpan::viterbi() {
    const CContextStat* context = m_context;
    const double* table = m_transitions.empty() ? nullptr : m_transitions.data();
    const size_t slots = m_transitionSlots;
    // -ln of the transition probability, looked up by symbol index.
    auto transition = [&](int current, int previous) {
        if (table) return table[static_cast<size_t>(previous + 1) * slots + static_cast<size_t>(current + 1)];
        return context ? context->transitionCost(current, previous) : kNoContextCost;
    };
    std::array<const double*, kMaxTags> rows;
    for (int i = 1; i < m_length; ++i) {
        SegmentWord& word = m_words[static_cast<size_t>(i)];
        const SegmentWord& prev = m_words[static_cast<size_t>(i - 1)];
        const int prevCount = prev.tagCount;
        const double* prevCosts = prev.costs.data();
        const int* prevIndex = prev.tagIndex.data();
        if (table && prevCount > 0) {
            // The table's row of each predecessor, found once for all the
            // word's tags.
            for (int j = 0; j < prevCount; ++j)
                rows[static_cast<size_t>(j)] = table + static_cast<size_t>(prevIndex[j] + 1) * slots;
            for (int k = 0; k < word.tagCount; ++k) {
                const size_t column = static_cast<size_t>(word.tagIndex[static_cast<size_t>(k)] + 1);
                double minimum = prevCosts[0] + rows[0][column];
                int bestJ = 0;
                for (int j = 1; j < prevCount; ++j) {
                    const double c = prevCosts[j] + rows[static_cast<size_t>(j)][column];
                    if (c < minimum) {
                        minimum = c;
                        bestJ = j;
                    }
                }
                word.best[static_cast<size_t>(k)] = static_cast<unsigned char>(bestJ);
                word.costs[static_cast<size_t>(k)] += minimum;
            }
            continue;
        }
        for (int k = 0; k < word.tagCount; ++k) {
            const int current = word.tagIndex[static_cast<size_t>(k)];
            // The first predecessor reaching the minimum wins.
            auto cost = [&](int j) { return prevCosts[j] + transition(current, prevIndex[j]); };
            double minimum = prevCount > 0 ? cost(0) : kInfinity;
            int bestJ = 0;
            for (int j = 1; j < prevCount; ++j) {
                const double c = cost(j);
                if (c < minimum) {
                    minimum = c;
                    bestJ = j;
                }
            }
            word.best[static_cast<size_t>(k)] = static_cast<unsigned char>(bestJ);
            word.costs[static_cast<size_t>(k)] += minimum;
        }
    }
}

void CSpan::bestPath() {
    m_bestTags.assign(static_cast<size_t>(m_length) + 1, -1);
    int lastNonEmpty = 0;
    int k = 0;
    for (int i = m_length - 1; i >= 1; --i) {
        const SegmentWord& word = m_words[static_cast<size_t>(i)];
        if (k >= word.tagCount) k = 0;
        if (!word.text.empty()) {
            m_bestTags[static_cast<size_t>(i)] = word.tags[static_cast<size_t>(k)];
            if (lastNonEmpty == 0) lastNonEmpty = i;
        }
        k = word.best[static_cast<size_t>(k)];
    }
    // The list ends with -1 after the last non-empty word.
    for (size_t i = static_cast<size_t>(lastNonEmpty) + 1; i < m_bestTags.size(); ++i) m_bestTags[i] = -1;
}

}  // namespace kestrel
