#include "segment/NumberTests.h"

#include <cstdint>
#include <string>

#include "segment/CharClass.h"
#include "segment/GbkText.h"

namespace kestrel {

namespace {

struct NumberTexts {
    CharSet signs{gbkText("±—＋－")};  // double-byte signs; '+' and '-' are ASCII
    CharSet separators{gbkText("∶·．／")};
    CharSet multipliers{gbkText("百千万亿佰仟")};
    CharSet percents{gbkText("％‰")};
    CharSet chineseDigits{gbkText("零○〇一二两三四五六七八九十廿百千万亿壹贰叁肆伍陆柒捌玖拾佰仟∶·．／点")};
    // Chinese numerals that mix with digits in one number (二００一, ３万二千).
    CharSet mixingNumerals{gbkText("零○〇一二三四五六七八九十百千万亿")};
    std::string slash = gbkText("／");
    std::string fraction = gbkText("分之");
    CharSet ordinalHeads{gbkText("几数第上成")};
    CharSet yearDigits{gbkText("零○〇一二三四五六七八九壹贰叁肆伍陆柒捌玖")};
    CharSet thousands{gbkText("千仟")};
    CharSet thousandsAndZeros{gbkText("千仟零○〇")};
    CharSet fullWidthHighDigits{gbkText("５６７８９")};
    CharSet fullWidthDigits{gbkText("０１２３４５６７８９")};
    CharSet stems{gbkText("甲乙丙丁戊己庚辛壬癸")};
    CharSet branches{gbkText("子丑寅卯辰巳午未申酉戌亥")};
    // Every double-byte character that one of the number tests accepts
    // anywhere in a number.
    CharSet members{gbkText("±—＋－∶·．／０１２３４５６７８９％‰百千万亿佰仟分之几数第上成"
                            "零○〇一二两三四五六七八九十廿壹贰叁肆伍陆柒捌玖拾点")};
    // Every double-byte character that one of the number tests accepts
    // first: signs, full-width digits, leading separators, units, Chinese
    // numerals, ordinal heads and the 分 of 分之.
    CharSet firsts{gbkText("±—＋－０１２３４５６７８９∶·．％‰百千万亿佰仟分几数第上成"
                           "零○〇一二两三四五六七八九十廿百千万亿壹贰叁肆伍陆柒捌玖拾佰仟∶·．／点")};
};

const NumberTexts& texts() {
    static const NumberTexts t;
    return t;
}

bool isFullWidthDigit(std::string_view s, size_t i) {
    return byteAt(s, i) == 0xA3 && byteAt(s, i + 1) >= 0xB0 && byteAt(s, i + 1) <= 0xB9;
}

bool isAsciiDigit(std::string_view s, size_t i) { return byteAt(s, i) >= '0' && byteAt(s, i) <= '9'; }

// Length of a separator at i (a double-byte one of ∶·．／ or '.' / '/'), or 0.
// A slash only separates digits: it never leads a number (／6 is a slash
// and a number).
size_t separatorAt(std::string_view s, size_t i, bool afterDigit) {
    const unsigned char b = byteAt(s, i);
    if (b == '.' || (b == '/' && afterDigit)) return 1;
    if (b >= 0x80 && i + 1 < s.size() && texts().separators.contains(s.substr(i, 2)) &&
        (afterDigit || s.substr(i, 2) != texts().slash))
        return 2;
    return 0;
}

}  // namespace

// The ASCII characters a number may hold: + - . / % and the digits (the
// slash never first), as bits by byte.
constexpr uint64_t kAsciiMembers = (uint64_t{1} << '+') | (uint64_t{1} << '-') | (uint64_t{1} << '.') |
                                   (uint64_t{1} << '/') | (uint64_t{1} << '%') | (uint64_t{0x3FF} << '0');
constexpr uint64_t kAsciiFirsts = kAsciiMembers & ~(uint64_t{1} << '/');

bool mayBeNumber(std::string_view s) {
    if (s.empty()) return true;
    const unsigned char b = byteAt(s, 0);
    if (b < 0x80) return b < 64 && (kAsciiFirsts >> b) & 1;
    // A lone lead byte is left to the full tests.
    return s.size() < 2 || texts().firsts.contains(s.substr(0, 2));
}

bool mayBeginNumber(std::string_view s) {
    // The tests read a byte below 0x80 as a character and any other byte
    // with the one after it: so does this, and a longer string is read
    // alike up to the end of `s`.
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = byteAt(s, i);
        if (b < 0x80) {
            if (b >= 64 || ((kAsciiMembers >> b) & 1) == 0) return false;
            ++i;
            continue;
        }
        // A lead byte at the end may pair with what follows.
        if (i + 1 >= s.size()) return true;
        if (!texts().members.contains(s.substr(i, 2))) return false;
        i += 2;
    }
    return true;
}

