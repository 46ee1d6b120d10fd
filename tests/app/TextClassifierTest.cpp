#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "TestSupport.h"
#include "app/RunStages.h"
#include "app/TextClassifier.h"
#include "common/Progress.h"
#include "common/FileSystem.h"
#include "segment/DocumentSegmenter.h"

using namespace kestrel;
using kestrel::testing::succeeded;
using kestrel::testing::TempDir;
using kestrel::testing::descriptorsInto;

namespace {

// Splits a document at blanks and line ends; "FAIL" in the text fails it.
class BlankSegmenter : public DocumentSegmenter {
public:
    Status loadData(const std::string&) override {
        loads += loadable;
        return loadable ? Status::success() : Status::failure("no data in /nowhere/data/");
    }
    void setUnknownWordSwitch(int) override {}
    Result<SegmentedDocument> segmentDocument(const std::string& path) const override {
        const Result<std::string> read = readFile(path);
        if (!read) return read.status();
        const std::string& text = *read;
        if (text.find("FAIL") != std::string::npos) return Status::failure("cannot segment " + path);
        SegmentedDocument document;
        std::vector<std::string>& words = document.words;
        std::string word;
        for (const char c : text + " ") {
            if (c == ' ' || c == '\n') {
                if (!word.empty()) words.push_back(word);
                word.clear();
            } else {
                word += c;
            }
        }
        return document;
    }
    void releaseData() override { ++releases; }
    bool loadable = true;
    int loads = 0;
    int releases = 0;
};

// Decision values fixed per category number; category `failing` cannot be trained.
class FixedSvm : public SvmEngine {
public:
    void setSettings(const SvmSettings&) override {}
    Status learn(const std::string&, const std::string& model, unsigned category) override {
        if (category == failing)
            return Status::failure("category " + std::to_string(category) + " has no training document");
        ++learned;
        return writeFileAtomically(model, "model\n");
    }
    Status classifyFile(const std::string&, const std::string& model, std::vector<double>& values) override {
        values.assign(documents, 0.0);
        const unsigned c = static_cast<unsigned>(std::stoul(model.substr(model.rfind("model") + 5)));
        for (size_t n = 0; n < documents; ++n) values[n] = scores[n][c - 1];
        return Status();
    }
    Status classifyDocuments(const std::vector<DocumentVector>&, const std::string& model,
                             std::vector<double>& values) override {
        return classifyFile({}, model, values);
    }
    std::string lastWarning() const override { return note; }
    std::vector<std::vector<double>> scores;
    std::string note;
    size_t documents = 0;
    unsigned failing = 0;
    int learned = 0;
};

struct Pipeline {
    TempDir dir;
    TextClassifier controller;
    BlankSegmenter* segmenter = nullptr;

    Pipeline() {
        auto s = std::make_unique<BlankSegmenter>();
        segmenter = s.get();
        controller.setSegmenter(std::move(s));
        controller.workspacePath = dir.dir() + "model/";
        makeDirectory(controller.workspacePath);
    }
    // The run's place and resources: those the test gave the controller.
    RunEnvironment environment() const {
        return {controller.workspacePath, controller.startupDirectory, controller.threads};
    }
    void train(InputFormat format, uint32_t dim, int mode = kChi) {
        TrainingRun run;
        run.environment = environment();
        run.corpus = dir.dir() + "train/";
        run.format = format;
        run.categoryCount = static_cast<uint32_t>(listSubdirectories(run.corpus).valueOr({}).size());
        run.selection = {mode, dim};
        describeRun(controller, run);
        const RunOutcome outcome = runStages(
            controller, {RunStage::Preprocess, RunStage::Index, RunStage::Select, RunStage::TrainingVectors}, nullptr);
        ASSERT_TRUE(succeeded(outcome.status)) << "stage " << static_cast<int>(outcome.stage);
    }
    void process(const std::string& corpus, int mode, InputFormat format) {
        ClassificationRun run;
        run.environment = environment();
        run.corpus = dir.dir() + corpus + "/";
        run.format = format;
        run.labelled = mode == kTestVectors;
        describeRun(controller, run);
        const RunOutcome outcome = runStages(controller, {RunStage::PreprocessRaw, RunStage::CorpusVectors}, nullptr);
        ASSERT_TRUE(succeeded(outcome.status)) << "stage " << static_cast<int>(outcome.stage);
    }
    void knnParams(uint32_t k) {
        ClassifierParams p;
        p.k = k;
        ASSERT_TRUE(writeClassifierSettings(controller.workspacePath, p, controller.fsInfo()).ok());
    }
};

}  // namespace

