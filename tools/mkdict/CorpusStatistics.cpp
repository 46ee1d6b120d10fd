#include "CorpusStatistics.h"

#include <algorithm>

#include "WordClasses.h"
#include "common/Encoding.h"

namespace kestrel {

namespace {

enum class UnitKind { Word, Number, Time, Foreign, Boundary };

UnitKind kindOf(const CorpusToken& t) {
    if (t.word.empty() || t.tag == "w") return UnitKind::Boundary;
    if (t.tag == "m" && isNumberWord(t.word)) return UnitKind::Number;
    if (t.tag == "t" && isNumberTimeWord(t.word)) return UnitKind::Time;
    if (t.tag == "nx" || isForeignStringWord(t.word)) return UnitKind::Foreign;
    int cell = 0;
    std::string key;
    if (!dictionaryCellAndKey(t.word, cell, key)) return UnitKind::Boundary;
    return UnitKind::Word;
}

// The sentences of a paragraph: runs of tokens between punctuation (and
// tokens the segmenter could never see as one word), as token indices.
std::vector<std::vector<size_t>> sentencesOf(const CorpusParagraph& p) {
    std::vector<std::vector<size_t>> sentences(1);
    for (size_t i = 0; i < p.tokens.size(); ++i) {
        if (kindOf(p.tokens[i]) == UnitKind::Boundary) {
            if (!sentences.back().empty()) sentences.emplace_back();
        } else {
            sentences.back().push_back(i);
        }
    }
    if (sentences.back().empty()) sentences.pop_back();
    return sentences;
}

// The word the segmenter's graphs hold for a token: class tokens for
// numbers, times and foreign strings, the word itself otherwise.
const std::string& graphWord(const CorpusToken& t) {
    const auto& ct = classTokens();
    switch (kindOf(t)) {
    case UnitKind::Number: return ct.number;
    case UnitKind::Time: return ct.time;
    case UnitKind::Foreign: return ct.foreign;
    default: return t.word;
    }
}

int32_t posHandle(const CorpusToken& t) {
    switch (kindOf(t)) {
    case UnitKind::Number: return kHandleNumeral;
    case UnitKind::Time: return kHandleTime;
    case UnitKind::Foreign: return kHandleForeign;
    default: return packTag(t.tag);
    }
}

bool isPersonToken(const CorpusToken& t) { return t.tag == "nr" && kindOf(t) == UnitKind::Word; }
bool isPlaceToken(const CorpusToken& t) { return t.tag == "ns" && kindOf(t) == UnitKind::Word; }

void countPair(DictionaryFileWriter& bigrams, const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return;
    std::string key;
    key.reserve(a.size() + b.size() + 1);
    key += a;
    key += '@';
    key += b;
    bigrams.add(key, kHandleBigram, 1);  // pairs without a cell are simply not kept
}

std::vector<std::string> charactersOf(std::string_view gbk) {
    std::vector<std::string> chars;
    for (size_t i = 0; i < gbk.size();) {
        const size_t n = gbkCharBytes(gbk, i);
        chars.emplace_back(gbk.substr(i, n));
        i += n;
    }
    return chars;
}

// Forward maximum matching over the core dictionary without the word
// itself: roughly how the segmenter's first stage cuts a name that it does
// not know.
std::vector<std::string> dictionaryPieces(const std::string& word, const DictionaryFileWriter& core) {
    const auto chars = charactersOf(word);
    std::vector<std::string> pieces;
    size_t i = 0;
    while (i < chars.size()) {
        size_t best = 1;
        std::string candidate = chars[i];
        for (size_t j = i + 1; j < chars.size() && j - i < 8; ++j) {
            candidate += chars[j];
            if (!(i == 0 && j + 1 == chars.size()) && core.contains(candidate)) best = j - i + 1;
        }
        std::string piece;
        for (size_t k = i; k < i + best; ++k) piece += chars[k];
        pieces.push_back(std::move(piece));
        i += best;
    }
    return pieces;
}

// True when the core dictionary holds the word as something other than a
// person name. Every name of the corpus is in the core dictionary as a
// word, but the recogniser's data must describe the names it does not know:
// their characters fuse only with ordinary words.
bool isOrdinaryWord(const DictionaryFileWriter& core, const std::string& word) {
    const auto it = core.words().find(word);
    if (it == core.words().end()) return false;
    for (const auto& [handle, f] : it->second)
        if (handle != kHandlePerson) return true;
    return false;
}

struct RoleUnit {
    std::string text;
    int32_t role = 0;
    int name = -1;  // index of the name this unit belongs to
};

struct NameSpan {
    size_t first = 0, end = 0;  // unit indices [first, end)
};

// Marks the words around names: before, after, or between two names.
void markContext(std::vector<RoleUnit>& units, const std::vector<NameSpan>& names, int32_t before,
                 int32_t after, int32_t between) {
    for (const auto& n : names) {
        if (n.first > 0 && units[n.first - 1].name < 0) {
            auto& u = units[n.first - 1];
            u.role = (u.role == after || u.role == between) ? between : before;
        }
        if (n.end < units.size() && units[n.end].name < 0) {
            auto& u = units[n.end];
            u.role = (u.role == before || u.role == between) ? between : after;
        }
    }
}

void countUnits(const std::vector<RoleUnit>& units, RoleData& data) {
    int32_t previous = kRoleSentenceBegin;
    data.context.countTag(kRoleSentenceBegin);
    for (const auto& u : units) {
        if (u.role != 0) data.dictionary.add(u.text, u.role, 1);
        data.context.countTag(u.role);
        data.context.countTransition(previous, u.role);
        previous = u.role;
    }
    data.context.countTag(kRoleSentenceEnd);
    data.context.countTransition(previous, kRoleSentenceEnd);
}

const std::string& personPrefixes() {
    static const std::string s = gbkCharacters("老小阿");
    return s;
}
const std::string& personSuffixes() {
    static const std::string s = gbkCharacters("总老氏某家妈帅嫂姐哥伯叔公婆董局处科部校院师爷奶姨");
    return s;
}

// Characters of the name from units[first] on that fuse into a dictionary
// word reach the tagger as that word.
void fuseNameCharacters(std::vector<RoleUnit>& units, size_t first, int id, const DictionaryFileWriter& core) {
    std::vector<RoleUnit> fused;
    for (size_t i = first; i < units.size(); ++i) {
        const auto& u = units[i];
        if (i + 1 < units.size()) {
            const auto& v = units[i + 1];
            const std::string both = u.text + v.text;
            int32_t role = 0;
            if (u.role == kPersonSurname && v.role == kPersonGivenFirst && isOrdinaryWord(core, both))
                role = kPersonSurnameGiven;
            else if (u.role == kPersonSurname && v.role == kPersonGivenSingle && isOrdinaryWord(core, both))
                role = kPersonSurnameSingle;
            else if (u.role == kPersonGivenFirst && v.role == kPersonGivenLast && isOrdinaryWord(core, both))
                role = kPersonGivenWord;
            if (role != 0) {
                fused.push_back({both, role, id});
                ++i;
                continue;
            }
        }
        fused.push_back(u);
    }
    units.resize(first);
    units.insert(units.end(), fused.begin(), fused.end());
}

// Person names as the recogniser sees them: a Chinese name is a run of nr
// tokens, surname token(s) first; a single nr token of three or more
// characters is a transliterated name, not a Chinese one.
void personUnits(const CorpusParagraph& p, const std::vector<size_t>& sentence, const DictionaryFileWriter& core,
                 RoleData& data) {
    std::vector<RoleUnit> units;
    std::vector<NameSpan> names;
    for (size_t k = 0; k < sentence.size();) {
        const CorpusToken& t = p.tokens[sentence[k]];
        size_t runEnd = k;
        while (runEnd < sentence.size() && isPersonToken(p.tokens[sentence[runEnd]])) ++runEnd;
        const size_t run = runEnd - k;
        bool chinese = run > 0;
        for (size_t r = k; r < runEnd; ++r)
            if (gbkLength(p.tokens[sentence[r]].word) > 2) chinese = false;
        if (!chinese) {
            units.push_back({t.word, kPersonOther, -1});
            ++k;
            continue;
        }
        const int id = static_cast<int>(names.size());
        NameSpan span;
        span.first = units.size();
        const auto& last = p.tokens[sentence[runEnd - 1]].word;
        const size_t lastLen = gbkLength(last);
        if (run == 1 && lastLen == 1) {
            units.push_back({last, kPersonSurname, id});
        } else {
            for (size_t r = k; r + 1 < runEnd; ++r)
                for (auto& ch : charactersOf(p.tokens[sentence[r]].word)) units.push_back({ch, kPersonSurname, id});
            const auto given = charactersOf(last);
            if (given.size() == 2) {
                units.push_back({given[0], kPersonGivenFirst, id});
                units.push_back({given[1], kPersonGivenLast, id});
            } else {
                units.push_back({given[0], kPersonGivenSingle, id});
            }
        }
        fuseNameCharacters(units, span.first, id, core);
        span.end = units.size();
        names.push_back(span);
        k = runEnd;
    }
    markContext(units, names, kPersonBefore, kPersonAfter, kPersonBetween);

    for (const auto& n : names) {
        const bool loneSurname = n.end - n.first == 1 && units[n.first].role == kPersonSurname;
        if (n.first > 0 && units[n.first - 1].name < 0) {
            auto& prev = units[n.first - 1];
            if (loneSurname && prev.text.size() == 2 && containsGbkChar(personPrefixes(), prev.text))
                prev.role = kPersonPrefix;
            // The word before fused with the name's first character.
            const std::string fusedWord = prev.text + charactersOf(units[n.first].text).front();
            if (gbkLength(prev.text) == 1 && isOrdinaryWord(core, fusedWord)) data.dictionary.add(fusedWord, kRoleSplitWord, 1);
        }
        if (n.end < units.size() && units[n.end].name < 0) {
            auto& next = units[n.end];
            if (loneSurname && next.text.size() == 2 && containsGbkChar(personSuffixes(), next.text))
                next.role = kPersonSuffix;
            // The name's last character fused with the word after it.
            const std::string fusedWord = charactersOf(units[n.end - 1].text).back() + next.text;
            if (isOrdinaryWord(core, fusedWord)) data.dictionary.add(fusedWord, kRoleSplitWord, 1);
        }
    }
    countUnits(units, data);
}

// Place names: a one-character place is whole; a longer one reaches the
// tagger cut into dictionary pieces (first, middle..., last); a group tagged
// ns ("[香港/ns 特别/a 行政区/n]ns") is a name made of its tokens.
void placeUnits(const CorpusParagraph& p, const std::vector<size_t>& sentence, const DictionaryFileWriter& core,
                RoleData& data) {
    std::vector<RoleUnit> units;
    std::vector<NameSpan> names;
    for (size_t k = 0; k < sentence.size();) {
        const CorpusToken& t = p.tokens[sentence[k]];
        const int id = static_cast<int>(names.size());
        NameSpan span;
        span.first = units.size();
        std::vector<std::string> pieces;
        size_t next = k + 1;
        if (t.group >= 0 && p.groups[t.group].tag == "ns" && p.groups[t.group].first == sentence[k]) {
            const auto& g = p.groups[t.group];
            for (next = k; next < sentence.size() && sentence[next] <= g.last; ++next)
                pieces.push_back(p.tokens[sentence[next]].word);
        } else if (isPlaceToken(t) && (t.group < 0 || p.groups[t.group].tag != "ns")) {
            pieces = gbkLength(t.word) == 1 ? std::vector<std::string>{t.word} : dictionaryPieces(t.word, core);
        }
        if (pieces.empty()) {
            units.push_back({t.word, kSpanOther, -1});
            k = next;
            continue;
        }
        if (pieces.size() == 1) {
            units.push_back({pieces[0], kPlaceWhole, id});
        } else {
            for (size_t i = 0; i < pieces.size(); ++i)
                units.push_back({pieces[i], i == 0 ? kSpanFirst : (i + 1 == pieces.size() ? kSpanLast : kSpanMiddle), id});
        }
        span.end = units.size();
        names.push_back(span);
        k = next;
    }
    markContext(units, names, kPlaceBefore, kPlaceAfter, kPlaceBetween);
    countUnits(units, data);
}

// Transliterated names: a single nr token of three or more characters, cut
// into the dictionary pieces the tagger will meet (基普罗蒂奇: 基普, 罗, 蒂, 奇).
void foreignUnits(const CorpusParagraph& p, const std::vector<size_t>& sentence, const DictionaryFileWriter& core,
                  RoleData& data) {
    std::vector<RoleUnit> units;
    std::vector<NameSpan> names;
    for (size_t k = 0; k < sentence.size(); ++k) {
        const CorpusToken& t = p.tokens[sentence[k]];
        const bool alone = (k == 0 || !isPersonToken(p.tokens[sentence[k - 1]])) &&
                           (k + 1 == sentence.size() || !isPersonToken(p.tokens[sentence[k + 1]]));
        if (!(isPersonToken(t) && alone && gbkLength(t.word) >= 3)) {
            units.push_back({t.word, kSpanOther, -1});
            continue;
        }
        const int id = static_cast<int>(names.size());
        NameSpan span;
        span.first = units.size();
        const auto pieces = dictionaryPieces(t.word, core);
        for (size_t i = 0; i < pieces.size(); ++i)
            units.push_back({pieces[i], i == 0 ? kSpanFirst : (i + 1 == pieces.size() ? kSpanLast : kSpanMiddle), id});
        span.end = units.size();
        names.push_back(span);
    }
    markContext(units, names, kForeignBefore, kForeignAfter, kForeignBetween);
    countUnits(units, data);
}

}  // namespace

// Counts the surnames of the Chinese names of a sentence: in a run of nr
// tokens of at most two characters each, every token but the last.
void countSurnames(const CorpusParagraph& p, const std::vector<size_t>& sentence, CorpusStatistics& stats) {
    for (size_t k = 0; k < sentence.size();) {
        size_t end = k;
        while (end < sentence.size() && isPersonToken(p.tokens[sentence[end]]) &&
               gbkLength(p.tokens[sentence[end]].word) <= 2)
            ++end;
        for (size_t r = k; r + 1 < end; ++r) ++stats.surnames[p.tokens[sentence[r]].word];
        k = end > k ? end : k + 1;
    }
}

void countCorpus(const std::vector<CorpusParagraph>& paragraphs, CorpusStatistics& stats) {
    const auto& ct = classTokens();
    for (const auto& p : paragraphs) {
        for (const auto& sentence : sentencesOf(p)) {
            countSurnames(p, sentence, stats);
            ++stats.sentences;
            int32_t previousTag = kPosSentenceBegin;
            stats.lexical.countTag(kPosSentenceBegin);
            const std::string* previousWord = &ct.begin;
            for (size_t k = 0; k < sentence.size(); ++k) {
                const CorpusToken& t = p.tokens[sentence[k]];
                ++stats.wordTotal;
                switch (kindOf(t)) {
                case UnitKind::Number: ++stats.numbers; break;
                case UnitKind::Time: ++stats.times; break;
                case UnitKind::Foreign: ++stats.foreign; break;
                default: stats.words.add(t.word, packTag(t.tag), 1); break;
                }
                const std::string& word = graphWord(t);
                const std::string& nextWord =
                    k + 1 < sentence.size() ? graphWord(p.tokens[sentence[k + 1]]) : ct.end;
                countPair(stats.bigrams, *previousWord, word);
                // A recognised name stands in the graph as its class token:
                // count its pairs with the neighbours too.
                if (isPersonToken(t)) {
                    const bool runStart = k == 0 || !isPersonToken(p.tokens[sentence[k - 1]]);
                    const bool runEnd = k + 1 == sentence.size() || !isPersonToken(p.tokens[sentence[k + 1]]);
                    if (runStart) {
                        ++stats.persons;
                        countPair(stats.bigrams, *previousWord, ct.person);
                    }
                    if (runEnd) countPair(stats.bigrams, ct.person, nextWord);
                } else if (isPlaceToken(t)) {
                    ++stats.places;
                    countPair(stats.bigrams, *previousWord, ct.place);
                    countPair(stats.bigrams, ct.place, nextWord);
                }
                const int32_t tag = posHandle(t);
                stats.lexical.countTag(tag);
                stats.lexical.countTransition(previousTag, tag);
                previousTag = tag;
                previousWord = &word;
            }
            countPair(stats.bigrams, *previousWord, ct.end);
            stats.lexical.countTag(kHandleSentenceEnd);
            stats.lexical.countTransition(previousTag, kHandleSentenceEnd);
        }
    }
}

void countRoles(const std::vector<CorpusParagraph>& paragraphs, const DictionaryFileWriter& core,
                RoleData& person, RoleData& place, RoleData& foreign) {
    for (const auto& p : paragraphs) {
        for (const auto& sentence : sentencesOf(p)) {
            personUnits(p, sentence, core, person);
            placeUnits(p, sentence, core, place);
            foreignUnits(p, sentence, core, foreign);
        }
    }
}

}  // namespace kestrel
