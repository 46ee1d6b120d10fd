#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"
#include "app/TextClassifier.h"
#include "classify/SvmEngine.h"
#include "common/FileSystem.h"
#include "common/Progress.h"
#include "evaluate/Evaluation.h"
#include "evaluate/WorkbookExport.h"
#include "evaluate/WorkbookReader.h"
#include "experiment/ExperimentReport.h"
#include "experiment/ExperimentRunner.h"
#include "experiment/FoldAssignment.h"
#include "experiment/ScoreChart.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::succeeded;
using testing::TempDir;

const std::string kSample = std::string(KESTREL_SOURCE_DIR) + "/examples/sample-seg/train/";

// An SVM engine that can train nothing, for failure rows.
class BrokenSvm : public SvmEngine {
public:
    void setSettings(const SvmSettings&) override {}
    Status learn(const std::string&, const std::string&, unsigned category) override {
        return Status::failure(fmt::format("category {}: solver out of order", category));
    }
    Status classifyFile(const std::string&, const std::string&, std::vector<double>&) override {
        return Status::failure("no model");
    }
    Status classifyDocuments(const std::vector<DocumentVector>&, const std::string&, std::vector<double>&) override {
        return Status::failure("no model");
    }
};

// Stops the run once `after` combinations have finished.
class StopAfter : public ProgressSink {
public:
    bool cancelled() const override { return stop; }
    bool stop = false;
};

ExperimentSettings sampleSettings(const TempDir& dir, uint32_t folds = 3) {
    ExperimentSettings s;
    s.corpusPath = kSample;
    s.workspacePath = dir.dir() + "ws/";
    s.inputFormat = InputFormat::Preprocessed;
    s.folds = folds;
    s.seed = 5;
    return s;
}

Combination combination(int selection, uint32_t dimension, ClassifierKind classifier) {
    Combination c;
    c.selection = selection;
    c.dimension = dimension;
    c.params.classifier = classifier;
    c.params.k = 5;
    return c;
}

// The steps of `kestrel train` and `kestrel classify --test` on a split
// written out as ordinary corpus directories.
Evaluation trainAndClassify(const std::string& train, const std::string& test, const std::string& workspace,
                            const Combination& c) {
    TextClassifier t;
    t.trainingCorpusPath = train;
    t.workspacePath = workspace;
    t.trainingFormat = InputFormat::Preprocessed;
    t.categoryCount = 4;
    EXPECT_TRUE(t.beginUpdate("train"));
    EXPECT_TRUE(t.preprocessTraining());
    EXPECT_TRUE(t.buildIndex().ok());
    t.selectionMode = c.selection;
    t.newDimensionality = c.dimension;
    EXPECT_TRUE(t.selectFeatures());
    EXPECT_TRUE(t.writeVectors());
    EXPECT_TRUE(succeeded(writeClassifierSettings(t.workDirectory(), c.params, t.fsInfo())));
    EXPECT_TRUE(t.commitUpdate());
    t.endUpdates();
    TextClassifier u;
    u.workspacePath = workspace;
    EXPECT_TRUE(u.loadClassifier());
    u.rawCorpusPath = test;
    u.rawFormat = InputFormat::Preprocessed;
    u.vectorMode = kTestVectors;
    EXPECT_TRUE(u.preprocessRaw());
    EXPECT_TRUE(u.writeVectors());
    EXPECT_TRUE(u.classify());
    return Evaluation(u.categories(), u.rawDocuments(), u.rawDocCount);
}

