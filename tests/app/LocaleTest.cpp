// A whole train/classify run under a comma-decimal locale (as the desktop
// program runs under a European locale) writes exactly the files of a run in
// the "C" locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <map>
#include <random>

#include "TestSupport.h"
#include "app/TextClassifier.h"
#include "workspace/WorkspaceTransaction.h"
#include "workspace/WorkspaceFiles.h"
#include "common/FileSystem.h"
#include "evaluate/Evaluation.h"

using namespace kestrel;
using kestrel::testing::TempDir;

namespace {

// A segmented corpus of three categories, training and test, whose weights
// and idf values have fractions.
void writeCorpus(const TempDir& dir) {
    std::mt19937 rng(11);
    const char* categories[] = {"A", "B", "C"};
    for (const char* part : {"train", "test"}) {
        for (int c = 0; c < 3; ++c) {
            for (int d = 0; d < 8; ++d) {
                std::string seg;
                for (int w = 0; w < 12; ++w) {
                    const int word = static_cast<int>(rng() % 30) + (rng() % 3 == 0 ? 0 : 30 * c);
                    seg += "w" + std::to_string(word) + ":" + std::to_string(1 + rng() % 4) + "\n";
                }
                dir.write(std::string(part) + "/" + categories[c] + "/" + std::to_string(d) + ".seg", seg);
            }
        }
    }
}

// Every file of the workspace after training and classifying, plus the
// evaluation text.
std::map<std::string, std::string> run(const TempDir& dir, const std::string& workspace,
                                       ClassifierKind classifier) {
    TextClassifier controller;
    controller.workspacePath = dir.dir() + workspace + "/";
    makeDirectory(controller.workspacePath);
    controller.trainingCorpusPath = dir.dir() + "train/";
    controller.trainingFormat = InputFormat::Preprocessed;
    controller.categoryCount = 3;
    std::map<std::string, std::string> files;
    if (!controller.preprocessTraining()) return files;
    EXPECT_TRUE(controller.buildIndex().ok());
    controller.selectionMode = kIg;
    controller.newDimensionality = 40;
    if (!controller.selectFeatures() || !controller.writeVectors()) return files;
    ClassifierParams params;
    params.classifier = classifier;
    params.k = 3;
    params.svm.kernelType = 2;
    params.svm.gamma = 0.75;
    params.svm.tolerance = 0.0125;
    if (!writeClassifierSettings(controller.workspacePath, params, controller.fsInfo()))
        return files;
    // A second controller loads the workspace, as a later session would.
    TextClassifier loaded;
    loaded.workspacePath = controller.workspacePath;
    if (!loaded.loadClassifier()) return files;
    loaded.rawCorpusPath = dir.dir() + "test/";
    loaded.vectorMode = kTestVectors;
    loaded.rawFormat = InputFormat::Preprocessed;
    if (!loaded.preprocessRaw() || !loaded.writeVectors() || !loaded.classify() || !loaded.writeResults())
        return files;
    // The manifest names the run by its time and process: it is the one file
    // that differs between two runs.
    for (const auto& name : listFiles(controller.workspacePath, "").valueOr({}))
        if (name != kManifestName) files[name] = dir.read(workspace + "/" + name);
    const Evaluation evaluation(loaded.categories(), loaded.rawDocuments(),
                                static_cast<uint32_t>(loaded.rawDocuments().size()));
    files["evaluation"] = evaluation.overallReport();
    return files;
}

}  // namespace

TEST(Locale, ACommaDecimalLocaleWritesTheFilesOfTheCLocale) {
    TempDir dir;
    writeCorpus(dir);
    const auto knn = run(dir, "knn-c", ClassifierKind::Knn);
    const auto svm = run(dir, "svm-c", ClassifierKind::Svm);
    ASSERT_GE(knn.size(), 8u);
    ASSERT_TRUE(svm.count("model3.mdl"));

    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/setup generates it); "
                        "the comma-decimal run is skipped";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const std::string comma = probe;
    const auto knnDe = run(dir, "knn-de", ClassifierKind::Knn);
    const auto svmDe = run(dir, "svm-de", ClassifierKind::Svm);
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_EQ(comma, "0,5");  // the locale really writes a comma

    EXPECT_EQ(knnDe, knn);
    EXPECT_EQ(svmDe, svm);
    EXPECT_NE(knn.at("train.dat").find(".") , std::string::npos);
    EXPECT_NE(svm.at("params.dat").find("0.012500 # Epsion"), std::string::npos);
}
