// A long document is segmented in parts on several threads; its word counts
// must be those of the whole document segmented at once.
#include <random>

#include "SegmentTestSupport.h"
#include "segment/WordSegmenter.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

WordCounts countsOf(const std::vector<std::string>& words) {
    WordCounts counts;
    counts.add(words);
    return counts;
}

// About `bytes` of text mixing words, unknown characters, ASCII words and
// digits, blanks, line ends, NUL bytes, punctuation and long runs without
// any delimiter.
std::string mixedText(size_t bytes, unsigned seed) {
    const std::vector<std::string> parts = {G("我们"), G("喜欢"), G("学习"), G("中文"), G("书"), G("鹰"),
                                            G("。"),   G("，"),   "\n",      " ",       "abc", "2024",
                                            std::string(1, '\0'), "\r\n", G("　"), ":"};
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < bytes) {
        if (rng() % 500 == 0) {  // a long run: several sentences, no delimiter
            for (int i = 0; i < 3000; ++i) text += parts[rng() % 6];
            continue;
        }
        text += parts[rng() % parts.size()];
    }
    return text;
}

}  // namespace

TEST(LongDocumentTest, CountsInPartsEqualTheWholeDocument) {
    TempDir data;
    writeDataDirectory(data.path(), makeCore({{"中文", 300, kNoun}, {"我们", 400, 'r' * 256},
                                              {"喜欢", 200, kVerb}, {"学习", 300, kVerb}, {"书", 100, kNoun}}),
                       {"我"});
    WordSegmenter segmenter;
    const Status loaded = segmenter.loadDataDirectory(data.path());
    ASSERT_TRUE(loaded) << loaded.message();
    segmenter.setUnknownWordSwitch(1);

    TempDir docs;
    // Shorter than one part, a few parts, and an empty document.
    for (const size_t bytes : {size_t{5000}, size_t{9} << 18, size_t{0}}) {
        const std::string path = docs.path() + std::to_string(bytes) + ".txt";
        ASSERT_TRUE(writeFileAtomically(path, mixedText(bytes, static_cast<unsigned>(bytes))));
        Result<SegmentedDocument> segmented = segmenter.segmentDocument(path);
        ASSERT_TRUE(segmented) << segmented.message();
        const WordCounts whole = countsOf(segmented->words);
        for (const unsigned threads : {1u, 3u}) {
            Result<CountedDocument> parts = segmenter.countDocumentWords(path, threads);
            ASSERT_TRUE(parts) << parts.message();
            EXPECT_EQ(parts->counts.entries(), whole.entries()) << bytes << " bytes, " << threads << " threads";
        }
        if (bytes > 0) {
            EXPECT_FALSE(whole.empty());
        }
    }

    // A missing document fails with its name, as a whole document does.
    Result<CountedDocument> none = segmenter.countDocumentWords(docs.path() + "none.txt", 2);
    EXPECT_FALSE(none);
    EXPECT_NE(none.message().find("none.txt"), std::string::npos);
}
