#include "evaluate/CategoryScores.h"

#include <algorithm>

#include "common/DisplayWidth.h"
#include "common/Encoding.h"
#include "common/NumberFormat.h"
#include "evaluate/Evaluation.h"

namespace kestrel {

namespace {

CategoryScore scoreOf(const MeasureRow& row, bool counted, uint64_t support) {
    CategoryScore score;
    score.name = toUtf8(row.name);
    score.counted = counted;
    score.recall = row.recall;
    score.precision = row.precision;
    score.f1 = Evaluation::f1Percent(row.recall, row.precision) / 100.0;
    score.support = support;
    return score;
}

std::string percent(double value) { return fixedText(value * 100, 2) + "%"; }

}  // namespace

std::vector<CategoryScore> categoryScores(const Evaluation& evaluation) {
    std::vector<CategoryScore> rows;
    const uint32_t c = evaluation.categoryCount();
    rows.reserve(c + 2);
    uint64_t documents = 0;
    for (uint32_t i = 0; i < c; ++i) {
        const Contingency& record = evaluation.contingency()[i];
        const uint64_t support = uint64_t{record.a} + record.c;
        documents += support;
        rows.push_back(scoreOf(evaluation.measures()[i], support + record.b > 0, support));
    }
    rows.push_back(scoreOf(evaluation.macroAverage(), evaluation.countedCategories() > 0, documents));
    rows.push_back(scoreOf(evaluation.microAverage(), documents > 0, documents));
    return rows;
}

std::string categoryScoresText(const std::vector<CategoryScore>& rows) {
    const std::string headers[] = {"类别", "查全率", "查准率", "F1值", "文档数"};
    size_t nameWidth = displayWidth(headers[0]);
    for (const CategoryScore& row : rows) nameWidth = std::max(nameWidth, displayWidth(row.name));
    constexpr size_t kNumberWidth = 9;  // "100.00%" and a header, with room between
    std::string out = padRight(headers[0], nameWidth);
    for (size_t i = 1; i < std::size(headers); ++i) out += padLeft(headers[i], kNumberWidth);
    out += "\n";
    for (const CategoryScore& row : rows) {
        out += padRight(row.name, nameWidth);
        for (const double value : {row.recall, row.precision, row.f1})
            out += padLeft(row.counted ? percent(value) : "-", kNumberWidth);
        out += padLeft(std::to_string(row.support), kNumberWidth) + "\n";
    }
    return out;
}

}  // namespace kestrel
