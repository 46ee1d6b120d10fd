// No character lost or misread between a document's bytes and its words:
// any Unicode text, in UTF-8 or GB18030, comes out of plain segmentation
// with exactly its characters.
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CSegGraph.h"
#include "segment/CWordSegment.h"
#include "segment/CharClass.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

using kestrel::testing::utf8Of;

// Random text from the ranges that go wrong most easily: common and rare
// ideographs (also astral), private use (also astral), combining marks,
// emoji with zero-width joiners, Hangul, symbols outside GBK, the euro sign,
// ASCII, full-width forms, and line breaks of every kind. The C library's
// GB18030 has no form for a few dozen private-use points of the BMP (their
// codes went to standard characters); those are left out.
std::string randomText(std::mt19937& rng, size_t characters) {
    static const std::vector<std::pair<char32_t, char32_t>> ranges = {
        {0x4E00, 0x9FA5},   {0x3400, 0x4DB5},   {0x20000, 0x2A6D6}, {0xE000, 0xF8FF}, {0xF0000, 0xFFFFD},
        {0x0300, 0x036F},   {0x1F600, 0x1F64F}, {0xAC00, 0xD7A3},   {0x2022, 0x2022}, {0x20AC, 0x20AC},
        {0x21, 0x7E},       {0xFF01, 0xFF5E},   {0x00C0, 0x00FF},   {0x0400, 0x04FF}, {0x1F900, 0x1F9FF}};
    std::string out;
    for (size_t i = 0; i < characters; ++i) {
        const auto& [low, high] = ranges[rng() % ranges.size()];
        const std::string c = utf8Of(low + static_cast<char32_t>(rng() % (high - low + 1)));
        if (low == 0xE000 && gbkToUtf8(utf8ToGbk(c)) != c) continue;
        out += c;
        switch (rng() % 16) {
        case 0: out += "\xE2\x80\x8D"; break;  // zero-width joiner
        case 1: out += rng() % 2 ? "\n" : (rng() % 2 ? "\r\n" : "\r"); break;
        case 2: out += " "; break;
        default: break;
        }
    }
    return out;
}

// The text without the characters that only separate words in plain
// segmentation (blanks, control characters, the ideographic space).
std::string withoutSeparators(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b <= 0x20 || b == 0x7F) continue;
        if (utf8.substr(i, 3) == "\xE3\x80\x80") {
            i += 2;
            continue;
        }
        out += utf8[i];
    }
    return out;
}

// Every word of every line, concatenated, in UTF-8.
std::string segmentedCharacters(CWordSegment& s, std::string_view bytes, DecodeReport& report) {
    const std::string text = decodeText(bytes, &report);
    std::string out;
    forEachLine(text, [&](std::string_view line) {
        std::vector<std::string> words;
        s.segmentPlain(line, words);
        for (const auto& w : words) out += w;
    });
    return gbkToUtf8(out);
}

class TextFidelity : public ::testing::Test {
protected:
    void SetUp() override {
        const CDictionary core = makeCore({{"今天", 300, kNoun}, {"天气", 300, kNoun}, {"我们", 400, 'r' * 256}});
        writeDataDirectory(dir.path(), core, {"的"});
        ASSERT_TRUE(succeeded(s.loadDataDirectory(dir.path())));
        s.recognitionSwitch = 2;
    }
    std::vector<std::string> plain(const std::string& gbk) {
        std::vector<std::string> words;
        s.segmentPlain(gbk, words);
        return words;
    }
    TempDir dir;
    CWordSegment s;
};

}  // namespace

