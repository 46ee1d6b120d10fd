#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "common/FileLineReader.h"
#include "common/FileLock.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "common/ParallelFor.h"
#include "common/Status.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <stdexcept>
#include <cmath>
#include <random>

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
    // A character without a GBK form becomes its four-byte GB18030 sequence.
    EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80" "b"), "a\x94\x39\xFC\x36" "b");
    // Malformed GBK shows as a replacement character, never lost silently.
    EXPECT_EQ(gbkToUtf8("\x81"), "\xEF\xBF\xBD");
    EXPECT_EQ(gbkToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    // GB18030 four-byte sequences convert.
    EXPECT_EQ(gbkToUtf8("\x81\x30\x81\x30"), "\xC2\x80");
}

TEST(Encoding, DetectsTheReadingThatExplainsTheBytesBest) {
    DecodeReport report;
    // A long UTF-8 text with one bad byte, and one whose last character is
    // cut off, stay UTF-8: one U+FFFD per bad byte.
    std::string utf8;
    for (int i = 0; i < 200; ++i) utf8 += "中文分词";
    EXPECT_EQ(decodeText(utf8.substr(0, 300) + "\xFF" + utf8.substr(300), &report),
              utf8ToGbk(utf8.substr(0, 300)) + "\x84\x31\xA4\x37" + utf8ToGbk(utf8.substr(300)));
    EXPECT_EQ(report.encoding, TextEncoding::kUtf8);
    EXPECT_EQ(report.replaced, 1u);
    EXPECT_NE(decodeWarning("a.txt", report).find("a.txt: 1 byte"), std::string::npos);
    decodeText("你好\xE4\xB8", &report);
    EXPECT_EQ(report.encoding, TextEncoding::kUtf8);
    EXPECT_EQ(report.replaced, 2u);

    // Short GBK texts that are, or almost are, valid UTF-8 stay GBK ("学习",
    // "学", "微平均").
    for (const std::string gbk : {"\xD1\xA7\xCF\xB0", "\xD1\xA7", "\xCE\xA2\xC6\xBD\xBE\xF9"}) {
        EXPECT_EQ(decodeText(gbk, &report), gbk);
        EXPECT_EQ(report.encoding, TextEncoding::kGb18030);
        EXPECT_EQ(report.replaced, 0u);
    }
    EXPECT_EQ(toUtf8("\xD1\xA7\xCF\xB0"), "学习");
    // European UTF-8 stays UTF-8.
    EXPECT_EQ(detectEncoding("caf\xC3\xA9"), TextEncoding::kUtf8);
    // GBK with a bad byte: the rest stays, 0x80 is the euro sign of code page 936.
    EXPECT_EQ(decodeText("\xD6\xD0\x80\xFF" "a", &report), "\xD6\xD0\xA2\xE3\x84\x31\xA4\x37" "a");
    EXPECT_EQ(report.replaced, 1u);

    // UTF-16 with a byte-order mark, either order; an unpaired surrogate is one U+FFFD.
    EXPECT_EQ(decodeText(std::string("\xFF\xFE\x2D\x4E\x87\x65\x3D\xD8\x00\xDE", 10), &report),
              utf8ToGbk("中文\xF0\x9F\x98\x80"));
    EXPECT_EQ(report.encoding, TextEncoding::kUtf16Le);
    EXPECT_EQ(decodeText(std::string("\xFE\xFF\x4E\x2D\xD8\x3D\x00\x41", 8), &report),
              utf8ToGbk("中") + "\x84\x31\xA4\x37" "A");
    EXPECT_EQ(report.replaced, 1u);

    // Binary data is reported and gives no text.
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919 + i / 13) & 0xFF));
    EXPECT_EQ(decodeText(binary, &report), "");
    EXPECT_EQ(report.encoding, TextEncoding::kBinary);
    EXPECT_NE(decodeWarning("x.txt", report).find("x.txt is not a text file"), std::string::npos);

    // Paths: valid UTF-8 as it is, other bytes and control characters escaped.
    EXPECT_EQ(displayPath("/tmp/\xD6\xD0/文\n"), "/tmp/\\xD6\\xD0/文\\x0A");
}

