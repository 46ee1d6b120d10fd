// The stream commands (segment --seg, unpack-seg) on damaged, cut and
// hostile input: nothing is dropped in silence or written outside the
// output directory; svm-classify on a model that contradicts itself; a
// terminated experiment cleans up after itself.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CommandOutcome.h"
#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

using kestrel::testing::TempDir;
namespace fs = std::filesystem;

namespace {

using kestrel::testing::contains;
using kestrel::testing::Outcome;

// Runs a shell command line in which $K is the kestrel program.
Outcome shell(const std::string& line) {
    return kestrel::testing::runShell("K=" + std::string(KESTREL_BIN_DIR) + "/kestrel; " + line);
}

const std::string kData = std::string(" --data ") + KESTREL_DATA_DIR + " ";

// Sanitizers reserve terabytes of address space: a limit on it cannot work.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCanLimitAddressSpace = false;
#else
constexpr bool kCanLimitAddressSpace = true;
#endif

}  // namespace

// A last record without its newline was cut off: refused by line number;
// a category that is a symbolic link is never written through.
TEST(StreamCommands, UnpackRefusesCutRecordsAndSymbolicLinks) {
    TempDir dir;
    dir.write("cut.txt", "a/whole\t中国:12\na/doc\t中国:1");
    Outcome o = shell("$K unpack-seg --to " + dir.path("out") + " " + dir.path("cut.txt"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "line 2: the last record has no newline")) << o.output;
    EXPECT_TRUE(kestrel::fileExists(dir.path("out/a/whole.seg")));
    EXPECT_FALSE(kestrel::fileExists(dir.path("out/a/doc.seg")));

    dir.mkdir("outside");
    dir.mkdir("to");
    fs::create_symlink("../outside", dir.path("to/cat"));
    o = shell("printf 'cat/x\\tw:1\\nother/y\\tw:2\\n' | $K unpack-seg --to " + dir.path("to"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "line 1: ")) << o.output;
    EXPECT_TRUE(contains(o.output, "is a symbolic link")) << o.output;
    EXPECT_FALSE(kestrel::fileExists(dir.path("outside/x.seg")));
    EXPECT_EQ(dir.read("to/other/y.seg"), "w:2\n");
    // A link in place of a file is replaced, its target left alone.
    dir.write("outside/target", "keep");
    fs::create_symlink("../../outside/target", dir.path("to/other/z.seg"));
    o = shell("printf 'other/z\\tw:3\\n' | $K unpack-seg --to " + dir.path("to"));
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_EQ(dir.read("outside/target"), "keep");
    EXPECT_EQ(dir.read("to/other/z.seg"), "w:3\n");
}

// Reading errors are named with the input and the reason; a record past
// the size limit is refused by line number without being read whole, and
// the records after it are kept.
TEST(StreamCommands, ReadFailuresAndHugeRecordsAreReported) {
    TempDir dir;
    dir.mkdir("adir");
    Outcome o = shell("$K segment --seg" + kData + dir.path("adir"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "cannot read " + dir.path("adir") + ": Is a directory")) << o.output;
    o = shell("$K unpack-seg --to " + dir.path("out") + " " + dir.path("adir"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "cannot read " + dir.path("adir") + ": Is a directory")) << o.output;

    {
        std::ofstream big(dir.path("big.txt"), std::ios::binary);
        big << "A/1\t今天天气很好\nA/2\t";
        const std::string block(1u << 20, 'a');
        for (int i = 0; i < 65; ++i) big << block;
        big << "\nA/3\t我们去公园\n";
    }
    // Within 400 MB of address space, which holding and segmenting the
    // record would exceed.
    const std::string limit = kCanLimitAddressSpace ? "ulimit -v 400000; " : "";
    o = shell(limit + "$K segment --seg" + kData + "< " + dir.path("big.txt"));
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(contains(o.output, "line 2: a record longer than 64 MB")) << o.output.substr(0, 2000);
    EXPECT_TRUE(contains(o.output, "A/1\t")) << o.output.substr(0, 2000);
    EXPECT_TRUE(contains(o.output, "A/3\t")) << o.output.substr(0, 2000);
}

