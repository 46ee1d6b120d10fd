#include <gtest/gtest.h>

#include "experiment/ExperimentGrid.h"

namespace kestrel {
namespace {

TEST(ExperimentGrid, CrossesEachKernelOnlyWithTheParametersItUses) {
    ParameterGrid grid;
    grid.selections = {kChi, kIg};
    grid.dimensions = {500};
    grid.classifiers = {ClassifierKind::Knn, ClassifierKind::Svm};
    grid.neighbours = {10, 20};
    grid.kernels = {0, 2, 1};
    grid.gammas = {0.5, 2};
    grid.degrees = {2, 3};
    grid.factors = {1};
    grid.constants = {0, 0.1};
    const auto combinations = expandGrid(grid);
    // Per selection: KNN k=10, k=20; linear; rbf g=0.5, g=2; poly d=2,3 x c=0,0.1.
    ASSERT_EQ(combinations.size(), 2u * (2 + 1 + 2 + 4));
    std::vector<std::string> names;
    for (size_t i = 0; i < 9; ++i) names.push_back(combinationName(combinations[i]));
    EXPECT_EQ(names, (std::vector<std::string>{"CHI 500 KNN k=10", "CHI 500 KNN k=20", "CHI 500 SVM linear",
                                               "CHI 500 SVM rbf g=0.5", "CHI 500 SVM rbf g=2",
                                               "CHI 500 SVM poly d=2 s=1 c=0", "CHI 500 SVM poly d=2 s=1 c=0.1",
                                               "CHI 500 SVM poly d=3 s=1 c=0", "CHI 500 SVM poly d=3 s=1 c=0.1"}));
    // What a kernel does not use keeps the value `kestrel train` writes without the option.
    EXPECT_EQ(combinations[2].params.svm.gamma, 1.0);
    EXPECT_EQ(combinations[3].params.svm.degree, 1);
    EXPECT_EQ(trainArguments(combinations[6]),
              "--select chi --dim 500 --classifier svm --kernel poly -d 2 -s 1 -c 0.1");
    EXPECT_EQ(trainArguments(combinations[0]), "--select chi --dim 500 --classifier knn -k 10 --similarity cosine");
}

}  // namespace
}  // namespace kestrel
