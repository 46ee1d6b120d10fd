#include <random>

#include "SegmentTestSupport.h"
#include "segment/CNShortPath.h"
#include "segment/CSegGraph.h"
#include "segment/CSegment.h"
#include "segment/CharClass.h"
#include "segment/NumberTests.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::vector<std::string> atomsOf(const CSegGraph& g) {
    std::vector<std::string> atoms;
    for (int i = 0; i < g.atomCount(); ++i) atoms.push_back(U(g.atomText(i)));
    return atoms;
}

std::string wrap(std::string_view utf8) { return std::string(kSentenceBegin) + G(utf8) + std::string(kSentenceEnd); }

// Words of a path without the markers, as UTF-8.
std::vector<std::string> wordsOf(const WordPath& path) {
    std::vector<std::string> words;
    for (size_t i = 1; i + 2 < path.size() && !path[i + 1].word.empty(); ++i) words.push_back(U(path[i].word));
    return words;
}

// Both segmentation stages over `core` and no bigrams: the words of the
// first path (the path stays in `seg`).
std::vector<std::string> segmentTwice(CSegment& seg, const CDictionary& core, std::string_view text) {
    static const CDictionary bigram;
    seg.biSegment(wrap(text), core, bigram, 0.1);
    seg.biOptimumSegment(bigram, core, 0.1);
    EXPECT_GE(seg.segmentCount(), 1);
    return wordsOf(seg.path(0));
}

}  // namespace

TEST(SegGraphTest, AtomsOfMixedText) {
    CSegGraph g;
    g.atomSegment(wrap("ab12中3.14，Ｘ１２"));
    EXPECT_EQ(atomsOf(g), (std::vector<std::string>{"始##始", "ab12", "中", "3", ".", "14", "，", "Ｘ", "１２", "末##末"}));
    EXPECT_EQ(g.atomClass(0), CT_SENTENCE_BEGIN);
    EXPECT_EQ(g.atomClass(4), CT_NUM);  // the point before a digit
    EXPECT_EQ(g.atomClass(9), CT_SENTENCE_END);
    // Without a start marker the first atom is an ordinary character; a lone
    // trailing lead byte is an atom of its own instead of a read past the end.
    g.atomSegment(G("中a") + "\xD6");
    EXPECT_EQ(g.atomCount(), 3);
    EXPECT_EQ(g.atomClass(0), CT_CHINESE);
    EXPECT_EQ(g.atomLength(2), 1);
}

TEST(SegGraphTest, IdeographAtomsBesideOtherCharactersAndTheEndMarker) {
    // 末 begins the end marker, but alone it is an ideograph like any other.
    CSegGraph g;
    g.atomSegment(wrap("末中末"));
    EXPECT_EQ(atomsOf(g), (std::vector<std::string>{"始##始", "末", "中", "末", "末##末"}));
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(g.atomClass(i), CT_CHINESE) << i;
    // A lead byte cut off by the end marker, a GBK extension character (its
    // trail byte below A1) and a four-byte character whose first byte is
    // that of an ideograph are atoms of their own lengths, not ideographs.
    g.atomSegment(std::string(kSentenceBegin) + G("中") + "\xB0" + std::string(kSentenceEnd));
    ASSERT_EQ(g.atomCount(), 4);
    EXPECT_EQ(g.atomLength(2), 1);
    EXPECT_EQ(g.atomClass(3), CT_SENTENCE_END);
    g.atomSegment(G("中") + "\x81\x40" + G("国") + "\xB0\x30\x81\x30" + G("人"));
    ASSERT_EQ(g.atomCount(), 5);
    EXPECT_EQ(g.atomLength(1), 2);
    EXPECT_NE(g.atomClass(1), CT_CHINESE);
    EXPECT_EQ(g.atomClass(2), CT_CHINESE);
    EXPECT_EQ(g.atomLength(3), 4);
    EXPECT_EQ(g.atomClass(3), CT_FOUR_BYTE);
    EXPECT_EQ(g.atomClass(4), CT_CHINESE);
}

