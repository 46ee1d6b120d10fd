#pragma once
// The results of an experiment as people read them: one row per
// combination with mean and standard deviation over the folds, ranked by
// micro F1, as a text table, a workbook sheet and a chart.
#include <string>
#include <vector>

#include "experiment/ExperimentRunner.h"

namespace kestrel {

// Mean and (population) standard deviation of a set of values.
struct Spread {
    double mean = 0, deviation = 0;
};
Spread spreadOf(const std::vector<double>& values);

struct ExperimentRow {
    Combination combination;
    size_t gridIndex = 0;
    std::string failure;  // UTF-8; empty for an evaluated combination
    size_t evaluations = 0;
    // Measures in percent, times in seconds per fold.
    Spread microRecall, microPrecision, microF1, macroRecall, macroPrecision, macroF1;
    Spread trainSeconds, classifySeconds;
};

// Evaluated combinations by mean micro F1, highest first (equal ones in grid
// order), then the failed ones in grid order.
std::vector<ExperimentRow> rankResults(const std::vector<CombinationResult>& results);

// The table printed on standard output (UTF-8, one line per row, header first).
std::string experimentTable(const std::vector<ExperimentRow>& rows);

// What the exported rows belong to.
struct ExperimentRun {
    std::string time;        // "2026-12-08 00:50:00", shown in the sheet
    std::string stamp;       // "20261208-005000", part of the chart's file name
    std::string corpus;      // UTF-8
    std::string validation;  // "10-fold cross-validation, seed 1", "test corpus …"
};

// Sheet and chart file of the export.
extern const char* const kExperimentSheetName;
std::string experimentChartName(const ExperimentRun& run);

// Appends the rows to the sheet 实验 of the workbook 分类评价.xlsx in
// `workbookDirectory` (earlier rows and sheets are kept) and writes the chart
// of the evaluated rows into the workspace. The two differ while the workbook
// is staged in a workspace update. False with a message (UTF-8) on failure.
Status exportExperiment(const std::string& workspacePath, const std::string& workbookDirectory,
                        const ExperimentRun& run, const std::vector<ExperimentRow>& rows);

}  // namespace kestrel