TEST(Experiment, FoldResultsEqualTrainAndClassifyOnTheSameSplit) {
    TempDir dir;
    const std::vector<Combination> grid = {combination(kChi, 40, ClassifierKind::Knn), combination(kIg, 40, ClassifierKind::Svm),
                                           combination(kRs, 30, ClassifierKind::Knn)};
    std::vector<CombinationResult> results;
    {
        Experiment experiment(sampleSettings(dir), grid);
        ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
        EXPECT_EQ(experiment.evaluationsPerCombination(), 3u);
        results = experiment.run(nullptr);
        EXPECT_TRUE(fs::exists(experiment.temporaryPath()));
    }
    // Temporary workspaces are gone; the corpus gained nothing.
    EXPECT_TRUE(fs::is_empty(dir.dir() + "ws"));
    ASSERT_EQ(results.size(), grid.size());

    // Fold 2 written out by hand with the same assignment.
    CategoryTable categories;
    for (const auto& name : listSubdirectories(kSample).valueOr({})) categories.push_back({name, 0});
    const auto documents = listTrainingDocuments(kSample, categories);
    std::vector<uint32_t> categoryOf;
    for (const auto& d : documents) categoryOf.push_back(d.category);
    const auto fold = assignFolds(categoryOf, 3, 5);
    for (size_t n = 0; n < documents.size(); ++n) {
        const std::string part = fold[n] == 1 ? "test/" : "train/";
        const Result<std::string> content = readFile(documents[n].path);
        ASSERT_TRUE(content) << content.message();
        dir.write(part + categories[documents[n].category].name + "/" + fs::path(documents[n].path).filename().string(),
                  *content);
    }
    for (const auto& result : results) {
        ASSERT_TRUE(result.evaluated()) << result.failure;
        ASSERT_EQ(result.folds.size(), 3u);
        fs::create_directories(dir.path("model"));
        const Evaluation expected =
            trainAndClassify(dir.dir() + "train/", dir.dir() + "test/", dir.dir() + "model/", result.combination);
        const FoldScores& got = result.folds[1];
        EXPECT_DOUBLE_EQ(got.microRecall, expected.microAverage().recall) << combinationName(result.combination);
        EXPECT_DOUBLE_EQ(got.macroRecall, expected.macroAverage().recall);
        EXPECT_DOUBLE_EQ(got.macroPrecision, expected.macroAverage().precision);
        EXPECT_GT(got.microF1, 0.5);  // the sample's categories are easy to tell apart
    }
}

TEST(Experiment, SameRunSameNumbersAndRankedTable) {
    TempDir dir;
    const std::vector<Combination> grid = {combination(kChi, 5, ClassifierKind::Knn), combination(kChi, 60, ClassifierKind::Knn), combination(kMi, 60, ClassifierKind::Svm)};
    auto once = [&] {
        Experiment experiment(sampleSettings(dir), grid);
        EXPECT_TRUE(succeeded(experiment.prepare(nullptr)));
        return rankResults(experiment.run(nullptr));
    };
    const auto first = once(), second = once();
    ASSERT_EQ(first.size(), 3u);
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].gridIndex, second[i].gridIndex);
        EXPECT_DOUBLE_EQ(first[i].macroF1.mean, second[i].macroF1.mean);
        if (i) {
            EXPECT_GE(first[i - 1].microF1.mean, first[i].microF1.mean);
        }
    }
    const std::string table = experimentTable(first);
    EXPECT_NE(table.find("1    " + combinationName(first[0].combination)), std::string::npos) << table;
}

TEST(Experiment, FailedCombinationsSayWhyAndTheOthersGoOn) {
    TempDir dir;
    Experiment experiment(sampleSettings(dir), {combination(kChi, 40, ClassifierKind::Svm), combination(kChi, 40, ClassifierKind::Knn)});
    experiment.setSvmEngineFactory([] { return std::make_unique<BrokenSvm>(); });
    ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
    const auto rows = rankResults(experiment.run(nullptr));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].failure.empty());
    EXPECT_EQ(rows[0].combination.params.classifier, ClassifierKind::Knn);
    EXPECT_NE(rows[1].failure.find("fold 1: classification: no SVM model could be trained"), std::string::npos)
        << rows[1].failure;
    EXPECT_NE(experimentTable(rows).find("failed: fold 1"), std::string::npos);
}

