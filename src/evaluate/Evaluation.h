#pragma once
// Evaluation of a classified test corpus: confusion matrix, contingency
// counts per category and pooled, recall and precision with their macro and
// micro averages, and the two text reports of the evaluation window.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"

namespace kestrel {

// Counts of one category: a judged in and truly in, b judged in but truly
// out, c judged out but truly in, d neither.
struct Contingency { uint32_t a = 0, b = 0, c = 0, d = 0; };

// name: GBK bytes as in the category table, or "宏平均"/"微平均" in GBK.
struct MeasureRow { std::string name; double recall = 0, precision = 0; };

class Evaluation {
public:
    // total: T, the raw document count. Documents whose assigned or true
    // category is outside 0..C-1 are not counted into the matrix.
    Evaluation(const CategoryTable& categories, const std::vector<RawDocument>& documents, uint32_t total);

    const std::vector<std::vector<uint32_t>>& confusion() const { return confusion_; }  // [true][assigned]
    const std::vector<Contingency>& contingency() const { return contingency_; }       // C records, then the pooled one
    const std::vector<MeasureRow>& measures() const { return measures_; }              // C rows, then 宏平均, then 微平均

    uint32_t categoryCount() const { return static_cast<uint32_t>(confusion_.size()); }
    uint32_t total() const { return total_; }
    // Number of categories that count towards the macro average (K).
    uint32_t countedCategories() const { return counted_; }
    // Documents left out of the matrix because their true or assigned
    // category is not a category id (e.g. classification stopped early).
    uint32_t uncountedDocuments() const { return uncounted_; }

    const MeasureRow& macroAverage() const { return measures_[measures_.size() - 2]; }
    const MeasureRow& microAverage() const { return measures_.back(); }

    // F1 in percent from recall and precision in 0..1: 200RP/(P+R), 0 when P+R is 0.
    static double f1Percent(double recall, double precision);

    // The overall report (UTF-8, lines separated by "\r\n"). When documents
    // were left out of the matrix a last line says how many.
    std::string overallReport() const;
    // The report of one category (UTF-8); empty for an unknown category.
    std::string categoryReport(uint32_t category) const;

private:
    uint32_t total_ = 0;
    uint32_t counted_ = 0;
    uint32_t uncounted_ = 0;
    std::vector<std::vector<uint32_t>> confusion_;
    std::vector<Contingency> contingency_;
    std::vector<MeasureRow> measures_;
};

}  // namespace kestrel
