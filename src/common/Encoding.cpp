#include "common/Encoding.h"

#include "common/Gb18030Conversion.h"
#include "common/IconvConverter.h"

#include <algorithm>
#include <cstdint>

namespace kestrel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Length of the UTF-8 sequence starting at s[i], or 0 when it is malformed.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    size_t len;
    uint32_t min;
    uint32_t cp;
    if ((b0 & 0xE0) == 0xC0) { len = 2; min = 0x80; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; min = 0x800; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; min = 0x10000; cp = b0 & 0x07; }
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// Length of the GB18030 sequence at s[i] that iconv refused, so that a bad
// double-byte pair is skipped whole rather than resynchronising mid-character.
size_t gbSkipLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 >= 0x81 && b0 <= 0xFE && i + 1 < s.size()) {
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if ((b1 >= 0x40 && b1 <= 0x7E) || (b1 >= 0x80 && b1 <= 0xFE)) return 2;
    }
    return 1;
}

size_t utf8SkipLength(std::string_view s, size_t i) {
    const size_t len = utf8SequenceLength(s, i);
    return len == 0 ? 1 : len;
}

// Linear number of a four-byte GB18030 sequence; the assigned ones are
// 0 .. 39419 (U+0080 .. U+FFFF not covered by two-byte codes) and
// 189000 .. 1237575 (U+10000 .. U+10FFFF).
bool isAssignedFourByte(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[i + k])); };
    const unsigned linear = (((b(0) - 0x81) * 10 + (b(1) - 0x30)) * 126 + (b(2) - 0x81)) * 10 + (b(3) - 0x30);
    return linear <= 39419 || (linear >= 189000 && linear <= 1237575);
}

constexpr std::string_view kEuroGb = "\xA2\xE3";                // U+20AC

struct ByteCensus {
    size_t controls = 0;  // control bytes that no text holds
    bool high = false;    // a byte of 0x80 or above
};

// 1 for a control byte that no text holds; tab, line ends, form feed, the
// DOS end of file (0x1A) and escape (0x1B) are not counted. Without a
// branch, so that the census runs on whole vectors of bytes.
inline unsigned binaryControlBit(unsigned char b) {
    const auto lineBytes = static_cast<unsigned char>(b - 0x09);  // tab .. carriage return
    const auto dosBytes = static_cast<unsigned char>(b - 0x1A);   // end of file, escape
    return static_cast<unsigned>(b < 0x20) & static_cast<unsigned>(lineBytes > 4) & static_cast<unsigned>(dosBytes > 1);
}

// One pass over a document's bytes, 64 at a time in a loop of fixed length
// the compiler turns into vector instructions.
ByteCensus takeCensus(std::string_view bytes) {
    constexpr size_t kBlock = 64;
    ByteCensus census;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    unsigned char high = 0;
    size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        unsigned char controls = 0;
        for (size_t k = 0; k < kBlock; ++k) {
            high |= p[i + k];
            controls += static_cast<unsigned char>(binaryControlBit(p[i + k]));
        }
        census.controls += controls;
    }
    for (; i < n; ++i) {
        high |= p[i];
        census.controls += binaryControlBit(p[i]);
    }
    census.high = (high & 0x80) != 0;
    return census;
}

struct Utf8Reading {
    size_t sequences = 0;  // valid multi-byte sequences
    size_t wide = 0;       // of them three or four bytes long
    size_t latin = 0;      // of them two bytes for U+0080 .. U+017F
    size_t bad = 0;        // invalid stretches: a byte that starts no valid
                           // sequence with the continuation bytes after it
};

// Length of the well-formed UTF-8 sequence that starts with the byte b0 >=
// 0x80 at s[i], or 0: the same answer as utf8SequenceLength, by the ranges
// of the second byte that keep out overlong forms, surrogates and code
// points above U+10FFFF. Inlined into the scan that reads every document
// once to detect its encoding, where most bytes of a GBK text land here.
[[gnu::always_inline]] inline size_t utf8LengthAfterLead(std::string_view s, size_t i, unsigned b0) {
    const auto at = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[i + k])); };
    const auto cont = [](unsigned b) { return (b & 0xC0) == 0x80; };
    if (b0 < 0xC2 || b0 > 0xF4) return 0;
    if (b0 < 0xE0) return i + 1 < s.size() && cont(at(1)) ? 2 : 0;
    if (b0 < 0xF0) {
        if (i + 2 >= s.size()) return 0;
        const unsigned b1 = at(1);
        const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = b0 == 0xED ? 0x9F : 0xBF;
        return b1 >= low && b1 <= high && cont(at(2)) ? 3 : 0;
    }
    if (i + 3 >= s.size()) return 0;
    const unsigned b1 = at(1);
    const unsigned low = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned high = b0 == 0xF4 ? 0x8F : 0xBF;
    return b1 >= low && b1 <= high && cont(at(2)) && cont(at(3)) ? 4 : 0;
}