TEST(NumberFormat, WritesAndReadsWithAPointWhateverTheLocale) {
    // "%.6f", "%.2f" and "%.15g" as printf writes them in the C locale.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    char expected[512];
    for (int i = 0; i < 20000; ++i) {
        const double v = unit(rng) * std::pow(10.0, static_cast<int>(rng() % 40) - 20);
        std::snprintf(expected, sizeof expected, "%.6f", v);
        ASSERT_EQ(fixedText(v, 6), expected) << v;
        std::snprintf(expected, sizeof expected, "%.2f", v);
        ASSERT_EQ(fixedText(v, 2), expected) << v;
        std::snprintf(expected, sizeof expected, "%.15g", v);
        ASSERT_EQ(realText(v, 15), expected) << v;
    }
    for (const double v : {0.0000005, 0.0000015, 2.5e-7, 1e300, -0.0, 0.125}) {
        std::snprintf(expected, sizeof expected, "%.6f", v);
        EXPECT_EQ(fixedText(v, 6), expected) << v;
    }
    EXPECT_DOUBLE_EQ(leadingReal("  1.5e3 # x"), 1500.0);
    EXPECT_EQ(leadingReal("junk"), 0.0);
    EXPECT_TRUE(std::isinf(leadingReal("1.5e999")));
    double d = 0;
    EXPECT_TRUE(parseWholeReal(" 0.001000 ", d));
    EXPECT_DOUBLE_EQ(d, 0.001);
    EXPECT_FALSE(parseWholeReal("0,5", d));
    EXPECT_FALSE(parseWholeReal("", d));
    EXPECT_FALSE(parseWholeReal("nan", d));
    long n = 0;
    EXPECT_TRUE(parseWholeLong("+12", n));
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(parseWholeLong("12x", n));
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
    EXPECT_EQ(listFiles(dir.dir(), ".txt").valueOr({}), (std::vector<std::string>{"a.TXT", "b.txt"}));
    EXPECT_EQ(listSubdirectories(dir.dir()).valueOr({}), (std::vector<std::string>{"d.txt", "sub1", "sub2"}));
    const auto missing = listFiles(dir.path("none"), ".txt");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.message().find("none"), std::string::npos);
    EXPECT_EQ(fileTitle("x.y.seg"), "x.y");
    EXPECT_EQ(withTrailingSlash("a"), "a/");
    EXPECT_EQ(withTrailingSlash("a/"), "a/");
}

TEST(FileSystem, LinesEndWithCrLfOrLf) {
    std::vector<std::string> lines;
    forEachLine("a\r\nb\n\nc", [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "c"}));
    // A lone CR ends a line too, before a CR LF, at the end, or in a row.
    lines.clear();
    forEachLine("a\rb\r\r\nc\r\rd\r", [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "c", "", "d"}));
}

