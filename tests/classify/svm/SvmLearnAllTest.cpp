// Training all categories at once (two at a time where a second core is
// free) gives exactly the outcome of training them one after the other.
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "SvmTestUtil.h"
#include "classify/svm/CsvmEngine.h"

namespace kestrel {
namespace {

using test::ScratchDir;

// Sparse documents of `categories` classes with class-typical features.
std::string sparseFile(int documents, int features, int categories, unsigned seed) {
    std::mt19937 rng(seed);
    std::string text;
    for (int d = 0; d < documents; ++d) {
        const int c = int(rng() % unsigned(categories));
        std::vector<int> chosen;
        for (int k = 0; k < 25; ++k)
            chosen.push_back(rng() % 2 ? 1 + c * 30 + int(rng() % 30) : 1 + int(rng() % unsigned(features)));
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        text += std::to_string(c + 1);
        for (int f : chosen) text += " " + std::to_string(f) + ":" + std::to_string(0.05 + (rng() % 1000) / 1000.0);
        text += '\n';
    }
    return text;
}

// Three features only: with the sigmoid kernel the solver relaxes its
// precision during the trainings, so trainings run ahead must be redone.
std::string fewFeaturesFile(int documents, unsigned seed) {
    std::mt19937 rng(seed);
    std::string text;
    for (int d = 0; d < documents; ++d) {
        const int c = int(rng() % 3);
        text += std::to_string(c + 1);
        for (int j = 0; j < 3; ++j)
            text += " " + std::to_string(j + 1) + ":" + std::to_string((j == c ? 1.0 : 0.0) + (rng() % 400) / 1000.0);
        text += '\n';
    }
    return text;
}

struct Outcome {
    std::vector<SvmEngine::JobResult> results;
    std::vector<std::string> models;  // file contents, "<none>" when absent
    CCompute_Result state;
    std::vector<size_t> doneCalls;
};

void setKernel(CsvmEngine& engine, KernelType kernel) {
    SvmSettings settings;
    settings.kernelType = kernelNumber(kernel);
    if (kernel == KernelType::Sigmoid) {
        settings.coefS = 0.5;
        settings.coefC = 0.0;
    }
    engine.setSettings(settings);
}

std::string contentOf(const std::string& path) {
    return std::filesystem::exists(path) ? test::readAll(path) : std::string("<none>");
}

// Trains the jobs twice (to see the state carry over between calls), with
// learn one by one or with learnAll; every model file is made stale first.
Outcome train(const std::string& trainFile, const std::vector<SvmEngine::Job>& jobs, KernelType kernel,
              bool together, CsvmEngine* engineOut = nullptr) {
    CsvmEngine local;
    CsvmEngine& engine = engineOut ? *engineOut : local;
    setKernel(engine, kernel);
    Outcome out;
    for (int round = 0; round < 2; ++round) {
        for (const SvmEngine::Job& job : jobs) {
            std::error_code ec;
            std::filesystem::path dir = std::filesystem::path(job.modelFile).parent_path();
            if (std::filesystem::is_directory(dir, ec)) std::ofstream(job.modelFile) << "stale";
        }
        if (together) {
            out.results = engine.learnAll(trainFile, jobs, nullptr,
                                          [&](size_t n) { out.doneCalls.push_back(n); });
        } else {
            out.results.clear();
            for (const SvmEngine::Job& job : jobs) {
                SvmEngine::JobResult r;
                const Status status = engine.learn(trainFile, job.modelFile, job.category);
                r.ok = status.ok();
                r.error = status.message();
                r.warning = engine.lastWarning();
                out.results.push_back(r);
            }
        }
    }
    for (const SvmEngine::Job& job : jobs) out.models.push_back(contentOf(job.modelFile));
    out.state = engine.svm().solverState();
    return out;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool twoCores() { return std::thread::hardware_concurrency() >= 2; }

void expectSame(const Outcome& sequential, const Outcome& together) {
    ASSERT_EQ(sequential.results.size(), together.results.size());
    for (size_t j = 0; j < sequential.results.size(); ++j) {
        SCOPED_TRACE("job " + std::to_string(j + 1));
        EXPECT_EQ(sequential.results[j].ok, together.results[j].ok);
        EXPECT_EQ(sequential.results[j].error, together.results[j].error);
        EXPECT_EQ(sequential.results[j].warning, together.results[j].warning);
        EXPECT_TRUE(sequential.models[j] == together.models[j]);
    }
    const CCompute_Result &a = sequential.state, &b = together.state;
    EXPECT_TRUE(sameBits(a.precision, b.precision));
    EXPECT_EQ(a.maxIterations, b.maxIterations);
    EXPECT_TRUE(sameBits(a.linDepSensitivity, b.linDepSensitivity));
    EXPECT_EQ(a.precisionViolations, b.precisionViolations);
    EXPECT_EQ(a.allocated, b.allocated);
    ASSERT_GE(a.dual.size(), 2u);
    ASSERT_GE(b.dual.size(), 2u);
    EXPECT_TRUE(sameBits(a.dual[0], b.dual[0]) && sameBits(a.dual[1], b.dual[1]));
}

std::vector<SvmEngine::Job> jobsFor(const ScratchDir& dir, unsigned categories) {
    std::vector<SvmEngine::Job> jobs;
    for (unsigned k = 1; k <= categories; ++k) jobs.push_back({k, dir.file("model" + std::to_string(k) + ".mdl")});
    return jobs;
}

TEST(SvmLearnAll, GivesTheModelsAndStateOfLearningOneByOne) {
    ScratchDir dir;
    const std::string trainFile = dir.write("train.dat", sparseFile(300, 1500, 5, 3));
    const auto jobs = jobsFor(dir, 5);
    for (KernelType kernel : {KernelType::Linear, KernelType::RadialBasis}) {
        SCOPED_TRACE("kernel " + std::to_string(kernelNumber(kernel)));
        Outcome sequential = train(trainFile, jobs, kernel, false);
        CsvmEngine engine;
        Outcome together = train(trainFile, jobs, kernel, true, &engine);
        expectSame(sequential, together);
        EXPECT_EQ(together.doneCalls, (std::vector<size_t>{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
        if (twoCores()) {
            EXPECT_GT(engine.speculationsKept(), 0u);
        }
        // The training run ahead read the engine's parsed copy of the file.
        EXPECT_EQ(engine.aheadTrainingFileReads(), 0);
        EXPECT_EQ(engine.svm().trainingFileReads(), 1);
        for (const auto& r : together.results) EXPECT_TRUE(r.ok) << r.error;
    }
}

TEST(SvmLearnAll, RedoesTrainingsWhenTheSolverRelaxedItsPrecision) {
    ScratchDir dir;
    const std::string trainFile = dir.write("few.dat", fewFeaturesFile(80, 14));
    const auto jobs = jobsFor(dir, 3);
    Outcome sequential = train(trainFile, jobs, KernelType::Sigmoid, false);
    CsvmEngine engine;
    Outcome together = train(trainFile, jobs, KernelType::Sigmoid, true, &engine);
    expectSame(sequential, together);
    if (twoCores()) {
        EXPECT_GT(engine.speculationsRedone(), 0u);
    }
}

TEST(SvmLearnAll, FailingJobsAndStopBehaveAsOneByOne) {
    ScratchDir dir;
    const std::string trainFile =
        dir.write("train.dat", "# notes\n" + sparseFile(120, 600, 3, 5) + "0 1:0.5\nbad line\n");
    // Category 9 has no documents, 0 is no category, and one model cannot
    // be written (its folder does not exist): each fails in its place, and
    // stale models of failed jobs are removed.
    std::vector<SvmEngine::Job> jobs = {{1, dir.file("m1.mdl")},
                                        {9, dir.file("m9.mdl")},
                                        {2, dir.file("no/such/folder/m2.mdl")},
                                        {0, dir.file("m0.mdl")},
                                        {3, dir.file("m3.mdl")},
                                        {2, dir.file("m2.mdl")}};
    Outcome sequential = train(trainFile, jobs, KernelType::Linear, false);
    Outcome together = train(trainFile, jobs, KernelType::Linear, true);
    expectSame(sequential, together);
    EXPECT_FALSE(together.results[1].ok);
    EXPECT_FALSE(together.results[2].ok);
    EXPECT_FALSE(together.results[3].ok);
    EXPECT_EQ(together.models[1], "<none>");
    EXPECT_FALSE(together.results[0].warning.empty());  // the skipped and unlabeled lines

    // Stopping after the second job: two results, later models untouched.
    CsvmEngine engine;
    setKernel(engine, KernelType::Linear);
    const auto plain = jobsFor(dir, 3);
    std::ofstream(plain[2].modelFile) << "stale";
    std::atomic<size_t> finished = 0;  // the stop is also asked by the training run ahead
    auto results = engine.learnAll(trainFile, plain, [&] { return finished >= 2; },
                                   [&](size_t n) { finished = n; });
    EXPECT_EQ(results.size(), 2u);
    EXPECT_EQ(test::readAll(plain[2].modelFile), "stale");
}

TEST(SvmLearnAll, AStopEndsTheTrainingUnderWayAndLeavesNoTrace) {
    ScratchDir dir;
    const std::string trainFile = dir.write("train.dat", sparseFile(300, 1500, 4, 7));
    const auto jobs = jobsFor(dir, 4);
    Outcome fresh = train(trainFile, jobs, KernelType::RadialBasis, true);

    // The stop comes while the first model trains: asked between the
    // solver's iterations, it ends that training there.
    CsvmEngine engine;
    setKernel(engine, KernelType::RadialBasis);
    std::atomic<int> asked = 0;
    auto results = engine.learnAll(trainFile, jobs, [&] { return ++asked > 3; }, nullptr);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_NE(results[0].error.find("cancelled"), std::string::npos) << results[0].error;
    EXPECT_FALSE(std::filesystem::exists(jobs[0].modelFile));

    // The engine trains afterwards exactly as one that never ran.
    Outcome after = train(trainFile, jobs, KernelType::RadialBasis, true, &engine);
    expectSame(fresh, after);
}

}  // namespace
}  // namespace kestrel
