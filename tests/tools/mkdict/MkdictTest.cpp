// Tests of kestrel-mkdict's data builder: tag packing, which words the
// dictionary keeps, the class tokens, role data from a small tagged text,
// loading the files with the segmenter's own loaders, and bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ContextFile.h"
#include "CorpusStatistics.h"
#include "DataBuilder.h"
#include "DictionaryFile.h"
#include "TaggedCorpus.h"
#include "TestSupport.h"
#include "WordClasses.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/CContextStat.h"
#include "segment/CDictionary.h"

namespace kestrel {
namespace {

using testing::succeeded;

namespace fs = std::filesystem;

std::string gbk(std::string_view utf8) { return utf8ToGbk(utf8); }

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "mkdict-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name, std::string_view content) const {
        const std::string p = path_ + "/" + name;
        EXPECT_TRUE(writeFileAtomically(p, content));
        return p;
    }
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

TEST(MkdictTags, PacksOneAndTwoLettersAndFoldsLongerTags) {
    EXPECT_EQ(packTag("m"), 27904);
    EXPECT_EQ(packTag("t"), 29696);
    EXPECT_EQ(packTag("nr"), 28274);
    EXPECT_EQ(packTag("ns"), 28275);
    EXPECT_EQ(packTag("nrt"), 28274);
    EXPECT_EQ(packTag("nrfg"), 28274);
    EXPECT_EQ(packTag("eng"), 28280);
    EXPECT_EQ(packTag("Vg"), 'V' * 256 + 'g');
    EXPECT_EQ(packTag(""), 0);
    EXPECT_EQ(packTag("n1"), 0);
}

TEST(MkdictCells, FilesIdeographsByPositionAndDelimitersTogether) {
    int cell = -1;
    std::string key;
    ASSERT_TRUE(dictionaryCellAndKey(gbk("啊"), cell, key));  // B0 A1, the first ideograph
    EXPECT_EQ(cell, 0);
    EXPECT_EQ(key, "");
    ASSERT_TRUE(dictionaryCellAndKey(gbk("中国"), cell, key));
    EXPECT_EQ(cell, (0xD6 - 0xB0) * 94 + (0xD0 - 0xA1));
    EXPECT_EQ(key, gbk("国"));
    ASSERT_TRUE(dictionaryCellAndKey(gbk("，"), cell, key));
    EXPECT_EQ(cell, kDelimiterCell);
    EXPECT_EQ(key, gbk("，"));
    EXPECT_FALSE(dictionaryCellAndKey(gbk("Ａ股"), cell, key));   // full-width letter
    EXPECT_FALSE(dictionaryCellAndKey("abc", cell, key));
    EXPECT_FALSE(dictionaryCellAndKey("\xB0\x40", cell, key));   // GBK extension, no GB2312 cell
    EXPECT_FALSE(dictionaryCellAndKey(gbk("①号"), cell, key));   // numbered symbol
}

TEST(MkdictWords, ClassifiesNumbersTimesAndForeignStrings) {
    EXPECT_TRUE(isNumberWord(gbk("一九九八")));
    EXPECT_TRUE(isNumberWord(gbk("１２．５％")));
    EXPECT_TRUE(isNumberWord(gbk("第十五")));
    EXPECT_TRUE(isNumberWord(gbk("三分之一")));
    EXPECT_FALSE(isNumberWord(gbk("一些")));
    EXPECT_FALSE(isNumberWord(gbk("第")));
    EXPECT_TRUE(isNumberTimeWord(gbk("一九九八年")));
    EXPECT_TRUE(isNumberTimeWord(gbk("十二月份")));
    EXPECT_TRUE(isNumberTimeWord(gbk("１２月")));
    EXPECT_FALSE(isNumberTimeWord(gbk("新年")));
    EXPECT_FALSE(isNumberTimeWord(gbk("年")));
    EXPECT_TRUE(isForeignStringWord(gbk("ＷＴＯ")));
    EXPECT_TRUE(isForeignStringWord("MP3"));
    EXPECT_FALSE(isForeignStringWord("1998"));
}

// A word list and stop words through the whole builder, read back with the
// segmenter's loaders.
TEST(MkdictBuild, WordListBuildLoadsWithTheSegmentersLoaders) {
    TempDir dir;
    const std::string words = dir.file("words.txt",
                                       "中国 1000 ns\n"
                                       "中国 500 nrt\n"
                                       "中 300 f\n"
                                       "AT&T 3 nz\n"          // ASCII first character: skipped
                                       "，号 2 x\n"            // delimiter first: kept
                                       "\xF0\x9F\x98\x80 5 x\n"  // no GBK form: skipped
                                       "人民 1500 n\n\n");
    const std::string stop = dir.file("stop.txt", "的\n了\n的\n  是  \n");
    MkdictOptions options;
    options.wordsPath = words;
    options.stopwordsPath = stop;
    options.outDir = dir.path("data");
    options.total = 3302;  // the total of the kept entries: frequencies stay as they are
    std::string summary, error;
    ASSERT_TRUE(buildSegmenterData(options, summary, error)) << error;
    EXPECT_NE(summary.find("2 skipped"), std::string::npos) << summary;

    CDictionary core;
    ASSERT_TRUE(succeeded(core.load(dir.path("data/coreDict.dct"))));
    EXPECT_EQ(core.getFrequency(gbk("中国"), 28275), 1000);
    EXPECT_EQ(core.getFrequency(gbk("中国"), 28274), 500);
    int handles[20], freqs[20];
    ASSERT_EQ(core.getHandles(gbk("中国"), handles, freqs), 2);
    EXPECT_EQ(handles[0], 28274);  // handle order within one word
    EXPECT_EQ(handles[1], 28275);
    EXPECT_TRUE(core.isWord(gbk("，号")));
    EXPECT_FALSE(core.isWord("AT&T"));
    // Class tokens carry their frequency under handle 2, the markers keep the
    // handles of their atoms.
    for (const char* token : {"未##数", "未##时", "未##串", "未##人", "未##地"})
        EXPECT_GT(core.getFrequency(gbk(token), 2), 0) << token;
    EXPECT_GT(core.getFrequency(gbk("始##始"), 1), 0);
    EXPECT_GT(core.getFrequency(gbk("末##末"), 4), 0);

    CDictionary bigrams;
    ASSERT_TRUE(succeeded(bigrams.load(dir.path("data/BigramDict.dct"))));
    EXPECT_EQ(bigrams.entryCount(), 0u);
    CContextStat lexical;
    ASSERT_TRUE(succeeded(lexical.load(dir.path("data/lexical.ctx"))));
    EXPECT_EQ(lexical.getTagFrequency(28160), 1500);  // 'n'
    EXPECT_DOUBLE_EQ(lexical.getContextProbability(28160, 28275), 1e-6);
    EXPECT_FALSE(fileExists(dir.path("data/nr.dct")));

    EXPECT_EQ(readFile(dir.path("data/stopwords.txt")).valueOr({}), gbk("的\n了\n是\n"));
}

TEST(MkdictBuild, ScalesTheWordListToTheTotal) {
    TempDir dir;
    MkdictOptions options;
    options.wordsPath = dir.file("w.txt", "中国 600 ns\n人民 400 n\n天 1 n\n");
    options.stopwordsPath = dir.file("s.txt", "");
    options.outDir = dir.path("out");
    options.total = 100;
    std::string summary, error;
    ASSERT_TRUE(buildSegmenterData(options, summary, error)) << error;
    CDictionary core;
    ASSERT_TRUE(succeeded(core.load(dir.path("out/coreDict.dct"))));
    EXPECT_EQ(core.getFrequency(gbk("中国")), 60);
    EXPECT_EQ(core.getFrequency(gbk("人民")), 40);
    EXPECT_EQ(core.getFrequency(gbk("天")), 1);  // a listed word never drops to 0
}

TEST(MkdictDictionary, KeepsAtMostTwentyReadingsOfAWord) {
    DictionaryFileWriter writer;
    for (int h = 1; h <= 25; ++h) ASSERT_TRUE(writer.add(gbk("中"), h * 256, h));
    CDictionary core;
    ASSERT_TRUE(succeeded(core.loadFromBytes(writer.serialize(), "test")));
    int handles[20], freqs[20];
    ASSERT_EQ(core.getHandles(gbk("中"), handles, freqs), 20);
    EXPECT_EQ(handles[0], 6 * 256);  // the five least frequent readings went
    EXPECT_EQ(freqs[19], 25);
    EXPECT_FALSE(writer.add(std::string(200, 'a'), 1, 1));
    std::string longWord;
    for (int i = 0; i < 50; ++i) longWord += gbk("中");  // 100 bytes: beyond the segmenter's word buffer
    EXPECT_FALSE(writer.add(longWord, 1, 1));
}

const char* const kTinyCorpus =
    "19980101-01-001-001/m  国家/n  主席/n  江/nr  泽民/nr  发表/v  讲话/n  。/w  \r\n"
    "\r\n"
    "19980101-01-001-002/m  记者/n  王/nr  刚/nr  报道/v  ，/w  克林顿/nr  访问/v  "
    "[香港/ns  特别/a  行政区/n]ns  。/w\r\n"
    "19980101-01-001-003/m  一九九八年/t  一/m  月/n  ，/w  张/nr  朝阳/nr  说/v  ＷＴＯ/nx\r\n";

TEST(MkdictCorpus, ReadsIdsGroupsAndHoldsOutParagraphs) {
    CorpusParagraph p;
    size_t noGbk = 0;
    std::string error;
    ASSERT_TRUE(parseCorpusLine(gbk("19980101-01-001-002/m  记者/n  [香港/ns  特别/a  行政区/n]ns  。/w"), false, p,
                                noGbk, error))
        << error;
    ASSERT_EQ(p.tokens.size(), 5u);  // the id token is dropped
    EXPECT_EQ(p.tokens[0].word, gbk("记者"));
    ASSERT_EQ(p.groups.size(), 1u);
    EXPECT_EQ(p.groups[0].first, 1u);
    EXPECT_EQ(p.groups[0].last, 3u);
    EXPECT_EQ(p.groups[0].tag, "ns");
    EXPECT_EQ(p.tokens[2].group, 0);

    TempDir dir;
    const std::string path = dir.file("c.txt", gbk(kTinyCorpus));
    std::vector<CorpusParagraph> paragraphs;
    CorpusStats stats;
    ASSERT_TRUE(readTaggedCorpus(path, 2, paragraphs, stats, error)) << error;
    EXPECT_EQ(stats.paragraphs, 3u);  // blank lines are not paragraphs
    EXPECT_EQ(stats.heldOut, 1u);
    ASSERT_EQ(paragraphs.size(), 2u);
    EXPECT_EQ(paragraphs[1].line, 4u);  // the second paragraph was held out
}

TEST(MkdictCorpus, CountsWordsPairsAndClassTokens) {
    std::vector<CorpusParagraph> paragraphs;
    CorpusStats cs;
    TempDir dir;
    std::string error;
    ASSERT_TRUE(readTaggedCorpus(dir.file("c.txt", kTinyCorpus), 0, paragraphs, cs, error)) << error;  // UTF-8
    CorpusStatistics stats;
    countCorpus(paragraphs, stats);
    EXPECT_EQ(stats.sentences, 5);
    EXPECT_EQ(stats.numbers, 1);
    EXPECT_EQ(stats.times, 1);
    EXPECT_EQ(stats.foreign, 1);
    EXPECT_EQ(stats.persons, 4);  // 江泽民, 王刚, 克林顿, 张朝阳
    EXPECT_EQ(stats.words.frequency(gbk("泽民"), 28274), 1);
    EXPECT_FALSE(stats.words.contains(gbk("一九九八年")));
    const auto pair = [&](const char* a, const char* b) {
        return stats.bigrams.frequency(gbk(a) + "@" + gbk(b), kHandleBigram);
    };
    EXPECT_EQ(pair("始##始", "国家"), 1);
    EXPECT_EQ(pair("江", "泽民"), 1);
    EXPECT_EQ(pair("主席", "未##人"), 1);
    EXPECT_EQ(pair("未##人", "发表"), 1);
    EXPECT_EQ(pair("讲话", "末##末"), 1);
    EXPECT_EQ(pair("始##始", "未##时"), 1);
    EXPECT_EQ(pair("未##时", "未##数"), 1);
    EXPECT_EQ(pair("说", "未##串"), 1);
    EXPECT_EQ(pair("讲话", "记者"), 0);  // punctuation ends a sentence
    EXPECT_EQ(stats.lexical.transitions(0, 28160), 2);  // start -> 国家/n, 记者/n
    EXPECT_EQ(stats.lexical.transitions(28160, 4), 3);  // 讲话, 行政区, 月 -> end
}

TEST(MkdictCorpus, DerivesTheRolesOfNames) {
    std::vector<CorpusParagraph> paragraphs;
    CorpusStats cs;
    TempDir dir;
    std::string error;
    ASSERT_TRUE(readTaggedCorpus(dir.file("c.txt", gbk(kTinyCorpus)), 0, paragraphs, cs, error)) << error;
    DictionaryFileWriter core;
    for (const char* w : {"国家", "主席", "发表", "讲话", "记者", "报道", "访问", "香港", "特别", "行政区", "说"})
        core.add(gbk(w), 28160, 10);
    core.add(gbk("朝阳"), 28275, 5);   // an ordinary word: the given name fuses into it
    core.add(gbk("泽民"), 28274, 5);   // a known name only: still read as characters
    core.add(gbk("刚报"), 28160, 5);   // the name's last character fuses with the next word
    RoleData person, place, foreign;
    countRoles(paragraphs, core, person, place, foreign);

    const auto role = [](const RoleData& d, const char* w, int r) { return d.dictionary.frequency(gbk(w), r); };
    EXPECT_EQ(role(person, "江", kPersonSurname), 1);
    EXPECT_EQ(role(person, "泽", kPersonGivenFirst), 1);
    EXPECT_EQ(role(person, "民", kPersonGivenLast), 1);
    EXPECT_EQ(role(person, "刚", kPersonGivenSingle), 1);
    EXPECT_EQ(role(person, "朝阳", kPersonGivenWord), 1);
    EXPECT_EQ(role(person, "主席", kPersonBefore), 1);
    EXPECT_EQ(role(person, "发表", kPersonAfter), 1);
    EXPECT_EQ(role(person, "刚报道", kRoleSplitWord), 0);
    EXPECT_EQ(person.context.transitions(kPersonSurname, kPersonGivenFirst), 1);
    EXPECT_EQ(person.context.transitions(kRoleSentenceBegin, kPersonOther), 3);  // 记者 is K
    EXPECT_EQ(person.context.tagFrequency(kRoleSentenceEnd), 5);
    EXPECT_EQ(role(person, "克", kPersonSurname), 0);  // a transliterated name is not a Chinese one

    EXPECT_EQ(role(foreign, "克", kSpanFirst), 1);
    EXPECT_EQ(role(foreign, "林", kSpanMiddle), 1);
    EXPECT_EQ(role(foreign, "顿", kSpanLast), 1);
    EXPECT_EQ(role(foreign, "访问", kForeignAfter), 1);

    EXPECT_EQ(role(place, "香港", kSpanFirst), 1);
    EXPECT_EQ(role(place, "特别", kSpanMiddle), 1);
    EXPECT_EQ(role(place, "行政区", kSpanLast), 1);
    EXPECT_EQ(role(place, "访问", kPlaceBefore), 1);
}

TEST(MkdictCorpus, SplitWordMarksANameFusedWithItsNeighbour) {
    std::vector<CorpusParagraph> paragraphs(1);
    size_t noGbk = 0;
    std::string error;
    ASSERT_TRUE(parseCorpusLine(gbk("这里/r  有/v  关/nr  天培/nr  的/u  事迹/n"), false, paragraphs[0], noGbk, error));
    DictionaryFileWriter core;
    core.add(gbk("有关"), 'v' * 256, 50);
    core.add(gbk("培的"), 'n' * 256, 1);
    RoleData person, place, foreign;
    countRoles(paragraphs, core, person, place, foreign);
    EXPECT_EQ(person.dictionary.frequency(gbk("有关"), kRoleSplitWord), 1);
    EXPECT_EQ(person.dictionary.frequency(gbk("培的"), kRoleSplitWord), 1);
    EXPECT_EQ(person.dictionary.frequency(gbk("有"), kPersonBefore), 1);
}

TEST(MkdictCorpus, TransliteratedNameRolesFollowTheDictionaryPieces) {
    // The tagger meets 基普 as one word: it is the name's first piece.
    std::vector<CorpusParagraph> paragraphs(1);
    size_t noGbk = 0;
    std::string error;
    ASSERT_TRUE(parseCorpusLine(gbk("选手/n  基普罗蒂奇/nr  获胜/v"), false, paragraphs[0], noGbk, error));
    DictionaryFileWriter core;
    core.add(gbk("基普"), 'n' * 256, 3);
    RoleData person, place, foreign;
    countRoles(paragraphs, core, person, place, foreign);
    EXPECT_EQ(foreign.dictionary.frequency(gbk("基普"), kSpanFirst), 1);
    EXPECT_EQ(foreign.dictionary.frequency(gbk("基"), kSpanFirst), 0);
    EXPECT_EQ(foreign.dictionary.frequency(gbk("罗"), kSpanMiddle), 1);
    EXPECT_EQ(foreign.dictionary.frequency(gbk("奇"), kSpanLast), 1);
}

TEST(MkdictBuild, CorpusBuildWritesRoleFilesThatLoad) {
    TempDir dir;
    MkdictOptions options;
    options.wordsPath = dir.file("w.txt", "国家 100 n\n国家主席 50 n\n世纪 20 n\n发表主席 5 n\n二月 5 t\n");
    options.stopwordsPath = dir.file("s.txt", "的\n");
    options.taggedPath = dir.file("c.txt", gbk(kTinyCorpus));
    options.wordsWeight = 0.01;
    options.outDir = dir.path("out");
    std::string summary, error;
    ASSERT_TRUE(buildSegmenterData(options, summary, error)) << error;
    CDictionary core, bigrams, nr;
    CContextStat nrContext, lexical;
    ASSERT_TRUE(succeeded(core.load(dir.path("out/coreDict.dct"))));
    ASSERT_TRUE(succeeded(bigrams.load(dir.path("out/BigramDict.dct"))));
    ASSERT_TRUE(succeeded(lexical.load(dir.path("out/lexical.ctx"))));
    ASSERT_TRUE(succeeded(nr.load(dir.path("out/nr.dct"))));
    ASSERT_TRUE(succeeded(nrContext.load(dir.path("out/nr.ctx"))));
    for (const char* base : {"ns", "tr"}) {
        CDictionary d;
        CContextStat c;
        EXPECT_TRUE(succeeded(d.load(dir.path("out/") + base + ".dct")));
        EXPECT_TRUE(succeeded(c.load(dir.path("out/") + base + ".ctx")));
    }
    EXPECT_EQ(core.getFrequency(gbk("国家"), 28160), 1 + 1);  // corpus count + at least 1 from the list
    EXPECT_EQ(core.getFrequency(gbk("始##始"), 1), 5);
    EXPECT_FALSE(core.isWord(gbk("国家主席")));  // the corpus writes it as 国家 + 主席
    EXPECT_FALSE(core.isWord(gbk("二月")));      // a numeral and 月: the corpus's 一 月
    EXPECT_TRUE(core.isWord(gbk("发表主席")));   // corpus words, but never written side by side
    EXPECT_TRUE(core.isWord(gbk("世纪")));
    EXPECT_EQ(bigrams.getFrequency(gbk("江@泽民"), 3), 1);
    EXPECT_EQ(nr.getFrequency(gbk("江"), kPersonSurname), 1);
    EXPECT_GT(nrContext.getContextProbability(kPersonGivenFirst, kPersonSurname), 1e-6);
    EXPECT_EQ(nrContext.getTagFrequency(kRoleSentenceBegin), 5);

    // Rebuilt without the corpus, the role files of the earlier build go.
    options.taggedPath.clear();
    ASSERT_TRUE(buildSegmenterData(options, summary, error)) << error;
    EXPECT_FALSE(fileExists(dir.path("out/nr.dct")));
    EXPECT_FALSE(fileExists(dir.path("out/tr.ctx")));
}

// The corpus writes names as surname and given name: a listed full name
// with a surname the corpus uses often is left to the person recogniser.
TEST(MkdictBuild, ListedFullNamesWithACorpusSurnameAreLeftOut) {
    TempDir dir;
    std::string corpus;
    for (const char* given : {"朝阳", "明", "小红", "伟", "国强"})
        corpus += "张/nr  " + std::string(given) + "/nr  说/v  。/w\n";
    corpus += "克林顿/nr  访问/v  。/w\n";
    MkdictOptions options;
    options.wordsPath = dir.file("w.txt", "张春生 5 nr\n张家口 5 ns\n克林顿 5 nr\n李春生 5 nr\n欧阳春 5 nr\n");
    options.stopwordsPath = dir.file("s.txt", "的\n");
    options.taggedPath = dir.file("c.txt", gbk(corpus));
    options.outDir = dir.path("out");
    std::string summary, error;
    ASSERT_TRUE(buildSegmenterData(options, summary, error)) << error;
    CDictionary core;
    ASSERT_TRUE(succeeded(core.load(dir.path("out/coreDict.dct"))));
    EXPECT_FALSE(core.isWord(gbk("张春生")));
    EXPECT_TRUE(core.isWord(gbk("张家口")));  // a place, not a name
    EXPECT_TRUE(core.isWord(gbk("克林顿")));  // 克 never leads a name here
    EXPECT_TRUE(core.isWord(gbk("李春生")));  // 李 is no surname of this corpus
    EXPECT_TRUE(core.isWord(gbk("欧阳春")));
}

// Bad input names the file and line, and no data file is written.
TEST(MkdictBuild, BadInputIsReportedWithFileAndLine) {
    TempDir dir;
    const std::string stop = dir.file("s.txt", "的\n");
    const auto failWith = [&](MkdictOptions options, const std::string& expected) {
        options.stopwordsPath = options.stopwordsPath.empty() ? stop : options.stopwordsPath;
        options.outDir = dir.path("out");
        std::string summary, error;
        EXPECT_FALSE(buildSegmenterData(options, summary, error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_FALSE(fileExists(dir.path("out/coreDict.dct")));
    };
    MkdictOptions o;
    o.wordsPath = dir.path("missing.txt");
    failWith(o, "missing.txt");
    o.wordsPath = dir.file("w1.txt", "中国 10 ns\n人民 100\n");
    failWith(o, "w1.txt:2: expected \"word frequency tag\"");
    o.wordsPath = dir.file("w2.txt", "中国 ten ns\n");
    failWith(o, "w2.txt:1: frequency \"ten\"");
    o.wordsPath = dir.file("w3.txt", "中国 10 ns\n人民 5 n\n\xFF\xFE 1 n\n");
    failWith(o, "w3.txt:3: invalid UTF-8");
    o.wordsPath = dir.file("w4.txt", "中国 10 n-s\n");
    failWith(o, "w4.txt:1: tag");

    o.wordsPath = dir.file("w.txt", "中国 10 ns\n");
    o.taggedPath = dir.file("c1.txt", gbk("中国/ns  人民/n\n发表 讲话/n\n"));
    failWith(o, "c1.txt:2: malformed token");
    o.taggedPath = dir.file("c2.txt", gbk("[中国/ns  人民/n\n"));
    failWith(o, "c2.txt:1: group");
    o.taggedPath = dir.file("c3.txt", gbk("中国/ns\n") + "\x81\x20/n\n");
    failWith(o, "c3.txt:2: invalid GBK");
    o.taggedPath = dir.path("nothere.txt");
    failWith(o, "nothere.txt");

    o.taggedPath.clear();
    o.stopwordsPath = dir.file("s2.txt", "的\n\xF0\x9F\x98\n");  // a cut-off character
    failWith(o, "s2.txt:2:");
    o.stopwordsPath = dir.file("s3.txt", std::string(300, 'x') + "\n");
    failWith(o, "s3.txt:1: stop word longer");
}

TEST(MkdictTool, DefaultDataWasBuiltAndLoads) {
    const std::string data = KESTREL_DATA_DIR;
    if (!fileExists(data + "/coreDict.dct")) GTEST_SKIP() << "no data built in " << data;
    CDictionary core;
    ASSERT_TRUE(succeeded(core.load(data + "/coreDict.dct")));
    EXPECT_GT(core.entryCount(), 300000u);
    EXPECT_GT(core.getFrequency(gbk("中国")), 0);
    EXPECT_GT(core.getFrequency(gbk("未##数"), 2), 0);
    // The default data comes from the tagged corpus: word pairs and the
    // recognisers' role files are there.
    CDictionary bigrams;
    ASSERT_TRUE(succeeded(bigrams.load(data + "/BigramDict.dct")));
    EXPECT_GT(bigrams.entryCount(), 100000u);
    for (const char* base : {"nr", "ns", "tr"}) {
        CDictionary roles;
        CContextStat context;
        ASSERT_TRUE(succeeded(roles.load(data + "/" + base + ".dct")));
        EXPECT_GT(roles.entryCount(), 1000u) << base;
        EXPECT_TRUE(succeeded(context.load(data + "/" + base + ".ctx")));
    }
}

}  // namespace
}  // namespace kestrel