TEST(Experiment, RefusesWhatCannotBeEvaluatedAndWarnsOfSparseCategories) {
    TempDir dir;
    {
        Experiment experiment(sampleSettings(dir, 1), {combination(kChi, 40, ClassifierKind::Knn)});
        EXPECT_NE(experiment.prepare(nullptr).message().find("at least 2 folds"), std::string::npos);
    }
    {
        Experiment experiment(sampleSettings(dir, 500), {combination(kChi, 40, ClassifierKind::Knn)});
        EXPECT_NE(experiment.prepare(nullptr).message().find("500 folds need at least 500 documents"),
                  std::string::npos);
    }
    {
        auto settings = sampleSettings(dir);
        settings.workspacePath = kSample + "model/";
        Experiment experiment(settings, {combination(kChi, 40, ClassifierKind::Knn)});
        EXPECT_NE(experiment.prepare(nullptr).message().find("lies inside the corpus"), std::string::npos);
        EXPECT_FALSE(fs::exists(kSample + "model"));
    }
    // A category of two documents in 3 folds, and one with none.
    dir.write("c/a/1.seg", "x:1\n");
    dir.write("c/a/2.seg", "x:2\ny:1\n");
    for (int i = 0; i < 6; ++i) dir.write(fmt::format("c/b/{}.seg", i), "y:1\nz:1\n");
    dir.mkdir("c/empty");
    auto settings = sampleSettings(dir);
    settings.corpusPath = dir.dir() + "c/";
    Experiment experiment(settings, {combination(kChi, 2, ClassifierKind::Knn)});
    ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
    std::string warnings;
    for (const auto& w : experiment.warnings()) warnings += w + "\n";
    EXPECT_NE(warnings.find("category a has 2 documents, fewer than the 3 folds: 1 fold tests none of it"),
              std::string::npos) << warnings;
    EXPECT_NE(warnings.find("category empty has no documents"), std::string::npos) << warnings;
    const auto results = experiment.run(nullptr);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].evaluated()) << results[0].failure;
}

TEST(Experiment, StoppingKeepsTheFinishedRows) {
    TempDir dir;
    Experiment experiment(sampleSettings(dir),
                          {combination(kChi, 10, ClassifierKind::Knn), combination(kChi, 20, ClassifierKind::Knn), combination(kChi, 30, ClassifierKind::Knn)});
    ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
    StopAfter sink;
    size_t finished = 0;
    const auto results = experiment.run(&sink, [&](const CombinationResult&, size_t) {
        if (++finished == 2) sink.stop = true;
    });
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[1].evaluated());
}

// Folds run a group at a time, each group every combination: one fold at a
// time and all folds side by side give every combination the same scores
// on the same folds.
TEST(Experiment, FoldGroupsGiveTheScoresOfAllFoldsAtOnce) {
    const std::vector<Combination> combinations = {combination(kChi, 10, ClassifierKind::Knn),
                                                   combination(kIg, 20, ClassifierKind::Knn)};
    std::vector<std::vector<CombinationResult>> runs;
    for (const unsigned threads : {1u, 3u}) {
        TempDir dir;
        ExperimentSettings settings = sampleSettings(dir);
        settings.threads = threads;
        Experiment experiment(settings, combinations);
        ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
        std::vector<size_t> reported;
        runs.push_back(experiment.run(nullptr, [&](const CombinationResult&, size_t index) { reported.push_back(index); }));
        EXPECT_EQ(reported, (std::vector<size_t>{0, 1})) << threads << " threads";
    }
    ASSERT_EQ(runs[0].size(), 2u);
    ASSERT_EQ(runs[1].size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
        ASSERT_TRUE(runs[0][c].evaluated()) << runs[0][c].failure;
        ASSERT_EQ(runs[0][c].folds.size(), 3u);
        ASSERT_EQ(runs[1][c].folds.size(), 3u);
        for (size_t f = 0; f < 3; ++f) {
            EXPECT_EQ(runs[0][c].folds[f].microF1, runs[1][c].folds[f].microF1) << c << " fold " << f;
            EXPECT_EQ(runs[0][c].folds[f].macroRecall, runs[1][c].folds[f].macroRecall) << c << " fold " << f;
        }
    }
}

TEST(Experiment, HeldOutTestCorpus) {
    TempDir dir;
    auto settings = sampleSettings(dir);
    settings.testPath = std::string(KESTREL_SOURCE_DIR) + "/examples/sample-seg/test/";
    Experiment experiment(settings, {combination(kChi, 40, ClassifierKind::Knn)});
    ASSERT_TRUE(succeeded(experiment.prepare(nullptr)));
    EXPECT_EQ(experiment.evaluationsPerCombination(), 1u);
    const auto results = experiment.run(nullptr);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(results[0].folds.size(), 1u);
    fs::create_directories(dir.path("m"));
    const Evaluation expected = trainAndClassify(kSample, settings.testPath, dir.dir() + "m/", results[0].combination);
    EXPECT_DOUBLE_EQ(results[0].folds[0].macroF1 * 100,
                     Evaluation::f1Percent(expected.macroAverage().recall, expected.macroAverage().precision));
}

