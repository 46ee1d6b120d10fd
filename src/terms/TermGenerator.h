#pragma once
// The terms of one document as the chosen term options make them: its
// words, its character n-grams and its pairs of adjacent words, counted,
// each kind in order of first appearance, words first. With words alone the
// result is the document's word counts exactly as before terms could be
// chosen.
//
// Character n-grams run over the text the words are cut from: a run of
// Chinese characters between delimiters, or a run of ASCII letters and
// digits that the word rules keep (two or more bytes, not starting with a
// digit). Whatever the words skip (blanks, punctuation, full-width forms,
// the particle 的, runs starting with a digit, single letters) the n-grams
// skip too, and an n-gram never spans it, nor a change between a Chinese
// and an ASCII run. A four-byte GB18030 character is one character. Stop
// words are a rule of words alone: their characters take part in n-grams.
//
// Pairs join each word with the next word of the same run, after stop
// words are removed, so a pair links two content words ("经济 发展" from
// "经济的发展" does not pair, since 的 ends the run; "加快 经济" from
// "加快了经济" pairs when 了 is a stop word).
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "segment/WordCounts.h"
#include "terms/TermOptions.h"

namespace kestrel {

class CWordSegment;

class TermGenerator {
public:
    // Appends the words of one run of text, as segmenting a document gives
    // them for that run (stop words removed).
    using RunWords = std::function<void(std::string_view run, std::vector<std::string>& words)>;

    TermGenerator(const TermOptions& options, RunWords segment);
    // Over the segmenter's word lists.
    TermGenerator(const TermOptions& options, CWordSegment& segmenter);

    const TermOptions& options() const { return options_; }

    // Adds the terms of a GB18030 text to `counts`.
    void countTerms(std::string_view text, WordCounts& counts);

private:
    void addCharacters(std::string_view run);
    void addPairs();

    TermOptions options_;
    RunWords segment_;
    // Per document, reused: the run, its words and characters, one term,
    // and the counts of each kind before they are joined.
    std::string run_;
    std::vector<std::string> runWords_;
    std::vector<size_t> characterStarts_;
    std::string term_;
    WordCounts words_, characters_, pairs_;
};

}  // namespace kestrel