Utf8Reading readAsUtf8(std::string_view s) {
    Utf8Reading r;
    for (size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        const size_t len = utf8LengthAfterLead(s, i, b0);
        if (len == 0) {
            ++r.bad;
            for (++i; i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;) ++i;
            continue;
        }
        ++r.sequences;
        if (len >= 3) ++r.wide;
        else if (b0 <= 0xC5) ++r.latin;
        i += len;
    }
    return r;
}

struct GbReading {
    size_t characters = 0;  // valid multi-byte characters
    size_t common = 0;      // of them GB2312 characters (both bytes A1..FE)
    size_t bad = 0;         // bytes that start no valid character
    size_t euro = 0;        // lone 0x80 bytes (the euro sign of code page 936)
};

GbReading readAsGb(std::string_view s) {
    GbReading r;
    for (size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        const size_t len = gb18030CharLength(s, i);
        if (len == 1) {
            if (b0 == 0x80) ++r.euro;
            else ++r.bad;
        } else if (len == 4 && !isAssignedFourByte(s, i)) {
            ++r.bad;
        } else {
            ++r.characters;
            if (len == 2 && b0 >= 0xA1 && static_cast<unsigned char>(s[i + 1]) >= 0xA1) ++r.common;
        }
        i += len;
    }
    return r;
}

// GB18030 text made valid: every character that is not GB18030 becomes
// U+FFFD, the lone byte 0x80 the euro sign.
std::string validGb(std::string_view s, size_t& replaced) {
    std::string out;
    out.reserve(s.size() + 16);
    size_t i = 0;
    while (i < s.size()) {
        size_t run = i;
        while (run < s.size() && static_cast<unsigned char>(s[run]) < 0x80) ++run;
        out.append(s.data() + i, run - i);
        i = run;
        if (i >= s.size()) break;
        const size_t len = gb18030CharLength(s, i);
        if (len == 1) {
            if (static_cast<unsigned char>(s[i]) == 0x80) {
                out.append(kEuroGb);
            } else {
                out.append(kReplacementGb18030);
                ++replaced;
            }
        } else if (len == 4 && !isAssignedFourByte(s, i)) {
            out.append(kReplacementGb18030);
            ++replaced;
        } else {
            out.append(s.data() + i, len);
        }
        i += len;
    }
    return out;
}

// Valid UTF-8 as it is, every other byte (and, when asked, every control
// character) as \xNN.
std::string escapedUtf8(std::string_view s, bool escapeControls) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t len = b < 0x80 ? ((escapeControls && (b < 0x20 || b == 0x7F)) ? 0 : 1) : utf8SequenceLength(s, i);
        if (len == 0) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
            ++i;
            continue;
        }
        out.append(s.data() + i, len);
        i += len;
    }
    return out;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t len = utf8SequenceLength(bytes, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

bool isValidGb18030(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t len = gb18030CharLength(bytes, i);
        if (len == 1) return false;
        i += len;
    }
    return true;
}

