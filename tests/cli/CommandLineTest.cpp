// The kestrel command run as a user runs it: exit codes, messages and the
// files of a whole train/classify run on the segmented sample corpus.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "CommandOutcome.h"
#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

using kestrel::testing::TempDir;

using kestrel::testing::contains;
using kestrel::testing::Outcome;
using kestrel::testing::run;

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
    const std::vector<std::string> lines = kestrel::readLines(workspace + "result.dat").valueOr({});
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

namespace {

// Runs a shell command line; its exit status.
int shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The ".seg" files below `root`, by path relative to it.
std::map<std::string, std::string> segFilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.path().extension() == ".seg")
            files[std::filesystem::relative(entry.path(), root).string()] =
                kestrel::readFile(entry.path().string()).valueOr({});
    return files;
}

}  // namespace

TEST(CommandLine, SegmentedRecordsInShardsUnpackToTheFilesTrainingWrites) {
    TempDir dir;
    std::filesystem::copy(std::string(KESTREL_SOURCE_DIR) + "/examples/sample/train", dir.path("corpus"),
                          std::filesystem::copy_options::recursive);
    // One record per document, its line breaks written as blanks, in two
    // shards of UTF-8 records.
    std::string shards[2];
    size_t n = 0;
    for (const auto& category : kestrel::listSubdirectories(dir.path("corpus")).valueOr({}))
        for (const auto& name : kestrel::listFiles(dir.path("corpus/" + category), ".txt").valueOr({})) {
            std::string text = kestrel::gbkToUtf8(kestrel::toGbk(dir.read("corpus/" + category + "/" + name)));
            for (char& c : text)
                if (c == '\n' || c == '\r') c = ' ';
            shards[n++ % 2] += category + "/" + kestrel::fileTitle(name) + "\t" + text + "\n";
        }
    ASSERT_GT(n, 4u);
    dir.write("shard0.txt", shards[0]);
    dir.write("shard1.txt", shards[1]);
    Outcome o = run("train --corpus " + dir.path("corpus") + " --dim 50");
    ASSERT_EQ(o.status, 0) << o.output;

    const std::string kestrel = std::string(KESTREL_BIN_DIR) + "/kestrel";
    for (int s = 0; s < 2; ++s)
        ASSERT_EQ(shell(kestrel + " segment --seg < " + dir.path("shard" + std::to_string(s) + ".txt") + " > " +
                        dir.path("seg" + std::to_string(s) + ".txt")),
                  0);
    o = run("unpack-seg --to " + dir.path("unpacked") + " " + dir.path("seg0.txt") + " " + dir.path("seg1.txt"));
    ASSERT_EQ(o.status, 0) << o.output;
    const auto trained = segFilesBelow(dir.path("corpus"));
    EXPECT_EQ(trained.size(), n);
    EXPECT_EQ(segFilesBelow(dir.path("unpacked")), trained);
}

TEST(CommandLine, BadRecordsAreNamedByLineAndFailTheRun) {
    TempDir dir;
    const std::string data = std::string(" --data ") + KESTREL_DATA_DIR + " ";
    dir.write("in.txt", "A/1\t今天天气很好\nno tab here\n\t没有编号\nA/2\t\nA/3\t坏\xFF字节\nA/4\t我们去公园\n");
    Outcome o = run("segment --seg" + data + dir.path("in.txt"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "A/1\t")) << o.output;
    EXPECT_TRUE(contains(o.output, "A/4\t")) << o.output;
    EXPECT_TRUE(contains(o.output, "A/2\t\n")) << o.output;  // kept, with a warning
    EXPECT_TRUE(contains(o.output, "line 2: no TAB")) << o.output;
    EXPECT_TRUE(contains(o.output, "line 3: the document id before the TAB is empty")) << o.output;
    EXPECT_TRUE(contains(o.output, "line 4: warning: document A/2 has no text")) << o.output;
    EXPECT_TRUE(contains(o.output, "line 5: the record of document A/3 is not valid UTF-8")) << o.output;
    EXPECT_FALSE(contains(o.output, "A/3\t")) << o.output;

    dir.write("seg.txt", "A/1\t天气:2 很好:1\n../x\ta:1\nA/2\ta:0\nA/1\tb:1\nA/5\tword\nB/c/d\ta:1\nt\t\n");
    o = run("unpack-seg --to " + dir.path("out") + " " + dir.path("seg.txt"));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(dir.read("out/A/1.seg"), kestrel::utf8ToGbk("天气:2\n很好:1\n"));
    EXPECT_TRUE(kestrel::fileExists(dir.path("out/t.seg")));
    EXPECT_EQ(dir.read("out/t.seg"), "");
    const std::vector<std::string> refused = {
        "line 2: the document id", "line 3: \"a:0\"",
        "line 4: document A/1 appeared before (" + dir.path("seg.txt") + ": line 1)", "line 5: \"word\"",
        "line 6: the document id"};
    for (const std::string& line : refused)
        EXPECT_TRUE(contains(o.output, line)) << line << "\n" << o.output;
    EXPECT_FALSE(kestrel::fileExists(dir.path("x.seg")));
    EXPECT_FALSE(kestrel::fileExists(dir.path("out/A/2.seg")));
}