TEST_F(TextFidelity, EveryCharacterInIsACharacterOutInUtf8AndGb18030) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 300; ++round) {
        const std::string utf8 = randomText(rng, 8 + rng() % 120);
        const std::string expected = withoutSeparators(utf8);
        DecodeReport report;
        ASSERT_EQ(segmentedCharacters(s, utf8, report), expected) << "UTF-8 input " << utf8;
        EXPECT_EQ(report.replaced, 0u);
        const std::string gb = utf8ToGbk(utf8);
        ASSERT_EQ(gbkToUtf8(gb), utf8);
        ASSERT_EQ(segmentedCharacters(s, gb, report), expected) << "GB18030 input " << utf8;
        EXPECT_EQ(report.replaced, 0u);
    }
}

TEST_F(TextFidelity, ReportedLossesAndMisreadingsStayFixed) {
    // A character without a GBK form is kept (and is a word of its own).
    auto words = plain(G("今天天气很好😀我们去公园吧"));
    EXPECT_EQ(joinUtf8(words, ""), "今天天气很好😀我们去公园吧");
    EXPECT_NE(std::find(words.begin(), words.end(), G("😀")), words.end());
    for (const char* text : {"䶮", "𠀀", "한국어", "•"}) EXPECT_EQ(joinUtf8(plain(G(text)), ""), text);

    // The euro sign is one character, not the lead byte of the next one.
    words = plain(G("价格100€与200€。欧元区"));
    EXPECT_EQ(joinUtf8(words, ""), "价格100€与200€。欧元区");
    EXPECT_EQ(std::count(words.begin(), words.end(), G("€")), 2);
    // So is a lone 0x80 byte met in the segmenter's own text.
    words = plain("\x80" + G("中文"));
    EXPECT_EQ(words.front(), "\x80");

    // A cut-off lead byte at the end never pairs with the end marker.
    words = plain("\xD6\xD0\xCE\xC4\xB0");
    std::string joined;
    for (const auto& w : words) joined += w;
    EXPECT_EQ(joined, "\xD6\xD0\xCE\xC4\xB0");
    EXPECT_EQ(joined.find('#'), std::string::npos);
    // Decoded, the byte is one replacement character and a warning.
    DecodeReport report;
    EXPECT_EQ(segmentedCharacters(s, "\xD6\xD0\xCE\xC4\xB0\n", report), "中文\xEF\xBF\xBD");
    EXPECT_EQ(report.replaced, 1u);
}

TEST(TextFidelityAtoms, FourByteCharactersAndLoneBytesAreAtomsOfTheirOwn) {
    CSegGraph graph;
    const std::string astral = G("😀");
    ASSERT_EQ(astral.size(), 4u);
    graph.atomSegment(std::string(kSentenceBegin) + "ab" + astral + astral + "\x80" + G("中") + "\xB0" +
                      std::string(kSentenceEnd));
    ASSERT_EQ(graph.atomCount(), 8);
    EXPECT_EQ(graph.atomText(1), "ab");
    EXPECT_EQ(graph.atomText(2), astral);
    EXPECT_EQ(graph.atomClass(2), CT_FOUR_BYTE);
    EXPECT_EQ(graph.atomText(3), astral);
    EXPECT_EQ(graph.atomText(4), "\x80");
    EXPECT_EQ(graph.atomClass(4), CT_OTHER);
    EXPECT_EQ(graph.atomText(5), G("中"));
    EXPECT_EQ(graph.atomText(6), "\xB0");
    EXPECT_EQ(graph.atomClass(7), CT_SENTENCE_END);
    EXPECT_EQ(charLength("\x81\x30", 0), 1u);  // a cut-off four-byte sequence
}

TEST(TextFidelityPieces, RunsKeepFourByteCharactersAndDropLoneBytes) {
    std::string piece;
    size_t offset = 0;
    const std::string text = G("中😀文") + "\x80" + G("字\xEF\xBF\xBD中");
    EXPECT_EQ(CWordSegment::nextPiece(offset, text, piece), 10u);
    EXPECT_EQ(piece, G("中😀文字"));
    // A replacement character ends the run and is no word.
    EXPECT_EQ(CWordSegment::nextPiece(offset, text, piece), 2u);
    EXPECT_EQ(piece, G("中"));
}
