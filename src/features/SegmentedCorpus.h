#pragma once
// Reading segmented documents (".seg": one "word:count" line per distinct
// word) and walking the segmented training corpus category by category.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Corpus.h"

namespace kestrel {

struct SegLine {
    std::string term;   // GBK bytes before the first ':' (the whole line without one)
    int64_t count = 0;  // leading integer after the ':' (0 when there are no digits)
};

// Reads one .seg file (GB18030, UTF-8 or UTF-16, any line end). Empty lines
// are skipped; a term on several lines is one line (the first) with the sum
// of their counts, so that a document counts once for each of its terms.
// False with a message naming the file when it cannot be read or is not
// text; `warning` (if given) says when invalid bytes were replaced.
bool readSegFile(const std::string& path, std::vector<SegLine>& lines, std::string* error = nullptr,
                 std::string* warning = nullptr);

// Integer value of text the way the workspace readers take it: leading blanks
// skipped, optional sign, then decimal digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
int64_t leadingInteger(std::string_view text);

// A document of the segmented training corpus.
struct CorpusDocument {
    uint32_t category;  // category id
    std::string path;   // full path of the .seg file
};

// The .seg documents of the training corpus: for each category id in order,
// the category directory's .seg files in name order. Unreadable directories
// contribute nothing (their messages are appended to `warnings` if given).
std::vector<CorpusDocument> listTrainingDocuments(const std::string& corpusPath, const CategoryTable& categories,
                                                  std::vector<std::string>* warnings = nullptr);

}  // namespace kestrel