TEST(TextClassifier, RawTextRunFromSegmentationToResults) {
    Pipeline run;
    run.dir.write("train/A/1.txt", "ball team 10:30 ball\n");
    run.dir.write("train/A/2.txt", "team goal\n");
    run.dir.write("train/B/1.txt", "stock bank\n");
    run.dir.write("train/B/2.txt", "bank rate stock\n");
    run.dir.write("train/B/notes.md", "ignored\n");
    run.train(InputFormat::RawText, 50);

    EXPECT_EQ(run.dir.read("model/classes.txt"), "0 A\n1 B\n");
    EXPECT_EQ(run.dir.read("train/A/1.seg"), "ball:2\nteam:1\n");  // distinct words in order of first occurrence
    EXPECT_FALSE(fileExists(run.dir.path("train/A/1.cla")));
    EXPECT_EQ(run.controller.categories()[0].docCount, 2u);
    EXPECT_EQ(run.controller.trainingDocCount, 4u);
    EXPECT_EQ(run.segmenter->loads, 1);
    EXPECT_EQ(run.segmenter->releases, 1);
    EXPECT_EQ(run.controller.oldDimensionality(), 6u);
    const std::string train = run.dir.read("model/train.dat");
    EXPECT_EQ(std::count(train.begin(), train.end(), '\n'), 4);
    EXPECT_EQ(train.substr(0, 2), "1 ");

    // A test corpus with a directory that is no training category.
    run.dir.write("test/A/x.txt", "goal ball\n");
    run.dir.write("test/B/y.txt", "rate\n");
    run.dir.write("test/C/z.txt", "ball\n");
    run.process("test", kTestVectors, InputFormat::RawText);
    ASSERT_EQ(run.controller.rawDocuments().size(), 2u);
    EXPECT_EQ(run.controller.rawDocCount, 2u);
    run.knnParams(1);
    ASSERT_TRUE(succeeded(run.controller.classify()));
    ASSERT_TRUE(run.controller.writeResults());
    EXPECT_EQ(run.dir.read("model/result.dat"), "x.txt 0 0\ny.txt 1 1\n");

    // An example corpus: label 0 in example.dat, true category -1.
    run.dir.write("ex/e.txt", "stock\n");
    run.dir.mkdir("ex/sub");
    run.dir.write("ex/sub/f.txt", "ball\n");
    run.process("ex", kExampleVectors, InputFormat::RawText);
    EXPECT_EQ(run.dir.read("model/example.dat").substr(0, 2), "0 ");
    ASSERT_TRUE(run.controller.classify());
    ASSERT_TRUE(run.controller.writeResults());
    EXPECT_EQ(run.dir.read("model/result.dat"), "e.txt -1 1\n");
}

TEST(TextClassifier, PreprocessedCorpusNeedsNoSegmenterAndListsDocumentsAsTxt) {
    Pipeline run;
    run.controller.setSegmenter(nullptr);
    run.dir.write("train/A/1.seg", "a:1\n");
    run.dir.write("train/B/1.seg", "b:1\n");
    run.dir.write("train/B/2.seg", "b:2\nc:1\n");
    run.train(InputFormat::Preprocessed, 2);
    EXPECT_EQ(run.controller.categories()[1].docCount, 2u);
    EXPECT_EQ(run.dir.read("model/features.txt").size() > 0, true);
    run.dir.write("test/B/x.seg", "b:1\n");
    run.process("test", kTestVectors, InputFormat::Preprocessed);
    ASSERT_EQ(run.controller.rawDocuments().size(), 1u);
    EXPECT_EQ(run.controller.rawDocuments()[0].fileName, "x.txt");

    // Raw text without a segmenter is reported, not faked.
    run.controller.trainingFormat = InputFormat::RawText;
    EXPECT_NE(run.controller.preprocessTraining().message().find("segmenter"), std::string::npos);
}

