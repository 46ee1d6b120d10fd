#include "experiment/ExperimentReport.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>

#include "common/DisplayWidth.h"
#include "common/FileSystem.h"
#include "evaluate/WorkbookExport.h"
#include "experiment/ScoreChart.h"

namespace kestrel {

const char* const kExperimentSheetName = "实验";

namespace {

std::string cell(const Spread& s) { return fmt::format("{:.2f}", s.mean); }
std::string deviationCell(const Spread& s) { return fmt::format("{:.2f}", s.deviation); }
std::string measure(const Spread& s) { return fmt::format("{:6.2f}±{:<5.2f}", s.mean, s.deviation); }

}  // namespace

Spread spreadOf(const std::vector<double>& values) {
    Spread s;
    if (values.empty()) return s;
    for (const double v : values) s.mean += v;
    s.mean /= static_cast<double>(values.size());
    double squares = 0;
    for (const double v : values) squares += (v - s.mean) * (v - s.mean);
    s.deviation = std::sqrt(squares / static_cast<double>(values.size()));
    return s;
}

std::vector<ExperimentRow> rankResults(const std::vector<CombinationResult>& results) {
    std::vector<ExperimentRow> rows;
    for (const CombinationResult& r : results) {
        ExperimentRow row;
        row.combination = r.combination;
        row.gridIndex = r.gridIndex;
        row.failure = r.evaluated() ? std::string() : (r.failure.empty() ? "not evaluated" : r.failure);
        row.evaluations = r.folds.size();
        auto spread = [&](double FoldScores::*field, double factor) {
            std::vector<double> values;
            for (const FoldScores& f : r.folds) values.push_back(f.*field * factor);
            return spreadOf(values);
        };
        row.microRecall = spread(&FoldScores::microRecall, 100);
        row.microPrecision = spread(&FoldScores::microPrecision, 100);
        row.microF1 = spread(&FoldScores::microF1, 100);
        row.macroRecall = spread(&FoldScores::macroRecall, 100);
        row.macroPrecision = spread(&FoldScores::macroPrecision, 100);
        row.macroF1 = spread(&FoldScores::macroF1, 100);
        row.trainSeconds = spread(&FoldScores::trainSeconds, 1);
        row.classifySeconds = spread(&FoldScores::classifySeconds, 1);
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(), [](const ExperimentRow& a, const ExperimentRow& b) {
        const bool aOk = a.failure.empty(), bOk = b.failure.empty();
        if (aOk != bOk) return aOk;
        if (aOk && a.microF1.mean != b.microF1.mean) return a.microF1.mean > b.microF1.mean;
        return a.gridIndex < b.gridIndex;
    });
    return rows;
}

std::string experimentTable(const std::vector<ExperimentRow>& rows) {
    size_t nameWidth = displayWidth("combination");
    for (const auto& row : rows) nameWidth = std::max(nameWidth, combinationName(row.combination).size());
    std::string out = padRight("rank", 5) + padRight("combination", nameWidth + 2);
    for (const char* title : {"micro R", "micro P", "micro F1", "macro R", "macro P", "macro F1"})
        out += padRight(title, 14);
    out += "train s  classify s\n";
    size_t rank = 0;
    for (const auto& row : rows) {
        const std::string name = padRight(combinationName(row.combination), nameWidth + 2);
        if (!row.failure.empty()) {
            out += padRight("-", 5) + name + "failed: " + row.failure + "\n";
            continue;
        }
        out += padRight(fmt::format("{}", ++rank), 5) + name;
        for (const Spread* s : {&row.microRecall, &row.microPrecision, &row.microF1, &row.macroRecall,
                                &row.macroPrecision, &row.macroF1})
            out += measure(*s) + "  ";
        out += fmt::format("{:7.2f}  {:10.2f}\n", row.trainSeconds.mean, row.classifySeconds.mean);
    }
    return out;
}

std::string experimentChartName(const ExperimentRun& run) { return "实验-" + run.stamp + ".png"; }

Status exportExperiment(const std::string& workspacePath, const std::string& workbookDirectory,
                        const ExperimentRun& run, const std::vector<ExperimentRow>& rows) {
    const std::string chart = experimentChartName(run);
    std::vector<ChartEntry> entries;
    for (const auto& row : rows)
        if (row.failure.empty())
            entries.push_back({combinationName(row.combination), row.microF1.mean, row.microF1.deviation,
                               row.macroF1.mean, row.macroF1.deviation});
    const std::string title = "F1 BY COMBINATION (MEAN, SD)";
    if (const Status written = writeFileAtomically(workspacePath + chart, drawScoreChart(entries, title).png());
        !written)
        return written;

    const std::vector<std::string> header = {
        "时间", "语料", "验证方式", "名次", "组合", "训练参数", "评价次数", "微平均R", "微平均R标准差",
        "微平均P", "微平均P标准差", "微F1值", "微F1值标准差", "宏平均R", "宏平均R标准差", "宏平均P",
        "宏平均P标准差", "宏F1值", "宏F1值标准差", "训练时间(s)", "分类时间(s)", "说明", "图表"};
    std::vector<std::vector<std::string>> cells;
    size_t rank = 0;
    for (const auto& row : rows) {
        std::vector<std::string> line = {run.time, run.corpus, run.validation,
                                         row.failure.empty() ? fmt::format("{}", ++rank) : "-",
                                         combinationName(row.combination), trainArguments(row.combination),
                                         fmt::format("{}", row.evaluations)};
        if (row.failure.empty()) {
            for (const Spread* s : {&row.microRecall, &row.microPrecision, &row.microF1, &row.macroRecall,
                                    &row.macroPrecision, &row.macroF1}) {
                line.push_back(cell(*s));
                line.push_back(deviationCell(*s));
            }
            line.push_back(fmt::format("{:.3f}", row.trainSeconds.mean));
            line.push_back(fmt::format("{:.3f}", row.classifySeconds.mean));
            line.push_back("");
        } else {
            line.resize(header.size() - 2);
            line.push_back(row.failure);
        }
        line.push_back(chart);
        cells.push_back(std::move(line));
    }
    return appendToWorkbook(workbookDirectory + kEvaluationWorkbookName, kExperimentSheetName, header, cells);
}

}  // namespace kestrel
