#include <gtest/gtest.h>

#include "TestSupport.h"
#include "workspace/WorkspaceFiles.h"
#include "common/FileSystem.h"

using namespace kestrel;
using kestrel::testing::succeeded;
using kestrel::testing::TempDir;

TEST(WorkspaceFiles, WritesTheExactLinesOfEveryFile) {
    CategoryTable categories{{"A", 3}, {"B B", 1}};
    EXPECT_EQ(classesText(categories), "0 A\n1 B B\n");

    EXPECT_EQ(fsInfoText({kIg, 1234, 50}), "IG # FSMode\n1234 # Old Dimensionality\n50 # New Dimensionality\n");
    EXPECT_EQ(fsInfoText({kRs, 0, 0}), "RS # FSMode\n0 # Old Dimensionality\n0 # New Dimensionality\n");

    ClassifierParams knn;
    knn.k = 7;
    knn.similarity = Similarity::Euclidean;
    EXPECT_EQ(paramsText(knn), "KNN # Classifier\n7 # Neighbor\n2 # Similarity\n");

    ClassifierParams svm;
    svm.classifier = ClassifierKind::Svm;
    svm.svm.kernelType = 2;
    svm.svm.gamma = 0.5;
    EXPECT_EQ(paramsText(svm),
              "SVM # Classifier\n1 # Biased Hyperplane\n2 # Kernel Type\n0.001000 # Epsion\n"
              "1 # Kernel Parameter -d\n0.500000 # Kernel Parameter -g\n1.000000 # Kernel Parameter -s\n"
              "0.000000 # Kernel Parameter -c\n");

    std::vector<RawDocument> docs{{0, 1, "x.txt"}, {-1, 2, "y.txt"}};
    EXPECT_EQ(resultsText(docs), "x.txt 0 1\ny.txt -1 2\n");
}

TEST(WorkspaceFiles, ReadsFilesOfTheWindowsProgramAndOddLines) {
    TempDir dir;
    // CR LF line ends, a name with a space, an empty line, a line without a space.
    dir.write("classes.txt", "0 A\r\n1 B B\r\n\r\nlonely\r\n");
    const Result<CategoryTable> read = readClasses(dir.path("classes.txt"));
    ASSERT_TRUE(read.ok()) << read.message();
    const CategoryTable& categories = *read;
    ASSERT_EQ(categories.size(), 3u);
    EXPECT_EQ(categories[0].name, "A");
    EXPECT_EQ(categories[1].name, "B B");
    EXPECT_EQ(categories[2].name, "lonely");
    EXPECT_EQ(categories[1].docCount, 0u);

    dir.write("features.txt", "0 w1 0.693147\r\n1 w2 1.5\r\njunk\r\n7 w3\r\n");
    const Result<FeatureTable> readTable = readFeatures(dir.path("features.txt"));
    ASSERT_TRUE(readTable.ok()) << readTable.message();
    const FeatureTable& features = *readTable;
    EXPECT_EQ(features.at("w1").id, 0u);
    EXPECT_DOUBLE_EQ(features.at("w1").idf, 0.693147);
    EXPECT_DOUBLE_EQ(features.at("w2").idf, 1.5);
    EXPECT_EQ(features.at("w3").id, 7u);
    EXPECT_EQ(features.at("w3").idf, 0.0);
    EXPECT_EQ(features.count(""), 1u);  // "junk" has no word field

    dir.write("fsinfo.dat", "chi # FSMode\r\n99 # Old Dimensionality\r\n40 # New Dimensionality\r\n");
    std::string word;
    const Result<FsInfo> readInfo = readFsInfo(dir.path("fsinfo.dat"), &word);
    ASSERT_TRUE(readInfo.ok()) << readInfo.message();
    const FsInfo& info = *readInfo;
    EXPECT_EQ(word, "chi");
    EXPECT_EQ(info.mode, kRs);  // only the exact upper-case names are CHI, IG, MI
    EXPECT_EQ(info.oldDimensionality, 99u);
    EXPECT_EQ(info.newDimensionality, 40u);

    const Result<CategoryTable> missing = readClasses(dir.path("missing.txt"));
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.message().find("missing.txt"), std::string::npos);
}

TEST(WorkspaceFiles, ParamsRoundTrip) {
    TempDir dir;
    ClassifierParams p;
    p.classifier = ClassifierKind::Svm;
    p.svm = {0, 1, 0.01, 3, 2.5, 0.25, 1.0};
    ASSERT_TRUE(writeParams(dir.path("params.dat"), p).ok());
    const Result<ClassifierParams> read = readParams(dir.path("params.dat"));
    ASSERT_TRUE(read.ok()) << read.message();
    const ClassifierParams& q = *read;
    EXPECT_EQ(q.classifier, ClassifierKind::Svm);
    EXPECT_EQ(q.svm.biased, 0);
    EXPECT_EQ(q.svm.kernelType, 1);
    EXPECT_DOUBLE_EQ(q.svm.tolerance, 0.01);
    EXPECT_EQ(q.svm.degree, 3);
    EXPECT_DOUBLE_EQ(q.svm.gamma, 2.5);
    EXPECT_DOUBLE_EQ(q.svm.coefS, 0.25);
    EXPECT_DOUBLE_EQ(q.svm.coefC, 1.0);
}