// The block reader splits a file into the lines forEachLine finds in its
// text, also where a line end straddles the boundary of the 1 MiB blocks.
TEST(FileSystem, FileLinesReadInBlocksAreTheLinesOfTheText) {
    TempDir dir;
    std::mt19937 rng(5);
    // Every kind of line end mixed, and texts where one kind is missing for
    // long stretches (the reader remembers where it saw the next of each).
    const std::vector<std::vector<const char*>> endSets = {{"\n", "\r\n", "\r", "\r\r"}, {"\n"}, {"\r"}};
    for (size_t crAt : {size_t(1) << 20, (size_t(1) << 20) - 1}) {
        for (const std::vector<const char*>& ends : endSets) {
            std::string text(crAt - 1, 'x');
            text += "\r\n";  // CR LF around the end of the first block
            while (text.size() < (size_t(1) << 21) + 77) {
                text += std::string(rng() % 300, char('a' + rng() % 26));
                text += ends[rng() % ends.size()];
            }
            text += "last line without an end";
            dir.write("lines.txt", text);
            std::vector<std::string> expected, got;
            forEachLine(text, [&](std::string_view l) { expected.emplace_back(l); });
            int64_t last = 0;
            const Status read = forEachFileLine(dir.path("lines.txt"), [&](std::string_view l, int64_t number) {
                got.emplace_back(l);
                last = number;
                return true;
            });
            EXPECT_TRUE(read.ok()) << read.message();
            EXPECT_EQ(got, expected);
            EXPECT_EQ(last, int64_t(expected.size()));
        }
    }
    dir.write("empty.txt", "");
    EXPECT_TRUE(forEachFileLine(dir.path("empty.txt"), [](std::string_view, int64_t) { return true; }).ok());
    const Status missing = forEachFileLine(dir.path("none.txt"), [](std::string_view, int64_t) { return true; });
    EXPECT_EQ(missing.message().rfind("cannot open " + dir.path("none.txt") + ": ", 0), 0u) << missing.message();
    const Status directory = forEachFileLine(dir.path(""), [](std::string_view, int64_t) { return true; });
    EXPECT_NE(directory.message().find("it is a directory"), std::string::npos) << directory.message();
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
    const Status failed = writeFileAtomically(dir.path("no/such/dir/f.txt"), "x");
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.message().find("f.txt"), std::string::npos);
    if (geteuid() != 0) {
        chmod(dir.dir().c_str(), 0500);
        EXPECT_FALSE(writeFileAtomically(dir.path("f.txt"), "new"));
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
        w.write(" tail 7");
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
    EXPECT_EQ(listFiles(dir.path("c/A"), ".txt", &skipped).valueOr({}), std::vector<std::string>{"1.txt"});
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_NE(skipped[0].find("points to nothing"), std::string::npos) << skipped[0];
    EXPECT_NE(skipped[1].find("loops"), std::string::npos) << skipped[1];
    skipped.clear();
    EXPECT_EQ(listSubdirectories(dir.path("c"), &skipped).valueOr({}), (std::vector<std::string>{"A", "B"}));
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

TEST(ParallelFor, AWorkerFailureReachesTheCallerAndStopsTheLoop) {
    std::atomic<size_t> ran{0};
    EXPECT_THROW(parallelFor(10000, 2,
                             [&](size_t i) {
                                 ++ran;
                                 if (i == 17) throw std::runtime_error("document 17 is unreadable");
                             }),
                 std::runtime_error);
    // The loop is usable again afterwards and runs every item once.
    std::vector<int> seen(1000, 0);
    EXPECT_TRUE(parallelFor(seen.size(), 2, [&](size_t i) { ++seen[i]; }));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 1000);
}

TEST(Status, CarriesAFailureOrAValue) {
    EXPECT_TRUE(Status().ok());
    const Status failed = Status::failure("no such file");
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.withContext("reading a.txt: ").message(), "reading a.txt: no such file");
    Result<int> value = 3;
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, 3);
    Result<int> failure = Status::failure("bad number");
    EXPECT_FALSE(failure.ok());
    EXPECT_EQ(failure.message(), "bad number");
    Result<int> misuse = Status();
    EXPECT_FALSE(misuse.ok());
}

