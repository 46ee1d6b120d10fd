// The one-versus-rest problems of one set of documents descend together:
// the starts must not depend on the number of threads, must stay within
// the multipliers' bounds, and every training from them must end at the
// optimum, also on degenerate inputs.
#include <cmath>
#include <random>

#include "SvmTestUtil.h"
#include "classify/svm/LinearStarts.h"
#include "classify/svm/QpSolver.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/SvmTrainer.h"

namespace kestrel {
namespace {

// Unit-length sparse documents of `classes` classes, each class preferring
// a few features, a share of the labels flipped; some documents empty.
struct Corpus {
    std::vector<SvmDoc> docs;
    std::vector<int> label;
    int32_t dim = 0;
};

Corpus noisyCorpus(int n, int classes, int32_t dim, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Corpus corpus;
    corpus.dim = dim;
    for (int i = 0; i < n; ++i) {
        const int c = int(rng() % unsigned(classes));
        std::vector<double> dense(size_t(dim) + 1, 0.0);
        if (i % 50 != 7)
            for (int k = 3 + int(rng() % 20); k > 0; --k) {
                const int32_t f = unit(rng) < 0.5 ? 1 + c * 6 + int32_t(rng() % 6) : 1 + int32_t(rng() % unsigned(dim));
                dense[size_t(f)] += unit(rng);
            }
        corpus.docs.push_back(test::unitDoc(dense));
        corpus.label.push_back(unit(rng) < 0.1 ? int(rng() % unsigned(classes)) : c);
    }
    return corpus;
}

std::vector<StartProblem> oneVersusRest(const Corpus& corpus, int classes, double C) {
    std::vector<StartProblem> problems(static_cast<size_t>(classes));
    for (int c = 0; c < classes; ++c) {
        StartProblem& p = problems[size_t(c)];
        for (int label : corpus.label) p.y.push_back(label == c ? 1 : -1);
        p.costPositive = p.costNegative = C;
    }
    return problems;
}

// Seven problems (two groups): the same bits with one thread or two; each
// start within its bounds, and each training from it optimal, with and
// without a threshold.
TEST(SvmLinearStarts, GroupsGiveTheSameStartsOnAnyThreadsAndTrainToTheOptimum) {
    const int classes = 7;
    const double C = 1.0;
    Corpus corpus = noisyCorpus(900, classes, 60, 3);
    for (bool biased : {true, false}) {
        const std::vector<StartProblem> problems = oneVersusRest(corpus, classes, C);
        std::vector<LinearStart> alone, together;
        ASSERT_TRUE(computeLinearStarts(corpus.docs, size_t(corpus.dim) + 1, problems, biased, 1, {}, alone));
        ASSERT_TRUE(computeLinearStarts(corpus.docs, size_t(corpus.dim) + 1, problems, biased, 2, {}, together));
        ASSERT_EQ(alone.size(), size_t(classes));
        for (int c = 0; c < classes; ++c) {
            SCOPED_TRACE("problem " + std::to_string(c) + (biased ? " biased" : " unbiased"));
            const LinearStart& start = together[size_t(c)];
            EXPECT_EQ(start.alpha, alone[size_t(c)].alpha);
            EXPECT_EQ(start.threshold, alone[size_t(c)].threshold);
            if (!biased) {
                EXPECT_EQ(start.threshold, 0.0);
            }
            for (double a : start.alpha) ASSERT_TRUE(a >= 0.0 && a <= C);

            std::vector<int32_t> targets(problems[size_t(c)].y.begin(), problems[size_t(c)].y.end());
            LearnParams lp;
            lp.svmC = C;
            lp.biasedHyperplane = biased;
            KernelParams kp;
            SvmModel model;
            QpSolver solver;
            SvmTrainer trainer(solver);
            trainer.setLinearStart(&start);
            const TrainingOutcome outcome =
                trainer.train(corpus.docs, targets, corpus.dim, lp, kp, nullptr, nullptr, model);
            EXPECT_FALSE(outcome.stoppedEarly);
            test::expectLinearOptimal(corpus.docs, targets, corpus.dim, model, C, biased, 1e-3 + 1e-9);
        }
    }
}

// A problem without positive examples, one with examples left out (target
// 0) and one with a single positive, over distinct documents and over one
// document repeated, more of them than one group takes: starts within
// their bounds, no example left out gets a multiplier, and a stop asked for
// ends the descent at once.
TEST(SvmLinearStarts, DegenerateProblemsAndStops) {
    Corpus corpus = noisyCorpus(200, 3, 30, 9);
    std::vector<StartProblem> problems(4);
    for (size_t i = 0; i < corpus.docs.size(); ++i) {
        problems[0].y.push_back(-1);
        problems[1].y.push_back(i % 2 ? 1 : -1);
        problems[2].y.push_back(i % 3 == 0 ? 0 : (corpus.label[i] == 1 ? 1 : -1));
        problems[3].y.push_back(i == 17 ? 1 : -1);
    }
    for (StartProblem& p : problems) p.costPositive = p.costNegative = 0.5;
    // More problems than descend in one group.
    for (size_t c = 4; c < 19; ++c) problems.push_back(problems[c % 4]);
    std::vector<SvmDoc> same(corpus.docs.size(), corpus.docs[0]);
    for (bool biased : {true, false})
        for (const std::vector<SvmDoc>* docs : {&corpus.docs, &same}) {
            std::vector<LinearStart> starts;
            ASSERT_TRUE(computeLinearStarts(*docs, size_t(corpus.dim) + 1, problems, biased, 0, {}, starts));
            for (size_t c = 0; c < problems.size(); ++c) {
                ASSERT_EQ(starts[c].alpha.size(), docs->size());
                EXPECT_TRUE(std::isfinite(starts[c].threshold));
                for (size_t i = 0; i < docs->size(); ++i) {
                    ASSERT_TRUE(starts[c].alpha[i] >= 0.0 && starts[c].alpha[i] <= 0.5);
                    if (!problems[c].y[i]) {
                        EXPECT_EQ(starts[c].alpha[i], 0.0);
                    }
                }
            }
        }
    std::vector<LinearStart> stopped;
    EXPECT_FALSE(computeLinearStarts(corpus.docs, size_t(corpus.dim) + 1, problems, true, 1, [] { return true; },
                                     stopped));
    std::vector<LinearStart> none;
    EXPECT_TRUE(computeLinearStarts(corpus.docs, size_t(corpus.dim) + 1, {}, true, 1, {}, none));
    EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace kestrel