TEST(CommandLine, EveryCommandRefusesBadOptionsWithStatusTwo) {
    const std::pair<const char*, const char*> cases[] = {
        {"classify --workspace w --corpus c --format doc", "bad value for --format: doc"},
        {"classify --workspace w --corpus c --threads x", "bad value for --threads: x"},
        {"classify --workspace w --corpus c --export", "--export needs --test"},
        {"classify --corpus c", "classify needs --workspace DIR and --corpus DIR"},
        {"classify --workspace w --corpus c stray", "unexpected argument stray"},
        {"train --corpus c -k 101", "bad value for -k: 101"},
        {"train --corpus c --select pca", "bad value for --select: pca"},
        {"train --corpus c --kernel cubic",
         "option --kernel: expected linear, poly, rbf, sigmoid or a code 0 to 3, not \"cubic\""},
        {"experiment --corpus c --kernel cubic", "bad value for --kernel: cubic"},
        {"experiment --corpus c --select 4", "bad value for --select: 4"},
        {"train --corpus c -g wide", "option -g: expected a number, not \"wide\""},
        {"train --corpus", "--corpus"},
        {"experiment --corpus c --dim 10,,20", "bad value for --dim: 10,,20"},
        {"experiment --corpus c --folds 1", "cross-validation needs at least 2 folds"},
        {"experiment --corpus c --test t --folds 5", "--folds and --repeat belong to cross-validation"},
        {"svm-learn --category 1 -C -1 a b", "option -C: expected a number 0 or more, not \"-1\""},
        {"svm-learn a b", "--category K is required"},
        {"svm-classify a b", "expected INPUT.dat MODEL.mdl OUTPUT"},
        {"segment --encoding latin1 x", "unknown encoding 'latin1' (use utf8 or gbk)"},
        {"segment --frob x", "unknown option --frob"},
        {"segment", "no input file given"},
        {"unpack-seg", "--to"},
    };
    for (const auto& [arguments, message] : cases) {
        const Outcome o = run(arguments);
        EXPECT_EQ(o.status, 2) << arguments << "\n" << o.output;
        EXPECT_TRUE(contains(o.output, message)) << arguments << "\n" << o.output;
    }
    // A negative number is a value, not an option; the last of two values counts.
    const Outcome o = run("train --corpus missing-corpus -s -0.5 --dim 3 --dim 4");
    EXPECT_EQ(o.status, 1) << o.output;
    EXPECT_TRUE(contains(o.output, "does not exist")) << o.output;
    // Every command takes the same words, and the codes, for the same value.
    for (const char* options : {"--kernel polynomial --select rs --similarity euclidean --classifier svm",
                                "--kernel 1 --select 3 --similarity 2 --classifier 1", "--kernel poly"}) {
        for (const char* command : {"train", "experiment"}) {
            const Outcome accepted = run(std::string(command) + " --corpus missing-corpus " + options);
            EXPECT_EQ(accepted.status, 1) << command << " " << options << "\n" << accepted.output;
            EXPECT_TRUE(contains(accepted.output, "does not exist")) << accepted.output;
        }
    }
    for (const char* command : {"segment", "unpack-seg", "experiment", "svm-learn", "svm-classify"}) {
        const Outcome help = run(std::string(command) + " --help");
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_TRUE(help.output.starts_with(std::string("Usage: kestrel ") + command)) << help.output;
    }
}

TEST(CommandLine, SegmentedRecordsInGb18030StayGb18030) {
    TempDir dir;
    const std::string data = std::string(" --data ") + KESTREL_DATA_DIR + " ";
    dir.write("in.txt", kestrel::utf8ToGbk("a\t我们喜欢学习中文。我们喜欢中文\n"));
    const Outcome o = run("segment --seg --encoding gbk" + data + dir.path("in.txt"));
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(o.output, kestrel::utf8ToGbk("a\t喜欢:2 学习:1 中文:2\n"));
}
