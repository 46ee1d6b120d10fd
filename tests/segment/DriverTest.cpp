#include <algorithm>
#include <thread>

#include "SegmentTestSupport.h"
#include "segment/CWordSegment.h"
#include "segment/WordSegmenter.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::vector<std::string> pieces(const std::string& gbk) {
    std::vector<std::string> out;
    std::string piece;
    size_t offset = 0;
    while (offset < gbk.size()) {
        if (CWordSegment::nextPiece(offset, gbk, piece) > 0) out.push_back(U(piece));
    }
    return out;
}

const CDictionary& core() {
    static const CDictionary d = makeCore({{"中文", 300, kNoun}, {"我们", 400, 'r' * 256}, {"喜欢", 200, kVerb},
                                           {"学习", 300, kVerb}, {"书", 100, kNoun}});
    return d;
}

// A data directory with the small core dictionary; stop words 我 and 书.
class DataDir {
public:
    DataDir() { writeDataDirectory(dir.path(), core(), {"我", "书", "学习"}); }
    std::string path() const { return dir.path(); }
    TempDir dir;
};

std::vector<std::string> segmentText(CWordSegment& s, std::string_view utf8) {
    std::vector<std::string> words;
    s.segmentText(G(utf8), words);
    std::vector<std::string> out;
    for (const auto& w : words) out.push_back(U(w));
    return out;
}

}  // namespace

TEST(DriverTest, PiecesOfText) {
    EXPECT_EQ(pieces(G("ABC中文123")), (std::vector<std::string>{"ABC", "中文", "123"}));
    EXPECT_EQ(pieces(G("我的书")), (std::vector<std::string>{"我", "书"}));
    EXPECT_EQ(pieces(G("中\r\n文，书　本")), (std::vector<std::string>{"中文", "书本"}));
    EXPECT_EQ(pieces(G("（a）,bc.")), (std::vector<std::string>{"a", "bc"}));
    EXPECT_EQ(pieces(G("中ab")), (std::vector<std::string>{"中", "ab"}));
    EXPECT_EQ(pieces(G("ab中")), (std::vector<std::string>{"ab", "中"}));
    EXPECT_EQ(pieces(G("ＡＢＣ１２３中")), (std::vector<std::string>{"中"}));  // full-width forms delimit
    // A GBK character with a trail byte below 0x80 is dropped; a lone lead
    // byte at the end ends the text.
    EXPECT_EQ(pieces(G("中") + "\x81\x40" + G("文") + "\xB0"), (std::vector<std::string>{"中文"}));
    std::string piece;
    size_t offset = 0;
    EXPECT_EQ(CWordSegment::nextPiece(offset, "  \n", piece), 0u);
    EXPECT_EQ(offset, 3u);
}

TEST(DriverTest, WordListsFilterStopWordsAndAsciiRuns) {
    DataDir data;
    CWordSegment s;
    ASSERT_TRUE(succeeded(s.loadDataDirectory(data.path())));
    s.recognitionSwitch = 2;
    EXPECT_TRUE(s.isStopWord(G("书")));
    EXPECT_TRUE(s.isStopWord("\n"));
    EXPECT_FALSE(s.isStopWord(G("中文")));
    EXPECT_EQ(segmentText(s, "ABC中文123"), (std::vector<std::string>{"ABC", "中文"}));
    EXPECT_EQ(segmentText(s, "我的书"), (std::vector<std::string>{}));
    EXPECT_EQ(segmentText(s, "，x，xy，"), (std::vector<std::string>{"xy"}));
    EXPECT_EQ(segmentText(s, "我们喜欢学习中\n文"), (std::vector<std::string>{"我们", "喜欢", "中文"}));
    // A NUL byte separates instead of ending the document.
    std::vector<std::string> words;
    s.segmentText(G("中文") + std::string(1, '\0') + G("喜欢"), words);
    EXPECT_EQ(words.size(), 2u);

    // segmentFile: counts, GBK output, UTF-8 input, unreadable files.
    TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir.path() + "a.txt", "\xEF\xBB\xBF我们喜欢中文"));
    EXPECT_EQ(s.segmentFile(dir.path() + "a.txt", dir.path() + "a.cla").value(), 3);
    EXPECT_EQ(readFile(dir.path() + "a.cla").valueOr({}), G("我们\n喜欢\n中文\n"));
    ASSERT_TRUE(writeFileAtomically(dir.path() + "empty.txt", ""));
    EXPECT_EQ(s.segmentFile(dir.path() + "empty.txt", dir.path() + "empty.cla").value(), 0);
    const Result<std::string> empty = readFile(dir.path() + "empty.cla");
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty, "");
    const Result<int> missing = s.segmentFile(dir.path() + "missing.txt", dir.path() + "m.cla");
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message().find("missing.txt"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.path() + "m.cla"));
    EXPECT_FALSE(s.segmentFile(dir.path() + "a.txt", dir.path() + "no/such/dir.cla"));
}

