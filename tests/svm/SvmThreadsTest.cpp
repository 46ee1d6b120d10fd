// The helper thread of linear training: every chunk of every step runs
// exactly once, and models do not depend on whether the helper takes part.
#include <atomic>
#include <random>
#include <stdexcept>

#include "SvmTestUtil.h"
#include "classify/svm/ChunkRunner.h"

namespace kestrel {
namespace {

using test::ScratchDir;

TEST(ChunkRunner, RunsEveryChunkOnceInEveryStep) {
    ChunkRunner runner;
    std::vector<std::atomic<int>> runs(8);
    for (int step = 0; step < 3000; ++step) {
        const int count = 1 + step % 6;
        const bool parallel = step % 7 != 0;
        std::vector<int> seen(size_t(count), 0);
        runner.run(count, [&](int chunk, int) {
            // A little work, so that the helper gets its share.
            volatile int spin = 0;
            for (int i = 0; i < 500; ++i) spin = spin + i;
            ++seen[size_t(chunk)];
            ++runs[size_t(chunk)];
        }, parallel);
        // The step is over when run returns: nothing runs later.
        for (int c = 0; c < count; ++c) ASSERT_EQ(seen[size_t(c)], 1) << "step " << step;
    }
    int total = 0;
    for (const std::atomic<int>& r : runs) total += r.load();
    EXPECT_EQ(total, 3000 / 6 * (1 + 2 + 3 + 4 + 5 + 6));
    // More chunks than the runner hands out run here, in order.
    std::vector<int> order;
    runner.run(ChunkRunner::kMaxChunks + 3, [&](int chunk, int lane) {
        order.push_back(chunk);
        EXPECT_EQ(lane, 0);
    }, true);
    ASSERT_EQ(order.size(), size_t(ChunkRunner::kMaxChunks + 3));
    for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], int(i));

    // A failing chunk fails the step once all chunks are done, on either
    // thread; the runner goes on working.
    for (int step = 0; step < 200; ++step) {
        std::atomic<int> finished{0};
        EXPECT_THROW(runner.run(4, [&](int chunk, int) {
            ++finished;
            if (chunk == step % 4) throw std::runtime_error("no memory");
        }, true), std::runtime_error);
        EXPECT_EQ(finished.load(), 4);
    }
    int after = 0;
    runner.run(3, [&](int, int) { ++after; }, false);
    EXPECT_EQ(after, 3);
}

// A sparse problem big enough for the linear training to split its work.
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

TEST(SvmLearn, LinearModelsDoNotDependOnTheHelperThread) {
    ScratchDir dir;
    const std::string train = dir.write("train.dat", textLikeFile(700, 3000, 4, 9));
    std::vector<std::string> models[2];
    for (bool helper : {false, true}) {
        ChunkRunner::setHelperAllowed(helper);
        CSVM svm;
        svm.param.trainFile = train;
        for (int k = 1; k <= 4; ++k) {
            svm.param.modelFile = dir.file("model.mdl");
            ASSERT_EQ(svm.learn(k), 0) << svm.lastError();
            models[helper].push_back(test::readAll(svm.param.modelFile));
        }
    }
    ChunkRunner::setHelperAllowed(true);
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(models[0][size_t(k)] == models[1][size_t(k)]) << "category " << k + 1;
}

}  // namespace
}  // namespace kestrel
