#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

using namespace kestrel;
using kestrel::testing::TempDir;

TEST(Encoding, DetectsAndConvertsPerFile) {
    const std::string gbk = "\xD6\xD0\xB9\xFA";  // 中国
    EXPECT_EQ(utf8ToGbk("中国"), gbk);
    EXPECT_EQ(gbkToUtf8(gbk), "中国");
    EXPECT_EQ(toGbk("中国"), gbk);
    EXPECT_EQ(toGbk("\xEF\xBB\xBF" "中国"), gbk);      // BOM dropped
    EXPECT_EQ(toGbk(gbk), gbk);                        // GBK stays
    EXPECT_EQ(toGbk("plain ascii"), "plain ascii");
    EXPECT_EQ(toUtf8(gbk), "中国");
    EXPECT_FALSE(looksLikeUtf8(gbk));
    EXPECT_FALSE(looksLikeUtf8("ascii only"));
    // A character without a GBK form becomes a blank.
    EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a b");
    // Malformed GBK shows as a replacement character, never lost silently.
    EXPECT_EQ(gbkToUtf8("\x81"), "\xEF\xBF\xBD");
    EXPECT_EQ(gbkToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    // GB18030 four-byte sequences convert.
    EXPECT_EQ(gbkToUtf8("\x81\x30\x81\x30"), "\xC2\x80");
}

TEST(FileSystem, ListsSortedVisibleFilesWithCaseInsensitiveExtension) {
    TempDir dir;
    dir.write("b.txt", "");
    dir.write("a.TXT", "");
    dir.write(".hidden.txt", "");
    dir.write("c.seg", "");
    dir.write("txt", "");
    dir.mkdir("d.txt");
    dir.mkdir("sub2");
    dir.mkdir("sub1");
    dir.mkdir(".git");
    EXPECT_EQ(listFiles(dir.dir(), ".txt"), (std::vector<std::string>{"a.TXT", "b.txt"}));
    EXPECT_EQ(listSubdirectories(dir.dir()), (std::vector<std::string>{"d.txt", "sub1", "sub2"}));
    std::string error;
    EXPECT_TRUE(listFiles(dir.path("none"), ".txt", &error).empty());
    EXPECT_NE(error.find("none"), std::string::npos);
    EXPECT_EQ(fileTitle("x.y.seg"), "x.y");
    EXPECT_EQ(withTrailingSlash("a"), "a/");
    EXPECT_EQ(withTrailingSlash("a/"), "a/");
}

TEST(FileSystem, LinesEndWithCrLfOrLf) {
    std::vector<std::string> lines;
    forEachLine("a\r\nb\n\nc", [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "c"}));
}

TEST(FileSystem, AFailedWriteLeavesTheOldFile) {
    TempDir dir;
    dir.write("f.txt", "old");
    {
        AtomicFileWriter w(dir.path("f.txt"));
        w.write("half");
        // destroyed without commit: the target keeps its content
    }
    EXPECT_EQ(dir.read("f.txt"), "old");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir.path("no/such/dir/f.txt"), "x", &error));
    EXPECT_NE(error.find("f.txt"), std::string::npos);
    if (geteuid() != 0) {
        chmod(dir.dir().c_str(), 0500);
        EXPECT_FALSE(writeFileAtomically(dir.path("f.txt"), "new", &error));
        chmod(dir.dir().c_str(), 0700);
        EXPECT_EQ(dir.read("f.txt"), "old");
    }
    ASSERT_TRUE(writeFileAtomically(dir.path("f.txt"), "new"));
    EXPECT_EQ(dir.read("f.txt"), "new");
    // Small and large pieces keep their order.
    std::string big(300000, 'x');
    big[123456] = 'y';
    {
        AtomicFileWriter w(dir.path("f.txt"));
        w.write("head ");
        w.write(big);
        w.printf(" tail %d", 7);
        ASSERT_TRUE(w.commit());
    }
    EXPECT_EQ(dir.read("f.txt"), "head " + big + " tail 7");
    // No temporary file is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.dir())) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(FileSystem, BrokenLinksAreReportedNotSilentlySkipped) {
    TempDir dir;
    dir.write("c/A/1.txt", "x");
    dir.mkdir("c/B");
    ASSERT_EQ(symlink("nowhere.txt", dir.path("c/A/2.txt").c_str()), 0);
    ASSERT_EQ(symlink("3.txt", dir.path("c/A/3.txt").c_str()), 0);  // a loop
    ASSERT_EQ(symlink("missing-dir", dir.path("c/C").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.jpg", dir.path("c/A/4.jpg").c_str()), 0);  // not a document: no message
    std::vector<std::string> skipped;
    EXPECT_EQ(listFiles(dir.path("c/A"), ".txt", nullptr, &skipped), std::vector<std::string>{"1.txt"});
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_NE(skipped[0].find("points to nothing"), std::string::npos) << skipped[0];
    EXPECT_NE(skipped[1].find("loops"), std::string::npos) << skipped[1];
    skipped.clear();
    EXPECT_EQ(listSubdirectories(dir.path("c"), nullptr, &skipped), (std::vector<std::string>{"A", "B"}));
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_NE(skipped[0].find("c/C"), std::string::npos) << skipped[0];
}

TEST(FileSystem, InsideDirectoryResolvesLinksAndPathsYetToBeMade) {
    TempDir dir;
    dir.mkdir("corpus/train");
    ASSERT_EQ(symlink(dir.path("corpus").c_str(), dir.path("alias").c_str()), 0);
    EXPECT_TRUE(isInsideDirectory(dir.path("corpus/train/model/"), dir.path("corpus/train")));
    EXPECT_TRUE(isInsideDirectory(dir.path("alias/train/model"), dir.path("corpus/train/")));
    EXPECT_TRUE(isInsideDirectory(dir.path("corpus/train"), dir.path("corpus/train")));
    EXPECT_FALSE(isInsideDirectory(dir.path("corpus/model"), dir.path("corpus/train")));
    EXPECT_FALSE(isInsideDirectory(dir.path("corpus/train-model"), dir.path("corpus/train")));
}

TEST(FileSystem, StaleTemporaryFilesOfFinishedWritersAreRemoved) {
    TempDir dir;
    dir.write(".1.seg.tmp999999999-abcdef", "killed writer");
    dir.write(".2.seg.tmpAbCdEf", "older writer");
    const std::string live = ".3.seg.tmp" + std::to_string(getppid()) + "-abcdef";
    dir.write(live, "running writer");
    dir.write(".4.txt.tmp999999999-abcdef", "other kind");
    dir.write(".hidden.seg", "not a temporary file");
    EXPECT_EQ(removeStaleTemporaryFiles(dir.dir(), ".seg"), 2u);
    EXPECT_TRUE(fileExists(dir.path(live)));
    EXPECT_TRUE(fileExists(dir.path(".4.txt.tmp999999999-abcdef")));
    EXPECT_TRUE(fileExists(dir.path(".hidden.seg")));
    EXPECT_EQ(removeStaleTemporaryFiles(dir.dir()), 1u);
}
