#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"
#include "features/VectorFile.h"

using namespace kestrel;
using kestrel::testing::TempDir;

namespace {

// Everything the block reader gives, as parseVectors would hold it.
VectorSet readInBlocks(const std::string& path, RejectedLines mode, Status& status) {
    VectorFileReader reader(path, mode);
    VectorSet set;
    status = reader.open();
    DocumentVector doc;
    long label = 0;
    bool rejected = false;
    while (status && reader.next(doc, label, rejected)) {
        doc.docnum = int32_t(set.docs.size());
        set.docs.push_back(doc);
        set.labels.push_back(label);
        if (mode == RejectedLines::kKeepEmpty) set.rejected.push_back(rejected);
    }
    if (status) status = reader.status();
    set.report = reader.report();
    return set;
}

// The same through batches of at most `maxDocuments` documents, parsed on
// `threads` threads.
VectorSet readInBatches(const std::string& path, RejectedLines mode, size_t maxDocuments, size_t maxBytes,
                        unsigned threads, Status& status) {
    VectorFileReader reader(path, mode);
    VectorSet set;
    status = reader.open();
    VectorFileReader::Batch batch;
    while (status && reader.nextBatch(batch, maxDocuments, maxBytes, threads) > 0) {
        EXPECT_LE(batch.size(), maxDocuments);
        for (size_t i = 0; i < batch.size(); ++i) {
            batch.docs[i].docnum = int32_t(set.docs.size());
            set.docs.push_back(batch.docs[i]);
            set.labels.push_back(batch.labels[i]);
            if (mode == RejectedLines::kKeepEmpty) set.rejected.push_back(batch.rejected[i]);
        }
    }
    if (status) status = reader.status();
    set.report = reader.report();
    return set;
}

void expectSameSets(const VectorSet& a, const VectorSet& b) {
    ASSERT_EQ(a.docs.size(), b.docs.size());
    EXPECT_EQ(a.labels, b.labels);
    EXPECT_EQ(a.rejected, b.rejected);
    EXPECT_EQ(a.report.rejected, b.report.rejected);
    EXPECT_EQ(a.report.firstRejectedLine, b.report.firstRejectedLine);
    EXPECT_EQ(a.report.firstReason, b.report.firstReason);
    for (size_t i = 0; i < a.docs.size(); ++i) {
        ASSERT_EQ(a.docs[i].words.size(), b.docs[i].words.size()) << "document " << i;
        for (size_t j = 0; j < a.docs[i].size(); ++j) {
            EXPECT_EQ(a.docs[i].words[j].wnum, b.docs[i].words[j].wnum);
            EXPECT_EQ(a.docs[i].words[j].weight, b.docs[i].words[j].weight);
        }
        EXPECT_EQ(a.docs[i].twoNorm, b.docs[i].twoNorm);
    }
}

}  // namespace

TEST(VectorFileReader, ReadsWhatTheWholeFileParserReadsAcrossBlocks) {
    // Lines of every kind with every line end, more than one block long, and
    // a CR LF split exactly at the first block boundary.
    std::mt19937 rng(11);
    const char* ends[] = {"\n", "\r\n", "\r"};
    const char* odd[] = {"# comment", "", "   ", "1 2:0.5 1:0.5", "x 1:1", "2 3:abc", "1 0:1.0", "3 1:1 # tail"};
    std::string content;
    int n = 0;
    while (content.size() < (size_t(1) << 20) + 300000) {
        std::string line;
        if (n++ % 7 == 3) {
            line = odd[rng() % 8];
        } else {
            line = std::to_string(rng() % 5);
            for (int f = 1 + int(rng() % 3); f < 400; f += 1 + int(rng() % 40))
                line += " " + std::to_string(f) + ":" + std::to_string((rng() % 1000) / 1000.0);
        }
        if (content.size() < (size_t(1) << 20) && content.size() + line.size() + 2 > (size_t(1) << 20)) {
            line.resize((size_t(1) << 20) - 1 - content.size(), ' ');
            content += line + "\r\n";
            continue;
        }
        content += line + ends[rng() % 3];
    }
    content += "4 7:0.25";  // no line end at the end
    TempDir dir;
    dir.write("v.dat", content);
    for (RejectedLines mode : {RejectedLines::kSkip, RejectedLines::kKeepEmpty}) {
        Status status;
        const VectorSet streamed = readInBlocks(dir.path("v.dat"), mode, status);
        ASSERT_TRUE(status.ok()) << status.message();
        const VectorSet whole = parseVectors(content, mode);
        expectSameSets(streamed, whole);
        // Batches of every size, in parallel or not, and the whole-file
        // reader built on them.
        for (size_t maxDocuments : {size_t(1), size_t(5), size_t(300), size_t(100000)}) {
            for (unsigned threads : {1u, 2u}) {
                SCOPED_TRACE(std::to_string(maxDocuments) + " documents, " + std::to_string(threads) + " threads");
                expectSameSets(readInBatches(dir.path("v.dat"), mode, maxDocuments, 1 << 16, threads, status), whole);
                ASSERT_TRUE(status.ok()) << status.message();
            }
        }
        Result<VectorSet> read = readVectorFile(dir.path("v.dat"), mode, INT64_MAX, 2);
        ASSERT_TRUE(read.ok()) << read.message();
        expectSameSets(*read, whole);
    }

    Status status;
    EXPECT_FALSE(readVectorFile(dir.path("missing.dat"), RejectedLines::kSkip).ok());
    readInBlocks(dir.path("missing.dat"), RejectedLines::kSkip, status);
    EXPECT_EQ(status.message().rfind("cannot open " + dir.path("missing.dat"), 0), 0u) << status.message();
    readInBlocks(dir.dir(), RejectedLines::kSkip, status);
    EXPECT_NE(status.message().find("it is a directory"), std::string::npos) << status.message();
}

TEST(VectorFileReader, BatchesGoOnPastStretchesOfSkippedLines) {
    // Whole batches of rejected lines that are left out must not end the
    // reading early; kept in place they stay empty documents.
    std::string content = "1 1:0.5\n";
    for (int i = 0; i < 40; ++i) content += "x 1:1\n# comment\n\n";
    content += "2 2:0.25 3:0.5\n";
    for (int i = 0; i < 40; ++i) content += "3 2:1 1:1\n";
    content += "4 9:1";
    TempDir dir;
    dir.write("v.dat", content);
    for (RejectedLines mode : {RejectedLines::kSkip, RejectedLines::kKeepEmpty}) {
        Status status;
        const VectorSet read = readInBatches(dir.path("v.dat"), mode, 4, 1 << 16, 2, status);
        ASSERT_TRUE(status.ok());
        expectSameSets(read, parseVectors(content, mode));
        EXPECT_EQ(read.docs.size(), mode == RejectedLines::kSkip ? 3u : 83u);
        EXPECT_EQ(read.report.rejected, 80);
        EXPECT_EQ(read.report.firstRejectedLine, 2);
    }
}