TEST(TextClassifier, SegmenterFailuresAreReportedAndSkipped) {
    Pipeline run;
    run.dir.write("train/A/1.txt", "ball\n");
    run.dir.write("train/A/2.txt", "FAIL\n");
    run.dir.write("train/B/1.txt", "bank\n");
    run.train(InputFormat::RawText, 10);
    EXPECT_EQ(run.controller.preprocessReport().failed, 1u);
    EXPECT_EQ(run.controller.preprocessReport().documents, 3u);
    EXPECT_EQ(run.controller.trainingDocCount, 2u);
    EXPECT_EQ(run.controller.categories()[0].docCount, 1u);
    ASSERT_EQ(run.controller.warnings().size(), 0u);  // warnings belong to the last operation

    // A raw document that fails is left out, so results stay paired with lines.
    run.dir.write("test/A/1.txt", "FAIL\n");
    run.dir.write("test/A/2.txt", "ball\n");
    run.dir.write("test/B/3.txt", "bank\n");
    run.process("test", kTestVectors, InputFormat::RawText);
    ASSERT_EQ(run.controller.rawDocuments().size(), 2u);
    EXPECT_EQ(run.controller.rawDocuments()[0].fileName, "2.txt");

    // A .seg that cannot be written (here a directory stands in its place,
    // which fails even for root) is reported the same way.
    run.dir.write("test/B/4.txt", "rate\n");
    run.dir.mkdir("test/B/4.seg");
    run.process("test", kTestVectors, InputFormat::RawText);
    EXPECT_EQ(run.controller.preprocessReport().failed, 2u);
    EXPECT_EQ(run.controller.rawDocuments().size(), 2u);

    // Segmenter data that cannot be loaded fails the step.
    run.segmenter->loadable = false;
    EXPECT_NE(run.controller.preprocessRaw().message().find("/nowhere/data/"), std::string::npos);
}

TEST(TextClassifier, ParallelPreprocessingWritesTheSameFiles) {
    TempDir dir;
    std::string text;
    for (int d = 0; d < 60; ++d) {
        text.clear();
        for (int w = 0; w < 200; ++w) text += "w" + std::to_string((w * 7 + d) % 37) + " ";
        dir.write("one/train/C" + std::to_string(d % 3) + "/" + std::to_string(d) + ".txt", text);
        dir.write("many/train/C" + std::to_string(d % 3) + "/" + std::to_string(d) + ".txt", text);
    }
    std::string results[2];
    for (int t = 0; t < 2; ++t) {
        TextClassifier c;
        c.setSegmenter(std::make_unique<BlankSegmenter>());
        c.threads = t == 0 ? 1 : 4;
        const std::string base = dir.dir() + (t == 0 ? "one/" : "many/");
        c.trainingCorpusPath = base + "train/";
        c.workspacePath = base;
        c.categoryCount = 3;
        ASSERT_TRUE(c.preprocessTraining());
        for (int d = 0; d < 60; ++d)
            results[t] += dir.read((t == 0 ? "one/train/C" : "many/train/C") + std::to_string(d % 3) + "/" +
                                   std::to_string(d) + ".seg");
    }
    EXPECT_FALSE(results[0].empty());
    EXPECT_EQ(results[0], results[1]);
}

