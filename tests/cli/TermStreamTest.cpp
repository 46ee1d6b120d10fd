// Term options through the stream commands: segment --seg --terms, then
// unpack-seg, train --format seg and classify --format seg.
#include <gtest/gtest.h>

#include <filesystem>

#include "CommandOutcome.h"
#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

using kestrel::testing::contains;
using kestrel::testing::run;
using kestrel::testing::TempDir;

namespace {

const std::string kData = std::string(" --data ") + KESTREL_DATA_DIR;

// The sample corpus split as records "category/title<TAB>text", UTF-8.
std::string records(const std::string& corpus) {
    std::string out;
    for (const auto& category : kestrel::listSubdirectories(corpus).valueOr({}))
        for (const auto& name : kestrel::listFiles(corpus + "/" + category, ".txt").valueOr({})) {
            std::string text = kestrel::gbkToUtf8(kestrel::toGbk(kestrel::readFile(corpus + "/" + category + "/" +
                                                                                    name).valueOr("")));
            for (char& c : text)
                if (c == '\n' || c == '\r') c = ' ';
            out += category + "/" + kestrel::fileTitle(name) + "\t" + text + "\n";
        }
    return out;
}

}  // namespace

TEST(TermStream, RefusesNonsenseTermsAndKeepsTheDefaultOutput) {
    TempDir dir;
    dir.write("in.txt", "A/1\t中国人民，Win7网络\n");
    auto o = run("segment --seg --terms chars:3-1" + kData + " " + dir.path("in.txt"));
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "--terms: \"chars:3-1\": the shorter length comes first")) << o.output;
    o = run("segment --terms words " + dir.path("in.txt"));
    EXPECT_EQ(o.status, 2) << o.output;
    EXPECT_TRUE(contains(o.output, "--terms requires --seg")) << o.output;

    const auto plain = run("segment --seg" + kData + " " + dir.path("in.txt"));
    const auto words = run("segment --seg --terms words" + kData + " " + dir.path("in.txt"));
    ASSERT_EQ(plain.status, 0) << plain.output;
    EXPECT_EQ(words.output, plain.output);
    EXPECT_FALSE(contains(plain.output, "#"));

    const auto all = run("segment --seg --terms pairs,words,chars:2" + kData + " " + dir.path("in.txt"));
    ASSERT_EQ(all.status, 0) << all.output;
    // The words come first, as they were; then the n-grams and the pairs.
    const size_t wordsPart = plain.output.size() - 1;  // without the line end
    EXPECT_EQ(all.output.substr(0, wordsPart), plain.output.substr(0, wordsPart));
    EXPECT_TRUE(contains(all.output, " #中国:1 #国人:1 #人民:1 #Wi:1 #in:1 #n7:1 #网络:1")) << all.output;
}

TEST(TermStream, ACorpusOfNgramsAndPairsTrainsAndClassifies) {
    TempDir dir;
    const std::string sample = std::string(KESTREL_SOURCE_DIR) + "/examples/sample/";
    dir.write("train.txt", records(sample + "train"));
    dir.write("test.txt", records(sample + "test"));
    for (const char* split : {"train", "test"}) {
        const std::string s = split;
        // A message would join the records and fail the unpacking.
        const auto segmented = run("segment --seg --terms words,chars:1-2,pairs" + kData + " < " +
                                   dir.path(s + ".txt") + " > " + dir.path(s + ".seg.txt"));
        ASSERT_EQ(segmented.status, 0) << dir.read(s + ".seg.txt");
        const auto unpacked = run("unpack-seg --to " + dir.path(s) + " " + dir.path(s + ".seg.txt"));
        ASSERT_EQ(unpacked.status, 0) << unpacked.output;
    }
    const auto trained = run("train --format seg --corpus " + dir.path("train") + " --workspace " + dir.path("ws") +
                             " --classifier svm --dim 100000");
    ASSERT_EQ(trained.status, 0) << trained.output;
    const auto classified =
        run("classify --format seg --test --workspace " + dir.path("ws") + " --corpus " + dir.path("test"));
    ASSERT_EQ(classified.status, 0) << classified.output;

    // features.txt holds terms of every kind, each read back whole: the
    // text between the id and the idf.
    size_t kinds[3] = {0, 0, 0};
    kestrel::forEachLine(dir.read("ws/features.txt"), [&](std::string_view line) {
        const size_t first = line.find(' '), last = line.rfind(' ');
        ASSERT_NE(first, last) << line;
        const std::string_view term = line.substr(first + 1, last - first - 1);
        ++kinds[term[0] == '#' ? 1 : term.find('+') != std::string_view::npos ? 2 : 0];
    });
    EXPECT_GT(kinds[0], 100u);
    EXPECT_GT(kinds[1], kinds[0]);
    EXPECT_GT(kinds[2], 100u);
    EXPECT_NE(dir.read("ws/result.dat"), "");
}