TEST(WorkspaceFiles, WordsWithSpacesReadBackWhole) {
    TempDir dir;
    // As selection writes it: "id word idf", the word holding blanks.
    dir.write("features.txt", "0 new york 0.693147\n1  lead 1.000000\n2 tail  2.5\n3 plain 0.25\n");
    const Result<FeatureTable> read = readFeatures(dir.path("features.txt"));
    ASSERT_TRUE(read.ok()) << read.message();
    const FeatureTable& features = *read;
    ASSERT_EQ(features.size(), 4u);
    EXPECT_EQ(features.at("new york").id, 0u);
    EXPECT_DOUBLE_EQ(features.at("new york").idf, 0.693147);
    EXPECT_DOUBLE_EQ(features.at(" lead").idf, 1.0);
    EXPECT_DOUBLE_EQ(features.at("tail ").idf, 2.5);
    EXPECT_DOUBLE_EQ(features.at("plain").idf, 0.25);
    // The one writer gives the lines back in id order (not the table's byte
    // order), the word byte for byte and the idf with six decimals.
    EXPECT_EQ(featuresText(features), "0 new york 0.693147\n1  lead 1.000000\n2 tail  2.500000\n3 plain 0.250000\n");
    ASSERT_TRUE(writeFeatures(dir.path("again.txt"), features).ok());
    EXPECT_EQ(dir.read("again.txt"), featuresText(features));
}

TEST(WorkspaceFiles, DamagedParamsAreErrorsNamingFileAndLine) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1: the classifier"},
        {"junk\n", "line 1: the classifier"},
        {"KNN # Classifier\n0 # Neighbor\n0 # Similarity\n", "line 2: the number of neighbours"},
        {"KNN # Classifier\nmany # Neighbor\n0 # Similarity\n", "line 2:"},
        {"KNN # Classifier\n5 # Neighbor\n3 # Similarity\n", "line 3: the similarity"},
        {"KNN # Classifier\n5 # Neighbor\n", "line 3:"},
        {"SVM # Classifier\n1 # Biased Hyperplane\n7 # Kernel Type\n", "line 3: the kernel type"},
        {"SVM # Classifier\n2 # Biased Hyperplane\n", "line 2: the biased-hyperplane flag"},
        {"SVM # Classifier\n1 # B\n0 # K\n0,001000 # Epsion\n1 # d\n1 # g\n1 # s\n0 # c\n", "line 4: the tolerance"},
        {"SVM # Classifier\n1 # B\n0 # K\n0.001 # E\n1 # d\n1 # g\n1 # s\n", "line 8: the kernel parameter -c"},
    };
    for (const auto& [text, expected] : cases) {
        dir.write("params.dat", text);
        const Result<ClassifierParams> refused = readParams(dir.path("params.dat"));
        EXPECT_FALSE(refused.ok()) << text;
        EXPECT_NE(refused.message().find("params.dat " + expected), std::string::npos) << refused.message();
    }
    // The classifier word is given even when the file is refused.
    dir.write("params.dat", "junk # Classifier\n");
    std::string word;
    EXPECT_FALSE(readParams(dir.path("params.dat"), &word).ok());
    EXPECT_EQ(word, "junk");
    // Files of the Windows program (CR LF) still load.
    dir.write("params.dat", "KNN # Classifier\r\n7 # Neighbor\r\n2 # Similarity\r\n");
    const Result<ClassifierParams> read = readParams(dir.path("params.dat"));
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(read->k, 7u);
    EXPECT_EQ(read->similarity, Similarity::Euclidean);
}

TEST(WorkspaceFiles, VectorLabelsMustNameACategory) {
    TempDir dir;
    dir.write("train.dat", "1 1:0.5\n2 2:0.5\n\njunk line\n");
    EXPECT_TRUE(succeeded(checkVectorLabels(dir.path("train.dat"), 2)));
    dir.write("train.dat", "1 1:0.5\n3 2:0.5\n");
    const Status refused = checkVectorLabels(dir.path("train.dat"), 2);
    EXPECT_NE(refused.message().find("train.dat line 2: label 3, but classes.txt lists 2 categories"),
              std::string::npos)
        << refused.message();
}

// The names the command line and the experiment grid use for each choice
// read back as the same choice; any other spelling is refused.
TEST(WorkspaceFiles, ChoiceNamesReadBackAndOthersAreRefused) {
    for (const auto kind : {ClassifierKind::Knn, ClassifierKind::Svm})
        EXPECT_EQ(parseClassifier(classifierName(kind)), kind);
    for (const auto similarity : {Similarity::Cosine, Similarity::Manhattan, Similarity::Euclidean})
        EXPECT_EQ(parseSimilarity(similarityName(similarity)), similarity);
    for (const auto format : {InputFormat::RawText, InputFormat::Preprocessed})
        EXPECT_EQ(parseInputFormat(inputFormatName(format)), format);
    EXPECT_STREQ(similarityName(Similarity::Manhattan), "manhattan");
    EXPECT_STREQ(documentExtension(InputFormat::Preprocessed), ".seg");
    for (const char* other : {"", "KNN", "svm ", "Cosine", "txt\n", "sv"}) {
        EXPECT_FALSE(parseClassifier(other)) << other;
        EXPECT_FALSE(parseSimilarity(other)) << other;
        EXPECT_FALSE(parseInputFormat(other)) << other;
    }
}