TEST(FileSystem, ReadFailuresNameTheFileAndCarryNoValue) {
    TempDir dir;
    dir.write("a.txt", "one\r\ntwo\n");
    const Result<std::vector<std::string>> lines = readLines(dir.path("a.txt"));
    ASSERT_TRUE(lines) << lines.message();
    EXPECT_EQ(*lines, (std::vector<std::string>{"one", "two"}));
    const Result<std::string> missing = readFile(dir.path("missing.txt"));
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.message().find("missing.txt"), std::string::npos) << missing.message();
    EXPECT_EQ(missing.valueOr("fallback"), "fallback");
    dir.mkdir("sub");
    const Result<std::string> directory = readFile(dir.path("sub"));
    ASSERT_FALSE(directory);
    EXPECT_NE(directory.message().find("it is a directory"), std::string::npos) << directory.message();
    EXPECT_FALSE(readLines(dir.path("sub")));
    // Size and CRC-32 as the workspace manifest records them.
    dir.write("abc.txt", "abc");
    const Result<FileChecksum> checksum = fileChecksum(dir.path("abc.txt"));
    ASSERT_TRUE(checksum);
    EXPECT_EQ(checksum->size, 3u);
    EXPECT_EQ(checksum->crc, 0x352441C2u);
    EXPECT_FALSE(fileChecksum(dir.path("missing.txt")));
}

TEST(FileLock, ASecondHolderIsRefusedWithTheFirstOnesProcess) {
    TempDir dir;
    FileLock first, second;
    ASSERT_TRUE(first.tryLock(dir.path("lock")));
    const Status refused = second.tryLock(dir.path("lock"));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.message(), "in use by another run (process " + std::to_string(getpid()) + ")");
    first.unlock();
    EXPECT_TRUE(second.tryLock(dir.path("lock")));
    const Status unopenable = first.tryLock(dir.path("no/such/dir/lock"));
    ASSERT_FALSE(unopenable);
    EXPECT_NE(unopenable.message().find("cannot open the lock file"), std::string::npos);
}

TEST(Encoding, DetectionCountsEveryByteAtItsLimits) {
    // One control byte in twenty is still text; one more is binary, whether
    // the controls fall in the long stretches or in the short end of the
    // text. The controls of ordinary text never count.
    for (const size_t size : {size_t(200), size_t(263), size_t(4096)}) {
        std::string text(size, 'a');
        const size_t allowed = size / 20;
        for (size_t i = 0; i < allowed; ++i) text[size - 1 - i * 3] = '\x01';
        EXPECT_EQ(detectEncoding(text), TextEncoding::kAscii) << size;
        text[0] = '\x1F';
        EXPECT_EQ(detectEncoding(text), TextEncoding::kBinary) << size;
        text[0] = '\x1B';
        EXPECT_EQ(detectEncoding(text), TextEncoding::kAscii) << size;
    }
    EXPECT_EQ(detectEncoding(std::string(300, '\0')), TextEncoding::kBinary);
    EXPECT_EQ(detectEncoding(std::string(130, '\t') + std::string(130, '\x1A') + "\n\v\f\r\x1B"),
              TextEncoding::kAscii);

    // The shortest and longest forms of each UTF-8 length read as UTF-8;
    // overlong forms, surrogates and code points past U+10FFFF do not (these
    // bytes then read as GBK).
    for (const std::string valid : {"\xE0\xA0\x80", "\xED\x9F\xBF", "\xEF\xBF\xBD", "\xF0\x90\x80\x80",
                                    "\xF4\x8F\xBF\xBF"})
        EXPECT_EQ(detectEncoding(valid), TextEncoding::kUtf8);
    for (const std::string invalid : {"\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
                                      "\xC1\xBF", "\xF5\x80\x80\x80"})
        EXPECT_NE(detectEncoding(invalid), TextEncoding::kUtf8);
}

TEST(Encoding, Gb18030ValidityIsCheckedPerCharacter) {
    EXPECT_TRUE(isValidGb18030("abc"));
    EXPECT_TRUE(isValidGb18030(utf8ToGbk("中文😀")));  // two- and four-byte characters
    EXPECT_FALSE(isValidGb18030("\xD6"));              // a lead byte at the end
    EXPECT_FALSE(isValidGb18030("\xD6\x20"));          // a lead byte without a trail byte
    EXPECT_FALSE(isValidGb18030("\x80"));
    EXPECT_FALSE(isValidGb18030("\x81\x30\x81"));      // a four-byte character cut short
}
