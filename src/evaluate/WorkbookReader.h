#pragma once
// A small reader of Office Open XML workbooks (.xlsx): every sheet's cells as
// text, enough to extend a workbook that this program wrote before.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Status.h"

namespace kestrel {

// A non-empty cell.
struct WorkbookCell {
    uint32_t column = 0;  // 0-based
    std::string text;     // UTF-8
    bool operator==(const WorkbookCell&) const = default;
};

// A row that holds cells, in column order.
struct WorkbookRow {
    uint32_t index = 0;  // 0-based
    std::vector<WorkbookCell> cells;
    bool operator==(const WorkbookRow&) const = default;
    // The cells laid out by column ("" where there is none).
    std::vector<std::string> texts() const;
};

// Only the cells present are held, so memory follows what the file holds,
// not where its cells sit.
struct WorkbookSheet {
    std::string name;               // UTF-8
    std::vector<WorkbookRow> rows;  // rows with cells, in index order
    // The texts of row `index` laid out by column (empty when it has none).
    std::vector<std::string> rowTexts(uint32_t index) const;
};

// Bounds of what a workbook may hold, all sheets together; a workbook past
// one of them is refused as soon as it is reached, so reading takes a few
// hundred MB at most whatever the file holds (this program writes a few
// hundred cells).
inline constexpr uint64_t kMaxWorkbookCells = 2000000;
inline constexpr uint64_t kMaxWorkbookTextBytes = 64ull * 1024 * 1024;  // of every cell's text
inline constexpr uint64_t kMaxSharedStringBytes = 64ull * 1024 * 1024;  // of the shared string table
// The rows of a sheet (its last row is row 1,048,576).
inline constexpr uint32_t kMaxWorkbookRows = 1048576;

// Reads every sheet of the workbook at `path`, in workbook order. Numbers and
// booleans come back as the text stored in the file. False with a message
// (UTF-8) when the file cannot be opened, is not a readable workbook or goes
// past one of the bounds above. The sheets are read as a stream: memory
// follows the cells kept, never the size of the file.
Result<std::vector<WorkbookSheet>> readWorkbook(const std::string& path);

}  // namespace kestrel
