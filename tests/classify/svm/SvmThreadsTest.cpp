// Engines share nothing: two of them training at once on two threads, each
// with its own kernel and training file, write the models that each writes
// alone.
#include <random>
#include <thread>

#include "SvmTestUtil.h"
#include "classify/svm/CsvmEngine.h"

namespace kestrel {
namespace {

using test::ScratchDir;

// A sparse problem with the shape of text: class-typical features and a
// long tail.
std::string textLikeFile(int documents, int features, int categories, unsigned seed) {
    std::mt19937 rng(seed);
    std::string text;
    for (int d = 0; d < documents; ++d) {
        const int c = d % categories;
        std::vector<int> chosen;
        for (int k = 0; k < 50; ++k) {
            int f = (rng() % 3 == 0) ? 1 + c * 40 + int(rng() % 40)
                                     : 1 + int(std::min<double>(features - 1, std::exp(std::uniform_real_distribution<double>(0, std::log(features))(rng))));
            chosen.push_back(f);
        }
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        text += std::to_string(c + 1);
        for (int f : chosen) text += " " + std::to_string(f) + ":" + std::to_string(0.05 + (rng() % 1000) / 1000.0);
        text += '\n';
    }
    return text;
}

// Trains every category with one engine (all of them through learnAll,
// which itself trains two at a time where it can); the model texts.
std::vector<std::string> trainAll(const std::string& trainFile, const ScratchDir& dir, const std::string& prefix,
                                  KernelType kernel, int categories) {
    CsvmEngine engine;
    SvmSettings settings;
    settings.kernelType = kernelNumber(kernel);
    engine.setSettings(settings);
    std::vector<SvmEngine::Job> jobs;
    for (int k = 1; k <= categories; ++k)
        jobs.push_back({unsigned(k), dir.file(prefix + std::to_string(k) + ".mdl")});
    std::vector<std::string> models;
    for (const auto& r : engine.learnAll(trainFile, jobs, nullptr, nullptr)) EXPECT_TRUE(r.ok) << r.error;
    for (const auto& job : jobs) models.push_back(test::readAll(job.modelFile));
    return models;
}

TEST(SvmEngines, TwoEnginesTrainingAtOnceGiveTheModelsOfEachAlone) {
    ScratchDir dir;
    const std::string linearFile = dir.write("linear.dat", textLikeFile(600, 3000, 4, 9));
    const std::string rbfFile = dir.write("rbf.dat", textLikeFile(300, 1500, 3, 4));
    const auto linearAlone = trainAll(linearFile, dir, "la", KernelType::Linear, 4);
    const auto rbfAlone = trainAll(rbfFile, dir, "ra", KernelType::RadialBasis, 3);

    std::vector<std::string> linearTogether, rbfTogether;
    std::thread other([&] { rbfTogether = trainAll(rbfFile, dir, "rt", KernelType::RadialBasis, 3); });
    linearTogether = trainAll(linearFile, dir, "lt", KernelType::Linear, 4);
    other.join();
    EXPECT_TRUE(linearTogether == linearAlone);
    EXPECT_TRUE(rbfTogether == rbfAlone);
}

TEST(SvmEngines, OneThreadGivesTheModelsOfTwo) {
    ScratchDir dir;
    const std::string train = dir.write("train.dat", textLikeFile(700, 3000, 4, 9));
    std::vector<std::string> models[2];
    for (unsigned threads : {1u, 2u}) {
        CsvmEngine engine;
        engine.setThreads(threads);
        std::vector<SvmEngine::Job> jobs;
        for (unsigned k = 1; k <= 4; ++k) jobs.push_back({k, dir.file("model" + std::to_string(k) + ".mdl")});
        for (const auto& r : engine.learnAll(train, jobs, nullptr, nullptr)) EXPECT_TRUE(r.ok) << r.error;
        if (threads == 1) {
            EXPECT_EQ(engine.speculationsKept() + engine.speculationsRedone(), 0u);
        }
        for (const auto& job : jobs) models[threads - 1].push_back(test::readAll(job.modelFile));
    }
    EXPECT_TRUE(models[0] == models[1]);
}

}  // namespace
}  // namespace kestrel
