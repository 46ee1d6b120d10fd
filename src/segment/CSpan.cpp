#include "segment/CSpan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "common/CachePrefetch.h"
#include "segment/CContextStat.h"
#include "segment/CDictionary.h"
#include "segment/CharClass.h"
#include "segment/GbkText.h"
#include "segment/NameCharacters.h"

namespace kestrel {

namespace {

struct SpanTexts {
    std::string times = gbkText("×");
    std::string timesTwice = gbkText("××");
    std::string middleDot = gbkText("·");
    std::string fullStop = gbkText("．");
    std::string fullMinus = gbkText("－");
};

const SpanTexts& texts() {
    static const SpanTexts t;
    return t;
}

struct PersonPattern {
    std::string_view roles;
    double factor;
};

// Role sequences that make a person name, tried in this order at each word.
constexpr PersonPattern kPersonPatterns[] = {
    {"BBCD", 0.003606}, {"BBC", 0.000021}, {"BBE", 0.001314}, {"BBZ", 0.000315},
    {"BCD", 0.656624},  {"BEE", 0.000021}, {"BE", 0.146116},  {"BG", 0.009136},
    {"BXD", 0.000042},  {"BZ", 0.038971},  {"CDCD", 0},       {"CD", 0.090367},
    {"EE", 0.000273},   {"FB", 0.009157},  {"Y", 0.034324},   {"XD", 0.009735},
};

// The roles person patterns begin with.
constexpr std::string_view kPersonFirstRoles = "BCEFXY";

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const double kNoContextCost = -std::log(0.000001);

// 1 / (k F + c), infinite when the denominator is zero.
double reciprocal(double denominator) { return denominator > 0 ? 1.0 / denominator : kInfinity; }

bool allIdeographs(std::string_view w) {
    if (w.size() % 2 != 0) return false;
    for (size_t i = 0; i < w.size(); i += 2) {
        const unsigned char b = byteAt(w, i);
        if (b < 0xB0 || b > 0xF7) return false;
    }
    return true;
}

bool allFullWidthLetters(std::string_view w) {
    if (w.empty() || w.size() % 2 != 0) return false;
    for (size_t i = 0; i < w.size(); i += 2) {
        if (charClass(w.substr(i, 2)) != CT_LETTER) return false;
    }
    return true;
}

}  // namespace

double CSpan::tagFrequency(int tag) const { return m_context ? m_context->getTagFrequency(tag) : 0; }

void CSpan::addTag(SegmentWord& word, int tag, double cost) {
    if (word.tagCount >= kMaxTags) return;  // the tag table is full
    word.tags[static_cast<size_t>(word.tagCount)] = tag;
    word.tagIndex[static_cast<size_t>(word.tagCount)] = m_context ? m_context->indexOf(tag) : -1;
    word.costs[static_cast<size_t>(word.tagCount)] = cost;
    ++word.tagCount;
}

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

uint32_t CSpan::roleBit(int tag) const {
    if (m_tagType == kPerson) {
        // As recognizePerson writes the role: a letter of one byte.
        const char letter = static_cast<char>('A' + tag);
        return letter >= 'A' && letter <= 'Z' ? uint32_t{1} << (letter - 'A') : 0;
    }
    return tag == 1 || tag == 2 ? uint32_t{1} << tag : 0;
}

int CSpan::lastPossibleNameWord() const {
    const int count = static_cast<int>(m_pathWordCount);
    if (m_tagType == kPartOfSpeech) return count - 1;
    if (m_tagType != kPerson) {
        // A word whose best tag is 1 or 2 always opens a candidate.
        const uint32_t opening = roleBit(1) | roleBit(2);
        for (int p = count - 1; p >= 0; --p) {
            if (m_pathWords[static_cast<size_t>(p)].nameRoles & opening) return p;
        }
        return -1;
    }
    // The last word of a window of words that may take the roles of one of
    // the person patterns in turn; no pattern is longer than four words.
    uint32_t firstRoles = 0;
    for (const char role : kPersonFirstRoles) firstRoles |= uint32_t{1} << (role - 'A');
    int last = -1;
    for (int p = count - 1; p >= 0 && p + 3 > last; --p) {
        if (!(m_pathWords[static_cast<size_t>(p)].nameRoles & firstRoles)) continue;
        for (const PersonPattern& pattern : kPersonPatterns) {
            const int len = static_cast<int>(pattern.roles.size());
            if (p + len > count || p + len - 1 <= last) continue;
            bool fits = true;
            for (int k = 0; k < len && fits; ++k) {
                const uint32_t role = uint32_t{1} << (pattern.roles[static_cast<size_t>(k)] - 'A');
                fits = (m_pathWords[static_cast<size_t>(p + k)].nameRoles & role) != 0;
            }
            if (fits) last = p + len - 1;
        }
    }
    return last;
}

void CSpan::forgetRoleTags() {
    m_knownIds.clear();
    m_known.clear();
    m_knownTags.clear();
    m_beginKnown = m_endKnown = -1;
    m_knownCore = 0;
    m_knownRoles = 0;
    m_knownById.clear();
    m_knownTable = 0;
}

int CSpan::knownText(std::string_view text) {
    const int id = m_knownIds.add(text);
    if (static_cast<size_t>(id) == m_known.size()) m_known.emplace_back();
    return id;
}

int CSpan::knownText(const WordResult& word) {
    if (word.textId < 0 || word.textTable == 0 || static_cast<size_t>(word.textId) >= kMaxTextIds) {
        // Every path begins and ends with a marker: keep their records at hand.
        if (word.word == kSentenceBegin) return m_beginKnown >= 0 ? m_beginKnown : (m_beginKnown = knownText(word.word));
        if (word.word == kSentenceEnd) return m_endKnown >= 0 ? m_endKnown : (m_endKnown = knownText(word.word));
        return knownText(word.word);
    }
    if (word.textTable != m_knownTable) {
        m_knownById.clear();
        m_knownTable = word.textTable;
    }
    const size_t id = static_cast<size_t>(word.textId);
    if (id >= m_knownById.size()) m_knownById.resize(std::min(kMaxTextIds, std::max(id + 1, m_knownById.size() * 2)));
    return -2 - static_cast<int>(id);
}

bool CSpan::splitsInRoleMode(std::string_view text) const {
    RoleEntries roles;
    roles.count = m_dictionary->getHandles(text, roles.handles, roles.frequencies);
    return splitsInRoleMode(text, roles);
}

bool CSpan::splitsInRoleMode(std::string_view text, const RoleEntries& roles) const {
    const int n = roles.count;
    // getHandles gives at most kMaxHandles entries: beyond them, ask.
    return std::find(roles.handles, roles.handles + n, 44) != roles.handles + n ||
           (n == CDictionary::kMaxHandles && m_dictionary->isWord(text, 44));
}

void CSpan::readNewText(KnownText& known, const PathWord& word) {
    // One lookup in the role dictionary answers both questions: whether the
    // text splits and, when it does not, which tags it takes as a whole word.
    RoleEntries roles;
    roles.count = m_dictionary->getHandles(word.text, roles.handles, roles.frequencies);
    known.split = splitsInRoleMode(word.text, roles);
    known.splitKnown = true;
    if (known.split || known.tagCount >= 0) return;
    SegmentWord& tagged = m_newText;
    tagged.text = word.text;
    tagged.tagCount = 0;
    addRoles(tagged, word, roles);
    if (tagged.tagCount == 0) guessRoles(tagged);
    if (tagged.tagCount == 0) addTag(tagged, 0, 0);
    keepTags(known, tagged);
}

void CSpan::readPathWords(const WordPath& path) {
    // In a role mode a word that the role dictionary holds with role 44 is
    // read as its first character and the rest.
    if (m_pathWords.size() < path.size() * 2) m_pathWords.resize(path.size() * 2);
    const bool shortcuts = m_shortcuts && m_tagType != kPartOfSpeech;
    if (shortcuts) {
        // The records of the path's words, asked for all at once: the
        // memory reads of one word need not wait for those of the last.
        m_pathRecords.clear();
        for (size_t i = 0; i < path.size() && !path[i].word.empty(); ++i) m_pathRecords.push_back(knownText(path[i]));
        for (const int ref : m_pathRecords) prefetchForRead(&record(ref));
    }
    size_t count = 0;
    for (size_t i = 0; i < path.size() && !path[i].word.empty(); ++i) {
        const std::string_view w = path[i].word;
        PathWord& word = m_pathWords[count++];
        word.text = w;
        word.pathIndex = static_cast<int>(i);
        word.whole = true;
        word.known = -1;
        word.nameRoles = kAnyRole;
        if (m_tagType == kPartOfSpeech) continue;
        bool split = false;
        if (shortcuts) {
            word.known = m_pathRecords[i];
            KnownText& known = record(word.known);
            if (!known.splitKnown) readNewText(known, word);
            split = known.split;
            // A mark that the transliteration tagger may read as its
            // full-width form takes the roles of that form.
            if (!(m_tagType == kTransliteration && (w == "." || w == "-"))) word.nameRoles = known.nameRoles;
        } else {
            split = splitsInRoleMode(w);
        }
        if (!split) continue;
        const size_t first = charLength(w, 0);
        word.text = w.substr(0, first);
        word.whole = false;
        word.known = -1;
        word.nameRoles = kAnyRole;
        if (first < w.size()) {
            PathWord& rest = m_pathWords[count++];
            rest.text = w.substr(first);
            rest.pathIndex = static_cast<int>(i);
            rest.whole = false;
            rest.known = -1;
            rest.nameRoles = kAnyRole;
        }
    }
    m_pathWordCount = count;
}

void CSpan::readRoleTags(SegmentWord& word, const PathWord& pathWord, int index, bool replaced) {
    constexpr int kInline = KnownText::kInlineTags;
    int known = -1;
    if (m_shortcuts) {
        known = pathWord.known != -1 && !replaced ? pathWord.known : knownText(word.text);
        const KnownText& k = record(known);
        if (k.tagCount >= 0) {
            for (int t = 0; t < k.tagCount && t < kInline; ++t) {
                word.tags[static_cast<size_t>(t)] = k.tags[t];
                word.tagIndex[static_cast<size_t>(t)] = k.index[t];
                word.costs[static_cast<size_t>(t)] = k.costs[t];
            }
            for (int t = kInline; t < k.tagCount; ++t) {
                const KnownTag& tag = m_knownTags[k.moreTags + static_cast<size_t>(t - kInline)];
                word.tags[static_cast<size_t>(t)] = tag.tag;
                word.tagIndex[static_cast<size_t>(t)] = tag.index;
                word.costs[static_cast<size_t>(t)] = tag.cost;
            }
            word.tagCount = k.tagCount;
            return;
        }
    }
    readRoles(word, pathWord);
    if (word.tagCount == 0) guessRoles(index);
    if (word.tagCount == 0) addTag(word, 0, 0);
    if (known != -1) keepTags(record(known), word);
}

void CSpan::keepTags(KnownText& k, const SegmentWord& word) {
    constexpr int kInline = KnownText::kInlineTags;
    // Tags and symbol indices are kept in 16 bits: a text whose do not fit
    // is read afresh each time.
    const auto fits = [](int v) { return v >= INT16_MIN && v <= INT16_MAX; };
    for (int t = 0; t < word.tagCount && t < kInline; ++t) {
        if (!fits(word.tags[static_cast<size_t>(t)]) || !fits(word.tagIndex[static_cast<size_t>(t)])) return;
    }
    // Every word has a tag by now (role 0 when nothing else fits).
    k.tagCount = static_cast<int8_t>(word.tagCount);
    k.moreTags = static_cast<uint32_t>(m_knownTags.size());
    k.nameRoles = 0;
    for (int t = 0; t < word.tagCount; ++t) {
        const size_t w = static_cast<size_t>(t);
        k.nameRoles |= roleBit(word.tags[w]);
        if (t < kInline) {
            k.tags[t] = static_cast<int16_t>(word.tags[w]);
            k.index[t] = static_cast<int16_t>(word.tagIndex[w]);
            k.costs[t] = word.costs[w];
        } else {
            m_knownTags.push_back(KnownTag{word.tags[w], word.tagIndex[w], word.costs[w]});
        }
    }
}

void CSpan::readRoles(SegmentWord& word, const PathWord& pathWord) {
    RoleEntries roles;
    roles.count = m_dictionary->getHandles(word.text, roles.handles, roles.frequencies);
    addRoles(word, pathWord, roles);
}

void CSpan::addRoles(SegmentWord& word, const PathWord& pathWord, const RoleEntries& roles) {
    const std::string_view lookup = word.text;
    const bool asRead = lookup == pathWord.text;
    int handles[CDictionary::kMaxHandles];
    int frequencies[CDictionary::kMaxHandles];
    const int n = roles.count;
    for (int r = 0; r < n; ++r) {
        addTag(word, roles.handles[r],
               std::log(tagFrequency(roles.handles[r]) + n + 1) - std::log(static_cast<double>(roles.frequencies[r]) + 1));
    }
    if (lookup == kSentenceBegin) {
        addTag(word, kStartTagRole, 0);
    } else if (lookup == kSentenceEnd) {
        addTag(word, kEndTagRole, 0);
    } else {
        // The word graph found the core entries of most path words.
        const WordResult& result = (*m_path)[static_cast<size_t>(pathWord.pathIndex)];
        const bool known = asRead && pathWord.whole && result.coreEntries >= 0;
        const int count = known ? result.coreEntries : m_core->getHandles(lookup, handles, frequencies);
        double total = 0;
        if (known) {
            total = result.coreFrequency;
        } else {
            for (int i = 0; i < count; ++i) total += frequencies[i];
        }
        if (count > 0) addTag(word, 0, std::log(tagFrequency(0) + n + 1) - std::log(total + 1));
    }
}

void CSpan::readPartOfSpeech(SegmentWord& word) {
    const WordResult& result = (*m_path)[static_cast<size_t>(word.pathIndex)];
    int handles[CDictionary::kMaxHandles];
    int frequencies[CDictionary::kMaxHandles];
    if (result.handle > 0) {
        const double f = tagFrequency(result.handle);
        // A frequency of 0 counts as 1: the logarithm needs a positive value.
        const double value = result.value > 0 ? result.value : 1;
        addTag(word, result.handle, std::max(0.0, std::log(f + 1) - std::log(value)));
        return;
    }
    const int n = m_core->getHandles(result.word, handles, frequencies);
    int from = 0;
    if (result.handle < 0) {
        addTag(word, -result.handle, result.value);
        from = 1;
    }
    for (int i = from; i < n; ++i) {
        addTag(word, handles[i],
               std::log(tagFrequency(handles[i]) + n) - std::log(static_cast<double>(frequencies[i]) + 1));
    }
}

int CSpan::readSegment(int start) {
    // Word 0: the virtual start word of the path, or the last word of the
    // previous segment with its first tag and accumulated cost. It is
    // written in place: segments are many and mostly short.
    if (m_words.size() < kMaxSegmentWords + 2) m_words.resize(kMaxSegmentWords + 2);
    SegmentWord& first = m_words[0];
    if (m_atPathStart || m_length == 0) {
        first.text = {};
        first.position = 0;
        first.length = 0;
        first.pathIndex = -1;
        first.tags[0] = m_tagType == kPartOfSpeech ? 0 : kStartTagRole;
        first.tagIndex[0] = m_context ? m_context->indexOf(first.tags[0]) : -1;
        first.costs[0] = 0;
        m_atPathStart = false;
    } else if (m_length > 1) {
        const SegmentWord& last = m_words[static_cast<size_t>(m_length - 1)];
        first.text = last.text;
        first.position = last.position;
        first.length = last.length;
        first.pathIndex = last.pathIndex;
        first.tags[0] = last.tags[0];
        first.tagIndex[0] = last.tagIndex[0];
        first.costs[0] = last.costs[0];
    }
    first.tagCount = 1;
    m_length = 1;

    const SpanTexts& t = texts();
    size_t index = static_cast<size_t>(start);
    while (m_length <= kMaxSegmentWords && index < m_pathWordCount) {
        const PathWord& pathWord = m_pathWords[index++];
        SegmentWord& word = m_words[static_cast<size_t>(m_length)];
        word.text = pathWord.text;
        word.pathIndex = pathWord.pathIndex;
        word.position = m_offset;
        word.length = static_cast<int>(pathWord.text.size());
        word.tagCount = 0;
        m_offset += word.length;
        if (m_tagType == kPartOfSpeech) {
            readPartOfSpeech(word);
        } else {
            bool replaced = false;
            if (m_tagType == kTransliteration) {
                // Between Chinese characters, '.' and '-' stand for the
                // full-width point and dash of a transliterated name.
                const std::string_view prev = m_words[static_cast<size_t>(m_length - 1)].text;
                if (prev.size() == 2 && charClass(prev) == CT_CHINESE && (word.text == "." || word.text == "-")) {
                    word.text = word.text == "." ? t.fullStop : t.fullMinus;
                    replaced = true;
                }
            }
            readRoleTags(word, pathWord, m_length, replaced);
        }
        if (word.tagCount == 0) guessRoles(m_length);
        if (word.tagCount == 0) addTag(word, 0, 0);  // part of speech unknown
        ++m_length;
        if (word.tagCount == 1) break;
    }
    SegmentWord& last = m_words[static_cast<size_t>(m_length - 1)];
    if (last.tagCount > 1) {
        SegmentWord& end = m_words[static_cast<size_t>(m_length)];
        end.text = {};
        end.position = m_offset;
        end.length = 0;
        end.pathIndex = -1;
        end.tagCount = 0;
        addTag(end, m_tagType == kPartOfSpeech ? 1 : kEndTagRole, 0);
        ++m_length;
    }
    return index < m_pathWordCount ? static_cast<int>(index) : -1;
}

void CSpan::guessRoles(int index) { guessRoles(m_words[static_cast<size_t>(index)]); }

void CSpan::guessRoles(SegmentWord& word) {
    const std::string_view w = word.text;
    const SpanTexts& t = texts();
    auto plain = [&](int tag) { addTag(word, tag, reciprocal(tagFrequency(tag) + 1)); };
    auto scaled = [&](int tag, double k, double c) { addTag(word, tag, reciprocal(k * tagFrequency(tag) + c)); };
    const size_t len = w.size();

    if (m_tagType == kPerson || m_tagType == kPlace) {
        if (m_tagType == kPerson && (w == t.timesTwice || w == t.times)) {
            plain(6);
            return;
        }
        plain(0);
        if (len < 4 && len != 2) return;
        if (len == 2 && (charClass(w) == CT_CHINESE || charClass(w) == CT_OTHER)) {
            for (int tag : {1, 2, 3, 4}) plain(tag);
        }
        for (int tag : {11, 12, 13}) scaled(tag, 8, 0);
        return;
    }
    if (m_tagType != kTransliteration) return;
    plain(0);
    if (!allIdeographs(w)) {
        if (allFullWidthLetters(w)) {
            plain(1);
            plain(11);
            scaled(2, 2, 1);
            scaled(3, 2, 1);
            scaled(12, 2, 1);
            scaled(13, 2, 1);
        }
        for (int tag : {41, 42, 43}) scaled(tag, 8, 0);
        return;
    }
    if (len < 4 && len != 2) return;
    if (len == 2 && (charClass(w) == CT_CHINESE || charClass(w) == CT_OTHER)) {
        for (int tag : {1, 2, 3}) scaled(tag, 2, 1);
        scaled(30, 8, 1);
        for (int tag : {11, 12, 13}) scaled(tag, 4, 1);
        for (int tag : {21, 22, 23}) scaled(tag, 2, 1);
    }
    for (int tag : {41, 42, 43}) scaled(tag, 8, 0);
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

int CSpan::endPosition(int i) const {
    if (i < m_length) return m_words[static_cast<size_t>(i)].position;
    const SegmentWord& last = m_words[static_cast<size_t>(m_length - 1)];
    return last.position + last.length;
}

void CSpan::addCandidate(int start, int end, double cost, int given) {
    if (static_cast<int>(m_candidates.size()) >= kMaxCandidates) return;
    m_candidates.push_back(Candidate{start, end, cost, given});
}

double CSpan::computeCost(int first, int count, const CDictionary& roles) const {
    double cost = 0;
    for (int k = first; k < first + count && k < m_length; ++k) {
        const int tag = m_bestTags[static_cast<size_t>(k)];
        const SegmentWord& word = m_words[static_cast<size_t>(k)];
        if (tag < 0 || word.text.empty()) continue;
        cost += std::log(tagFrequency(tag) + 1) - std::log(static_cast<double>(roles.getFrequency(word.text, tag)) + 1);
    }
    return cost;
}

void CSpan::recognizePerson(const CDictionary& roles) {
    const SpanTexts& t = texts();
    // Role letters: role r is 'A' + r; position p is word p.
    std::string letters(static_cast<size_t>(m_length) + 1, '\0');
    int last = 0;  // last word with a tag
    for (int i = 1; i < m_length && m_bestTags[static_cast<size_t>(i)] != -1; ++i) {
        letters[static_cast<size_t>(i)] = static_cast<char>('A' + m_bestTags[static_cast<size_t>(i)]);
        last = i;
    }
    const std::string_view roleString(letters);
    auto wordText = [&](int i) -> std::string_view {
        return i >= 0 && i < m_length ? m_words[static_cast<size_t>(i)].text : std::string_view();
    };
    int p = 1;
    while (p <= last) {
        if (kPersonFirstRoles.find(roleString[static_cast<size_t>(p)]) == std::string_view::npos) {
            ++p;  // no pattern begins with this role
            continue;
        }
        bool recorded = false;
        for (size_t k = 0; k < std::size(kPersonPatterns); ++k) {
            const PersonPattern& pattern = kPersonPatterns[k];
            const int len = static_cast<int>(pattern.roles.size());
            if (p + len - 1 > last || roleString[static_cast<size_t>(p)] != pattern.roles[0] ||
                roleString.substr(static_cast<size_t>(p), pattern.roles.size()) != pattern.roles)
                continue;
            if (wordText(p - 1) == t.middleDot || wordText(p + len) == t.middleDot) continue;
            if (pattern.roles == "FB" && p + 2 <= last) {
                const char after = roleString[static_cast<size_t>(p + 2)];
                if (after == 'C' || after == 'E' || after == 'G') continue;
            }
            if (pattern.factor == 0) {
                // Two surname-given pairs: when the four words hold name
                // characters of foreign names, go on from their last word.
                std::string text;
                for (int i = p; i < p + 4; ++i) text.append(wordText(i));
                static const CharSet western(westernNameCharacters());
                static const CharSet japanese(japaneseNameCharacters());
                static const CharSet russian(russianNameCharacters());
                if (western.count(text) > 0 || japanese.count(text) > 0 || russian.count(text) > 0)
                    p += 3;
                continue;
            }
            addCandidate(endPosition(p), endPosition(p + len), computeCost(p, len, roles) - std::log(pattern.factor),
                         givenNameStart(pattern.roles, p));
            p += len;
            recorded = true;
            break;
        }
        if (!recorded) ++p;
    }
}

int CSpan::givenNameStart(std::string_view roles, int p) const {
    // Surname words (B) lead the name: the given name follows them. A word
    // that fuses the surname with the given name (X, Y) holds a surname of
    // one character. A name without a surname (CD, EE) or with a prefix
    // (老张, FB) has no given name to set apart.
    const size_t surnames = roles.find_first_not_of('B');
    if (surnames > 0 && surnames != std::string_view::npos) return endPosition(p + static_cast<int>(surnames));
    if (roles[0] == 'X' || roles[0] == 'Y') {
        const SegmentWord& word = m_words[static_cast<size_t>(p)];
        return word.position + static_cast<int>(charLength(word.text, 0));
    }
    return 0;
}

void CSpan::recognizeSpan(const CDictionary& roles) {
    auto tagAt = [&](int i) { return i < static_cast<int>(m_bestTags.size()) ? m_bestTags[static_cast<size_t>(i)] : -1; };
    int c = 1;
    int d = 1;
    int i = 1;
    while (tagAt(i) != -1) {
        const int tag = tagAt(i);
        const int a = i;
        int b = i;
        bool opened = false;
        auto joinEnding = [&](int& j) {
            int m = 0;
            while (tagAt(j) == 3) {
                ++j;
                ++m;
            }
            if (m > 0) {
                c += m - 1;
                d = c;
            }
        };
        if (tag == 1) {
            opened = true;
            int j = i;
            int k = 0;
            while (tagAt(j) == 1) {
                ++j;
                ++k;
            }
            if (k > 1) {
                c += k - 1;
                d = c;
            }
            while (tagAt(j) == 2) ++j;
            joinEnding(j);
            b = j;
        } else if (tag == 2) {
            opened = true;
            ++c;
            d = c;
            int j = i + 1;
            while (tagAt(j) == 2) ++j;
            joinEnding(j);
            b = j;
        }
        if (opened && b > a) {
            addCandidate(endPosition(a), endPosition(b), computeCost(a, b - a + 1, roles) + std::log(static_cast<double>(d)));
            c = d;
        }
        i = b > i ? b : i + 1;
    }
}

}  // namespace kestrel
