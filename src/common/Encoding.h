#pragma once
// Text encodings. The working encoding is GB18030, the superset of GBK that
// covers all of Unicode: every word, name and workspace line is GB18030 bytes
// (for a character GBK has, exactly its GBK bytes; any other character is a
// four-byte sequence). Documents may arrive as GBK/GB18030, UTF-8 (with or
// without BOM) or UTF-16 with BOM, detected per file; everything shown to a
// person is UTF-8.
//
// The names say "Gbk" for the working encoding, as the file formats do.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// U+FFFD, the replacement character, in GB18030.
inline constexpr std::string_view kReplacementGb18030 = "\x84\x31\xA4\x37";

enum class TextEncoding { kAscii, kUtf8, kGb18030, kUtf16Le, kUtf16Be, kBinary };

// What decoding a document found.
struct DecodeReport {
    TextEncoding encoding = TextEncoding::kAscii;
    size_t replaced = 0;  // invalid bytes, each replaced by one U+FFFD
};

// True when the bytes are well-formed UTF-8 (ASCII included).
bool isValidUtf8(std::string_view bytes);

// True when every byte belongs to a well-formed GB18030 character.
bool isValidGb18030(std::string_view bytes);

// The reading that explains a document's bytes best: a byte-order mark
// decides; otherwise UTF-8 when its multi-byte sequences clearly outnumber
// its invalid bytes (a long UTF-8 text with a bad byte stays UTF-8) and the
// text does not read more plausibly as Chinese GB18030 (a short GBK text that
// happens to be valid UTF-8); binary when control bytes or undecodable bytes
// make up a large share.
TextEncoding detectEncoding(std::string_view bytes);

// True when a file's bytes are to be read as UTF-8 (see detectEncoding).
bool looksLikeUtf8(std::string_view bytes);

// A document's bytes in the working encoding, decoded per character in the
// detected encoding: an invalid byte becomes one U+FFFD and is counted, a
// byte-order mark is dropped, the lone byte 0x80 of a GBK text is the euro
// sign (as in code page 936). A binary file gives an empty text.
std::string decodeText(std::string_view bytes, DecodeReport* report = nullptr);

// The warning for a document decoded with replacements or skipped as binary,
// naming the file; empty when there is nothing to say.
std::string decodeWarning(const std::string& path, const DecodeReport& report);

// UTF-8 to GB18030; each malformed input byte becomes U+FFFD.
std::string utf8ToGbk(std::string_view utf8);

// GB18030 to UTF-8; byte sequences that are not GB18030 become U+FFFD.
std::string gbkToUtf8(std::string_view gbk);

// A file's bytes in the working encoding (decodeText without the report).
std::string toGbk(std::string_view bytes);

// Bytes for display: text that reads as UTF-8 stays (BOM dropped, invalid
// bytes escaped as \xNN), anything else is converted from GB18030.
std::string toUtf8(std::string_view bytes);

// A path or file-system name for display: its valid UTF-8 characters as they
// are, every other byte (and every control character) escaped as \xNN.
std::string displayPath(std::string_view bytes);

// Length of the GB18030 character at s[i]: 1 for ASCII and for a byte that
// starts no valid sequence (0x80, 0xFF, a lead byte without a valid trail),
// 2 or 4 otherwise.
inline size_t gb18030CharLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x81 || b0 == 0xFF || i + 1 >= s.size()) return 1;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    if ((b1 >= 0x40 && b1 <= 0x7E) || (b1 >= 0x80 && b1 <= 0xFE)) return 2;
    if (b1 >= 0x30 && b1 <= 0x39 && i + 3 < s.size()) {
        const auto b2 = static_cast<unsigned char>(s[i + 2]);
        const auto b3 = static_cast<unsigned char>(s[i + 3]);
        if (b2 >= 0x81 && b2 <= 0xFE && b3 >= 0x30 && b3 <= 0x39) return 4;
    }
    return 1;
}

}  // namespace kestrel