TEST(TextClassifier, SvmArgMaxLowestIdWinsAndFailuresAreReported) {
    Pipeline run;
    for (const char* c : {"A", "B", "C"}) run.dir.write(std::string("train/") + c + "/1.seg", std::string(c) + ":1\n");
    run.train(InputFormat::Preprocessed, 10);
    for (const char* n : {"1", "2", "3"}) run.dir.write(std::string("ex/") + n + ".seg", "A:1\n");
    run.process("ex", kExampleVectors, InputFormat::Preprocessed);

    auto engine = std::make_unique<FixedSvm>();
    FixedSvm* svm = engine.get();
    svm->documents = 3;
    svm->scores = {{0.2, 0.7, 0.7}, {-3, -1, -2}, {std::nan(""), -5, -5}};
    run.controller.setSvmEngine(std::move(engine));
    ClassifierParams p;
    p.classifier = ClassifierKind::Svm;
    ASSERT_TRUE(writeParams(run.controller.workspacePath + "params.dat", p).ok());
    ASSERT_TRUE(succeeded(run.controller.classify()));
    EXPECT_EQ(svm->learned, 3);
    const auto& docs = run.controller.rawDocuments();
    EXPECT_EQ(docs[0].assignedCategory, 1);  // tie between 1 and 2
    EXPECT_EQ(docs[1].assignedCategory, 1);  // all negative: still the largest
    EXPECT_EQ(docs[2].assignedCategory, 1);  // NaN never wins
    EXPECT_TRUE(fileExists(run.controller.workspacePath + "model3.mdl"));

    // An engine note that comes with every category is reported once.
    svm->note = "1 line without a category was skipped";
    ASSERT_TRUE(run.controller.classify());
    EXPECT_EQ(run.controller.warnings(), std::vector<std::string>{svm->note});
    svm->note.clear();

    svm->failing = 2;
    ASSERT_TRUE(run.controller.classify());
    ASSERT_EQ(run.controller.warnings().size(), 1u);
    EXPECT_NE(run.controller.warnings()[0].find("category 2"), std::string::npos);

    run.controller.setSvmEngine(nullptr);
    EXPECT_FALSE(run.controller.classify());
}

TEST(TextClassifier, LoadingReplacesTables) {
    Pipeline run;
    run.dir.write("train/A/1.seg", "a:1\n");
    run.dir.write("train/B/1.seg", "b:1\n");
    run.train(InputFormat::Preprocessed, 10);
    run.knnParams(1);
    run.dir.write("test/A/x.seg", "a:1\n");
    run.process("test", kTestVectors, InputFormat::Preprocessed);
    ASSERT_TRUE(run.controller.classify());
    EXPECT_EQ(run.controller.knn().training().size(), 2u);

    TextClassifier loaded;
    loaded.workspacePath = run.controller.workspacePath;
    ASSERT_TRUE(succeeded(loaded.loadClassifier()));
    ASSERT_TRUE(loaded.loadClassifier());
    EXPECT_EQ(loaded.categories().size(), 2u);  // not doubled by the second load
    EXPECT_EQ(loaded.categoryCount, 2u);
    EXPECT_EQ(loaded.featureTable().size(), 2u);
    EXPECT_EQ(loaded.oldDimensionality(), 2u);

    ASSERT_TRUE(run.controller.loadClassifier());

    // Missing files fail the load at the first one, naming it.
    removeFile(run.controller.workspacePath + "train.dat");
    EXPECT_NE(loaded.loadClassifier().message().find("train.dat"), std::string::npos);
    loaded.workspacePath = run.dir.dir() + "none/";
    EXPECT_NE(loaded.loadClassifier().message().find("classes.txt"), std::string::npos);
}

TEST(TextClassifier, MissingCorpusOrParamsAreFailuresWithMessages) {
    Pipeline run;
    run.controller.trainingCorpusPath = run.dir.dir() + "absent/";
    EXPECT_NE(run.controller.preprocessTraining().message().find("absent"), std::string::npos);
    EXPECT_NE(run.controller.classify().message().find("params.dat"), std::string::npos);
    run.controller.rawCorpusPath = run.dir.dir() + "absent/";
    EXPECT_FALSE(run.controller.preprocessRaw());
}

