// Vector line syntax, training-file reading and model files.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "SvmTestUtil.h"
#include "classify/svm/SvmModelFile.h"

namespace kestrel {
namespace {

// readModel into `model`; false with the message in `error` on failure.
bool readInto(const std::string& path, SvmModel& model, std::string& error) {
    Result<SvmModel> read = readModel(path);
    if (!read) {
        error = read.message();
        return false;
    }
    model = std::move(read).value();
    return true;
}

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

// Weights are read by a short path for plain decimals; it must give the
// very doubles the general reader gives, also for the awkward cases.
TEST(SvmLineSyntax, WeightsReadAsTheGeneralReaderReadsThem) {
    std::mt19937_64 rng(5);
    std::vector<std::string> texts = {"0", "-0", "0.0", "-0.000", "1.", ".5", "-.5", "007.25",
                                      "0.1", "0.3", "2.675", "9007199254740993", "123456789012345",
                                      "1234567890123456", "0.000000000000001", "999999999999999.",
                                      "1e5", "1.5E-3", "-2.5e+2", "12345678901234567890.5"};
    for (int i = 0; i < 4000; ++i) {
        std::string t = (rng() % 4 == 0) ? "-" : "";
        const int digits = 1 + int(rng() % 17);
        const int point = int(rng() % (digits + 1));
        for (int d = 0; d < digits; ++d) {
            if (d == point) t += '.';
            t += char('0' + rng() % 10);
        }
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        SvmDoc doc;
        long label = 0;
        ASSERT_TRUE(CSVM::parseDocumentLine("1 4:" + t, doc, label, 10)) << t;
        double expected = 0.0;
        std::from_chars(t.data(), t.data() + t.size(), expected);
        EXPECT_EQ(std::memcmp(&doc.words[0].weight, &expected, sizeof expected), 0)
            << t << " read as " << doc.words[0].weight << ", expected " << expected;
    }
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
    ASSERT_TRUE(CSVM::readDocuments(path, docs, labels, 1000, 3, totWords, &report));
    ASSERT_EQ(docs.size(), 4u);
    EXPECT_EQ(labels, (std::vector<int32_t>{1, -1, 0, -1}));
    EXPECT_EQ(totWords, 150);
    for (size_t i = 0; i < docs.size(); ++i) EXPECT_EQ(docs[i].docnum, int32_t(i));
    EXPECT_EQ(report.rejected, 1);   // the blank line is not counted
    EXPECT_EQ(report.firstRejectedLine, 6);

    const Status missing = CSVM::readDocuments(dir.file("missing.dat"), docs, labels, 10, 1, totWords);
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.message().find("missing.dat"), std::string::npos);
}

TEST(SvmScanFileSize, CountsTerminatedLinesOnly) {
    ScratchDir dir;
    std::string path = dir.write("f.txt", "a b c\nabcdefgh\n1 2 3 4 5 6 7 8 9");
    SvmFileSize size = CSVM::scanFileSize(std::fopen(path.c_str(), "rb"));
    EXPECT_EQ(size.lines, 3);
    EXPECT_EQ(size.maxSpaces, 2);
    EXPECT_EQ(size.longestLine, 9);
}

TEST(SvmFiles, LoneCarriageReturnsEndLinesAsLineFeedsDo) {
    ScratchDir dir;
    const std::string lf = "3 1:0.5 4:0.5\n# 3 1:1\n5 2:1\n\n0 9:1\n3 3:0.5 3:0.7\n5 150:1\n";
    std::string cr = lf, crlf;
    std::replace(cr.begin(), cr.end(), '\n', '\r');
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    struct Read {
        std::vector<SvmDoc> docs;
        std::vector<int32_t> labels;
        int32_t totWords = -1;
        SvmReadReport report;
    };
    auto read = [&](const std::string& name, const std::string& text) {
        Read r;
        EXPECT_TRUE(CSVM::readDocuments(dir.write(name, text), r.docs, r.labels, 1000, 3, r.totWords, &r.report));
        return r;
    };
    const Read a = read("lf.dat", lf), b = read("cr.dat", cr), c = read("crlf.dat", crlf);
    for (const Read* other : {&b, &c}) {
        ASSERT_EQ(other->docs.size(), a.docs.size());
        EXPECT_EQ(other->labels, a.labels);
        EXPECT_EQ(other->totWords, a.totWords);
        EXPECT_EQ(other->report.rejected, a.report.rejected);
        EXPECT_EQ(other->report.firstRejectedLine, a.report.firstRejectedLine);
    }
    const auto lfSize = CSVM::scanFileSize(std::fopen(dir.file("lf.dat").c_str(), "rb"));
    for (const char* name : {"cr.dat", "crlf.dat"}) {
        const auto size = CSVM::scanFileSize(std::fopen(dir.file(name).c_str(), "rb"));
        EXPECT_EQ(size.lines, lfSize.lines) << name;
        EXPECT_EQ(size.longestLine, lfSize.longestLine) << name;
        EXPECT_EQ(size.maxSpaces, lfSize.maxSpaces) << name;
    }
}

SvmModel sampleModel(std::vector<SvmDoc>& docs) {
    docs.push_back(test::makeDoc({{1, 0.123456789}, {7, -2.5}}));
    docs.push_back(test::makeDoc({}));
    docs.push_back(test::makeDoc({{3, 1e-7}}));
    SvmModel model;
    model.kernel.kernelType = KernelType::RadialBasis;
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
    ASSERT_TRUE(writeModel(model, path).ok());
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
    ASSERT_TRUE(readInto(path, back, error)) << error;
    // The same model with lone CR line ends reads back the same.
    std::string crText = text;
    std::replace(crText.begin(), crText.end(), '\n', '\r');
    SvmModel crBack;
    ASSERT_TRUE(readInto(dir.write("cr.mdl", crText), crBack, error)) << error;
    EXPECT_EQ(crBack.svNum, back.svNum);
    EXPECT_EQ(crBack.b, back.b);
    EXPECT_EQ(back.kernel.kernelType, KernelType::RadialBasis);
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
    EXPECT_EQ(formatModel(back), text);

    // Entries given ready-made are used as they are; the rest are written.
    std::string ready = " 1:0.12345679 7:-2.5 ";
    ready.erase(0, 1);
    std::string out = "old text";
    formatModel(model, [&](const SvmDoc& sv) -> const std::string* {
        return &sv == &docs[0] ? &ready : nullptr;
    }, out);
    EXPECT_EQ(out, text);
}

// Reals in model files are written as printf's "%.8g" writes them (short
// paths serve most values); every layout and rounding case must match.
TEST(SvmModelFile, RealsAreWrittenAsPercentEightG) {
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 0.0001, 0.00001, 0.000123456789,
                                  1e-7, 1.5e-300, 5e-324, 12345678.0, 123456789.0, 99999999.5, 99999999.0,
                                  9.99999999999, 0.999999999, 1e8, 1e15, 1.7976931348623157e308,
                                  100.0, 120.5, 0.070387, 2.675, 1.0 / 3.0, -2.5e-5, 1234.5678,
                                  2.2250738585072014e-308, 2.2250738585072009e-308, 0.00012345678,
                                  1.2345678e-5, 1e-4, 9.9999999e-5, 12345678.5, 1e22, 1e23};
    std::mt19937_64 rng(11);
    for (int i = 0; i < 3000; ++i) {
        const double scale = std::pow(10.0, int(rng() % 30) - 15);
        double v = double(rng() % 100000000) / double(1 + rng() % 1000000) * scale;
        if (i % 3 == 0) v = double(int64_t(rng() % 2000000) - 1000000) / 1e6;  // "%.6f"-like weights
        values.push_back(i % 2 ? -v : v);
    }
    // Halfway cases of the eighth digit and values that round up to the
    // next power of ten, with their neighbouring doubles.
    for (double v : {0.0999999995, 9.99999995e-5, 0.123456785, 1.00000005, 9999999.95, 0.00099999999,
                     99999999.5, 0.000100000005, 4.0000000500000001}) {
        values.push_back(v);
        values.push_back(std::nextafter(v, 0.0));
        values.push_back(std::nextafter(v, 1e300));
    }
    for (int i = 0; i < 500; ++i) {
        const double v = (double(rng() % 200000000) + 0.5) / std::pow(10.0, int(rng() % 14));
        values.push_back(v);
        values.push_back(std::nextafter(v, 0.0));
    }
    SvmDoc doc;
    for (size_t i = 0; i < values.size(); ++i) doc.words.push_back({int32_t(i + 1), values[i]});
    doc.words.push_back({0, 0.0});
    SvmModel model;
    model.svNum = 2;
    model.supvec = {nullptr, &doc};
    model.alpha = {0.0, 1.0};
    const std::string text = formatModel(model);
    const std::string marker = "# threshold b \n1 ";
    size_t at = text.find(marker);
    ASSERT_NE(at, std::string::npos);
    at += marker.size();
    for (size_t i = 0; i < values.size(); ++i) {
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, values[i], std::chars_format::general, 8);
        ASSERT_EQ(ec, std::errc());
        const std::string expected = std::to_string(i + 1) + ":" + std::string(buffer, end) + " ";
        ASSERT_EQ(text.compare(at, expected.size(), expected), 0)
            << "value " << i << ": expected " << expected << " got " << text.substr(at, expected.size());
        at += expected.size();
    }
}

