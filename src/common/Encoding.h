#pragma once
// Text encodings. Internally every word, name and workspace line is GBK;
// documents may arrive as GBK/GB18030 or UTF-8 (with or without BOM), and
// everything shown to a person is UTF-8.
#include <string>
#include <string_view>

namespace kestrel {

// True when the bytes are well-formed UTF-8 (ASCII included).
bool isValidUtf8(std::string_view bytes);

// True when a file's bytes are to be read as UTF-8: a UTF-8 byte-order mark,
// or valid UTF-8 that contains at least one non-ASCII byte.
bool looksLikeUtf8(std::string_view bytes);

// UTF-8 to GBK; a character with no GBK form becomes a blank, malformed
// input bytes too.
std::string utf8ToGbk(std::string_view utf8);

// GBK (GB18030) to UTF-8; byte sequences that are not GB18030 become U+FFFD.
std::string gbkToUtf8(std::string_view gbk);

// A file's bytes as GBK: UTF-8 (detected as above, BOM dropped) is
// converted, anything else is taken to be GBK already.
std::string toGbk(std::string_view bytes);

// Bytes for display: UTF-8 stays (BOM dropped), anything else is read as GBK.
std::string toUtf8(std::string_view bytes);

}  // namespace kestrel
