// Workspace updates: all files or none, the lock, the manifest check and
// what the next run does with the leftovers of a killed one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "app/TextClassifier.h"
#include "workspace/WorkspaceTransaction.h"
#include "common/FileSystem.h"

using namespace kestrel;
using kestrel::testing::succeeded;
using kestrel::testing::TempDir;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ManifestEntry entryOf(const std::string& dir, const std::string& name) {
    ManifestEntry e;
    e.name = name;
    const FileChecksum checksum = fileChecksum(dir + name).valueOr({});
    e.size = checksum.size;
    e.crc = checksum.crc;
    return e;
}

}  // namespace

TEST(WorkspaceTransaction, FilesChangeTogetherOnCommitOnly) {
    TempDir dir;
    const std::string ws = dir.dir() + "ws/";
    dir.write("ws/classes.txt", "0 old\n");
    dir.write("ws/train.dat", "1 1:1\n");
    dir.write("ws/model2.mdl", "old model\n");
    dir.write("ws/notes.txt", "not ours\n");

    WorkspaceTransaction update(ws);
    ASSERT_TRUE(succeeded(update.begin("train")));
    // The staging directory starts with the current files and takes the new ones.
    EXPECT_EQ(dir.read("ws/.kestrel-staging/train.dat"), "1 1:1\n");
    EXPECT_FALSE(fileExists(update.directory() + "notes.txt"));
    ASSERT_TRUE(writeFileAtomically(update.directory() + "classes.txt", "0 new\n"));
    ASSERT_TRUE(writeFileAtomically(update.directory() + "train.dat", "1 2:1\n"));
    ASSERT_TRUE(removeFile(update.directory() + "model2.mdl"));
    EXPECT_EQ(dir.read("ws/classes.txt"), "0 old\n");

    // Abandoned: nothing changes, nothing is left behind.
    update.abandon();
    EXPECT_EQ(dir.read("ws/classes.txt"), "0 old\n");
    EXPECT_FALSE(isDirectory(ws + ".kestrel-staging"));
    EXPECT_FALSE(fileExists(ws + kManifestName));

    ASSERT_TRUE(succeeded(update.begin("train")));
    ASSERT_TRUE(writeFileAtomically(update.directory() + "classes.txt", "0 new\n"));
    ASSERT_TRUE(writeFileAtomically(update.directory() + "train.dat", "1 2:1\n"));
    ASSERT_TRUE(removeFile(update.directory() + "model2.mdl"));
    ASSERT_TRUE(succeeded(update.commit()));
    EXPECT_EQ(dir.read("ws/classes.txt"), "0 new\n");
    EXPECT_EQ(dir.read("ws/train.dat"), "1 2:1\n");
    EXPECT_FALSE(fileExists(ws + "model2.mdl"));
    EXPECT_EQ(dir.read("ws/notes.txt"), "not ours\n");
    EXPECT_FALSE(isDirectory(ws + ".kestrel-commit"));

    const Result<WorkspaceManifest> parsed = parseManifest(dir.read("ws/manifest.txt"));
    ASSERT_TRUE(succeeded(parsed.status()));
    const WorkspaceManifest& manifest = *parsed;
    EXPECT_TRUE(manifest.run.starts_with("train "));
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[1].name, "train.dat");
    EXPECT_EQ(manifest.files[1].size, 6u);
    EXPECT_EQ(manifest.files[1].crc, entryOf(ws, "train.dat").crc);

    // An update that changes nothing writes nothing.
    const std::string before = dir.read("ws/manifest.txt");
    ASSERT_TRUE(succeeded(update.begin("load")));
    EXPECT_TRUE(succeeded(update.verify("train.dat")));
    ASSERT_TRUE(succeeded(update.commit()));
    EXPECT_EQ(dir.read("ws/manifest.txt"), before);

    // A file changed behind the program's back is found by the reader.
    dir.write("ws/train.dat", "1 2:9\n");
    ASSERT_TRUE(succeeded(update.begin("load")));
    const Status changed = update.verify("train.dat");
    EXPECT_TRUE(contains(changed.message(), "train.dat")) << changed.message();
    EXPECT_TRUE(succeeded(update.verify("classes.txt")));
    // The run's own new file is not checked against the old record.
    ASSERT_TRUE(writeFileAtomically(update.directory() + "train.dat", "1 3:1\n"));
    EXPECT_TRUE(succeeded(update.verify("train.dat")));
}

