// Vector line syntax, training-file reading and model files.
#include <cmath>
#include <cstdio>

#include "SvmTestUtil.h"

namespace kestrel {
namespace {

using test::ScratchDir;

bool parses(const std::string& line, SvmDoc* out = nullptr, long* labelOut = nullptr) {
    SvmDoc doc;
    long label = -99;
    bool ok = CSVM::parseDocumentLine(line, doc, label, 1000);
    if (out) *out = doc;
    if (labelOut) *labelOut = label;
    return ok;
}

TEST(SvmLineSyntax, RejectsMalformedLines) {
    EXPECT_FALSE(parses("1 3:0.5 3:0.7"));        // repeated feature
    EXPECT_FALSE(parses("1 4:0.5 3:0.7"));        // decreasing
    EXPECT_FALSE(parses("1 0:0.5"));              // feature 0
    EXPECT_FALSE(parses("1 -2:0.5"));
    EXPECT_FALSE(parses(""));
    EXPECT_FALSE(parses("   \t"));
    EXPECT_FALSE(parses("# 1 2:0.5"));            // all comment: nothing left
    EXPECT_FALSE(parses("1 2:nan"));
    EXPECT_FALSE(parses("1 2:inf"));
    EXPECT_FALSE(parses("1 2:1e999"));
    EXPECT_FALSE(parses("1 2147483648:0.5"));     // above the 32-bit feature range
    EXPECT_FALSE(parses("1 99999999999999999999999:0.5"));
    EXPECT_FALSE(parses("1 2:0.5 junk"));
    EXPECT_FALSE(parses("1 2:0.5x"));
    EXPECT_FALSE(parses("1 2"));
    EXPECT_FALSE(parses("x 2:0.5"));
}

TEST(SvmLineSyntax, AcceptsCommentsEmptyVectorsAndCrLf) {
    SvmDoc doc;
    long label = 0;
    ASSERT_TRUE(parses("1 2:0.5 # 3:0.7 trailing comment", &doc, &label));
    EXPECT_EQ(label, 1);
    ASSERT_EQ(doc.words.size(), 2u);
    EXPECT_EQ(doc.words[0].wnum, 2);
    EXPECT_EQ(doc.words[1].wnum, 0);
    EXPECT_DOUBLE_EQ(doc.twoNorm, 0.25);
    EXPECT_EQ(doc.docnum, -1);

    ASSERT_TRUE(parses("7\r", &doc, &label));
    EXPECT_EQ(label, 7);
    EXPECT_EQ(doc.words.size(), 1u);

    ASSERT_TRUE(parses("-1 1:1 5:-2.5\r", &doc, &label));
    EXPECT_EQ(label, -1);
    EXPECT_DOUBLE_EQ(doc.twoNorm, 7.25);

    // Pairs beyond the limit are ignored, not rejected.
    SvmDoc limited;
    ASSERT_TRUE(CSVM::parseDocumentLine("1 1:1 2:1 3:1 0:5", limited, label, 3));
    EXPECT_EQ(limited.size(), 3u);
}

TEST(SvmReadDocuments, TargetsSkippedLinesAndHighestFeature) {
    ScratchDir dir;
    std::string path = dir.write("train.dat",
                                 "3 1:0.5 4:0.5\n"
                                 "# 3 1:1\n"
                                 "5 2:1\r\n"
                                 "\n"
                                 "0 9:1\n"
                                 "3 3:0.5 3:0.7\n"
                                 "5 150:1");
    std::vector<SvmDoc> docs;
    std::vector<int32_t> labels;
    int32_t totWords = -1;
    SvmReadReport report;
    ASSERT_EQ(CSVM::readDocuments(path, docs, labels, 1000, 3, totWords, &report), 0);
    ASSERT_EQ(docs.size(), 4u);
    EXPECT_EQ(labels, (std::vector<int32_t>{1, -1, 0, -1}));
    EXPECT_EQ(totWords, 150);
    for (size_t i = 0; i < docs.size(); ++i) EXPECT_EQ(docs[i].docnum, int32_t(i));
    EXPECT_EQ(report.rejected, 1);   // the blank line is not counted
    EXPECT_EQ(report.firstRejectedLine, 6);

    std::string error;
    EXPECT_EQ(CSVM::readDocuments(dir.file("missing.dat"), docs, labels, 10, 1, totWords, nullptr, &error), -1);
    EXPECT_NE(error.find("missing.dat"), std::string::npos);
}

TEST(SvmScanFileSize, CountsTerminatedLinesOnly) {
    ScratchDir dir;
    std::string path = dir.write("f.txt", "a b c\nabcdefgh\n1 2 3 4 5 6 7 8 9");
    SvmFileSize size = CSVM::scanFileSize(std::fopen(path.c_str(), "rb"));
    EXPECT_EQ(size.lines, 3);
    EXPECT_EQ(size.maxSpaces, 2);
    EXPECT_EQ(size.longestLine, 9);
}

SvmModel sampleModel(std::vector<SvmDoc>& docs) {
    docs.push_back(test::makeDoc({{1, 0.123456789}, {7, -2.5}}));
    docs.push_back(test::makeDoc({}));
    docs.push_back(test::makeDoc({{3, 1e-7}}));
    SvmModel model;
    model.kernel.kernelType = kRadialBasis;
    model.kernel.degree = 3;
    model.kernel.gamma = 0.5;
    model.kernel.coefLin = 1.25;
    model.kernel.coefConst = -0.75;
    model.totWords = 7;
    model.totDoc = 12;
    model.b = 0.333333333333;
    model.svNum = 4;
    model.supvec = {nullptr, &docs[0], &docs[1], &docs[2]};
    model.alpha = {0.0, 0.1234567890123456789, -1.0 / 3.0, 2.0};
    return model;
}

TEST(SvmModelFile, WritesTheExactFormatAndReadsItBack) {
    ScratchDir dir;
    std::vector<SvmDoc> docs;
    SvmModel model = sampleModel(docs);
    std::string path = dir.file("model1.mdl");
    ASSERT_TRUE(CSVM::writeModel(model, path));
    std::string text = test::readAll(path);
    EXPECT_EQ(text.substr(0, text.find("0.12345678901234567")),
              "SVM-light Version V3.50\n"
              "2 # kernel type\n"
              "3 # kernel parameter -d \n"
              "0.5 # kernel parameter -g \n"
              "1.25 # kernel parameter -s \n"
              "-0.75 # kernel parameter -r \n"
              "EmptyParam # kernel parameter -u \n"
              "7 # highest feature index \n"
              "12 # number of training documents \n"
              "4 # number of support vectors plus 1 \n"
              "0.33333333 # threshold b \n");
    EXPECT_NE(text.find(" 1:0.12345679 7:-2.5 \n"), std::string::npos);
    EXPECT_NE(text.find("\n-0.33333333333333331482961625624739 \n"), std::string::npos);
    EXPECT_NE(text.find("\n2 3:1e-07 \n"), std::string::npos);

    SvmModel back;
    std::string error;
    ASSERT_EQ(CSVM::readModel(path, back, &error), 0) << error;
    EXPECT_EQ(back.kernel.kernelType, 2);
    EXPECT_EQ(back.kernel.degree, 3);
    EXPECT_EQ(back.kernel.coefConst, -0.75);
    EXPECT_EQ(back.totWords, 7);
    EXPECT_EQ(back.totDoc, 12);
    EXPECT_EQ(back.svNum, 4);
    EXPECT_DOUBLE_EQ(back.b, 0.33333333);
    EXPECT_EQ(back.alpha[1], model.alpha[1]);   // 32 digits bring the double back
    EXPECT_EQ(back.alpha[2], model.alpha[2]);
    ASSERT_EQ(back.supvec[1]->words.size(), 3u);
    EXPECT_EQ(back.supvec[1]->words[1].wnum, 7);
    EXPECT_DOUBLE_EQ(back.supvec[1]->words[0].weight, 0.12345679);
    EXPECT_EQ(back.supvec[2]->words.size(), 1u);
    EXPECT_EQ(back.supvec[3]->docnum, -1);
    // Written again, the model gives the same text.
    EXPECT_EQ(CSVM::formatModel(back), text);
}

TEST(SvmModelFile, RefusesOtherVersionsTruncationAndJunk) {
    ScratchDir dir;
    std::vector<SvmDoc> docs;
    SvmModel model = sampleModel(docs);
    const std::string good = CSVM::formatModel(model);
    SvmModel back;
    std::string error;

    for (const char* version : {"V3.5", "V3.50b", "V5.00"}) {
        std::string text = good;
        text.replace(text.find("V3.50"), 5, version);
        EXPECT_EQ(CSVM::readModel(dir.write("v.mdl", text), back, &error), -1) << version;
        EXPECT_NE(error.find(version), std::string::npos);
    }
    // Cut anywhere before the last support vector: refused, never a crash.
    size_t lastLine = good.rfind('\n', good.size() - 2);
    for (size_t cut = 0; cut <= lastLine; cut += 3) {
        EXPECT_EQ(CSVM::readModel(dir.write("t.mdl", good.substr(0, cut)), back, &error), -1) << cut;
    }
    EXPECT_EQ(CSVM::readModel(dir.file("none.mdl"), back, &error), -1);

    std::string junk = good;
    junk.replace(junk.find("7:-2.5"), 6, "7:abc");
    EXPECT_EQ(CSVM::readModel(dir.write("j.mdl", junk), back, &error), -1);
    EXPECT_NE(error.find("support vector 1"), std::string::npos);
    std::string badCount = good;
    badCount.replace(badCount.find("4 # number"), 1, "x");
    EXPECT_EQ(CSVM::readModel(dir.write("c.mdl", badCount), back, &error), -1);
    std::string huge = good;
    huge.replace(huge.find("4 # number"), 1, "2000000000");
    EXPECT_EQ(CSVM::readModel(dir.write("h.mdl", huge), back, &error), -1);
    EXPECT_NE(error.find("truncated"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
