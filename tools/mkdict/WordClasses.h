#pragma once
// How the segmenter sees a word: part-of-speech tags packed into handles,
// and the class tokens that stand for numbers, times, foreign strings and
// names in its graphs and bigram statistics.
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// Packs a tag into a handle: one letter is letter x 256, two letters first x
// 256 + second; longer tags fall back to their two-letter family ("nrt",
// "nrfg" -> "nr", "eng" -> "nx", otherwise the first two letters). 0 for an
// empty tag or one with a byte that is not an ASCII letter.
int32_t packTag(std::string_view tag);

constexpr int32_t kHandleNumeral = 'm' * 256;            // 27904
constexpr int32_t kHandleTime = 't' * 256;               // 29696
constexpr int32_t kHandlePunctuation = 'w' * 256;        // 30464
constexpr int32_t kHandlePerson = 'n' * 256 + 'r';       // 28274
constexpr int32_t kHandlePlace = 'n' * 256 + 's';        // 28275
constexpr int32_t kHandleForeign = 'n' * 256 + 'x';      // 28280
// Handle under which the class tokens carry their frequency (the segmenter
// reads a class word's frequency with handle 2).
constexpr int32_t kHandleClassToken = 2;
// The sentence markers keep the handles the word graph gives their atoms.
constexpr int32_t kHandleSentenceBegin = 1;
constexpr int32_t kHandleSentenceEnd = 4;
// Handle of every pair in the bigram dictionary.
constexpr int32_t kHandleBigram = 3;

// The class tokens and markers, GBK.
struct ClassTokens {
    std::string number;     // 未##数
    std::string time;       // 未##时
    std::string foreign;    // 未##串
    std::string person;     // 未##人
    std::string place;      // 未##地
    std::string begin;      // 始##始
    std::string end;        // 末##末
};
const ClassTokens& classTokens();

// A number as the segmenter merges it: digits (ASCII or full-width),
// Chinese numerals, separators, signs and units, optionally led by 第/几/....
bool isNumberWord(std::string_view gbk);
// A number followed by 年, 月, 日, 时, 分, 秒, 点 or 月份: a time word.
bool isNumberTimeWord(std::string_view gbk);
// ASCII or full-width letters and digits with at least one letter.
bool isForeignStringWord(std::string_view gbk);

// The GBK characters of a UTF-8 string, each two bytes (helper for sets).
std::string gbkCharacters(std::string_view utf8);
// True when the GBK character `ch` (two bytes) is one of `set`'s two-byte
// characters (at an even offset).
bool containsGbkChar(std::string_view set, std::string_view ch);

// Number of characters of a GBK string (two-byte or one-byte each).
size_t gbkLength(std::string_view gbk);
// Byte length of the GBK character starting at gbk[i].
size_t gbkCharBytes(std::string_view gbk, size_t i);

}  // namespace kestrel