TEST(TextClassifier, StepsThatProcessNothingFail) {
    Pipeline run;
    run.controller.trainingCorpusPath = run.dir.dir() + "train/";
    run.controller.categoryCount = 2;
    run.dir.write("train/A/1.txt", "FAIL\n");
    run.dir.write("train/B/1.txt", "FAIL\n");
    EXPECT_NE(run.controller.preprocessTraining().message().find("none of the 2 documents"), std::string::npos);
    EXPECT_FALSE(fileExists(run.controller.workspacePath + "classes.txt"));  // the failed step changed nothing

    // A workspace inside the corpus would become a category: refused.
    run.controller.workspacePath = run.dir.dir() + "train/model/";
    EXPECT_NE(run.controller.preprocessTraining().message().find("inside the training corpus"), std::string::npos);
    EXPECT_FALSE(isDirectory(run.controller.workspacePath));

    // Raw documents none of which can be segmented.
    run.controller.workspacePath = run.dir.dir() + "model/";
    run.dir.write("ex/1.txt", "FAIL\n");
    run.controller.rawCorpusPath = run.dir.dir() + "ex/";
    run.controller.vectorMode = kExampleVectors;
    EXPECT_FALSE(run.controller.preprocessRaw());

    // Training vectors from .seg files that are all unreadable.
    run.dir.write("train/A/1.txt", "ball\n");
    run.dir.write("train/B/1.txt", "bank\n");
    ASSERT_TRUE(succeeded(run.controller.preprocessTraining()));
    EXPECT_TRUE(run.controller.buildIndex().ok());
    run.controller.newDimensionality = 5;
    ASSERT_TRUE(run.controller.selectFeatures());
    // The training vectors come from the documents as the index read them,
    // not from a second reading of the .seg files.
    removeFile(run.dir.path("train/A/1.seg"));
    removeFile(run.dir.path("train/B/1.seg"));
    ASSERT_TRUE(succeeded(run.controller.writeVectors()));
    const std::string heldVectors = run.dir.read("model/train.dat");
    EXPECT_EQ(heldVectors.substr(0, 2), "1 ");
    // Read from the files, none of which is left: nothing is written.
    removeFile(run.controller.workspacePath + "train.dat");
    EXPECT_TRUE(run.controller.buildIndex().ok());
    EXPECT_NE(run.controller.writeVectors().message().find("no document"), std::string::npos);
    EXPECT_FALSE(fileExists(run.controller.workspacePath + "train.dat"));
}

TEST(TextClassifier, NamesThatCannotBeWrittenOnALineAreRefused) {
    Pipeline p;
    p.dir.write("train/A/1.seg", "x:1\n");
    p.dir.write("train/B\nC/1.seg", "y:1\n");
    p.controller.trainingCorpusPath = p.dir.dir() + "train/";
    p.controller.trainingFormat = InputFormat::Preprocessed;
    p.controller.categoryCount = 2;
    EXPECT_NE(p.controller.preprocessTraining().message().find("\"B\\x0AC\" in " + p.dir.dir() + "train/"),
              std::string::npos);
    EXPECT_FALSE(fileExists(p.controller.workspacePath + "classes.txt"));

    // A document whose name holds a line break is skipped with a warning.
    std::filesystem::rename(p.dir.path("train/B\nC"), p.dir.path("train/B"));
    p.dir.write("train/A/2\r.seg", "z:1\n");
    ASSERT_TRUE(succeeded(p.controller.preprocessTraining()));
    EXPECT_EQ(p.controller.trainingDocCount, 2u);
    ASSERT_EQ(p.controller.warnings().size(), 1u);
    EXPECT_NE(p.controller.warnings()[0].find("\"2\\x0D.seg\" in " + p.dir.dir() + "train/A/"), std::string::npos)
        << p.controller.warnings()[0];
}