TEST(SegGraphTest, WordGraphEdges) {
    const CDictionary core = makeCore({{"中国", 100, kNoun}, {"中国人", 20, kNoun}, {"中", 7, kNoun}, {"中", 3, kVerb}});
    CSegGraph g;
    g.generateWordGraph(wrap("中国人x，龘"), core);
    double value = 0;
    int handle = 0;
    // 中: two entries, so the handle is 0 and the value their sum.
    ASSERT_NE(g.graph().getElement(1, 2, &value, &handle), nullptr);
    EXPECT_EQ(value, 10);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(g.graph().getElement(1, 3, &value, &handle)->handle, kNoun);
    EXPECT_EQ(value, 100);
    EXPECT_NE(g.graph().getElement(1, 4), nullptr);  // 中国人
    // Not in the dictionary: Chinese keeps value 0, others get 2079997.
    g.graph().getElement(2, 3, &value, &handle);
    EXPECT_EQ(value, 0);
    g.graph().getElement(4, 5, &value, &handle);  // x
    EXPECT_EQ(handle, -28280);
    EXPECT_EQ(U(g.graph().word(*g.graph().getElement(4, 5))), "未##串");
    g.graph().getElement(5, 6, &value, &handle);  // ，
    EXPECT_EQ(value, 2079997);
    EXPECT_EQ(handle, 30464);
    EXPECT_EQ(g.graph().getElement(9, 9, &value, &handle), nullptr);
    EXPECT_EQ(value, CDynamicArray::kInfinite);
}

TEST(SegGraphTest, MonthAndYearRules) {
    const CDictionary core = makeCore({{"月", 50, kNoun}, {"年", 50, kNoun}, {"年底", 30, kTime}, {"八", 5, 'm' * 256}});
    CSegGraph g;
    // 月 followed by 份: one edge over both atoms with the data of 月.
    g.generateWordGraph(wrap("月份"), core);
    const CDynamicArray::Element* e = g.graph().getElement(1, 3);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->value, 50);
    EXPECT_EQ(U(g.graph().word(*e)), "月");
    // After a numeral 年底 is not a word, so 年 can join the number.
    g.generateWordGraph(wrap("八年底"), core);
    EXPECT_EQ(g.graph().getElement(2, 4), nullptr);
    g.generateWordGraph(wrap("这年底"), core);
    EXPECT_NE(g.graph().getElement(2, 4), nullptr);
}

TEST(DynamicArrayTest, SetTwiceKeepsOneElementAndItsWord) {
    CDynamicArray a(true);
    a.setElement(2, 3, 1.5, 7, std::string_view("first")).coreEntries = 2;
    a.setElement(0, 1, 0, 0, std::string_view("zero"));
    // A new value is no longer the sum of the entries' frequencies.
    EXPECT_EQ(a.setElement(2, 3, 2.5, 9, std::string_view("second")).coreEntries, -1);
    ASSERT_EQ(a.size(), 2u);
    double value = 0;
    int handle = 0;
    const auto* e = a.getElement(2, 3, &value, &handle);
    EXPECT_EQ(value, 2.5);
    EXPECT_EQ(handle, 9);
    EXPECT_EQ(a.word(*e), "first");
    EXPECT_EQ(a.getElement(2, -1)->col, 3);
    EXPECT_EQ(a.getElement(-1, 1)->row, 0);
    // Column-first order, built in bulk.
    CDynamicArray c(false);
    c.appendUnordered(1, 3, 0, 0);
    c.appendUnordered(0, 3, 0, 0);
    c.appendUnordered(2, 2, 0, 0);
    c.finishAppending();
    EXPECT_EQ(c[0].col, 2);
    EXPECT_EQ(c[1].row, 0);
    EXPECT_EQ(c[2].row, 1);
}

