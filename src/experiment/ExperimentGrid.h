#pragma once
// The parameter grid of an experiment: the listed values of every option,
// expanded into the combinations to evaluate, with their names and the
// `kestrel train` arguments that reproduce each one.
#include <cstdint>
#include <string>
#include <vector>

#include "workspace/WorkspaceFiles.h"

namespace kestrel {

// One point of the grid: a selection method and size, and the classifier
// with its parameters (as params.dat holds them).
struct Combination {
    int selection = kChi;
    uint32_t dimension = 50;
    ClassifierParams params;
};

// The values listed for each option. A classifier's own parameters are
// crossed only with that classifier, and an SVM kernel only with the
// parameters it uses (degree, s and c for poly; g for rbf; s and c for
// sigmoid; none for linear); the others keep their defaults.
struct ParameterGrid {
    std::vector<int> selections{kChi};
    std::vector<uint32_t> dimensions{50};
    std::vector<ClassifierKind> classifiers{ClassifierKind::Knn};
    std::vector<uint32_t> neighbours{20};    // KNN k
    std::vector<Similarity> similarities{Similarity::Cosine};
    std::vector<int> kernels{0};             // SVM kernel types
    std::vector<long> degrees{1};
    std::vector<double> gammas{1.0};
    std::vector<double> factors{1.0};        // s
    std::vector<double> constants{0.0};      // c
    int biased = 1;
};

// Every combination, selection outermost, in the order the values were listed.
std::vector<Combination> expandGrid(const ParameterGrid& grid);

// A short ASCII name: "CHI 2000 KNN k=20", "IG 500 SVM rbf g=0.5".
std::string combinationName(const Combination& combination);

// The options of `kestrel train` that give this combination's workspace.
std::string trainArguments(const Combination& combination);

}  // namespace kestrel