// Under a memory limit too small for a record, the run fails with a
// message; every record is either written or reported.
TEST(StreamCommands, NothingIsDroppedUnderAMemoryLimit) {
    if (!kCanLimitAddressSpace) GTEST_SKIP() << "address space cannot be limited under the sanitizers";
    TempDir dir;
    {
        std::ofstream in(dir.path("in.txt"), std::ios::binary);
        in << "A/1\t今天天气很好\nA/2\t";
        for (int i = 0; i < 1000000; ++i) in << "天气很好 ";
        in << "\nA/3\t我们去公园\n";
    }
    const Outcome o = shell("ulimit -v 400000; $K segment --seg" + kData + "< " + dir.path("in.txt"));
    EXPECT_NE(o.status, 134) << "died";
    EXPECT_TRUE(contains(o.output, "A/1\t")) << o.output.substr(0, 2000);
    EXPECT_TRUE(contains(o.output, "A/3\t")) << o.output.substr(0, 2000);
    if (o.status == 0) {
        EXPECT_TRUE(contains(o.output, "A/2\t")) << o.output.substr(0, 2000);
    } else {
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(contains(o.output, "line 2: not enough memory")) << o.output.substr(0, 2000);
    }
}

// A model whose support vectors use features above its declared highest
// feature index is refused instead of classifying with part of them.
TEST(StreamCommands, SvmClassifyRefusesAModelThatContradictsItself) {
    TempDir dir;
    const std::string header =
        "SVM-light Version V3.50\n0 # kernel type\n1 # kernel parameter -d \n1 # kernel parameter -g \n"
        "1 # kernel parameter -s \n1 # kernel parameter -r \nempty # kernel parameter -u \n";
    const std::string rest = " # highest feature index \n2 # number of training documents \n"
                             "3 # number of support vectors plus 1 \n0 # threshold b \n1 1:1 3:1 \n-1 2:1 5:1 \n";
    dir.write("good.mdl", header + "5" + rest);
    dir.write("bad.mdl", header + "3" + rest);
    dir.write("in.dat", "1 1:1 5:1\n-1 2:1\n");
    Outcome o = shell("$K svm-classify " + dir.path("in.dat") + " " + dir.path("good.mdl") + " " + dir.path("out"));
    EXPECT_EQ(o.status, 0) << o.output;
    o = shell("$K svm-classify " + dir.path("in.dat") + " " + dir.path("bad.mdl") + " " + dir.path("out2"));
    EXPECT_NE(o.status, 0);
    EXPECT_TRUE(contains(o.output, "above the highest feature index 3")) << o.output;
    EXPECT_FALSE(kestrel::fileExists(dir.path("out2")));
}

// SIGTERM stops an experiment as Ctrl-C does: its temporary workspace is
// removed and the status is 143; one left by a killed run is removed by the
// next run, one kept on purpose stays.
TEST(StreamCommands, TerminatedExperimentsLeaveNoTemporaryWorkspace) {
    TempDir dir;
    fs::copy(std::string(KESTREL_SOURCE_DIR) + "/examples/sample-seg/train", dir.path("corpus"),
             fs::copy_options::recursive);
    const std::string ws = dir.path("ws");
    dir.mkdir("ws/experiment-999999999");  // no such process
    dir.write("ws/experiment-999999998/.kept", "");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        const std::string program = std::string(KESTREL_BIN_DIR) + "/kestrel";
        const std::string corpus = dir.path("corpus");
        execl(program.c_str(), program.c_str(), "experiment", "--corpus", corpus.c_str(), "--format", "seg",
              "--workspace", ws.c_str(), "--folds", "2", "--repeat", "200", "--dim", "5,10", "--threads", "1",
              nullptr);
        _exit(127);
    }
    const std::string scratch = ws + "/experiment-" + std::to_string(pid);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(scratch + "/r1-fold1") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 143);
    EXPECT_FALSE(fs::exists(scratch));
    EXPECT_FALSE(fs::exists(ws + "/experiment-999999999"));
    EXPECT_TRUE(fs::exists(ws + "/experiment-999999998"));
}