TEST(ShortPathTest, TiesGiveSeveralPathsCappedAtTen) {
    // A chain of diamonds of equal (integer) costs: 2^k tied paths.
    auto diamonds = [](int k) {
        CDynamicArray g(false);
        int v = 0;
        for (int i = 0; i < k; ++i) {
            g.appendUnordered(v, v + 1, 1, 0);
            g.appendUnordered(v, v + 2, 1, 0);
            g.appendUnordered(v + 1, v + 3, 1, 0);
            g.appendUnordered(v + 2, v + 3, 1, 0);
            v += 3;
        }
        g.finishAppending();
        return g;
    };
    CNShortPath sp;
    std::vector<std::vector<int>> paths;
    CDynamicArray one = diamonds(1);
    sp.init(one);
    sp.shortPath();
    ASSERT_EQ(sp.output(paths), 2);
    EXPECT_EQ(paths[0], (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(paths[1], (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(sp.cost(3), 2);
    CDynamicArray four = diamonds(4);
    sp.init(four);
    sp.shortPath();
    EXPECT_EQ(sp.output(paths), 10);
    // A cheaper branch wins alone; the general queue (N = 2) agrees on it.
    CDynamicArray g(false);
    g.appendUnordered(0, 1, 1, 0);
    g.appendUnordered(0, 2, 0.5, 0);
    g.appendUnordered(1, 3, 1, 0);
    g.appendUnordered(2, 3, 1, 0);
    g.finishAppending();
    sp.init(g);
    sp.shortPath();
    ASSERT_EQ(sp.output(paths), 1);
    EXPECT_EQ(paths[0], (std::vector<int>{0, 2, 3}));
    sp.init(g, 2);
    sp.shortPath();
    EXPECT_EQ(sp.cost(3, 0), 1.5);
    EXPECT_EQ(sp.cost(3, 1), 2);
    // No edges: the single path (0, 1).
    CDynamicArray empty(false);
    sp.init(empty);
    sp.shortPath();
    ASSERT_EQ(sp.output(paths), 1);
    EXPECT_EQ(paths[0], (std::vector<int>{0, 1}));
}

TEST(ShortPathTest, CostsBeyondTenThousandStillGiveAPath) {
    CDynamicArray g(false);
    for (int v = 0; v < 50; ++v) g.appendUnordered(v, v + 1, 400, 0);
    g.finishAppending();
    CNShortPath sp;
    sp.init(g);
    sp.shortPath();
    std::vector<std::vector<int>> paths;
    ASSERT_EQ(sp.output(paths), 1);
    EXPECT_EQ(paths[0].size(), 51u);
}

TEST(NumberTest, NumberAndYearTests) {
    EXPECT_TRUE(isAllNum("123"));
    EXPECT_TRUE(isAllNum("3.14"));
    EXPECT_TRUE(isAllNum("-5"));
    EXPECT_TRUE(isAllNum("50%"));
    EXPECT_TRUE(isAllNum(G("１２．５")));
    EXPECT_TRUE(isAllNum(G("１２万")));
    EXPECT_TRUE(isAllNum(G("±")));
    EXPECT_FALSE(isAllNum("12a"));
    EXPECT_FALSE(isAllNum(G("中")));
    EXPECT_TRUE(isAllChineseNum(G("一九九八")));
    EXPECT_TRUE(isAllChineseNum(G("三分之一")));
    EXPECT_TRUE(isAllChineseNum(G("第三")));
    EXPECT_FALSE(isAllChineseNum(G("三第")));
    EXPECT_FALSE(isAllChineseNum(G("一九九八年")));
    EXPECT_FALSE(isAllChineseNum("3"));
    EXPECT_TRUE(isYearTime("1998"));
    EXPECT_TRUE(isYearTime("98"));
    EXPECT_FALSE(isYearTime("12"));
    EXPECT_TRUE(isYearTime(G("一九九八")));
    EXPECT_FALSE(isYearTime(G("三")));
    EXPECT_TRUE(isYearTime(G("１９９８")));
    EXPECT_TRUE(isYearTime(G("甲子")));
    EXPECT_TRUE(isYearTime(G("千")));
}

TEST(NumberTest, SignsUnitsZeroAndMixedNumerals) {
    EXPECT_TRUE(isAllNum(G("－０．４")));  // full-width minus
    EXPECT_TRUE(isAllNum(G("－")));
    EXPECT_TRUE(isAllNum(G("１／３")));
    EXPECT_FALSE(isAllNum(G("／６")));     // a slash never leads
    EXPECT_FALSE(isAllNum("/6"));
    EXPECT_FALSE(isAllNum(G("／")));
    EXPECT_TRUE(isAllNum(G("1万亿")));
    EXPECT_TRUE(isAllNum(G("３千万")));
    EXPECT_TRUE(isAllNum(G("1.5万亿")));
    EXPECT_FALSE(isAllNum(G("５％万")));
    EXPECT_TRUE(isAllChineseNum(G("一九九〇")));
    EXPECT_TRUE(isYearTime(G("二〇〇八")));
    EXPECT_TRUE(isMixedNum(G("二００一")));
    EXPECT_TRUE(isMixedNum(G("３万二千")));
    EXPECT_FALSE(isMixedNum(G("２两")));     // 两 is also a weight
    EXPECT_FALSE(isMixedNum(G("二十")));
    EXPECT_FALSE(isMixedNum(G("１２")));
    EXPECT_TRUE(isYearTime(G("二００一")));
    EXPECT_FALSE(isYearTime(G("１２")));
    EXPECT_FALSE(isYearTime(G("二０")));
}

namespace {

// Every ASCII byte but NUL and every double-byte character.
std::vector<std::string> everyCharacter() {
    std::vector<std::string> all;
    for (int b = 1; b < 0x80; ++b) all.push_back(std::string(1, static_cast<char>(b)));
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail)
            all.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
    return all;
}

}  // namespace

TEST(NumberTest, EveryNumberPassesTheFirstCharacterCheck) {
    // Every ASCII byte and double-byte character first, followed by pieces
    // that complete numbers of every kind: no number may be turned away.
    const std::vector<std::string> firsts = everyCharacter();
    const std::vector<std::string> rests = {"", "5", "5%", ".5", G("５"), G("．５"), G("万"), G("之一"), G("一"),
                                            G("００一"), G("九"), G("百"), G("％")};
    int numbers = 0;
    for (const std::string& first : firsts) {
        for (const std::string& rest : rests) {
            const std::string s = first + rest;
            if (!isNumber(s)) continue;
            ++numbers;
            ASSERT_TRUE(mayBeNumber(s)) << U(s);
        }
    }
    EXPECT_GT(numbers, 100);
    EXPECT_TRUE(mayBeNumber(""));
    EXPECT_FALSE(mayBeNumber(G("中国")));
    EXPECT_FALSE(mayBeNumber("abc"));
}

TEST(NumberTest, EveryBeginningOfANumberPassesTheCharacterCheck) {
    // Every ASCII byte and double-byte character inside numbers of every
    // kind: no beginning of a number, cut at any byte, may be turned away.
    const std::vector<std::string> middles = everyCharacter();
    const std::vector<std::pair<std::string, std::string>> frames = {
        {"", ""},          {"5", ""},          {"5", "5"},         {G("５"), G("５")}, {G("一"), ""},
        {G("二"), G("万")}, {G("－"), "5"},     {G("第"), ""},      {G("三"), G("之一")}, {G("２"), G("二")},
        {"-", "%"},        {G("百"), G("分之五")}};
    int numbers = 0;
    for (const std::string& middle : middles) {
        for (const auto& [before, after] : frames) {
            const std::string s = before + middle + after;
            if (!isNumber(s)) continue;
            ++numbers;
            for (size_t cut = 1; cut <= s.size(); ++cut) ASSERT_TRUE(mayBeginNumber(s.substr(0, cut))) << U(s);
        }
    }
    EXPECT_GT(numbers, 200);
    EXPECT_FALSE(mayBeginNumber(G("一些")));
    EXPECT_FALSE(mayBeginNumber(G("五a")));
    EXPECT_TRUE(mayBeginNumber(G("五") + "\xB0"));  // the lead byte may pair with what follows
}

TEST(SegmentTest, NumbersAndTimesMerge) {
    const CDictionary core = makeCore({{"年", 500, kQuantity}, {"月", 500, kNoun}, {"点", 10, kNoun},
                                       {"钟", 10, kNoun}, {"开会", 80, kVerb}});
    CSegment seg;
    auto segment = [&](std::string_view text) { return segmentTwice(seg, core, text); };
    EXPECT_EQ(segment("一九九八年"), (std::vector<std::string>{"一九九八年"}));
    EXPECT_EQ(segment("三年"), (std::vector<std::string>{"三", "年"}));
    EXPECT_EQ(seg.path(0)[1].handle, -27904);
    EXPECT_EQ(segment("三点开会"), (std::vector<std::string>{"三点", "开会"}));
    EXPECT_EQ(seg.path(0)[1].handle, -29696);
    EXPECT_EQ(segment("十二月份"), (std::vector<std::string>{"十二月份"}));
    EXPECT_EQ(segment("1998年"), (std::vector<std::string>{"1998年"}));
    EXPECT_EQ(segment("3.14"), (std::vector<std::string>{"3.14"}));
    // A trailing separator leaves the number as a word of its own.
    EXPECT_EQ(segment("12．"), (std::vector<std::string>{"12", "．"}));
    // One atom: the path holds just that word between the markers.
    EXPECT_EQ(segment("开"), (std::vector<std::string>{"开"}));
    // The optimum graph of the second stage uses the class tokens.
    EXPECT_EQ(segment("三点"), (std::vector<std::string>{"三点"}));
}

TEST(SegmentTest, SignsMixedNumbersAndRunsOfMarks) {
    const CDictionary core = makeCore({{"年", 500, kQuantity}, {"度", 50, kQuantity}, {"新年", 80, kNoun},
                                       {"世纪", 80, kNoun}, {"百分", 80, kNoun}});
    CSegment seg;
    auto segment = [&](std::string_view text) { return segmentTwice(seg, core, text); };
    EXPECT_EQ(segment("－５度"), (std::vector<std::string>{"－５", "度"}));
    EXPECT_EQ(segment("／６"), (std::vector<std::string>{"／", "６"}));
    EXPECT_EQ(segment("1万亿"), (std::vector<std::string>{"1万亿"}));
    EXPECT_EQ(segment("二００一年"), (std::vector<std::string>{"二００一年"}));
    EXPECT_EQ(seg.path(0)[1].handle, -29696);
    EXPECT_EQ(segment("一九九〇年"), (std::vector<std::string>{"一九九〇年"}));
    // A word that only begins a number with the next one: 百分 之 五十.
    EXPECT_EQ(segment("百分之五十"), (std::vector<std::string>{"百分之五十"}));
    // A sign between two numbers is a word of its own; a lone minus is punctuation.
    EXPECT_EQ(segment("０．４－０．６"), (std::vector<std::string>{"０．４", "－", "０．６"}));
    EXPECT_EQ(seg.path(0)[2].handle, 30464);
    // Runs of dashes and ellipses stay one punctuation word.
    EXPECT_EQ(segment("世纪——新年"), (std::vector<std::string>{"世纪", "——", "新年"}));
    EXPECT_EQ(seg.path(0)[2].handle, 30464);
    EXPECT_EQ(segment("新年……"), (std::vector<std::string>{"新年", "……"}));
    EXPECT_EQ(segment("－－"), (std::vector<std::string>{"－－"}));
    EXPECT_EQ(segment("…新年"), (std::vector<std::string>{"…", "新年"}));
}

namespace {

// Every first-stage path word whose core entries the word graph found holds
// what getHandles gives for its text; returns how many did.
int expectCarriedEntriesMatch(CSegment& seg, const CDictionary& core, const std::string& sentence) {
    static const CDictionary bigram;
    seg.biSegment(sentence, core, bigram, 0.1);
    int known = 0;
    for (int k = 0; k < seg.segmentCount(); ++k) {
        for (const WordResult& w : seg.path(k)) {
            if (w.word.empty() || w.coreEntries < 0) continue;
            int handles[CDictionary::kMaxHandles], frequencies[CDictionary::kMaxHandles];
            const int n = core.getHandles(w.word, handles, frequencies);
            double sum = 0;
            for (int i = 0; i < n; ++i) sum += frequencies[i];
            EXPECT_EQ(w.coreEntries, n) << U(w.word) << " in " << U(sentence);
            EXPECT_EQ(w.coreFrequency, n > 0 ? sum : 0) << U(w.word) << " in " << U(sentence);
            ++known;
        }
    }
    return known;
}

}  // namespace

TEST(SegmentTest, PathWordsCarryTheirCoreEntries) {
    // Words with several entries, single characters that are no words,
    // numbers, letters, marks and the 月份 probe whose element covers more
    // than the text probed; then random strings of the same pieces.
    const CDictionary core = makeCore({{"月", 500, kNoun}, {"月份", 40, kNoun}, {"中国", 90, kNoun},
                                       {"中国", 30, kVerb}, {"国人", 5, kNoun}, {"人", 700, kNoun},
                                       {"，", 10, kNoun}, {"份", 3, kQuantity}});
    CSegment seg;
    EXPECT_GT(expectCarriedEntriesMatch(seg, core, wrap("中国人在三月份，ab月份１２好")), 5);
    const std::vector<std::string> pieces = {"中", "国", "人", "月", "份", "，", "好", "1", "a", "．", "－", "三", "·"};
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (unsigned n = rng() % 12 + 1; n > 0; --n) text += pieces[rng() % pieces.size()];
        expectCarriedEntriesMatch(seg, core, wrap(text));
    }
}

TEST(SegmentTest, PathWordsCarryTheirCoreEntriesWithTheBuiltData) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "pfr199801" / "199801.txt";
    std::error_code ec;
    if (!std::filesystem::exists(data / "coreDict.dct", ec)) GTEST_SKIP() << "no data built in " << data;
    CDictionary core;
    ASSERT_TRUE(succeeded(core.load((data / "coreDict.dct").string())));
    std::string text = G("中华人民共和国成立于一九四九年十月一日，迈克尔·乔丹在１９９８年访问了北京大学。");
    if (const Result<std::string> bytes = readFile(corpus.string()); bytes) text += toGbk(bytes->substr(0, 200000));
    CSegment seg;
    int known = 0;
    // Runs of double-byte characters, as the segmenter cuts them.
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = i;
        while (i + 1 < text.size() && static_cast<unsigned char>(text[i]) >= 0x80 && text[i] != ' ') i += 2;
        if (i > start) known += expectCarriedEntriesMatch(seg, core, std::string(kSentenceBegin) + text.substr(start, std::min<size_t>(i - start, 400)) + std::string(kSentenceEnd));
        ++i;
    }
    EXPECT_GT(known, 1000);
}
