// The kestrel command run as a user runs it: exit codes, messages and the
// files of a whole train/classify run on the segmented sample corpus.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "common/FileSystem.h"

using kestrel::testing::TempDir;

namespace {

struct Outcome {
    int status = -1;
    std::string output;  // standard output and standard error together
};

Outcome run(const std::string& arguments) {
    const std::string command = std::string(KESTREL_BIN_DIR) + "/kestrel " + arguments + " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
    const int raw = pclose(pipe);
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return outcome;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CommandLine, RefusesBadInvocationsWithClearMessages) {
    TempDir dir;
    Outcome o = run("");
    EXPECT_NE(o.status, 0);
    o = run("frobnicate");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "unknown command frobnicate")) << o.output;
    o = run("train --corpus " + dir.dir() + " --dim many");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "--dim")) << o.output;
    o = run("train --corpus " + dir.dir() + " --dim 0");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "bad value for --dim: 0")) << o.output;
    o = run("train --corpus " + dir.dir() + " --bogus");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "unknown option --bogus")) << o.output;
    o = run("train");
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(contains(o.output, "--corpus")) << o.output;

    // A missing corpus, then one without documents.
    o = run("train --corpus " + dir.path("missing"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "does not exist")) << o.output;
    dir.mkdir("empty/A");
    o = run("train --corpus " + dir.path("empty"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "不存在训练文档！")) << o.output;

    // A workspace that holds nothing.
    dir.mkdir("nothing");
    o = run("classify --workspace " + dir.path("nothing") + " --corpus " + dir.path("empty"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "读取分类模型失败！")) << o.output;
    EXPECT_TRUE(contains(o.output, "classes.txt")) << o.output;

    EXPECT_EQ(run("train --help").status, 0);
    EXPECT_EQ(run("classify --help").status, 0);
    EXPECT_EQ(run("--help").status, 0);
}

TEST(CommandLine, TrainsAndClassifiesTheSegmentedSample) {
    TempDir dir;
    std::filesystem::copy(std::string(KESTREL_SOURCE_DIR) + "/examples/sample-seg", dir.path("corpus"),
                          std::filesystem::copy_options::recursive);
    Outcome o = run("train --corpus " + dir.path("corpus/train") + " --format seg --dim 100 --select ig");
    ASSERT_EQ(o.status, 0) << o.output;
    const std::string workspace = dir.path("corpus/model/");
    for (const char* file : {"classes.txt", "features.txt", "fsinfo.dat", "params.dat", "train.dat"})
        EXPECT_TRUE(kestrel::fileExists(workspace + file)) << file;
    EXPECT_EQ(dir.read("corpus/model/fsinfo.dat").substr(0, 12), "IG # FSMode\n");

    o = run("classify --workspace " + workspace + " --corpus " + dir.path("corpus/test") +
            " --format seg --test --export");
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(contains(o.output, "总测试文档数：16")) << o.output;
    EXPECT_TRUE(contains(o.output, "当前类别：")) << o.output;
    EXPECT_TRUE(kestrel::fileExists(workspace + "result.dat"));
    EXPECT_TRUE(kestrel::fileExists(workspace + "分类评价.xlsx"));

    // An unlabelled corpus: every document with its category.
    o = run("classify --workspace " + workspace + " --corpus " + dir.path("corpus/unlabelled") + " --format seg");
    ASSERT_EQ(o.status, 0) << o.output;
    std::vector<std::string> lines;
    kestrel::readLines(workspace + "result.dat", lines);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) EXPECT_TRUE(contains(line, ".txt -1 ")) << line;
}

TEST(CommandLine, SegmentReportsDamagedAndBinaryInput) {
    TempDir dir;
    const std::string data = std::string(" --data ") + KESTREL_DATA_DIR + " ";
    dir.write("bad.txt", "今天天气很好\xFF我们去公园吧😀\n");
    Outcome o = run("segment --plain" + data + dir.path("bad.txt"));
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(contains(o.output, dir.path("bad.txt") + ": 1 byte that is not valid UTF-8")) << o.output;
    EXPECT_TRUE(contains(o.output, "\xEF\xBF\xBD")) << o.output;
    EXPECT_TRUE(contains(o.output, "😀")) << o.output;
    std::string binary;
    for (int i = 0; i < 2048; ++i) binary.push_back(static_cast<char>((i * 131) & 0xFF));
    dir.write("b.bin", binary);
    o = run("segment" + data + dir.path("b.bin"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "b.bin is not a text file")) << o.output;
}
