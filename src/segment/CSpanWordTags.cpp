// Reading a path into the tagger's segments: the words of the path (split
// where a role mode wants their first character apart) and the candidate
// tags of each word with their emission costs, kept per text so that a
// text recurring in a document is looked up once.
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

namespace kestrel {

namespace {

struct SpanTexts {
    std::string times = gbkText("×");
    std::string timesTwice = gbkText("××");
    std::string fullStop = gbkText("．");
    std::string fullMinus = gbkText("－");
};

const SpanTexts& texts() {
    static const SpanTexts t;
    return t;
}

constexpr double kInfinity = std::numeric_limits<double>::infinity();

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

// Inline: the lookups of every path word go through it (only this file
// calls it).
inline int CSpan::knownText(std::string_view text) {
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

}  // namespace kestrel