TEST(DriverTest, PlainSegmentationKeepsEveryCharacter) {
    DataDir data;
    CWordSegment s;
    ASSERT_TRUE(s.loadDataDirectory(data.path()));
    s.recognitionSwitch = 2;
    std::vector<std::string> words;
    s.segmentPlain(G("我们喜欢的书，1998年 ABC！"), words);
    EXPECT_EQ(joinUtf8(words), "我们 喜欢 的 书 ， 1998年 ABC ！");
}

TEST(DriverTest, LoadingTwiceAndMissingFiles) {
    DataDir data;
    CWordSegment s;
    ASSERT_TRUE(s.loadDataDirectory(data.path()));
    EXPECT_EQ(s.loadState(), 1);
    EXPECT_TRUE(s.loadDataDirectory(data.path()));  // already loaded
    s.releaseData();
    EXPECT_EQ(s.loadState(), 0);
    ASSERT_TRUE(s.loadDataDirectory(data.path()));
    EXPECT_TRUE(s.isStopWord(G("书")));

    // Without stopwords.txt: false once, then loaded without stop words.
    ASSERT_TRUE(removeFile(data.path() + "stopwords.txt"));
    CWordSegment t;
    const Status noStopWords = t.loadDataDirectory(data.path());
    EXPECT_FALSE(noStopWords);
    EXPECT_NE(noStopWords.message().find("stopwords.txt"), std::string::npos);
    EXPECT_TRUE(t.loadDataDirectory(data.path()));
    EXPECT_FALSE(t.isStopWord(G("书")));

    // A damaged core dictionary is named; a missing one too.
    ASSERT_TRUE(writeFileAtomically(data.path() + "coreDict.dct", "abc"));
    CWordSegment u;
    const Status damaged = u.loadDataDirectory(data.path());
    EXPECT_FALSE(damaged);
    EXPECT_NE(damaged.message().find("coreDict.dct"), std::string::npos);
    EXPECT_EQ(u.loadState(), 0);
    // loadData takes the start-up directory and reads its data/ folder.
    const Status missing = u.loadData("/nonexistent");
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message().find("/nonexistent/data/coreDict.dct"), std::string::npos);
}

