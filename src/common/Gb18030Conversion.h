#pragma once
// Conversion between UTF-8 and GB18030 with exactly iconv's results, fast:
// the GB18030 bytes of every code point of the Basic Multilingual Plane and
// the UTF-8 bytes of every two-byte GB18030 code are asked of iconv once, on
// first use, and kept in tables; ASCII is copied; everything else (four-byte
// codes, code points beyond U+FFFF, invalid bytes) is left to iconv itself.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// How many input bytes to skip at a position iconv refuses (at least 1).
using SkipLengthFn = size_t (*)(std::string_view, size_t);

// UTF-8 to GB18030; every input position iconv refuses becomes U+FFFD, is
// counted in `replaced` and skipped by `skipLength`.
std::string convertUtf8ToGb18030(std::string_view utf8, SkipLengthFn skipLength, size_t& replaced);

// GB18030 to UTF-8, likewise.
std::string convertGb18030ToUtf8(std::string_view gb, SkipLengthFn skipLength, size_t& replaced);

}  // namespace kestrel