TEST(ExperimentExport, SheetIsCumulativeAndReadsBack) {
    TempDir dir;
    // A workbook from an ordinary evaluation export is already there.
    ASSERT_TRUE(succeeded(appendToWorkbook(dir.dir() + kEvaluationWorkbookName, "总体", {"特征选择"}, {{"CHI"}})));
    CombinationResult good;
    good.combination = combination(kIg, 200, ClassifierKind::Knn);
    good.folds = {FoldScores{0.8, 0.8, 0.8, 0.7, 0.9, 0.7875, 1, 2}, FoldScores{0.9, 0.9, 0.9, 0.8, 0.8, 0.8, 3, 4}};
    CombinationResult bad;
    bad.combination = combination(kRs, 200, ClassifierKind::Svm);
    bad.gridIndex = 1;
    bad.failure = "fold 2: selection: too large";
    const auto rows = rankResults({bad, good});
    ExperimentRun run{"2026-12-08 01:00:00", "20261208-010000", "c/", "2-fold cross-validation, seed 1"};
    ASSERT_TRUE(succeeded(exportExperiment(dir.dir(), dir.dir(), run, rows)));
    ASSERT_TRUE(succeeded(exportExperiment(dir.dir(), dir.dir(), run, rows)));

    const Result<std::vector<WorkbookSheet>> read = readWorkbook(dir.dir() + kEvaluationWorkbookName);
    ASSERT_TRUE(succeeded(read.status()));
    const std::vector<WorkbookSheet>& sheets = *read;
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].name, "总体");
    EXPECT_EQ(sheets[0].rows.size(), 2u);
    const auto& sheet = sheets[1];
    EXPECT_EQ(sheet.name, "实验");
    ASSERT_EQ(sheet.rows.size(), 5u);  // header and two rows, twice
    const auto header = sheet.rows[0].texts();
    auto column = [&](const std::string& name) {
        return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const auto first = sheet.rows[1].texts();
    EXPECT_EQ(first[column("名次")], "1");
    EXPECT_EQ(first[column("组合")], "IG 200 KNN k=5");
    EXPECT_EQ(first[column("训练参数")], "--select ig --dim 200 --classifier knn -k 5 --similarity cosine");
    EXPECT_EQ(first[column("微F1值")], "85.00");
    EXPECT_EQ(first[column("微F1值标准差")], "5.00");
    EXPECT_EQ(first[column("训练时间(s)")], "2.000");
    const auto failed = sheet.rows[2].texts();
    EXPECT_EQ(failed[column("名次")], "-");
    EXPECT_EQ(failed[column("说明")], "fold 2: selection: too large");
    EXPECT_EQ(sheet.rows[3].texts(), first);

    // The chart beside it is a PNG of the right size.
    const std::string png = readFile(dir.dir() + experimentChartName(run)).valueOr({});
    ASSERT_FALSE(png.empty());
    const PixelImage expected = drawScoreChart({{"IG 200 KNN K=5", 85, 5, 79.375, 0.625}}, "");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(static_cast<unsigned char>(png[19]), expected.width() & 0xFF);
}

TEST(ScoreChart, BarsReachTheirScores) {
    const PixelImage image = drawScoreChart({{"A", 100, 0, 50, 0}, {"B", 0, 0, 0, 0}}, "T");
    // First bar pair: micro F1 100 reaches the top gridline, macro 50 half way.
    const uint32_t micro = image.pixel(70 + 8 + 4, 60 + 2);
    const uint32_t macroTop = image.pixel(70 + 8 + 16 + 4, 60 + 160);
    const uint32_t macroAbove = image.pixel(70 + 8 + 16 + 4, 60 + 140);
    EXPECT_EQ(micro, 0x3A6EA5u);
    EXPECT_EQ(macroTop, 0xE08A2Cu);
    EXPECT_EQ(macroAbove, 0xFFFFFFu);
}

}  // namespace
}  // namespace kestrel
