#include "evaluate/WorkbookExport.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "workspace/WorkspaceFiles.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "evaluate/Evaluation.h"

namespace kestrel {

namespace {

// Cell text for the workbook: UTF-8, with control characters (which XML
// cannot carry) turned into blanks.
std::string cellText(std::string_view bytes) {
    std::string text = toUtf8(bytes);
    for (char& ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 && ch != '\t' && ch != '\n') ch = ' ';
    }
    return text;
}

std::string percent(double value) { return fixedText(value * 100, 2); }

WorkbookSheet& sheetNamed(std::vector<WorkbookSheet>& sheets, const std::string& name) {
    for (WorkbookSheet& sheet : sheets)
        if (sheet.name == name) return sheet;
    sheets.push_back(WorkbookSheet{name, {}});
    return sheets.back();
}

}  // namespace

void appendToSheet(WorkbookSheet& sheet, const std::vector<std::string>& header,
                   const std::vector<std::vector<std::string>>& rows) {
    // A sheet without rows is written like a new one; its header is row 0.
    const bool fresh = sheet.rows.empty();
    std::vector<std::string> headerRow = sheet.rowTexts(0);

    // Column of each new header name: its n-th occurrence in the new header
    // goes to the n-th occurrence in the existing header; names missing
    // there are added at its end.
    std::vector<size_t> columnOf(header.size());
    for (size_t j = 0; j < header.size(); ++j) {
        size_t occurrence = 0;
        for (size_t k = 0; k < j; ++k)
            if (header[k] == header[j]) ++occurrence;
        size_t found = headerRow.size();
        if (!fresh) {
            for (size_t col = 0, seen = 0; col < headerRow.size(); ++col) {
                if (headerRow[col] != header[j]) continue;
                if (seen++ == occurrence) { found = col; break; }
            }
        }
        if (found == headerRow.size()) headerRow.push_back(header[j]);
        columnOf[j] = found;
    }

    auto rowOf = [](uint32_t index, const std::vector<std::pair<size_t, std::string>>& texts) {
        WorkbookRow row;
        row.index = index;
        for (const auto& [column, text] : texts)
            if (!text.empty()) row.cells.push_back({static_cast<uint32_t>(column), text});
        std::sort(row.cells.begin(), row.cells.end(),
                  [](const WorkbookCell& a, const WorkbookCell& b) { return a.column < b.column; });
        return row;
    };
    std::vector<std::pair<size_t, std::string>> texts;
    for (size_t col = 0; col < headerRow.size(); ++col) texts.emplace_back(col, headerRow[col]);
    WorkbookRow headerCells = rowOf(0, texts);
    if (!sheet.rows.empty() && sheet.rows.front().index == 0) sheet.rows.front() = std::move(headerCells);
    else if (!headerCells.cells.empty()) sheet.rows.insert(sheet.rows.begin(), std::move(headerCells));

    uint32_t next = sheet.rows.empty() ? 1 : std::max<uint32_t>(sheet.rows.back().index + 1, 1);
    for (const std::vector<std::string>& row : rows) {
        texts.clear();
        for (size_t j = 0; j < row.size() && j < columnOf.size(); ++j) texts.emplace_back(columnOf[j], row[j]);
        WorkbookRow out = rowOf(next++, texts);
        if (!out.cells.empty()) sheet.rows.push_back(std::move(out));
    }
}

namespace {

// The sheets of the workbook at `path`, none when it does not exist yet. A
// workbook that exists but cannot be read fails: it is left alone rather
// than replaced.
Result<std::vector<WorkbookSheet>> existingSheets(const std::string& path) {
    if (!fileExists(path)) return std::vector<WorkbookSheet>();
    Result<std::vector<WorkbookSheet>> sheets = readWorkbook(path);
    if (!sheets) return Status::failure(sheets.message() + "；为保护已有内容，本次未保存");
    return sheets;
}

}  // namespace

Status writeWorkbook(const std::string& path, const std::vector<WorkbookSheet>& sheets) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string tempPath = dir + ".kestrel-workbook-XXXXXX.xlsx";
    const int fd = mkstemps(tempPath.data(), 5);
    if (fd < 0)
        return Status::failure("无法在 " + (dir.empty() ? std::string(".") : dir) + " 中创建临时文件：" +
                               std::strerror(errno));
    fchmod(fd, 0644);
    close(fd);

    const auto fail = [&](const std::string& message) {
        std::remove(tempPath.c_str());
        return Status::failure(message);
    };

    lxw_workbook* workbook = workbook_new(tempPath.c_str());
    if (!workbook) return fail("无法创建工作簿 " + path);
    std::string problem;
    for (const WorkbookSheet& sheet : sheets) {
        lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.name.c_str());
        if (!worksheet) {
            problem = "工作表名“" + sheet.name + "”无效或重复";
            break;
        }
        for (const WorkbookRow& row : sheet.rows) {
            if (!problem.empty()) break;
            const size_t r = row.index;
            if (r >= LXW_ROW_MAX) { problem = "工作表“" + sheet.name + "”的行数超出范围"; break; }
            for (const WorkbookCell& cell : row.cells) {
                const size_t c = cell.column;
                const std::string& text = cell.text;
                if (text.empty()) continue;
                if (c >= LXW_COL_MAX) { problem = "工作表“" + sheet.name + "”的列数超出范围"; break; }
                const lxw_error rc = worksheet_write_string(worksheet, static_cast<lxw_row_t>(r),
                                                            static_cast<lxw_col_t>(c), text.c_str(), nullptr);
                if (rc != LXW_NO_ERROR) {
                    problem = "无法写入工作表“" + sheet.name + "”：" + lxw_strerror(rc);
                    break;
                }
            }
        }
        if (!problem.empty()) break;
    }
    // workbook_close also frees the workbook; it is called on every path.
    const lxw_error closed = workbook_close(workbook);
    if (!problem.empty()) return fail(problem);
    if (closed != LXW_NO_ERROR) return fail("无法写入工作簿 " + path + "：" + lxw_strerror(closed));
    if (std::rename(tempPath.c_str(), path.c_str()) != 0)
        return fail("无法保存工作簿 " + path + "：" + std::strerror(errno));
    return Status::success();
}

