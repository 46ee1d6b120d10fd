#pragma once
// A small reader of Office Open XML workbooks (.xlsx): every sheet's cells as
// text, enough to extend a workbook that this program wrote before.
#include <string>
#include <vector>

namespace kestrel {

struct WorkbookSheet {
    std::string name;                               // UTF-8
    std::vector<std::vector<std::string>> rows;     // rows[r][c], UTF-8; trailing empty cells dropped
};

// Reads every sheet of the workbook at `path`, in workbook order. Numbers and
// booleans come back as the text stored in the file. False with a message
// (UTF-8) when the file cannot be opened or is not a readable workbook.
bool readWorkbook(const std::string& path, std::vector<WorkbookSheet>& sheets, std::string& error);

}  // namespace kestrel
