// Term options through the stream commands: segment --seg --terms, then
// unpack-seg, train --format seg and classify --format seg.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

using kestrel::testing::TempDir;

namespace {

// Runs a shell command; its exit status and standard output and error.
std::pair<int, std::string> shellOutput(const std::string& command) {
    std::pair<int, std::string> result{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.second.append(buffer, n);
    const int raw = pclose(pipe);
    result.first = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

const std::string kKestrel = std::string(KESTREL_BIN_DIR) + "/kestrel";
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
    auto [status, output] = shellOutput(kKestrel + " segment --seg --terms chars:3-1" + kData + " " +
                                        dir.path("in.txt"));
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("--terms: \"chars:3-1\": the shorter length comes first"), std::string::npos) << output;
    std::tie(status, output) = shellOutput(kKestrel + " segment --terms words " + dir.path("in.txt"));
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("--terms"), std::string::npos) << output;

    const auto plain = shellOutput(kKestrel + " segment --seg" + kData + " " + dir.path("in.txt"));
    const auto words = shellOutput(kKestrel + " segment --seg --terms words" + kData + " " + dir.path("in.txt"));
    ASSERT_EQ(plain.first, 0) << plain.second;
    EXPECT_EQ(words, plain);
    EXPECT_EQ(plain.second.find('#'), std::string::npos);

    const auto all =
        shellOutput(kKestrel + " segment --seg --terms pairs,words,chars:2" + kData + " " + dir.path("in.txt"));
    ASSERT_EQ(all.first, 0) << all.second;
    // The words come first, as they were; then the n-grams and the pairs.
    const size_t wordsPart = plain.second.size() - 1;  // without the line end
    EXPECT_EQ(all.second.substr(0, wordsPart), plain.second.substr(0, wordsPart));
    EXPECT_NE(all.second.find(" #中国:1 #国人:1 #人民:1 #Wi:1 #in:1 #n7:1 #网络:1"), std::string::npos) << all.second;
}

TEST(TermStream, ACorpusOfNgramsAndPairsTrainsAndClassifies) {
    TempDir dir;
    const std::string sample = std::string(KESTREL_SOURCE_DIR) + "/examples/sample/";
    dir.write("train.txt", records(sample + "train"));
    dir.write("test.txt", records(sample + "test"));
    for (const char* split : {"train", "test"}) {
        const std::string s = split;
        const auto segmented = shellOutput(kKestrel + " segment --seg --terms words,chars:1-2,pairs" + kData +
                                           " < " + dir.path(s + ".txt") + " > " + dir.path(s + ".seg.txt"));
        ASSERT_EQ(segmented.first, 0) << segmented.second;
        const auto unpacked = shellOutput(kKestrel + " unpack-seg --to " + dir.path(s) + " " +
                                          dir.path(s + ".seg.txt"));
        ASSERT_EQ(unpacked.first, 0) << unpacked.second;
    }
    const auto trained = shellOutput(kKestrel + " train --format seg --corpus " + dir.path("train") +
                                     " --workspace " + dir.path("ws") + " --classifier svm --dim 100000");
    ASSERT_EQ(trained.first, 0) << trained.second;
    const auto classified = shellOutput(kKestrel + " classify --format seg --test --workspace " + dir.path("ws") +
                                        " --corpus " + dir.path("test"));
    ASSERT_EQ(classified.first, 0) << classified.second;

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
