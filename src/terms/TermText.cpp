#include "terms/TermText.h"

namespace kestrel {

// '#' (0x23) and '+' (0x2B) are never a byte inside a multi-byte GB18030
// character (trail bytes are 0x30-0x39 or 0x40 and above), so a byte search
// finds only the marks themselves.
TermParts splitTerm(std::string_view term) {
    const bool hasMark = term.find(kCharacterMark) != std::string_view::npos;
    if (term.size() > 1 && term[0] == kCharacterMark && term.find_first_of("#+", 1) == std::string_view::npos)
        return {TermKind::kCharacters, term.substr(1), {}};
    const size_t join = term.find(kPairJoin);
    if (!hasMark && join != std::string_view::npos && join > 0 && join + 1 < term.size() &&
        term.find(kPairJoin, join + 1) == std::string_view::npos)
        return {TermKind::kPair, term.substr(0, join), term.substr(join + 1)};
    return {TermKind::kWord, term, {}};
}

}  // namespace kestrel