TEST(TextClassifier, VectorsKeptFromWritingAreThoseOfTheFileUntilItChanges) {
    Pipeline run;
    run.dir.write("train/A/1.seg", "ball:2\nteam:1\n");
    run.dir.write("train/A/2.seg", "team:1\ngoal:3\n");
    run.dir.write("train/B/1.seg", "stock:1\nbank:2\n");
    run.dir.write("train/B/2.seg", "bank:1\nrate:1\nstock:2\n");
    run.train(InputFormat::Preprocessed, 50);
    run.knnParams(1);
    run.dir.write("test/A/x.seg", "goal:1\nball:1\n");
    run.dir.write("test/B/y.seg", "rate:2\nbank:1\n");
    run.dir.write("test/B/z.seg", "team:1\n");
    run.process("test", kTestVectors, InputFormat::Preprocessed);
    ASSERT_TRUE(succeeded(run.controller.classify()));
    std::vector<int32_t> kept;
    for (const auto& doc : run.controller.rawDocuments()) kept.push_back(doc.assignedCategory);
    EXPECT_EQ(kept, (std::vector<int32_t>{0, 1, 0}));

    // The same workspace loaded by another run reads test.dat instead.
    TextClassifier other;
    other.workspacePath = run.controller.workspacePath;
    ASSERT_TRUE(succeeded(other.loadClassifier()));
    other.rawCorpusPath = run.controller.rawCorpusPath;
    other.vectorMode = kTestVectors;
    other.rawFormat = InputFormat::Preprocessed;
    ASSERT_TRUE(other.preprocessRaw());
    ASSERT_TRUE(succeeded(other.classify()));
    for (size_t n = 0; n < kept.size(); ++n) EXPECT_EQ(other.rawDocuments()[n].assignedCategory, kept[n]);

    // The kept vectors never stand in for a test.dat changed since.
    run.dir.write("model/test.dat", "1 5:1.0\n2 5:1.0\n2 5:1.0\n");
    EXPECT_NE(run.controller.classify().message().find("test.dat"), std::string::npos);
}

TEST(TextClassifier, RoughSetsTakeTheTermListsTheIndexRead) {
    // Two copies of one corpus; in the second the files change after the
    // index was built. Both select the same features: the selection works on
    // the documents as the index read them, not on the files read again.
    Pipeline same, changed;
    for (Pipeline* run : {&same, &changed}) {
        run->dir.write("train/A/1.seg", "ball:2\nteam:1\n");
        run->dir.write("train/A/2.seg", "team:1\ngoal:3\n");
        run->dir.write("train/B/1.seg", "stock:1\nbank:2\n");
        run->dir.write("train/B/2.seg", "bank:1\nrate:1\nstock:2\n");
        run->controller.trainingCorpusPath = run->dir.dir() + "train/";
        run->controller.trainingFormat = InputFormat::Preprocessed;
        run->controller.categoryCount = 2;
        ASSERT_TRUE(run->controller.preprocessTraining());
        EXPECT_TRUE(run->controller.buildIndex().ok());
    }
    for (const char* name : {"train/A/1.seg", "train/A/2.seg", "train/B/1.seg", "train/B/2.seg"})
        changed.dir.write(name, "rate:1\n");
    for (Pipeline* run : {&same, &changed}) {
        run->controller.selectionMode = kRs;
        run->controller.newDimensionality = 10;
        ASSERT_TRUE(run->controller.selectFeatures());
    }
    EXPECT_EQ(same.dir.read("model/features.txt"), changed.dir.read("model/features.txt"));
    EXPECT_FALSE(same.dir.read("model/features.txt").empty());
}

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Over 512 documents (more than one batch of term lists) in two categories.
void writeBatchCorpus(Pipeline& run) {
    for (int n = 0; n < 600; ++n) {
        const std::string category = n % 3 ? "A" : "B";
        std::string text = fmt::format("w{}:{}\nshared:1\n{}:2\n", n % 37, n % 5 + 1, category);
        if (n % 7 == 0) text += fmt::format("rare{}:1\n", n);
        run.dir.write(fmt::format("train/{}/{:03}.seg", category, n), text);
    }
    run.controller.trainingCorpusPath = run.dir.dir() + "train/";
    run.controller.trainingFormat = InputFormat::Preprocessed;
    run.controller.categoryCount = 2;
}

struct CancelAt : ProgressSink {
    bool cancelled() const override { return true; }
};

}  // namespace