namespace {

// The encoding of a document (see detectEncoding). cleanGb tells, for a
// GB18030 reading, that every byte already belongs to a valid character, so
// that decoding can keep the bytes as they are instead of copying them one
// character at a time.
TextEncoding detect(std::string_view bytes, bool* cleanGb) {
    *cleanGb = false;
    if (bytes.starts_with(kUtf8Bom)) return TextEncoding::kUtf8;
    if (bytes.starts_with("\xFF\xFE")) return TextEncoding::kUtf16Le;
    if (bytes.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
    const ByteCensus census = takeCensus(bytes);
    if (census.controls * 20 > bytes.size()) return TextEncoding::kBinary;
    if (!census.high) return TextEncoding::kAscii;
    const Utf8Reading u = readAsUtf8(bytes);
    // Valid UTF-8 with a character of three or four bytes (Chinese text) or
    // only Latin letters needs no second reading.
    if (u.bad == 0 && (u.wide > 0 || u.latin == u.sequences)) return TextEncoding::kUtf8;
    const GbReading g = readAsGb(bytes);
    bool utf8;
    if (u.bad == 0) {
        // Valid UTF-8 of two-byte sequences outside the Latin letters that
        // also reads as GB2312 characters throughout is GBK text ("学习").
        utf8 = g.bad > 0 || g.common < g.characters;
    } else {
        // Invalid stretches are the rule in GBK text read as UTF-8 and the
        // exception in damaged UTF-8; and the UTF-8 reading must find
        // Chinese or Latin text where the GBK reading finds GB2312 characters.
        utf8 = u.sequences >= u.bad && 2 * (u.wide + u.latin) >= g.common;
    }
    if ((utf8 ? u.bad : g.bad) * 4 > bytes.size()) return TextEncoding::kBinary;
    *cleanGb = !utf8 && g.bad == 0 && g.euro == 0;
    return utf8 ? TextEncoding::kUtf8 : TextEncoding::kGb18030;
}

}  // namespace

TextEncoding detectEncoding(std::string_view bytes) {
    bool cleanGb = false;
    return detect(bytes, &cleanGb);
}

bool looksLikeUtf8(std::string_view bytes) { return detectEncoding(bytes) == TextEncoding::kUtf8; }

namespace {

std::string utf8ToGb(std::string_view utf8, size_t& replaced) {
    if (utf8.starts_with(kUtf8Bom)) utf8.remove_prefix(kUtf8Bom.size());
    return convertUtf8ToGb18030(utf8, utf8SkipLength, replaced);
}

std::string utf16ToGb(std::string_view bytes, const char* from, size_t& replaced) {
    bytes.remove_prefix(2);  // the byte-order mark
    IconvConverter conv("GB18030", from);
    return conv.run(bytes, kReplacementGb18030, [&](std::string_view s, size_t i) {
        ++replaced;
        return std::min<size_t>(2, s.size() - i);  // one code unit (or the odd last byte)
    });
}

}  // namespace

std::string decodeText(std::string_view bytes, DecodeReport* report) {
    DecodeReport r;
    bool cleanGb = false;
    r.encoding = detect(bytes, &cleanGb);
    std::string text;
    switch (r.encoding) {
    case TextEncoding::kAscii: text.assign(bytes); break;
    case TextEncoding::kBinary: break;
    case TextEncoding::kUtf8: text = utf8ToGb(bytes, r.replaced); break;
    case TextEncoding::kGb18030:
        if (cleanGb) text.assign(bytes);
        else text = validGb(bytes, r.replaced);
        break;
    case TextEncoding::kUtf16Le: text = utf16ToGb(bytes, "UTF-16LE", r.replaced); break;
    case TextEncoding::kUtf16Be: text = utf16ToGb(bytes, "UTF-16BE", r.replaced); break;
    }
    if (report) *report = r;
    return text;
}

std::string decodeWarning(const std::string& path, const DecodeReport& report) {
    if (report.encoding == TextEncoding::kBinary) return displayPath(path) + " is not a text file (binary); skipped";
    if (report.replaced == 0) return {};
    const char* name = report.encoding == TextEncoding::kUtf8 ? "UTF-8" : report.encoding == TextEncoding::kGb18030 ? "GBK/GB18030" : "UTF-16";
    return displayPath(path) + ": " + std::to_string(report.replaced) +
           (report.replaced == 1 ? " byte that is" : " bytes that are") + " not valid " + name +
           " replaced by U+FFFD";
}

std::string utf8ToGbk(std::string_view utf8) {
    size_t replaced = 0;
    return utf8ToGb(utf8, replaced);
}

std::string gbkToUtf8(std::string_view gbk) {
    size_t replaced = 0;
    return convertGb18030ToUtf8(gbk, gbSkipLength, replaced);
}

std::string toGbk(std::string_view bytes) { return decodeText(bytes); }

std::string toUtf8(std::string_view bytes) {
    switch (detectEncoding(bytes)) {
    case TextEncoding::kAscii: return std::string(bytes);
    case TextEncoding::kUtf8:
        return escapedUtf8(bytes.starts_with(kUtf8Bom) ? bytes.substr(kUtf8Bom.size()) : bytes, false);
    case TextEncoding::kGb18030: return gbkToUtf8(bytes);
    case TextEncoding::kBinary: return escapedUtf8(bytes, false);
    default: return gbkToUtf8(decodeText(bytes));
    }
}

std::string displayPath(std::string_view bytes) { return escapedUtf8(bytes, true); }

}  // namespace kestrel
