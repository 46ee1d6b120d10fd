// kestrel train and classify killed at several points of a run, and run on a
// full disk: the workspace then holds the old or the new state as a whole,
// loads, and the next run succeeds and leaves no temporary files behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "TestSupport.h"
#include "app/TextClassifier.h"
#include "common/FileSystem.h"

using kestrel::testing::TempDir;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Starts kestrel with `args` (output discarded); returns its process id.
pid_t start(const std::vector<std::string>& args) {
    std::fflush(nullptr);  // or the child writes this process's buffered output again
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(127);
        std::vector<char*> argv;
        const std::string program = std::string(KESTREL_BIN_DIR) + "/kestrel";
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run(const std::vector<std::string>& args) { return finish(start(args)); }

using Files = std::map<std::string, std::string>;

// The workspace files a run writes, by name (absent files are left out).
Files filesOf(const std::string& dir, std::initializer_list<const char*> names) {
    Files files;
    for (const char* name : names) {
        if (const auto content = kestrel::readFile(dir + name)) files[name] = *content;
    }
    return files;
}

// Names under `dir` (recursively) that a killed writer may leave behind.
std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp") != std::string::npos || name.starts_with(".kestrel-staging") ||
            name.starts_with(".kestrel-commit"))
            found.push_back(e.path().string());
    }
    return found;
}

bool loads(const std::string& workspace) {
    kestrel::TextClassifier controller;
    controller.workspacePath = workspace;
    return controller.loadClassifier().ok();
}

constexpr std::initializer_list<const char*> kTrainFiles = {"classes.txt", "features.txt", "fsinfo.dat",
                                                            "params.dat", "train.dat"};

}  // namespace

TEST(FaultInjection, KilledTrainAndClassifyLeaveOneConsistentState) {
    const std::string cn10 = std::string(KESTREL_SHARED_DIR) + "/corpora/cn10/";
    if (!kestrel::isDirectory(cn10 + "train")) GTEST_SKIP() << "no corpus at " << cn10 << ": kill test skipped";
    TempDir dir;
    // Half of the categories: a run of a few seconds, killed nine times.
    dir.mkdir("train");
    dir.mkdir("test");
    for (const auto& category : kestrel::listSubdirectories(cn10 + "train").valueOr({})) {
        if (kestrel::listSubdirectories(dir.path("train")).valueOr({}).size() == 5) break;
        fs::copy(cn10 + "train/" + category, dir.path("train/" + category), fs::copy_options::recursive);
        fs::copy(cn10 + "test/" + category, dir.path("test/" + category), fs::copy_options::recursive);
    }
    const std::string ws = dir.dir() + "ws/";
    const std::vector<std::string> oldRun = {"train", "--corpus", dir.path("train"), "--workspace", ws, "--dim", "50"};
    const std::vector<std::string> newRun = {"train",    "--corpus",     dir.path("train"), "--workspace", ws,
                                             "--dim",    "400",          "--classifier",    "svm"};
    ASSERT_EQ(run(oldRun), 0);
    const Files oldState = filesOf(ws, kTrainFiles);
    auto begun = Clock::now();
    ASSERT_EQ(run(newRun), 0);
    const auto trainTime = Clock::now() - begun;
    const Files newState = filesOf(ws, kTrainFiles);
    ASSERT_EQ(run(oldRun), 0);
    ASSERT_NE(oldState, newState);

    int olds = 0, news = 0;
    for (const double at : {0.15, 0.4, 0.65, 0.85, 0.97}) {
        const pid_t pid = start(newRun);
        std::this_thread::sleep_for(trainTime * at);
        kill(pid, SIGKILL);
        finish(pid);
        ASSERT_TRUE(loads(ws)) << "killed at " << at;
        const Files state = filesOf(ws, kTrainFiles);
        if (state == oldState) ++olds;
        else if (state == newState) ++news;
        else ADD_FAILURE() << "killed at " << at << ": the workspace mixes two runs";
    }
    ASSERT_EQ(run(newRun), 0);
    EXPECT_EQ(filesOf(ws, kTrainFiles), newState);
    EXPECT_EQ(leftovers(dir.dir()), std::vector<std::string>{});

    // classify: SVM models, test.dat and result.dat appear together.
    const std::vector<std::string> classify = {"classify", "--workspace", ws, "--corpus", dir.path("test"), "--test"};
    const auto outputs = {"test.dat", "result.dat", "model1.mdl", "model5.mdl"};
    begun = Clock::now();
    ASSERT_EQ(run(classify), 0);
    const auto classifyTime = Clock::now() - begun;
    const Files classified = filesOf(ws, outputs);
    ASSERT_EQ(classified.size(), 4u);
    std::printf("train killed at 5 points: %d left the old state, %d the new one\n", olds, news);
    olds = news = 0;
    for (const double at : {0.2, 0.5, 0.8, 0.95}) {
        kestrel::TextClassifier controller;
        controller.workspacePath = ws;
        // Outputs removed through an update, as a run would, so that the
        // manifest agrees: the state before is "no classification yet".
        ASSERT_TRUE(controller.beginUpdate("test"));
        fs::remove(controller.workDirectory() + "result.dat");
        fs::remove(controller.workDirectory() + "test.dat");
        fs::remove(controller.workDirectory() + "model1.mdl");
        fs::remove(controller.workDirectory() + "model5.mdl");
        ASSERT_TRUE(controller.commitUpdate());
        controller.endUpdates();
        const Files before = filesOf(ws, outputs);

        const pid_t pid = start(classify);
        std::this_thread::sleep_for(classifyTime * at);
        kill(pid, SIGKILL);
        finish(pid);
        ASSERT_TRUE(loads(ws)) << "killed at " << at;
        const Files state = filesOf(ws, outputs);
        if (state == before) ++olds;
        else if (state == classified) ++news;
        else ADD_FAILURE() << "killed at " << at << ": a partial classification";
        EXPECT_EQ(filesOf(ws, kTrainFiles), newState);
    }
    std::printf("classify killed at 4 points: %d left the old state, %d the new one\n", olds, news);
    ASSERT_EQ(run(classify), 0);
    EXPECT_EQ(filesOf(ws, outputs), classified);
    EXPECT_EQ(leftovers(dir.dir()), std::vector<std::string>{});
}