Status appendToWorkbook(const std::string& path, const std::string& sheetName, const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows) {
    Result<std::vector<WorkbookSheet>> sheets = existingSheets(path);
    if (!sheets) return sheets.status();
    appendToSheet(sheetNamed(*sheets, sheetName), header, rows);
    return writeWorkbook(path, *sheets);
}

Status exportWorkbook(const std::string& workspacePath, const Evaluation& evaluation,
                      const CategoryTable& categories) {
    const std::string path = workspacePath + kEvaluationWorkbookName;

    // Rows written by earlier exports are read back first.
    Result<std::vector<WorkbookSheet>> existing = existingSheets(path);
    if (!existing) return existing.status();
    std::vector<WorkbookSheet>& sheets = *existing;

    const MeasureRow& macro = evaluation.macroAverage();
    const MeasureRow& micro = evaluation.microAverage();
    const size_t c = std::min<size_t>(categories.size(), evaluation.categoryCount());

    const std::vector<std::string> overallHeader = {"特征选择", "初始维度", "约简维度", "降维度", "分类算法",
                                                    "宏平均R", "宏平均P", "宏F1值", "微平均R", "微平均P", "微F1值"};
    // The selection summary and the classifier word, read as the workspace
    // readers read them.
    std::string modeWord;
    const Result<FsInfo> readFs = readFsInfo(workspacePath + "fsinfo.dat", &modeWord);
    const Result<std::string> readClassifier =
        readFs ? readClassifierWord(workspacePath + "params.dat") : Result<std::string>(readFs.status());
    const bool haveParams = readClassifier.ok();
    const FsInfo fs = readFs.valueOr(FsInfo());
    const std::string classifier = readClassifier.valueOr(std::string());

    std::vector<std::vector<std::string>> overallRows;
    if (haveParams) {
        const double reduction =
            fs.oldDimensionality == 0
                ? 0.0
                : (static_cast<double>(fs.oldDimensionality) - static_cast<double>(fs.newDimensionality)) * 100.0 /
                      static_cast<double>(fs.oldDimensionality);
        overallRows.push_back({cellText(modeWord), fmt::format("{}", fs.oldDimensionality),
                               fmt::format("{}", fs.newDimensionality),
                               fixedText(reduction, 2), cellText(classifier),
                               percent(macro.recall), percent(macro.precision),
                               fixedText(Evaluation::f1Percent(macro.recall, macro.precision), 2),
                               percent(micro.recall), percent(micro.precision),
                               fixedText(Evaluation::f1Percent(micro.recall, micro.precision), 2)});
    }
    appendToSheet(sheetNamed(sheets, "总体"), overallHeader, overallRows);

    if (haveParams) {
        std::vector<std::string> header, row;
        for (size_t i = 0; i < c; ++i) {
            const std::string name = cellText(categories[i].name);
            header.push_back(name + "/R");
            header.push_back(name + "/P");
            row.push_back(percent(evaluation.measures()[i].recall));
            row.push_back(percent(evaluation.measures()[i].precision));
        }
        appendToSheet(sheetNamed(sheets, "类别"), header, {row});

        std::vector<std::string> matrixHeader = {"\\"};
        std::vector<std::vector<std::string>> matrixRows;
        for (size_t i = 0; i < c; ++i) matrixHeader.push_back(cellText(categories[i].name));
        for (size_t i = 0; i < c; ++i) {
            std::vector<std::string> line = {cellText(categories[i].name)};
            for (size_t j = 0; j < c; ++j) line.push_back(fmt::format("{}", evaluation.confusion()[i][j]));
            matrixRows.push_back(std::move(line));
        }
        appendToSheet(sheetNamed(sheets, "混淆矩阵"), matrixHeader, matrixRows);
    }

    if (Status written = writeWorkbook(path, sheets); !written) return written;
    if (!haveParams) return Status::failure(readClassifier.message() + "；只写入了“总体”表的表头，评价结果未保存");
    return Status::success();
}

}  // namespace kestrel
