#pragma once
// Export of an evaluation to the workbook "分类评价.xlsx" in the workspace.
// The workbook is cumulative: each export appends its rows to the sheets
// 总体, 类别 and 混淆矩阵 that earlier exports left there.
#include <string>
#include <vector>

#include "workspace/WorkspaceFiles.h"
#include "common/Corpus.h"
#include "evaluate/WorkbookReader.h"

namespace kestrel {

class Evaluation;

// Writes/extends workspacePath + "分类评价.xlsx" cumulatively; reads fsinfo.dat
// and params.dat from the workspace. False with a message (UTF-8) on failure;
// an existing workbook is never lost (write to temp + rename). When fsinfo.dat
// or params.dat cannot be read, the parts that do not need them are still
// written and the result is false with a message saying what is missing.
Status exportWorkbook(const std::string& workspacePath, const Evaluation& evaluation,
                      const CategoryTable& categories);

// Appends rows to a sheet: an empty sheet gets `header` and the rows; an
// existing sheet keeps its header row and rows, gains the header names it
// lacks at the end of its header, and each new cell goes to the column whose
// header name it was given under.
void appendToSheet(WorkbookSheet& sheet, const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows);

// Appends rows to the sheet `sheetName` of the workbook at `path` (created
// when missing) as appendToSheet does, keeping every other sheet. A workbook
// that exists but cannot be read is left alone: false with a message.
Status appendToWorkbook(const std::string& path, const std::string& sheetName, const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows);

// Writes the sheets as a new workbook at `path` (through a temporary file in
// the same directory, renamed over the target). Every cell is text.
Status writeWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets);

}  // namespace kestrel
