#include "TaggedCorpus.h"

#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool isAsciiLetters(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return true;
}

// Position of the first byte that is not part of a well-formed GBK/GB18030
// character, or npos.
size_t firstInvalidGbk(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c == 0x80 || c == 0xFF || i + 1 >= s.size()) return i;
        const auto t = static_cast<unsigned char>(s[i + 1]);
        if (t >= 0x30 && t <= 0x39) {  // GB18030 four-byte form
            if (i + 3 >= s.size()) return i;
            const auto t2 = static_cast<unsigned char>(s[i + 2]);
            const auto t3 = static_cast<unsigned char>(s[i + 3]);
            if (t2 < 0x81 || t2 > 0xFE || t3 < 0x30 || t3 > 0x39) return i;
            i += 4;
            continue;
        }
        if (t < 0x40 || t == 0x7F || t == 0xFF) return i;
        i += 2;
    }
    return std::string_view::npos;
}

// A paragraph id such as "19980101-01-001-001": digits and dashes only.
bool looksLikeParagraphId(std::string_view word) {
    if (word.size() < 8 || word.find('-') == std::string_view::npos) return false;
    for (char c : word)
        if (!(c == '-' || (c >= '0' && c <= '9'))) return false;
    return true;
}

// A token of a line: "word/tag", which may open a group ("[word/tag") or
// close one ("word/tag]GROUP").
struct TokenParts {
    std::string_view word;
    std::string_view tag;
    std::string_view groupTag;  // empty unless the token closes a group
    bool opens = false;
};

// Splits a token; false with `error` when it is malformed. `inGroup` tells
// whether a group is open before it.
bool splitToken(std::string_view token, bool inGroup, TokenParts& parts, std::string& error) {
    // Blanks, '/', ']' and letters are ASCII bytes that never occur inside
    // a GBK or UTF-8 character, so the split at the last '/' is safe.
    const size_t slash = token.rfind('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == token.size()) {
        error = "malformed token \"" + std::string(token) + "\" (expected word/tag)";
        return false;
    }
    parts.word = token.substr(0, slash);
    parts.tag = token.substr(slash + 1);
    if (parts.word.size() > 1 && parts.word[0] == '[') {
        if (inGroup) {
            error = "nested group in \"" + std::string(token) + "\"";
            return false;
        }
        parts.opens = true;
        parts.word.remove_prefix(1);
    }
    const size_t close = parts.tag.find(']');
    if (close != std::string_view::npos) {
        parts.groupTag = parts.tag.substr(close + 1);
        parts.tag = parts.tag.substr(0, close);
        if (!(inGroup || parts.opens) || !isAsciiLetters(parts.groupTag)) {
            error = "malformed group end in \"" + std::string(token) + "\"";
            return false;
        }
    }
    if (!isAsciiLetters(parts.tag)) {
        error = "malformed tag in \"" + std::string(token) + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool parseCorpusLine(std::string_view line, bool utf8, CorpusParagraph& paragraph, size_t& noGbk,
                     std::string& error) {
    if (!utf8) {
        const size_t bad = firstInvalidGbk(line);
        if (bad != std::string_view::npos) {
            error = "invalid GBK bytes at column " + std::to_string(bad + 1);
            return false;
        }
    }
    bool inGroup = false;
    size_t groupStart = 0;
    bool first = true;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        if (i == start) break;
        std::string_view token = line.substr(start, i - start);
        const bool isFirst = first;
        first = false;

        TokenParts parts;
        if (!splitToken(token, inGroup, parts, error)) return false;
        const std::string_view word = parts.word, tag = parts.tag, groupTag = parts.groupTag;
        const bool opens = parts.opens;
        if (isFirst && !opens && looksLikeParagraphId(word)) continue;

        if (opens) {
            inGroup = true;
            groupStart = paragraph.tokens.size();
        }
        CorpusToken t;
        if (utf8) {
            t.word = utf8ToGbk(word);
            if (t.word.find(' ') != std::string::npos) {
                t.word.clear();
                ++noGbk;
            }
        } else {
            t.word.assign(word);
        }
        t.tag.assign(tag);
        if (inGroup) t.group = static_cast<int>(paragraph.groups.size());
        paragraph.tokens.push_back(std::move(t));
        if (!groupTag.empty()) {
            paragraph.groups.push_back({groupStart, paragraph.tokens.size() - 1, std::string(groupTag)});
            inGroup = false;
        }
    }
    if (inGroup) {
        error = "group opened with '[' is not closed";
        return false;
    }
    return true;
}

bool readTaggedCorpus(const std::string& path, size_t holdout, std::vector<CorpusParagraph>& paragraphs,
                      CorpusStats& stats, std::string& error) {
    const Result<std::string> content = readFile(path);
    if (!content) {
        error = content.message();
        return false;
    }
    std::string_view text = *content;
    const bool utf8 = looksLikeUtf8(text);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    size_t lineNo = 0;
    bool ok = true;
    forEachLine(text, [&](std::string_view line) {
        ++lineNo;
        if (!ok) return;
        bool blank = true;
        for (char c : line)
            if (!isBlank(c)) blank = false;
        if (blank) return;
        ++stats.paragraphs;
        if (holdout > 0 && stats.paragraphs % holdout == 0) {
            ++stats.heldOut;
            return;
        }
        CorpusParagraph paragraph;
        paragraph.line = lineNo;
        std::string why;
        if (!parseCorpusLine(line, utf8, paragraph, stats.noGbk, why)) {
            error = path + ":" + std::to_string(lineNo) + ": " + why;
            ok = false;
            return;
        }
        stats.tokens += paragraph.tokens.size();
        paragraphs.push_back(std::move(paragraph));
    });
    return ok;
}

}  // namespace kestrel
