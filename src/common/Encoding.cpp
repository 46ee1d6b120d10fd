#include "common/Encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
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

// One iconv conversion over the whole input. `onBadInput` is called for the
// input position that cannot be converted and returns how many input bytes
// to skip; `replacement` is written in their place.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename SkipFn>
    std::string run(std::string_view in, std::string_view replacement, SkipFn skipLength) {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        out.reserve(in.size() + in.size() / 2 + 16);
        size_t pos = 0;
        char buffer[4096];
        while (pos < in.size()) {
            char* inPtr = const_cast<char*>(in.data() + pos);
            size_t inLeft = in.size() - pos;
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int err = errno;
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            pos = in.size() - inLeft;
            if (rc != static_cast<size_t>(-1)) break;
            if (err == E2BIG) continue;
            // EILSEQ or EINVAL: an unconvertible or truncated sequence.
            out.append(replacement);
            pos += std::max<size_t>(1, skipLength(in, pos));
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

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

}  // namespace

bool isValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t len = utf8SequenceLength(bytes, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

bool looksLikeUtf8(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) return true;
    bool nonAscii = false;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) { nonAscii = true; break; }
    }
    return nonAscii && isValidUtf8(bytes);
}

std::string utf8ToGbk(std::string_view utf8) {
    if (utf8.starts_with(kUtf8Bom)) utf8.remove_prefix(kUtf8Bom.size());
    // GBK (CP936) is what every file of the workbench holds; characters
    // outside it become a blank.
    Converter conv("GBK", "UTF-8");
    return conv.run(utf8, " ", utf8SkipLength);
}

std::string gbkToUtf8(std::string_view gbk) {
    Converter conv("UTF-8", "GB18030");
    return conv.run(gbk, "\xEF\xBF\xBD", gbSkipLength);
}

std::string toGbk(std::string_view bytes) {
    if (looksLikeUtf8(bytes)) return utf8ToGbk(bytes);
    return std::string(bytes);
}

std::string toUtf8(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) return std::string(bytes.substr(kUtf8Bom.size()));
    if (looksLikeUtf8(bytes)) return std::string(bytes);
    bool ascii = true;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) { ascii = false; break; }
    }
    if (ascii) return std::string(bytes);
    return gbkToUtf8(bytes);
}

}  // namespace kestrel
