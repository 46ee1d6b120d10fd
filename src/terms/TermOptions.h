#pragma once
// Which terms a document is represented by: the segmenter's words (the
// default), character n-grams of a range of lengths, and pairs of adjacent
// words, in any combination of at least one kind.
//
// The options have a short written form, used on the command line and as
// the record of a workspace: kinds separated by commas, in any order when
// read and in a fixed order when written, e.g. "words", "chars:2-3",
// "words,chars:1-2,pairs". "chars:N" is "chars:N-N".
#include <string>
#include <string_view>

#include "common/Status.h"

namespace kestrel {

struct TermOptions {
    // Longest character n-gram: the number of distinct n-grams of a corpus
    // grows quickly with n, and longer ones repeat what words already say.
    static constexpr int kMaxCharacters = 5;

    bool words = true;
    int charMin = 0;  // 0: no character n-grams; else 1 <= charMin <= charMax
    int charMax = 0;
    bool pairs = false;

    bool characters() const { return charMin > 0; }
    // Words alone: every file and output is what it was before terms could
    // be chosen.
    bool wordsOnly() const { return words && !characters() && !pairs; }

    // Reads the written form; a failure says what is wrong with it.
    static Result<TermOptions> parse(std::string_view text);
    // The written form, in canonical order: words, chars, pairs.
    std::string toString() const;

    // The workspace record: one line "<written form> # Terms". A workspace
    // without it holds words only (fromRecord of an empty text).
    std::string recordLine() const;
    static Result<TermOptions> fromRecord(std::string_view content);

    friend bool operator==(const TermOptions&, const TermOptions&) = default;
};

}  // namespace kestrel
