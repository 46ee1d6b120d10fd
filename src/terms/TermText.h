#pragma once
// How a term of each kind is written as one string, the form the .seg
// files, the stream records, the feature index and features.txt hold.
//
//   word                 the word itself              中国
//   character n-gram     '#' and the characters       #中国   (GB18030: 23 D6 D0 B9 FA)
//   pair of words        first word, '+', second      中国+人民 (D6 D0 B9 FA 2B C8 CB C3 F1)
//
// No word of the segmenter holds an ASCII punctuation byte: such a byte
// ends the run of text a word is cut from, and so do blanks and the
// full-width forms. '#' and '+' therefore never occur in a word, so a term
// of one kind never equals a term of another, and a .seg file written
// before terms could be chosen reads back as words alone. Neither is ':'
// (the end of a .seg entry), a blank (between entries of a stream record)
// or a line break, and both are the same byte in GB18030 and UTF-8.
#include <string>
#include <string_view>

namespace kestrel {

enum class TermKind { kWord, kCharacters, kPair };

inline constexpr char kCharacterMark = '#';
inline constexpr char kPairJoin = '+';

// Appends the term of a character n-gram to `out`.
inline void appendCharacterTerm(std::string& out, std::string_view characters) {
    out += kCharacterMark;
    out += characters;
}

// Appends the term of a pair of words to `out`.
inline void appendPairTerm(std::string& out, std::string_view first, std::string_view second) {
    out += first;
    out += kPairJoin;
    out += second;
}

// A term split into its kind and parts: the word, the characters, or the
// two words of a pair (`second` empty for the other kinds).
struct TermParts {
    TermKind kind = TermKind::kWord;
    std::string_view first;
    std::string_view second;
};

// Reads a term back. A string that is no well-formed term of another kind
// (for example a word of another segmenter that holds '+') is a word.
TermParts splitTerm(std::string_view term);

}  // namespace kestrel
