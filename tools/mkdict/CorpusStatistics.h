#pragma once
// Statistics drawn from a tagged corpus for the segmenter's data files:
// word counts for the core dictionary, word-pair counts for the bigram
// dictionary, part-of-speech transitions, and the role data of the person,
// place and transliterated-name recognisers.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ContextFile.h"
#include "DictionaryFile.h"
#include "TaggedCorpus.h"

namespace kestrel {

// Role numbers of the person-name recogniser; its patterns read role r as
// the letter 'A' + r.
enum PersonRole : int32_t {
    kPersonOther = 0,       // A: a word unrelated to a name
    kPersonSurname = 1,     // B
    kPersonGivenFirst = 2,  // C: first character of a two-character given name
    kPersonGivenLast = 3,   // D: last character of a two-character given name
    kPersonGivenSingle = 4, // E: a one-character given name
    kPersonPrefix = 5,      // F: 老, 小, 阿 before a surname
    kPersonSuffix = 6,      // G: 总, 老, 氏 ... after a surname
    kPersonBefore = 10,     // K: the word before a name
    kPersonAfter = 11,      // L: the word after a name
    kPersonBetween = 12,    // M: the word between two names
    kPersonSurnameGiven = 23,     // X: surname and first given character form a word
    kPersonSurnameSingle = 24,    // Y: surname and one-character given name form a word
    kPersonGivenWord = 25,        // Z: the two-character given name is a word
};

// Role numbers of the place-name and transliterated-name recognisers; a
// name is a run of 1, optional 2s, and 3s.
enum SpanRole : int32_t {
    kSpanOther = 0,
    kSpanFirst = 1,
    kSpanMiddle = 2,
    kSpanLast = 3,
    kPlaceWhole = 4,        // a one-character place name (京, 沪)
    kPlaceBefore = 11,
    kPlaceAfter = 12,
    kPlaceBetween = 13,
    kForeignBefore = 41,
    kForeignAfter = 42,
    kForeignBetween = 43,
};

// A word that, in role tagging, is read as its first character and the rest
// (the word before a name fused with the surname, or the name's last
// character fused with the word after it).
constexpr int32_t kRoleSplitWord = 44;
constexpr int32_t kRoleSentenceBegin = 100;
constexpr int32_t kRoleSentenceEnd = 101;
// Part-of-speech tag of the sentence start in the tagger.
constexpr int32_t kPosSentenceBegin = 0;

struct RoleData {
    DictionaryFileWriter dictionary;
    ContextFileWriter context;
};

struct CorpusStatistics {
    DictionaryFileWriter words;    // corpus words with their tag handles
    DictionaryFileWriter bigrams;
    ContextFileWriter lexical;
    int64_t wordTotal = 0;         // tokens counted into `words` and the class tokens
    int64_t sentences = 0;
    int64_t numbers = 0, times = 0, foreign = 0, persons = 0, places = 0;
    // How often each surname leads a Chinese name (the nr tokens before the
    // last one of a run of short nr tokens: 江 of 江 泽民, 欧阳 of 欧阳 海).
    std::map<std::string, int64_t, std::less<>> surnames;
};

// Splits the paragraphs into sentences (at punctuation) and counts words,
// class tokens, word pairs and part-of-speech transitions.
void countCorpus(const std::vector<CorpusParagraph>& paragraphs, CorpusStatistics& stats);

// Derives the role data of the three recognisers; `core` is the final core
// dictionary, consulted to see which role sequences the segmenter will meet
// (names whose characters fuse with a neighbour into a dictionary word).
void countRoles(const std::vector<CorpusParagraph>& paragraphs, const DictionaryFileWriter& core,
                RoleData& person, RoleData& place, RoleData& foreign);

}  // namespace kestrel