TEST(SvmModelFile, RefusesOtherVersionsTruncationAndJunk) {
    ScratchDir dir;
    std::vector<SvmDoc> docs;
    SvmModel model = sampleModel(docs);
    const std::string good = formatModel(model);
    SvmModel back;
    std::string error;

    for (const char* version : {"V3.5", "V3.50b", "V5.00"}) {
        std::string text = good;
        text.replace(text.find("V3.50"), 5, version);
        EXPECT_FALSE(readInto(dir.write("v.mdl", text), back, error)) << version;
        EXPECT_NE(error.find(version), std::string::npos);
    }
    // Cut anywhere before the last support vector: refused, never a crash.
    size_t lastLine = good.rfind('\n', good.size() - 2);
    for (size_t cut = 0; cut <= lastLine; cut += 3) {
        EXPECT_FALSE(readInto(dir.write("t.mdl", good.substr(0, cut)), back, error)) << cut;
    }
    EXPECT_FALSE(readInto(dir.file("none.mdl"), back, error));

    std::string junk = good;
    junk.replace(junk.find("7:-2.5"), 6, "7:abc");
    EXPECT_FALSE(readInto(dir.write("j.mdl", junk), back, error));
    EXPECT_NE(error.find("support vector 1"), std::string::npos);
    std::string badCount = good;
    badCount.replace(badCount.find("4 # number"), 1, "x");
    EXPECT_FALSE(readInto(dir.write("c.mdl", badCount), back, error));
    std::string huge = good;
    huge.replace(huge.find("4 # number"), 1, "2000000000");
    EXPECT_FALSE(readInto(dir.write("h.mdl", huge), back, error));
    EXPECT_NE(error.find("truncated"), std::string::npos);
    std::string unknownKernel = good;
    unknownKernel.replace(unknownKernel.find("2 # kernel type"), 1, "7");
    EXPECT_FALSE(readInto(dir.write("k.mdl", unknownKernel), back, error));
    EXPECT_NE(error.find("unknown kernel type 7"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrel
