// Training, one-versus-rest learning and classification of files.
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>

#include "SvmTestUtil.h"
#include "classify/svm/CsvmEngine.h"
#include "classify/svm/QpSolver.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/SvmTrainer.h"
#include "common/FileSystem.h"

namespace kestrel {
namespace {

using test::ScratchDir;

// Two one-dimensional points, x+ = 3 and x- = 1: the maximum-margin
// hyperplane is x - 2 = 0 with both multipliers 0.5.
TEST(SvmTraining, SmallSeparableProblemReachesTheKnownOptimum) {
    for (KernelType kernel : {KernelType::Linear, KernelType::Polynomial}) {
        std::vector<SvmDoc> docs = {test::makeDoc({{1, 3.0}}), test::makeDoc({{1, 1.0}})};
        std::vector<int32_t> targets = {1, -1};
        LearnParams lp;
        lp.svmC = 10.0;
        KernelParams kp;
        kp.kernelType = kernel;   // polynomial with d = 1, s = 1, c = 0 is linear too
        SvmModel model;
        QpSolver solver;
        SvmTrainer(solver).train(docs, targets, 1, lp, kp, nullptr, nullptr, model);
        ASSERT_EQ(model.supportVectorCount(), 2) << kernelNumber(kernel);
        EXPECT_NEAR(model.b, 2.0, 2e-3);
        for (int32_t i = 1; i < model.svNum; ++i) {
            double expected = model.supvec[size_t(i)] == &docs[0] ? 0.5 : -0.5;
            EXPECT_NEAR(model.alpha[size_t(i)], expected, 2e-3);
        }
        EXPECT_NEAR(classifyExample(model, test::makeDoc({{1, 2.0}})), 0.0, 3e-3);
    }
}

// A separable problem in several dimensions: every training document ends
// on the right side, with and without the threshold, for every kernel.
std::string separableFile(int categories, int perCategory, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> noise(0.0, 0.3);
    std::string text;
    for (int c = 1; c <= categories; ++c)
        for (int d = 0; d < perCategory; ++d) {
            text += std::to_string(c);
            for (int f = 1; f <= categories + 2; ++f) {
                double w = (f == c ? 1.0 : 0.0) + noise(rng);
                char item[64];
                std::snprintf(item, sizeof item, " %d:%.6f", f, w);
                text += item;
            }
            text += '\n';
        }
    return text;
}

TEST(SvmLearn, OneVersusRestSeparatesEveryKernel) {
    Status last;
    ScratchDir dir;
    std::string train = dir.write("train.dat", separableFile(3, 40, 1));
    std::string test = dir.write("test.dat", separableFile(3, 20, 2));
    struct Case { int kernel; int biased; };
    for (Case c : {Case{0, 1}, Case{0, 0}, Case{1, 1}, Case{2, 1}, Case{2, 0}}) {
        CsvmEngine engine;
        SvmSettings settings;
        settings.kernelType = c.kernel;
        settings.biased = c.biased;
        settings.degree = 2;
        engine.setSettings(settings);
        std::vector<std::vector<double>> scores;
        for (unsigned k = 1; k <= 3; ++k) {
            std::string model = dir.file("model" + std::to_string(k) + ".mdl");
            ASSERT_TRUE((last = engine.learn(train, model, k)).ok()) << last.message();
            // Converged (no stop at the iteration limit), also with the
            // working set lowered to the five features.
            EXPECT_EQ(engine.lastWarning(), "");
            std::string text = test::readAll(model);
            EXPECT_EQ(text.compare(24, 1, std::to_string(c.kernel)), 0);
            if (!c.biased) {
                EXPECT_NE(text.find("\n0 # threshold b"), std::string::npos);
            }
            std::vector<double> values;
            ASSERT_TRUE((last = engine.classifyFile(test, model, values)).ok()) << last.message();
            ASSERT_EQ(values.size(), 60u);
            scores.push_back(values);
        }
        int correct = 0;
        for (size_t d = 0; d < 60; ++d) {
            size_t best = 0;
            for (size_t k = 1; k < 3; ++k)
                if (scores[k][d] > scores[best][d]) best = k;
            if (best == d / 20) ++correct;
        }
        EXPECT_GE(correct, 57) << "kernel " << c.kernel << " biased " << c.biased;
    }
}

TEST(SvmLearn, FailuresNameTheCategoryAndRemoveStaleModels) {
    Status last;
    ScratchDir dir;
    CSVM svm;
    svm.param.modelFile = dir.write("model2.mdl", "stale");

    svm.param.trainFile = dir.write("empty.dat", "");
    EXPECT_FALSE((last = svm.learn(2)).ok());
    EXPECT_NE(last.message().find("no training documents"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(svm.param.modelFile));

    dir.write("model2.mdl", "stale");
    svm.param.trainFile = dir.file("missing.dat");
    EXPECT_FALSE((last = svm.learn(2)).ok());
    EXPECT_NE(last.message().find("category 2"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(svm.param.modelFile));

    // A category without a training document.
    svm.param.trainFile = dir.write("train.dat", "1 1:1\n3 2:1\n");
    EXPECT_FALSE((last = svm.learn(2)).ok());
    EXPECT_NE(last.message().find("category 2"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(svm.param.modelFile));

    // Unlabeled documents and malformed lines are left out, with a note.
    svm.param.trainFile = dir.write("train2.dat", "1 1:1\n0 1:1\n2 2:1\n2 2:nan\n1 1:0.9 2:0.1\n");
    EXPECT_TRUE((last = svm.learn(2)).ok()) << last.message();
    EXPECT_EQ(svm.lastDocuments(), 3);
    EXPECT_NE(svm.lastWarning().find("unlabeled"), std::string::npos);
    EXPECT_NE(svm.lastWarning().find("line 4"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(svm.param.modelFile));
}

// One huge weight makes the subproblems ill-conditioned: the solver never
// settles. The training's work is bounded, so it returns soon with a model
// and a warning that names the category.
TEST(SvmLearn, ExtremeWeightStopsAtTheWorkLimitWithAWarning) {
    Status last;
    ScratchDir dir;
    std::string text;
    int line = 0;
    forEachLine(separableFile(3, 20, 7), [&](std::string_view l) {
        text += ++line == 36 ? std::string("3 5:899872") : std::string(l);
        text += '\n';
    });
    CSVM svm;
    svm.param.trainFile = dir.write("train.dat", text);
    bool stopped = false;
    const auto start = std::chrono::steady_clock::now();
    for (int k = 1; k <= 3; ++k) {
        svm.param.modelFile = dir.file("model" + std::to_string(k) + ".mdl");
        ASSERT_TRUE((last = svm.learn(k)).ok()) << last.message();
        EXPECT_TRUE(std::filesystem::exists(svm.param.modelFile));
        if (svm.lastWarning().find("stopped") != std::string::npos) {
            stopped = true;
            EXPECT_NE(svm.lastWarning().find("category " + std::to_string(k)), std::string::npos);
            break;
        }
    }
    EXPECT_TRUE(stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(SvmClassify, FailuresLeaveZerosAndKeepSlots) {
    Status last;
    ScratchDir dir;
    CsvmEngine engine;
    std::string train = dir.write("train.dat", separableFile(2, 10, 3));
    std::string model = dir.file("model1.mdl");
    ASSERT_TRUE((last = engine.learn(train, model, 1)).ok()) << last.message();

    std::vector<double> values(3, 5.0);
    EXPECT_FALSE((last = engine.classifyFile(dir.write("empty.dat", ""), model, values)).ok());
    EXPECT_NE(last.message().find("no document lines"), std::string::npos);
    EXPECT_EQ(values, std::vector<double>(3, 0.0));

    std::string test = dir.write("test.dat", "1 1:1\n2 2:1\n");
    EXPECT_FALSE((last = engine.classifyFile(test, dir.file("missing.mdl"), values)).ok());
    std::string text = test::readAll(model);
    EXPECT_FALSE((last = engine.classifyFile(test, dir.write("old.mdl", "SVM-light Version V3.02\n" + text.substr(24)),
                                     values)).ok());
    EXPECT_NE(last.message().find("V3.02"), std::string::npos);
    EXPECT_FALSE((last = engine.classifyFile(test, dir.write("cut.mdl", text.substr(0, text.size() / 2)), values)).ok());

    // A malformed line keeps its slot in CSVM; the engine refuses the file.
    CSVM svm;
    svm.param.modelFile = model;
    svm.param.inputFile = dir.write("bad.dat", "1 1:1\n1 3:1 3:1\n\n2 2:1 99:1\n");
    ASSERT_TRUE((last = svm.classifyFile(values)).ok());
    ASSERT_EQ(values.size(), 3u);
    EXPECT_GT(values[0], 0.0);
    EXPECT_EQ(values[1], 0.0);
    EXPECT_LT(values[2], 0.0);   // feature 99 is above the model and dropped
    EXPECT_EQ(svm.lastReport().rejected, 1);
    EXPECT_FALSE((last = engine.classifyFile(svm.param.inputFile, model, values)).ok());
    EXPECT_NE(last.message().find("line 2"), std::string::npos);

    // Documents in memory: the values of the file, and zeros for each when
    // the model cannot be read.
    std::vector<DocumentVector> docs = {test::makeDoc({{1, 1.0}}), test::makeDoc({{2, 1.0}, {99, 1.0}})};
    std::vector<double> inMemory;
    ASSERT_TRUE((last = engine.classifyDocuments(docs, model, inMemory)).ok()) << last.message();
    ASSERT_TRUE((last = svm.classifyFile(values)).ok());
    EXPECT_EQ(inMemory, (std::vector<double>{values[0], values[2]}));
    EXPECT_FALSE((last = engine.classifyDocuments(docs, dir.file("missing.mdl"), inMemory)).ok());
    EXPECT_EQ(inMemory, std::vector<double>(2, 0.0));
}

// learn keeps the parsed training file while it is unchanged; a kept file
// must train exactly as a freshly read one, and any change must be seen.
TEST(SvmLearn, KeptTrainingFileTrainsLikeAFreshReadAndSeesChanges) {
    Status last;
    ScratchDir dir;
    const std::string text = "0 1:1\n" + separableFile(3, 12, 6) + "2 3:1 3:2\n";
    const std::string train = dir.write("train.dat", text);
    CSVM kept, fresh;
    kept.param.trainFile = train;
    fresh.param.trainFile = dir.write("copy.dat", text);
    for (int k = 1; k <= 3; ++k) {
        kept.param.modelFile = dir.file("kept" + std::to_string(k) + ".mdl");
        fresh.param.modelFile = dir.file("fresh" + std::to_string(k) + ".mdl");
        ASSERT_TRUE((last = kept.learn(k)).ok()) << last.message();
        // A rewrite with the same text makes `fresh` read its file again.
        dir.write("copy.dat", text);
        ASSERT_TRUE((last = fresh.learn(k)).ok()) << last.message();
        EXPECT_EQ(test::readAll(kept.param.modelFile), test::readAll(fresh.param.modelFile)) << k;
        // The notes about skipped lines come with the kept file too.
        std::string note = fresh.lastWarning();
        for (size_t at; (at = note.find("copy.dat")) != std::string::npos;) note.replace(at, 8, "train.dat");
        EXPECT_EQ(kept.lastWarning(), note);
        EXPECT_NE(kept.lastWarning().find("unlabeled"), std::string::npos);
        EXPECT_EQ(kept.lastReport().rejected, 1);
    }
    EXPECT_EQ(kept.trainingFileReads(), 1);
    EXPECT_EQ(fresh.trainingFileReads(), 3);

    // Other text of the same length with the old modification time: read
    // again (the change time gives it away).
    struct stat before;
    ASSERT_EQ(::stat(train.c_str(), &before), 0);
    std::string swapped = text;
    for (char& c : swapped)
        if (c == '1') c = '4';  // category 1 becomes 4: none left for model 1
    dir.write("train.dat", swapped);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, train.c_str(), times, 0), 0);
    kept.param.modelFile = dir.file("kept1.mdl");
    EXPECT_FALSE((last = kept.learn(1)).ok());
    EXPECT_NE(last.message().find("no training document"), std::string::npos);
    EXPECT_EQ(kept.trainingFileReads(), 2);

    // A vanished file fails, and is read again once it is back.
    std::filesystem::remove(train);
    EXPECT_FALSE((last = kept.learn(2)).ok());
    EXPECT_NE(last.message().find("train.dat"), std::string::npos);
    dir.write("train.dat", text);
    kept.param.modelFile = dir.file("again1.mdl");
    ASSERT_TRUE((last = kept.learn(1)).ok()) << last.message();
    EXPECT_EQ(kept.trainingFileReads(), 3);
}

TEST(SvmLearn, SolverTuningCarriesOverBetweenTrainings) {
    Status last;
    ScratchDir dir;
    CSVM svm;
    svm.param.trainFile = dir.write("train.dat", separableFile(2, 15, 4));
    svm.param.modelFile = dir.file("model1.mdl");
    ASSERT_TRUE((last = svm.learn(1)).ok());
    EXPECT_GT(svm.solverState().allocated, 0);
    CCompute_Result state = svm.solverState();
    state.maxIterations = 1234;
    state.linDepSensitivity = 2e-8;
    svm.setSolverState(state);
    ASSERT_TRUE((last = svm.learn(2)).ok());
    EXPECT_GE(svm.solverState().maxIterations, 1234);
    EXPECT_GE(svm.solverState().linDepSensitivity, 2e-8);
}

}  // namespace
}  // namespace kestrel
