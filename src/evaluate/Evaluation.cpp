#include "evaluate/Evaluation.h"

#include <algorithm>
#include <fmt/format.h>
#include <limits>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

namespace {

// Clamps a count computed in 64 bits into the 32-bit cells of a record. A
// raw document count smaller than the documents actually classified would
// otherwise wrap d around to a huge number.
uint32_t clampCount(int64_t value) {
    if (value < 0) return 0;
    if (value > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

double ratio(uint64_t numerator, uint64_t denominator) {
    return denominator == 0 ? 0.0 : static_cast<double>(numerator) / static_cast<double>(denominator);
}

}  // namespace

Evaluation::Evaluation(const CategoryTable& categories, const std::vector<RawDocument>& documents,
                       uint32_t total)
    : total_(total) {
    const size_t c = categories.size();
    confusion_.assign(c, std::vector<uint32_t>(c, 0));

    for (const RawDocument& doc : documents) {
        const bool validTrue = doc.trueCategory >= 0 && static_cast<size_t>(doc.trueCategory) < c;
        const bool validAssigned = doc.assignedCategory >= 0 && static_cast<size_t>(doc.assignedCategory) < c;
        if (!validTrue || !validAssigned) {
            ++uncounted_;
            continue;
        }
        ++confusion_[static_cast<size_t>(doc.trueCategory)][static_cast<size_t>(doc.assignedCategory)];
    }

    uint64_t sumA = 0, sumB = 0, sumC = 0;
    double sumRecall = 0, sumPrecision = 0;
    contingency_.reserve(c + 1);
    measures_.reserve(c + 2);
    for (size_t i = 0; i < c; ++i) {
        uint64_t a = confusion_[i][i], b = 0, cc = 0;
        for (size_t k = 0; k < c; ++k) {
            if (k == i) continue;
            b += confusion_[k][i];
            cc += confusion_[i][k];
        }
        Contingency record;
        record.a = clampCount(static_cast<int64_t>(a));
        record.b = clampCount(static_cast<int64_t>(b));
        record.c = clampCount(static_cast<int64_t>(cc));
        record.d = clampCount(static_cast<int64_t>(total) - static_cast<int64_t>(a + b + cc));
        contingency_.push_back(record);
        sumA += a;
        sumB += b;
        sumC += cc;

        MeasureRow row;
        row.name = categories[i].name;
        if (a + b + cc != 0) {
            row.recall = ratio(a, a + cc);
            // No document assigned to the category: nothing was judged wrongly.
            row.precision = a + b == 0 ? 1.0 : ratio(a, a + b);
            sumRecall += row.recall;
            sumPrecision += row.precision;
            ++counted_;
        }
        measures_.push_back(std::move(row));
    }

    // With no counted category the averages are undefined; they read 0.
    MeasureRow macro;
    macro.name = utf8ToGbk("宏平均");
    if (counted_ > 0) {
        macro.recall = sumRecall / counted_;
        macro.precision = sumPrecision / counted_;
    }
    measures_.push_back(std::move(macro));

    MeasureRow micro;
    micro.name = utf8ToGbk("微平均");
    micro.recall = ratio(sumA, sumA + sumC);
    micro.precision = ratio(sumA, sumA + sumB);
    measures_.push_back(std::move(micro));

    // The pooled d is taken over the counted categories only.
    Contingency pooled;
    pooled.a = clampCount(static_cast<int64_t>(sumA));
    pooled.b = clampCount(static_cast<int64_t>(sumB));
    pooled.c = clampCount(static_cast<int64_t>(sumC));
    pooled.d = clampCount(static_cast<int64_t>(total) * counted_ -
                          static_cast<int64_t>(sumA + sumB + sumC));
    contingency_.push_back(pooled);
}

double Evaluation::f1Percent(double recall, double precision) {
    const double sum = recall + precision;
    if (sum == 0) return 0;
    return 200.0 * recall * precision / sum;
}

std::string Evaluation::overallReport() const {
    const MeasureRow& micro = microAverage();
    const MeasureRow& macro = macroAverage();
    std::string text = fmt::format("总测试文档数：{}\r\n", total_);
    text += "\r\n微平均查全率：" + fixedText(micro.recall * 100, 2) + "%\r\n微平均查准率：" +
            fixedText(micro.precision * 100, 2) + "%\r\n";
    text += "\r\n宏平均查全率：" + fixedText(macro.recall * 100, 2) + "%\r\n宏平均查准率：" +
            fixedText(macro.precision * 100, 2) + "%";
    if (uncounted_ > 0)
        text += fmt::format("\r\n\r\n未分类文档数：{}（未计入统计）", uncounted_);
    return text;
}

std::string Evaluation::categoryReport(uint32_t category) const {
    if (category >= categoryCount()) return {};
    const Contingency& record = contingency_[category];
    const MeasureRow& row = measures_[category];
    std::string text = "当前类别：" + toUtf8(row.name) + "\r\n";
    text += fmt::format("\r\n测试文档数：{}\r\n", record.a + record.c);
    text += "\r\n查全率：" + fixedText(row.recall * 100, 2) + "%\r\n查准率：" + fixedText(row.precision * 100, 2) + "%";
    return text;
}

}  // namespace kestrel
