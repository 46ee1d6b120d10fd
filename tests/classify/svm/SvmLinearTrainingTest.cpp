// Linear-kernel training on problems large enough for shrinking and
// reactivation: the result must meet the optimality conditions, whatever
// way the feature columns were laid out and whether the decomposition
// starts from 0 or from coordinate descent, and the weight-vector scorer
// must agree with the support-vector expansion.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "SvmTestUtil.h"
#include "classify/svm/KernelCache.h"
#include "classify/svm/QpSolver.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/SvmTrainer.h"
#include "classify/svm/TrainState.h"

namespace kestrel {
namespace {

// Sparse unit-length documents over `dim` features; each class prefers a
// few features, and a share of the labels is flipped, so that many
// multipliers end at C and the training runs long enough to shrink.
struct Problem {
    std::vector<SvmDoc> docs;
    std::vector<int32_t> targets;
    int32_t dim = 0;
};

Problem noisyProblem(int n, int32_t dim, unsigned seed, double flipped) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> feature(1, dim), length(3, 25);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Problem p;
    p.dim = dim;
    for (int i = 0; i < n; ++i) {
        const bool positive = unit(rng) < 0.3;
        std::vector<double> dense(size_t(dim) + 1, 0.0);
        for (int k = length(rng); k > 0; --k) {
            int32_t f = feature(rng);
            if (unit(rng) < 0.5) f = positive ? 1 + f % 8 : 9 + f % 8;
            dense[size_t(f)] += unit(rng);
        }
        p.docs.push_back(test::unitDoc(dense));
        p.targets.push_back((unit(rng) < flipped) != positive ? 1 : -1);
    }
    return p;
}

void expectOptimal(const Problem& p, const SvmModel& model, double C, bool biased, double tolerance) {
    test::expectLinearOptimal(p.docs, p.targets, p.dim, model, C, biased, tolerance);
}

// Trains with the linear kernel, by default from the coordinate-descent
// start; `fromZero` runs the decomposition alone.
SvmModel trainLinear(Problem& p, double C, bool biased, InitialColumns* columns, TrainingOutcome* outcome = nullptr,
                     bool fromZero = false) {
    LearnParams lp;
    lp.svmC = C;
    lp.biasedHyperplane = biased;
    lp.linearStart = !fromZero;
    KernelParams kp;
    kp.kernelType = KernelType::Linear;
    SvmModel model;
    QpSolver solver;
    TrainingOutcome result = SvmTrainer(solver).train(p.docs, p.targets, p.dim, lp, kp, nullptr, columns, model);
    if (outcome) *outcome = result;
    return model;
}

std::vector<double> alphasByDocument(const SvmModel& model, size_t n) {
    std::vector<double> alphas(n, 0.0);
    for (size_t i = 0; i < n; ++i)
        if (model.index[i] >= 0) alphas[i] = model.alpha[size_t(model.index[i])];
    return alphas;
}

// The decomposition from 0, long enough to shrink and reactivate, with the
// columns laid out afresh, with the columns of all documents kept from an
// earlier training (reactivations then copy out of those), and on a second
// solver: identical models that meet the conditions. From the
// coordinate-descent start: the same conditions, in far fewer iterations.
TEST(SvmLinearTraining, LongTrainingsMeetTheConditionsWithEveryColumnLayout) {
    for (bool biased : {true, false}) {
        Problem p = noisyProblem(700, 60, biased ? 11 : 12, 0.15);
        const double C = 1.0;
        TrainingOutcome outcome;
        InitialColumns kept;
        const SvmModel first = trainLinear(p, C, biased, &kept, &outcome, true);
        EXPECT_GT(outcome.iterations, 150) << "too short to shrink";
        EXPECT_FALSE(outcome.stoppedEarly);
        ASSERT_EQ(kept.documents, p.docs.size());
        const SvmModel again = trainLinear(p, C, biased, &kept, nullptr, true);
        const SvmModel alone = trainLinear(p, C, biased, nullptr, nullptr, true);
        for (const SvmModel* other : {&again, &alone}) {
            EXPECT_EQ(other->b, first.b);
            EXPECT_EQ(other->svNum, first.svNum);
            EXPECT_EQ(alphasByDocument(*other, p.docs.size()), alphasByDocument(first, p.docs.size()));
        }
        expectOptimal(p, first, C, biased, 1e-3 + 1e-9);
        TrainingOutcome started;
        const SvmModel warm = trainLinear(p, C, biased, &kept, &started);
        EXPECT_FALSE(started.stoppedEarly);
        EXPECT_LT(started.iterations, outcome.iterations);
        expectOptimal(p, warm, C, biased, 1e-3 + 1e-9);

        // The weight vector scores as the support-vector expansion does.
        SvmModel weighted = trainLinear(p, C, biased, &kept, nullptr, true);
        addLinearWeights(weighted);
        const Problem unseen = noisyProblem(50, 70, 99, 0.0);  // features beyond the training's too
        for (const SvmDoc& d : unseen.docs)
            EXPECT_NEAR(classifyLinear(weighted, d), classifyExample(first, d), 1e-6);
    }
}

// A training started from coordinate descent begins with the examples the
// descent leaves clearly at a bound inactive: the final check must bring
// back every one the solution reaches, so the model meets the conditions
// over all examples, also with many multipliers at C (flipped labels), and
// scores as the decomposition from 0 does.
TEST(SvmLinearTraining, StartedTrainingsMeetTheConditionsOverAllExamples) {
    for (bool biased : {true, false})
        for (double flipped : {0.0, 0.15, 0.4}) {
            Problem p = noisyProblem(900, 60, biased ? 21 : 22, flipped);
            TrainingOutcome outcome;
            const SvmModel started = trainLinear(p, 1.0, biased, nullptr, &outcome);
            EXPECT_FALSE(outcome.stoppedEarly);
            expectOptimal(p, started, 1.0, biased, 1e-3 + 1e-9);
            // Columns of all documents kept by a training from 0 leave it
            // as it was.
            InitialColumns kept;
            const SvmModel fromZero = trainLinear(p, 1.0, biased, &kept, nullptr, true);
            const SvmModel again = trainLinear(p, 1.0, biased, &kept, nullptr);
            EXPECT_EQ(again.b, started.b);
            EXPECT_EQ(alphasByDocument(again, p.docs.size()), alphasByDocument(started, p.docs.size()));
            for (const SvmDoc& d : p.docs)
                EXPECT_NEAR(classifyExample(fromZero, d), classifyExample(started, d), 0.05);
        }
}

// The threshold, the support-vector count and a hash of the bit patterns
// of the multipliers by document.
std::string fingerprint(const SvmModel& model, size_t n) {
    uint64_t hash = 1469598103934665603ull;
    for (double a : alphasByDocument(model, n)) {
        uint64_t bits;
        std::memcpy(&bits, &a, sizeof bits);
        hash = (hash ^ bits) * 1099511628211ull;
    }
    char text[128];
    std::snprintf(text, sizeof text, "%a %d %llu", model.b, model.svNum, (unsigned long long)hash);
    return text;
}

// Trainings sum in a fixed order, so they give the same bits on every run
// and build; a change of these values changes the models users have (they
// were taken from trainings that summed every dot product one example at a
// time and kept a full copy of the multipliers at each shrink step). The
// linear ones start from coordinate descent; the radial-basis one shrinks
// and checks the shrunk examples again before it ends.
TEST(SvmLinearTraining, TrainingsKeepTheirBits) {
    Problem p = noisyProblem(700, 60, 31, 0.15);
    EXPECT_EQ(fingerprint(trainLinear(p, 1.0, true, nullptr), p.docs.size()),
              "0x1.8a97af865c136p-2 312 9276435753367295879");
    EXPECT_EQ(fingerprint(trainLinear(p, 1.0, false, nullptr), p.docs.size()), "0x0p+0 315 1006048726210911148");

    Problem q = noisyProblem(600, 40, 41, 0.2);
    LearnParams lp;
    lp.svmC = 1.0;
    lp.skipFinalOptCheck = 0;
    KernelParams kp;
    kp.kernelType = KernelType::RadialBasis;
    kp.gamma = 0.5;
    KernelCache cache(q.docs, kp, 1);
    SvmModel model;
    QpSolver solver;
    const TrainingOutcome outcome = SvmTrainer(solver).train(q.docs, q.targets, q.dim, lp, kp, &cache, nullptr, model);
    EXPECT_GT(outcome.iterations, 150) << "too short to shrink";
    EXPECT_EQ(fingerprint(model, q.docs.size()), "0x1.b9cd9b329e74cp-2 393 6272283923040367083");
}

// Inputs without information: all documents alike (with both labels),
// documents without entries, and no positive document. Training ends with
// finite values, within its tolerance unless it says it stopped early.
TEST(SvmLinearTraining, DegenerateInputsEndWithFiniteModels) {
    auto finite = [](const SvmModel& m) {
        bool ok = std::isfinite(m.b);
        for (int32_t s = 1; s < m.svNum; ++s) ok = ok && std::isfinite(m.alpha[size_t(s)]);
        return ok;
    };
    for (int run = 0; run < 4; ++run) {
        const bool biased = run & 1, fromZero = run & 2;
        Problem same;
        same.dim = 3;
        for (int i = 0; i < 40; ++i) {
            same.docs.push_back(test::makeDoc({{1, 0.6}, {3, 0.8}}));
            same.targets.push_back(i % 3 == 0 ? 1 : -1);
        }
        TrainingOutcome outcome;
        SvmModel model = trainLinear(same, 0.5, biased, nullptr, &outcome, fromZero);
        EXPECT_TRUE(finite(model));
        // With a threshold the weight vector stays 0 and the subproblems
        // cannot move b; the decomposition then ends at its iteration limit
        // and says so (stoppedEarly).
        if (!outcome.stoppedEarly) expectOptimal(same, model, 0.5, biased, 1e-3 + 1e-9);
        else EXPECT_TRUE(biased);

        Problem empty = noisyProblem(60, 20, 5, 0.1);
        for (size_t i = 0; i < empty.docs.size(); i += 3) empty.docs[i] = test::makeDoc({});
        model = trainLinear(empty, 1.0, biased, nullptr, &outcome, fromZero);
        EXPECT_FALSE(outcome.stoppedEarly);
        EXPECT_TRUE(finite(model));
        expectOptimal(empty, model, 1.0, biased, 1e-3 + 1e-9);

        Problem negative = noisyProblem(60, 20, 6, 0.0);
        std::fill(negative.targets.begin(), negative.targets.end(), -1);
        model = trainLinear(negative, 1.0, biased, nullptr, &outcome, fromZero);
        EXPECT_TRUE(finite(model));
        for (const SvmDoc& d : negative.docs) EXPECT_LT(classifyExample(model, d), 0.0);
    }
}

}  // namespace
}  // namespace kestrel
