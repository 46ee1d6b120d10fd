#pragma once
// Character classes of GBK text as the segmenter sees them, and the set
// membership test shared by the number rules and the name recognisers.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/Encoding.h"

namespace kestrel {

enum CharClassValue : int {
    CT_SENTENCE_BEGIN = 1,  // the start marker "始##始" as an atom
    CT_SENTENCE_END = 4,    // the end marker "末##末" as an atom
    CT_SINGLE = 5,          // ASCII other than the delimiters below
    CT_DELIMITER = 6,       // ASCII "\"!,.?()[]{}+=", row A1, non-alphanumeric A3
    CT_CHINESE = 7,         // GB2312 ideograph rows B0-F7
    CT_LETTER = 8,          // full-width letters
    CT_NUM = 9,             // full-width digits
    CT_INDEX = 10,          // numbered symbols, row A2
    CT_OTHER = 17,          // any other lead byte, and a byte that starts no character
    CT_FOUR_BYTE = 18,      // a four-byte GB18030 character (one outside GBK)
};

// Part-of-speech handles (tag letters packed as first * 256 + second) the
// word graph gives its class tokens; negative for a merged number or time.
constexpr int kHandleNumber = -27904;      // negated 'm'
constexpr int kHandleTime = -29696;        // negated 't'
constexpr int kHandleString = -28280;      // negated 'nx'
constexpr int kHandlePunctuation = 30464;  // 'w'

inline constexpr std::string_view kSentenceBegin = "\xca\xbc##\xca\xbc";  // 始##始
inline constexpr std::string_view kSentenceEnd = "\xc4\xa9##\xc4\xa9";    // 末##末

inline unsigned char byteAt(std::string_view s, size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
}

// Class of the first character of a GB18030 string; the empty string counts
// as a delimiter.
int charClass(std::string_view s);

// Number of characters of `s` that belong to `set`: an ASCII character when
// the set holds that byte, a double-byte character when it occurs in the set
// at an even byte offset or when its lead byte occurs anywhere in the set.
int countInSet(std::string_view s, std::string_view set);

// True when the double-byte character `ch` (two bytes) occurs in `set` at an
// even byte offset.
bool inCharSet(std::string_view ch, std::string_view set);

// A fixed set of characters with constant-time membership, same answers as
// inCharSet and countInSet over the string it was built from.
class CharSet {
public:
    explicit CharSet(std::string_view set);
    // The double-byte character `ch` occurs in the set at an even offset.
    bool contains(std::string_view ch) const {
        if (ch.size() < 2) return false;
        const unsigned code = (static_cast<unsigned>(static_cast<unsigned char>(ch[0])) << 8) |
                              static_cast<unsigned char>(ch[1]);
        return (m_pairs[code >> 6] >> (code & 63)) & 1u;
    }
    // The byte occurs anywhere in the set.
    bool hasByte(unsigned char b) const { return (m_bytes[b >> 6] >> (b & 63)) & 1u; }
    int count(std::string_view s) const;

private:
    std::vector<uint64_t> m_pairs;
    std::array<uint64_t, 4> m_bytes{};
};

// Byte length of the character starting at `pos`: 2 for a double-byte
// character, 4 for a four-byte GB18030 character, else 1 (ASCII, and a byte
// such as 0x80 or a cut-off lead byte that starts no character: it is a
// character of its own, never paired with its neighbour).
inline size_t charLength(std::string_view s, size_t pos) { return gb18030CharLength(s, pos); }

}  // namespace kestrel
