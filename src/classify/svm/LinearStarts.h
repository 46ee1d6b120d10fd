#pragma once
// Starting points of linear trainings from dual coordinate descent. The
// one-versus-rest problems of one training file share their documents, so
// their descents run side by side: each pass reads a document once for all
// of them, and their dot products with the document are summed together.
#include <cstdint>
#include <functional>
#include <vector>

#include "features/DocumentVector.h"

namespace kestrel {

// One binary problem over the documents: maximise
// sum_i a_i - 1/2 |sum_i a_i y_i x_i|^2 with 0 <= a_i <= C_i and, for a
// biased hyperplane, sum_i y_i a_i = 0.
struct StartProblem {
    std::vector<int8_t> y;             // +1 / -1 (0: takes no part)
    double costPositive = 0.0;         // C_i of the examples with y_i = +1 ...
    double costNegative = 0.0;         // ... and with y_i = -1
    const double* cost = nullptr;      // per-example C_i instead, when given
};

// The multipliers coordinate descent leaves and the threshold it found
// (0 without a biased hyperplane).
struct LinearStart {
    std::vector<double> alpha;
    double threshold = 0.0;
};

// Runs the descent of every problem over `docs` (feature numbers below
// `features`). The problems go in fixed groups, at most a few per group, so
// that the outcome does not depend on `threads`; the groups run on up to
// `threads` threads (0: every core). Returns false, with the starts
// incomplete, when `stop` asked to end.
bool computeLinearStarts(const std::vector<DocumentVector>& docs, size_t features,
                         const std::vector<StartProblem>& problems, bool biased, unsigned threads,
                         const std::function<bool()>& stop, std::vector<LinearStart>& starts);

}  // namespace kestrel
