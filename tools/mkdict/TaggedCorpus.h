#pragma once
// Reader of a part-of-speech tagged corpus: one paragraph per line of
// "word/tag" tokens separated by blanks, "[...]tag" groups for compound
// names, and optionally a paragraph id ("19980101-01-001-001/m") first.
#include <cstddef>
#include <string>
#include <vector>

namespace kestrel {

struct CorpusToken {
    std::string word;       // GBK; empty when the word has no GBK form
    std::string tag;
    int group = -1;         // index into CorpusParagraph::groups, or -1
};

struct CorpusGroup {
    size_t first = 0;       // token indices, inclusive
    size_t last = 0;
    std::string tag;
};

struct CorpusParagraph {
    size_t line = 0;        // 1-based line number in the file
    std::vector<CorpusToken> tokens;
    std::vector<CorpusGroup> groups;
};

struct CorpusStats {
    size_t paragraphs = 0;  // non-blank lines
    size_t heldOut = 0;     // paragraphs skipped by the hold-out
    size_t tokens = 0;      // tokens of the kept paragraphs
    size_t noGbk = 0;       // tokens whose word has no GBK form
};

// Reads the corpus (GBK, or UTF-8 detected for the whole file). With
// holdout N > 0 every N-th non-blank line (N, 2N, ...) is skipped, so that
// it can serve as evaluation text. False with "FILE:LINE: ..." in `error`
// on an unreadable file, a malformed token or bytes that are not GBK.
bool readTaggedCorpus(const std::string& path, size_t holdout, std::vector<CorpusParagraph>& paragraphs,
                      CorpusStats& stats, std::string& error);

// Parses one line (already known to be GBK or UTF-8 as `utf8` says).
// False with the reason in `error` (without file and line).
bool parseCorpusLine(std::string_view line, bool utf8, CorpusParagraph& paragraph, size_t& noGbk,
                     std::string& error);

}  // namespace kestrel
