#pragma once
// The per-category table of an evaluation: recall, precision, F1 and the
// number of test documents of each category, then the macro and micro
// averages, for the evaluation window's table and the command line's
// report.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

class Evaluation;

struct CategoryScore {
    std::string name;  // UTF-8
    // False for a category no document truly belongs to and none was
    // assigned to: it has no scores and is left out of the macro average.
    bool counted = false;
    double recall = 0, precision = 0, f1 = 0;  // 0..1
    // Test documents that truly belong to the category; for the averages,
    // all test documents counted in the confusion matrix.
    uint64_t support = 0;
};

// One row per category in id order, then "宏平均" and "微平均". The macro F1
// is the F1 of the macro recall and precision, as the workbook has it.
std::vector<CategoryScore> categoryScores(const Evaluation& evaluation);

// The rows as an aligned plain-text table (UTF-8, "\n" line ends, Chinese
// characters counted as two columns), percentages with two decimals, "-"
// for a category without scores.
std::string categoryScoresText(const std::vector<CategoryScore>& rows);

}  // namespace kestrel