bool isAllNum(std::string_view s) {
    const NumberTexts& t = texts();
    size_t i = 0;
    // Optional sign.
    if (byteAt(s, i) == '+' || byteAt(s, i) == '-')
        i += 1;
    else if (byteAt(s, i) >= 0x80 && i + 1 < s.size() && t.signs.contains(s.substr(i, 2)))
        i += 2;
    const size_t digitsFrom = i;
    // Full-width digits, optionally a separator and more full-width digits.
    while (isFullWidthDigit(s, i)) i += 2;
    if (const size_t sep = separatorAt(s, i, i > digitsFrom); sep > 0) {
        i += sep;
        while (isFullWidthDigit(s, i)) i += 2;
    }
    // ASCII digits, optionally a separator and more ASCII digits.
    while (isAsciiDigit(s, i)) ++i;
    if (const size_t sep = separatorAt(s, i, i > digitsFrom); sep > 0) {
        i += sep;
        while (isAsciiDigit(s, i)) ++i;
    }
    // Units: a percent sign, or any run of multipliers (1万亿, 3千万).
    if (byteAt(s, i) == '%') {
        i += 1;
    } else if (byteAt(s, i) >= 0x80 && i + 1 < s.size() && t.percents.contains(s.substr(i, 2))) {
        i += 2;
    } else {
        while (byteAt(s, i) >= 0x80 && i + 1 < s.size() && t.multipliers.contains(s.substr(i, 2))) i += 2;
    }
    return i == s.size();
}

bool isAllChineseNum(std::string_view s) {
    const NumberTexts& t = texts();
    size_t i = 0;
    while (i < s.size()) {
        if (byteAt(s, i) < 0x80 || i + 1 >= s.size()) return false;
        const std::string_view ch = s.substr(i, 2);
        if (s.substr(i, 4) == t.fraction) {
            i += 4;
            continue;
        }
        if (!t.chineseDigits.contains(ch) && !(i == 0 && t.ordinalHeads.contains(ch))) return false;
        i += 2;
    }
    return true;
}

bool isMixedNum(std::string_view s) {
    const NumberTexts& t = texts();
    bool numeral = false, digit = false;
    for (size_t i = 0; i < s.size();) {
        if (isAsciiDigit(s, i)) {
            digit = true;
            ++i;
        } else if (isFullWidthDigit(s, i)) {
            digit = true;
            i += 2;
        } else if (byteAt(s, i) >= 0x80 && i + 1 < s.size() && t.mixingNumerals.contains(s.substr(i, 2))) {
            numeral = true;
            i += 2;
        } else {
            return false;
        }
    }
    return numeral && digit;
}

bool isYearTime(std::string_view s) {
    const NumberTexts& t = texts();
    bool ascii = true;
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    }
    if (ascii && (s.size() == 4 || (s.size() == 2 && byteAt(s, 0) >= '5'))) return true;
    if (isAllNum(s)) {
        if (s.size() >= 6) return true;
        if (s.size() == 4 && byteAt(s, 0) >= 0x80 && t.fullWidthHighDigits.contains(s.substr(0, 2)))
            return true;
    }
    // Characters count as members of a set when they occur in it as whole
    // characters (so that 子 is not taken for a stem because its lead byte
    // appears inside 甲).
    auto members = [&](const CharSet& set) {
        int n = 0;
        for (size_t i = 0; i + 1 < s.size(); i += 2) {
            if (set.contains(s.substr(i, 2))) ++n;
        }
        return n;
    };
    const bool doubleByte = s.size() % 2 == 0 && byteAt(s, 0) >= 0x80;
    if (!doubleByte) return false;
    const int chars = static_cast<int>(s.size() / 2);
    if (s.size() >= 3 && members(t.yearDigits) == chars) return true;
    // Numerals mixed with digits (二００一): three or more characters, each a
    // numeral of a year or a full-width digit.
    if (chars >= 3 && isMixedNum(s) && members(t.yearDigits) + members(t.fullWidthDigits) == chars) return true;
    if (s.size() == 8 && members(t.thousandsAndZeros) == 2) return true;
    if (s.size() == 2 && t.thousands.contains(s)) return true;
    if (s.size() == 4 && members(t.stems) == 1 && t.branches.contains(s.substr(2))) return true;
    return false;
}

}  // namespace kestrel
