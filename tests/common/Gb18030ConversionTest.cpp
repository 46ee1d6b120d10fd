#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <string>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/Gb18030Conversion.h"

using namespace kestrel;

namespace {

// One iconv conversion of the whole input, replacing and skipping what it
// refuses: what the table-driven conversion must give.
std::string iconvWhole(const char* to, const char* from, std::string_view in, std::string_view replacement,
                       SkipLengthFn skip, size_t& replaced) {
    iconv_t cd = iconv_open(to, from);
    std::string out;
    size_t pos = 0;
    while (pos < in.size()) {
        char buffer[256];
        char* inPtr = const_cast<char*>(in.data() + pos);
        size_t inLeft = in.size() - pos;
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        pos = in.size() - inLeft;
        if (rc != static_cast<size_t>(-1)) break;
        if (err == E2BIG) continue;
        out.append(replacement);
        ++replaced;
        pos += std::max<size_t>(1, skip(in, pos));
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

size_t skipOne(std::string_view, size_t) { return 1; }
size_t skipPair(std::string_view s, size_t i) { return std::min<size_t>(2, s.size() - i); }

using kestrel::testing::utf8Of;

void expectSameAsIconv(std::string_view utf8, std::string_view gb, SkipLengthFn skip) {
    size_t expectedReplaced = 0, replaced = 0;
    const std::string expectedGb = iconvWhole("GB18030", "UTF-8", utf8, kReplacementGb18030, skip, expectedReplaced);
    ASSERT_EQ(convertUtf8ToGb18030(utf8, skip, replaced), expectedGb);
    ASSERT_EQ(replaced, expectedReplaced);
    expectedReplaced = replaced = 0;
    const std::string expectedUtf8 = iconvWhole("UTF-8", "GB18030", gb, "\xEF\xBF\xBD", skip, expectedReplaced);
    ASSERT_EQ(convertGb18030ToUtf8(gb, skip, replaced), expectedUtf8);
    ASSERT_EQ(replaced, expectedReplaced);
}

}  // namespace

TEST(Gb18030Conversion, EveryCharacterAsIconvConvertsIt) {
    // Each code point alone, between ASCII letters, and all of them in one
    // text (surrogates, which are no characters, among them).
    std::string allUtf8;
    for (uint32_t cp = 0; cp < 0x110000; cp += cp < 0x10000 ? 1 : 997) {
        const std::string one = utf8Of(cp);
        allUtf8 += one;
        size_t r1 = 0, r2 = 0;
        const std::string viaTable = convertUtf8ToGb18030("a" + one + "b", skipOne, r1);
        ASSERT_EQ(viaTable, iconvWhole("GB18030", "UTF-8", "a" + one + "b", kReplacementGb18030, skipOne, r2)) << cp;
    }
    // Every two-byte code, every trail byte 0x30 .. 0xFF after every lead
    // byte, and four-byte codes across their range.
    std::string allGb;
    for (unsigned b0 = 0x80; b0 <= 0xFF; ++b0) {
        for (unsigned b1 = 0x00; b1 <= 0xFF; ++b1) {
            const std::string pair{static_cast<char>(b0), static_cast<char>(b1)};
            if (b1 >= 0x40) allGb += pair;
            size_t r1 = 0, r2 = 0;
            ASSERT_EQ(convertGb18030ToUtf8(pair, skipPair, r1),
                      iconvWhole("UTF-8", "GB18030", pair, "\xEF\xBF\xBD", skipPair, r2))
                << b0 << ' ' << b1;
            ASSERT_EQ(r1, r2);
        }
    }
    for (unsigned b0 = 0x81; b0 <= 0xFE; b0 += 3) {
        for (unsigned b2 = 0x81; b2 <= 0xFE; b2 += 11)
            allGb += std::string{static_cast<char>(b0), '\x35', static_cast<char>(b2), '\x37'};
    }
    expectSameAsIconv(allUtf8, allGb, skipOne);
    expectSameAsIconv(allUtf8, allGb, skipPair);
}

TEST(Gb18030Conversion, RandomAndDamagedTextAsIconvConvertsIt) {
    // Mixtures of ASCII, valid characters of every length and stray bytes,
    // cut anywhere: invalid input must give what iconv gives, with the same
    // count of replacements.
    std::mt19937 random(11);
    const uint32_t ranges[][2] = {{0x80, 0x7FF}, {0x4E00, 0x9FA5}, {0x3000, 0x30FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
    for (int round = 0; round < 3000; ++round) {
        std::string utf8, gb;
        const int pieces = 1 + static_cast<int>(random() % 40);
        for (int p = 0; p < pieces; ++p) {
            const unsigned kind = random() % 6;
            if (kind == 0) {
                utf8 += static_cast<char>('a' + random() % 26);
                gb += static_cast<char>('a' + random() % 26);
            } else if (kind == 1) {
                utf8 += static_cast<char>(random() % 256);
                gb += static_cast<char>(random() % 256);
            } else {
                const auto& range = ranges[random() % std::size(ranges)];
                const std::string c = utf8Of(range[0] + random() % (range[1] - range[0] + 1));
                utf8 += random() % 8 == 0 ? c.substr(0, c.size() - 1) : c;
                gb += static_cast<char>(0x81 + random() % 126);
                if (random() % 4 != 0) {
                    gb += static_cast<char>(0x40 + random() % 191);
                } else {
                    gb += static_cast<char>(0x30 + random() % 10);
                    gb += static_cast<char>(0x81 + random() % 126);
                    gb += static_cast<char>(0x30 + random() % 10);
                }
            }
        }
        expectSameAsIconv(utf8, gb, round % 2 == 0 ? skipOne : skipPair);
    }
}