TEST(DriverTest, DamagedRoleFilesAreWarningsNotFailures) {
    // Role files are optional: damaged ones are named, one line each, and
    // the segmenter loads and works without them.
    DataDir data;
    ASSERT_TRUE(writeFileAtomically(data.path() + "nr.dct", "abc"));
    ASSERT_TRUE(writeFileAtomically(data.path() + "nr.ctx", "\xff\xff\xff\x7f"));
    ASSERT_TRUE(writeFileAtomically(data.path() + "ns.ctx", "\x01"));
    CWordSegment s;
    ASSERT_TRUE(succeeded(s.loadDataDirectory(data.path())));
    const std::string& warnings = s.warnings();
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 3) << warnings;
    EXPECT_NE(warnings.find("nr.dct"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("nr.ctx"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("ns.ctx"), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find("tr."), std::string::npos) << warnings;
    s.recognitionSwitch = 2;
    EXPECT_EQ(segmentText(s, "我们喜欢中文"), (std::vector<std::string>{"我们", "喜欢", "中文"}));
}

TEST(DriverTest, LongAndHostileInputStaysBounded) {
    DataDir data;
    CWordSegment s;
    ASSERT_TRUE(s.loadDataDirectory(data.path()));
    s.recognitionSwitch = 2;
    // A megabyte of Chinese without punctuation: cut into bounded sentences.
    std::string line;
    const std::string unit = G("我们喜欢学习中文书");
    while (line.size() < (1u << 20)) line += unit;
    std::vector<std::string> words;
    s.segmentText(line, words);
    EXPECT_GT(words.size(), line.size() / 20);
    // In plain mode every character is still accounted for.
    line.resize(unit.size() * 20000);
    words.clear();
    s.segmentPlain(line, words);
    size_t bytes = 0;
    for (const auto& w : words) bytes += w.size();
    EXPECT_EQ(bytes, line.size());
    // ASCII and mixed runs of a megabyte, binary bytes, GB18030 four-byte
    // sequences and stray lead bytes.
    std::string ascii(1u << 20, 'a');
    words.clear();
    s.segmentText(ascii, words);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(words[0].size(), ascii.size());
    words.clear();
    s.segmentPlain(ascii, words);
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
    s.segmentText(binary, words);
    s.segmentPlain(binary, words);
    const std::string gb18030 = std::string("\x81\x30\x81\x30", 4) + G("中文") + "\x95\x32\x82\x36\xFE";
    s.segmentText(gb18030, words);
    s.segmentPlain(gb18030, words);
    s.segmentText(toGbk("\xC3\x28 invalid \xE4\xB8"), words);
}

TEST(WordSegmenterTest, SharedDataAndConcurrentDocuments) {
    DataDir data;
    std::unique_ptr<DocumentSegmenter> segmenter = makeDocumentSegmenter();
    ASSERT_NE(segmenter, nullptr);
    // The start-up directory's data/ comes first.
    TempDir startup;
    ASSERT_TRUE(makeDirectory(startup.path() + "data"));
    writeDataDirectory(startup.path() + "data/", core(), {});
    ASSERT_TRUE(succeeded(segmenter->loadData(startup.path())));
    segmenter->setUnknownWordSwitch(2);

    TempDir docs;
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) {
        paths.push_back(docs.path() + std::to_string(i) + ".txt");
        ASSERT_TRUE(writeFileAtomically(paths.back(), G("我们喜欢学习中文。") + std::string(static_cast<size_t>(i), 'x')));
    }
    std::vector<std::vector<std::string>> results(paths.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < paths.size(); i += 4) {
                Result<SegmentedDocument> segmented = segmenter->segmentDocument(paths[i]);
                EXPECT_TRUE(succeeded(segmented.status()));
                if (segmented) results[i] = std::move(segmented->words);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (size_t i = 0; i < paths.size(); ++i) {
        ASSERT_GE(results[i].size(), 4u);
        EXPECT_EQ(U(results[i][3]), "中文");
    }
    const Result<SegmentedDocument> none = segmenter->segmentDocument(docs.path() + "none.txt");
    EXPECT_FALSE(none);
    EXPECT_NE(none.message().find("none.txt"), std::string::npos);
    segmenter->releaseData();
    EXPECT_FALSE(segmenter->segmentDocument(paths[0]));

    // Nothing anywhere: the message names every directory tried. A build
    // tree has data beside the executable, which is the last fallback, so
    // the failure can only be seen where there is none.
    setenv("KESTREL_DATA", "/nonexistent-kestrel-data", 1);
    WordSegmenter empty;
    const std::string exeDir = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    bool dataBesideExe = false;
    for (const char* dir : {"/data/", "/../data/", "/../share/kestrel/data/"})
        dataBesideExe = dataBesideExe || std::filesystem::exists(exeDir + dir + "coreDict.dct");
    if (!dataBesideExe) {
        const Status nowhere = empty.loadData("/nonexistent-start");
        const std::string& error = nowhere.message();
        EXPECT_FALSE(nowhere);
        EXPECT_NE(error.find("/nonexistent-start/data/"), std::string::npos) << error;
        EXPECT_NE(error.find("/nonexistent-kestrel-data/"), std::string::npos) << error;
        EXPECT_NE(error.find("../data/"), std::string::npos) << error;
    }
    // $KESTREL_DATA is used when the start-up directory has no data.
    setenv("KESTREL_DATA", data.path().c_str(), 1);
    EXPECT_TRUE(succeeded(empty.loadData("/nonexistent-start")));
    unsetenv("KESTREL_DATA");
}