TEST(FaultInjection, FullDiskFailsTheRunAndKeepsTheWorkspace) {
    TempDir dir;
    dir.mkdir("disk");
    const std::string disk = dir.dir() + "disk/";
    if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs (needs root): full-disk test skipped";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    fs::copy(std::string(KESTREL_SOURCE_DIR) + "/examples/sample", dir.path("corpus"), fs::copy_options::recursive);
    fs::copy(dir.path("corpus/train"), disk + "train", fs::copy_options::recursive);
    const std::string ws = disk + "ws/";
    ASSERT_EQ(run({"train", "--corpus", dir.path("corpus/train"), "--workspace", ws, "--dim", "20"}), 0);
    const Files before = filesOf(ws, kTrainFiles);
    // Leave too little room for the larger files of the next run.
    for (int kb = 1024; kb > 0 && !kestrel::writeFileAtomically(disk + "pad", std::string(size_t(kb) * 1024, 'x'));
         kb -= 4) {
    }
    EXPECT_NE(run({"train", "--corpus", dir.path("corpus/train"), "--workspace", ws, "--dim", "2000"}), 0);
    EXPECT_EQ(filesOf(ws, kTrainFiles), before);
    EXPECT_TRUE(loads(ws));

    // A raw corpus whose .seg files cannot be written: nothing was
    // preprocessed, and that is a failure, not a run with 0 documents.
    EXPECT_NE(run({"train", "--corpus", disk + "train", "--workspace", dir.path("ws2")}), 0);

    fs::remove(disk + "pad");
    fs::remove_all(disk + "train");
    EXPECT_EQ(run({"train", "--corpus", dir.path("corpus/train"), "--workspace", ws, "--dim", "2000"}), 0);
    EXPECT_NE(filesOf(ws, kTrainFiles), before);
    EXPECT_EQ(leftovers(disk), std::vector<std::string>{});
}