TEST(TextClassifier, TermListsInTheTemporaryFileGiveTheSameFiles) {
    // In memory; in the temporary file; in the file damaged or cut short
    // after the index: every run writes the same selection and vectors, and
    // damage is reported instead of used.
    Pipeline memory, spilled, damaged, cut;
    std::string expectedTrain, expectedRs;
    for (Pipeline* run : {&memory, &spilled, &damaged, &cut}) {
        writeBatchCorpus(*run);
        if (run != &memory) run->controller.termListMemoryLimit = 0;
        ASSERT_TRUE(succeeded(run->controller.preprocessTraining()));
        EXPECT_TRUE(run->controller.buildIndex().ok());
        const std::vector<int> fds = descriptorsInto(run->controller.workspacePath);
        ASSERT_EQ(fds.size(), run == &memory ? 0u : 1u);
        if (run == &damaged) {
            ASSERT_EQ(pwrite(fds[0], "\x7f\x7f\x7f", 3, 40), 3);
        }
        if (run == &cut) {
            ASSERT_EQ(ftruncate(fds[0], 100), 0);
        }
        run->controller.selectionMode = kChi;
        run->controller.newDimensionality = 20;
        ASSERT_TRUE(succeeded(run->controller.selectFeatures()));
        ASSERT_TRUE(succeeded(run->controller.writeVectors()));
        const std::string train = run->dir.read("model/train.dat");
        bool reported = false;
        for (const auto& w : run->controller.warnings()) reported |= w.find("could not be read back") != std::string::npos;
        EXPECT_EQ(reported, run == &damaged || run == &cut);
        run->controller.selectionMode = kRs;
        ASSERT_TRUE(succeeded(run->controller.selectFeatures()));
        const std::string rs = run->dir.read("model/features.txt");
        if (run == &memory) {
            expectedTrain = train;
            expectedRs = rs;
            EXPECT_EQ(std::count(train.begin(), train.end(), '\n'), 600);
            continue;
        }
        EXPECT_EQ(train, expectedTrain);
        EXPECT_EQ(rs, expectedRs);
    }
    // A cancelled stage leaves nothing in the workspace beside its files.
    const std::vector<std::string> before = namesIn(spilled.controller.workspacePath);
    CancelAt cancel;
    spilled.controller.selectionMode = kChi;
    ASSERT_TRUE(succeeded(spilled.controller.selectFeatures()));
    EXPECT_FALSE(spilled.controller.writeVectors(&cancel));
    EXPECT_EQ(namesIn(spilled.controller.workspacePath), before);
    EXPECT_EQ(spilled.dir.read("model/train.dat"), expectedTrain);
    // Another index replaces the file instead of adding one.
    EXPECT_TRUE(spilled.controller.buildIndex().ok());
    EXPECT_EQ(descriptorsInto(spilled.controller.workspacePath).size(), 1u);
    ASSERT_TRUE(succeeded(spilled.controller.preprocessTraining()));
    EXPECT_TRUE(descriptorsInto(spilled.controller.workspacePath).empty());
}

TEST(TextClassifier, ACancelledIndexLeavesNoIndexAndTheNextOneIsWhole) {
    Pipeline run;
    writeBatchCorpus(run);
    run.controller.termListMemoryLimit = 0;
    ASSERT_TRUE(succeeded(run.controller.preprocessTraining()));
    ASSERT_TRUE(succeeded(run.controller.buildIndex()));
    const size_t whole = run.controller.termIndex().size();
    ASSERT_GT(whole, 0u);
    CancelAt cancel;
    const Status cancelled = run.controller.buildIndex(&cancel);
    EXPECT_EQ(cancelled.message(), "indexing cancelled");
    // Nothing of a partial index is left to select from, and no temporary file.
    EXPECT_EQ(run.controller.termIndex().size(), 0u);
    EXPECT_EQ(run.controller.oldDimensionality(), 0u);
    EXPECT_TRUE(descriptorsInto(run.controller.workspacePath).empty());
    ASSERT_TRUE(succeeded(run.controller.buildIndex()));
    EXPECT_EQ(run.controller.termIndex().size(), whole);
    EXPECT_EQ(run.controller.oldDimensionality(), whole);
}