TEST(WorkspaceTransaction, SecondRunIsRefusedAtOnce) {
    TempDir dir;
    WorkspaceTransaction first(dir.dir());
    WorkspaceTransaction second(dir.dir());
    ASSERT_TRUE(succeeded(first.begin("train")));
    const Status refused = second.begin("classify");
    EXPECT_TRUE(contains(refused.message(), "in use")) << refused.message();
    EXPECT_TRUE(contains(refused.message(), std::to_string(getpid()))) << refused.message();
    // Committing keeps the lock for the same run; releasing hands it on.
    ASSERT_TRUE(succeeded(first.commit()));
    EXPECT_FALSE(second.begin("classify").ok());
    first.release();
    EXPECT_TRUE(succeeded(second.begin("classify")));

    // The controller takes the same lock for each operation.
    TextClassifier controller;
    controller.workspacePath = dir.dir();
    const Status loaded = controller.loadClassifier();
    EXPECT_TRUE(contains(loaded.message(), "in use")) << loaded.message();
}

TEST(WorkspaceTransaction, NextRunCleansUpOrCompletesAKilledRun) {
    TempDir dir;
    const std::string ws = dir.dir();
    dir.write("classes.txt", "0 old\n");
    dir.write("features.txt", "old features\n");
    dir.write("train.dat", "old vectors\n");

    // Killed while staging: the staged files and temporary files go, the
    // old state stays. A temporary file of a live writer is kept.
    dir.write(".kestrel-staging/train.dat", "half\n");
    dir.write(".train.dat.tmp999999999-aB3xYz", "half\n");
    dir.write(".features.txt.tmpQ1w2E3", "half\n");
    const std::string live = ".result.dat.tmp" + std::to_string(getppid()) + "-aaaaaa";
    dir.write(live, "busy\n");
    {
        WorkspaceTransaction update(ws);
            ASSERT_TRUE(succeeded(update.begin("train")));
        EXPECT_EQ(dir.read(".kestrel-staging/train.dat"), "old vectors\n");
        update.release();
    }
    EXPECT_FALSE(isDirectory(ws + ".kestrel-staging"));
    EXPECT_FALSE(fileExists(ws + ".train.dat.tmp999999999-aB3xYz"));
    EXPECT_FALSE(fileExists(ws + ".features.txt.tmpQ1w2E3"));
    EXPECT_TRUE(fileExists(ws + live));
    EXPECT_EQ(dir.read("train.dat"), "old vectors\n");

    // Killed after the switch, with classes.txt already moved: the next run
    // puts the rest in place before it reads anything.
    dir.write(".kestrel-commit/features.txt", "new features\n");
    dir.write(".kestrel-commit/train.dat", "new vectors\n");
    dir.write("classes.txt", "0 new\n");
    WorkspaceManifest manifest;
    manifest.run = "train 2026-01-01T00:00:00Z 1";
    dir.write("new/features.txt", "new features\n");
    dir.write("new/train.dat", "new vectors\n");
    manifest.files = {entryOf(ws, "classes.txt"), entryOf(ws + "new/", "features.txt"),
                      entryOf(ws + "new/", "train.dat")};
    dir.write(".kestrel-commit/manifest.txt", manifestText(manifest));

    TextClassifier controller;
    controller.workspacePath = ws;
    dir.write("fsinfo.dat", "CHI # FSMode\n3 # OldDimensionality\n1 # NewDimensionality\n");
    // Completes the update first, whatever the files say.
    static_cast<void>(controller.loadClassifier());
    EXPECT_EQ(dir.read("features.txt"), "new features\n");
    EXPECT_EQ(dir.read("train.dat"), "new vectors\n");
    EXPECT_EQ(dir.read("manifest.txt"), manifestText(manifest));
    EXPECT_FALSE(isDirectory(ws + ".kestrel-commit"));
    // fsinfo.dat was not part of that run's files, so it goes.
    EXPECT_FALSE(fileExists(ws + "fsinfo.dat"));
}

TEST(WorkspaceTransaction, ManifestTextRoundTripsAndRejectsOtherFiles) {
    WorkspaceManifest manifest;
    manifest.run = "classify 2026-12-08T00:00:00Z 42";
    manifest.files = {{"model10.mdl", 12, 0xdeadbeef}, {"分类评价.xlsx", 0, 0}};
    const Result<WorkspaceManifest> parsed = parseManifest(manifestText(manifest));
    ASSERT_TRUE(succeeded(parsed.status()));
    const WorkspaceManifest& back = *parsed;
    EXPECT_EQ(back.run, manifest.run);
    ASSERT_EQ(back.files.size(), 2u);
    EXPECT_EQ(back.files[0].crc, 0xdeadbeefu);
    EXPECT_EQ(back.files[1].name, "分类评价.xlsx");
    for (const char* bad : {"", "Kestrel workspace manifest 1\n", "Kestrel workspace manifest 1\nrun x\n12 zz a\n",
                            "Kestrel workspace manifest 1\nrun x\n1 00000000 ../etc/passwd\n"})
        EXPECT_FALSE(parseManifest(bad).ok()) << bad;
    EXPECT_TRUE(isWorkspaceFileName("model3.mdl"));
    EXPECT_FALSE(isWorkspaceFileName("model.mdl"));
    EXPECT_FALSE(isWorkspaceFileName("modelx.mdl"));
}
