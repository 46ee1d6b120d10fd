#include "segment/CharClass.h"

#include <cstring>

namespace kestrel {

int charClass(std::string_view s) {
    if (s.empty()) return CT_DELIMITER;
    const unsigned char lead = byteAt(s, 0);
    if (lead < 0x80) {
        // The delimiters "!,.?()[]{}+= and the double quote, as bits by byte.
        static constexpr uint64_t kLow = (uint64_t{1} << '"') | (uint64_t{1} << '!') | (uint64_t{1} << ',') |
                                         (uint64_t{1} << '.') | (uint64_t{1} << '?') | (uint64_t{1} << '(') |
                                         (uint64_t{1} << ')') | (uint64_t{1} << '+') | (uint64_t{1} << '=');
        static constexpr uint64_t kHigh =
            (uint64_t{1} << ('[' - 64)) | (uint64_t{1} << (']' - 64)) | (uint64_t{1} << ('{' - 64)) |
            (uint64_t{1} << ('}' - 64));
        const uint64_t bits = lead < 64 ? kLow : kHigh;
        return (bits >> (lead & 63)) & 1 ? CT_DELIMITER : CT_SINGLE;
    }
    const size_t length = charLength(s, 0);
    if (length == 4) return CT_FOUR_BYTE;
    if (length == 1) return CT_OTHER;
    const unsigned char trail = byteAt(s, 1);
    if (lead == 0xA1) return CT_DELIMITER;
    if (lead == 0xA3) {
        if (trail >= 0xB0 && trail <= 0xB9) return CT_NUM;
        if ((trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA)) return CT_LETTER;
        return CT_DELIMITER;
    }
    if (lead == 0xA2) return CT_INDEX;
    if (lead >= 0xB0 && lead <= 0xF7) return CT_CHINESE;
    return CT_OTHER;
}

bool inCharSet(std::string_view ch, std::string_view set) {
    if (ch.size() < 2) return false;
    for (size_t i = 0; i + 1 < set.size(); i += 2) {
        if (set[i] == ch[0] && set[i + 1] == ch[1]) return true;
    }
    return false;
}

CharSet::CharSet(std::string_view set) : m_pairs(1024, 0) {
    for (size_t i = 0; i + 1 < set.size(); i += 2) {
        const unsigned code = (static_cast<unsigned>(static_cast<unsigned char>(set[i])) << 8) |
                              static_cast<unsigned char>(set[i + 1]);
        m_pairs[code >> 6] |= uint64_t{1} << (code & 63);
    }
    for (char c : set) {
        const auto b = static_cast<unsigned char>(c);
        m_bytes[b >> 6] |= uint64_t{1} << (b & 63);
    }
}

int CharSet::count(std::string_view s) const {
    int n = 0;
    size_t i = 0;
    while (i < s.size()) {
        const size_t len = charLength(s, i);
        const auto lead = static_cast<unsigned char>(s[i]);
        if (len == 1 ? hasByte(lead) : len == 2 && (contains(s.substr(i, 2)) || hasByte(lead))) ++n;
        i += len;
    }
    return n;
}

int countInSet(std::string_view s, std::string_view set) {
    int count = 0;
    size_t i = 0;
    while (i < s.size()) {
        const size_t len = charLength(s, i);
        if (len == 1) {
            if (set.find(s[i]) != std::string_view::npos) ++count;
        } else if (len == 2 && (inCharSet(s.substr(i, 2), set) || set.find(s[i]) != std::string_view::npos)) {
            ++count;
        }
        i += len;
    }
    return count;
}

}  // namespace kestrel
