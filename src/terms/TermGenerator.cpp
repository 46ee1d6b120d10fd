#include "terms/TermGenerator.h"

#include <algorithm>

#include "common/Encoding.h"
#include "segment/CWordSegment.h"
#include "terms/TermText.h"

namespace kestrel {

TermGenerator::TermGenerator(const TermOptions& options, RunWords segment)
    : options_(options), segment_(std::move(segment)) {}

TermGenerator::TermGenerator(const TermOptions& options, CWordSegment& segmenter)
    : TermGenerator(options, [&segmenter](std::string_view run, std::vector<std::string>& words) {
          segmenter.segmentText(run, words);
      }) {}

void TermGenerator::countTerms(std::string_view text, WordCounts& counts) {
    if (options_.wordsOnly()) {
        runWords_.clear();
        segment_(text, runWords_);
        counts.add(runWords_);
        return;
    }
    // The runs the segmenter cuts the text into; segmenting each on its own
    // gives the words of the whole text, in the same order.
    std::string whole(text);
    std::replace(whole.begin(), whole.end(), '\0', ' ');
    words_ = WordCounts();
    characters_ = WordCounts();
    pairs_ = WordCounts();
    const bool needWords = options_.words || options_.pairs;
    size_t offset = 0;
    while (offset < whole.size()) {
        if (CWordSegment::nextPiece(offset, whole, run_) == 0) continue;
        const bool ascii = static_cast<unsigned char>(run_[0]) < 0x80;
        runWords_.clear();
        // An ASCII run is kept or dropped whole by the word rules, and its
        // n-grams with it; a Chinese run always gives its characters.
        if (ascii || needWords) segment_(run_, runWords_);
        if (ascii && runWords_.empty()) continue;
        if (options_.words) words_.add(runWords_);
        if (options_.characters()) addCharacters(run_);
        if (options_.pairs) addPairs();
    }
    counts.append(words_);
    counts.append(characters_);
    counts.append(pairs_);
}

void TermGenerator::addCharacters(std::string_view run) {
    characterStarts_.clear();
    for (size_t i = 0; i < run.size(); i += gb18030CharLength(run, i)) characterStarts_.push_back(i);
    characterStarts_.push_back(run.size());
    const size_t characterCount = characterStarts_.size() - 1;
    const auto low = static_cast<size_t>(options_.charMin);
    const auto high = static_cast<size_t>(options_.charMax);
    for (size_t first = 0; first < characterCount; ++first) {
        for (size_t n = low; n <= high && first + n <= characterCount; ++n) {
            term_.clear();
            appendCharacterTerm(term_, run.substr(characterStarts_[first],
                                                  characterStarts_[first + n] - characterStarts_[first]));
            characters_.add(term_);
        }
    }
}

void TermGenerator::addPairs() {
    for (size_t i = 0; i + 1 < runWords_.size(); ++i) {
        term_.clear();
        appendPairTerm(term_, runWords_[i], runWords_[i + 1]);
        pairs_.add(term_);
    }
}

}  // namespace kestrel
