#include "evaluate/WorkbookReader.h"

#include <unzip.h>

#include <algorithm>
#include <map>
#include <memory>

#include "evaluate/XmlPartStream.h"

namespace kestrel {

namespace {

// Columns of the format; a cell reference beyond them means a damaged file.
constexpr uint32_t kMaxColumns = 16384;

struct UnzipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};
using ZipHandle = std::unique_ptr<void, UnzipCloser>;

// "BC12" -> column 54, row 11 (0-based). False when malformed.
bool parseCellReference(std::string_view ref, uint32_t& row, uint32_t& column) {
    size_t i = 0;
    uint64_t col = 0;
    while (i < ref.size() && ref[i] >= 'A' && ref[i] <= 'Z') {
        col = col * 26 + static_cast<uint64_t>(ref[i] - 'A' + 1);
        if (col > kMaxColumns) return false;
        ++i;
    }
    if (i == 0 || i == ref.size()) return false;
    uint64_t r = 0;
    for (; i < ref.size(); ++i) {
        if (ref[i] < '0' || ref[i] > '9') return false;
        r = r * 10 + static_cast<uint64_t>(ref[i] - '0');
        if (r > kMaxWorkbookRows) return false;
    }
    if (r == 0) return false;
    row = static_cast<uint32_t>(r - 1);
    column = static_cast<uint32_t>(col - 1);
    return true;
}

bool parseIndex(std::string_view text, uint64_t limit, uint64_t& value) {
    value = 0;
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > limit) return false;
    }
    return true;
}

// Resolves a relationship target against the "xl/" folder of the workbook.
std::string partPath(std::string_view target) {
    if (!target.empty() && target.front() == '/') return std::string(target.substr(1));
    std::string path = "xl/";
    while (target.substr(0, 3) == "../") {
        target.remove_prefix(3);
        path = "";
    }
    return path + std::string(target);
}

// Gathers the text of the element being read, within a budget shared by
// the whole workbook.
class TextBudget {
public:
    TextBudget(uint64_t limit, std::string what) : left_(limit), limit_(limit), what_(std::move(what)) {}
    Status take(uint64_t bytes) {
        if (bytes > left_)
            return Status::failure(what_ + "超过 " + std::to_string(limit_ >> 20) + " MB，本程序不读取这么大的工作簿");
        left_ -= bytes;
        return Status::success();
    }

private:
    uint64_t left_;
    uint64_t limit_;
    std::string what_;
};

// The sheet list of xl/workbook.xml: name and relationship id of each sheet.
class SheetListReader : public XmlPartHandler {
public:
    std::vector<std::pair<std::string, std::string>> sheets;
    Status startElement(std::string_view name, size_t depth, const char** attributes) override {
        if (depth == 2) inSheets_ = name == "sheets";
        else if (depth == 3 && inSheets_ && name == "sheet") {
            if (sheets.size() >= 65536) return Status::failure("工作表过多");
            sheets.emplace_back(xmlAttribute(attributes, "name"), xmlAttribute(attributes, "id", true));
        }
        return Status::success();
    }
    Status endElement(std::string_view, size_t depth) override {
        if (depth == 2) inSheets_ = false;
        return Status::success();
    }
    Status text(std::string_view) override { return Status::success(); }

private:
    bool inSheets_ = false;
};

// The relationships of the workbook: id -> part path.
class RelationshipReader : public XmlPartHandler {
public:
    std::map<std::string, std::string> targets;
    Status startElement(std::string_view name, size_t depth, const char** attributes) override {
        if (depth == 2 && name == "Relationship") {
            if (targets.size() >= 65536) return Status::failure("关系过多");
            targets[std::string(xmlAttribute(attributes, "Id"))] = partPath(xmlAttribute(attributes, "Target"));
        }
        return Status::success();
    }
    Status endElement(std::string_view, size_t) override { return Status::success(); }
    Status text(std::string_view) override { return Status::success(); }
};

// Text of string items: the plain <t>, or the <t> of every rich-text run;
// phonetic runs (<rPh>) are not part of the value. `itemDepth` is the depth
// of the item element (<si> or <is>).
class StringItemText {
public:
    void start(std::string_view name, size_t depth, size_t itemDepth) {
        if (depth == itemDepth + 1) {
            inRun_ = name == "r";
            collecting_ = name == "t";
        } else if (depth == itemDepth + 2 && inRun_ && name == "t") {
            collecting_ = true;
        }
    }
    void end(size_t depth, size_t itemDepth) {
        if (depth == itemDepth + 1) inRun_ = false;
        if (depth <= itemDepth + 2) collecting_ = false;
    }
    bool collecting() const { return collecting_; }

private:
    bool inRun_ = false;
    bool collecting_ = false;
};

// The shared string table, its size bounded as it is read.
class SharedStringReader : public XmlPartHandler {
public:
    std::vector<std::string> strings;
    Status startElement(std::string_view name, size_t depth, const char**) override {
        if (depth == 2 && name == "si") {
            if (strings.size() >= kMaxWorkbookCells)
                return Status::failure("共享字符串超过 " + std::to_string(kMaxWorkbookCells) + " 个");
            strings.emplace_back();
            inItem_ = true;
        } else if (inItem_) {
            item_.start(name, depth, 2);
        }
        return Status::success();
    }
    Status endElement(std::string_view, size_t depth) override {
        if (depth == 2) inItem_ = false;
        else item_.end(depth, 2);
        return Status::success();
    }
    Status text(std::string_view piece) override {
        if (!inItem_ || !item_.collecting()) return Status::success();
        if (Status taken = budget_.take(piece.size()); !taken) return taken;
        strings.back() += piece;
        return Status::success();
    }

private:
    bool inItem_ = false;
    StringItemText item_;
    TextBudget budget_{kMaxSharedStringBytes, "共享字符串"};
};

// One cell as read, before the sheet's cells are put in order.
struct CellEntry {
    uint32_t row = 0;
    uint32_t column = 0;
    std::string text;
};

// The cells of one sheet, read as they stream by (sheetData > row > c).
class SheetReader : public XmlPartHandler {
public:
    SheetReader(const std::vector<std::string>& shared, uint64_t& cells, TextBudget& budget)
        : shared_(shared), cellCount_(cells), budget_(budget) {}

    std::vector<CellEntry> entries;

    Status startElement(std::string_view name, size_t depth, const char** attributes) override {
        if (depth == 2) inData_ = inData_ || (name == "sheetData" && !dataSeen_);
        else if (inData_ && depth == 3 && name == "row") return startRow(attributes);
        else if (inRow_ && depth == 4 && name == "c") return startCell(attributes);
        else if (inCell_ && depth == 5) {
            inValue_ = name == "v" && !valueSeen_ && !inlineString_;
            inInline_ = name == "is" && inlineString_;
        } else if (inInline_) {
            item_.start(name, depth, 5);
        }
        return Status::success();
    }

    Status endElement(std::string_view, size_t depth) override {
        if (depth == 2 && inData_) {
            inData_ = false;
            dataSeen_ = true;
        } else if (depth == 3) {
            inRow_ = false;
        } else if (depth == 4 && inCell_) {
            inCell_ = false;
            return endCell();
        } else if (depth == 5) {
            if (inValue_) valueSeen_ = true;
            inValue_ = inInline_ = false;
        } else if (inInline_) {
            item_.end(depth, 5);
        }
        return Status::success();
    }

    Status text(std::string_view piece) override {
        if (!inValue_ && !(inInline_ && item_.collecting())) return Status::success();
        if (Status taken = budget_.take(piece.size()); !taken) return taken;
        text_ += piece;
        return Status::success();
    }

private:
    Status startRow(const char** attributes) {
        inRow_ = true;
        uint32_t rowIndex = nextRow_;
        if (const std::string_view r = xmlAttribute(attributes, "r"); !r.empty()) {
            uint64_t value;
            if (!parseIndex(r, kMaxWorkbookRows, value) || value == 0) return Status::failure("行号无效");
            rowIndex = static_cast<uint32_t>(value - 1);
        } else if (rowIndex >= kMaxWorkbookRows) {
            return Status::failure("超过 " + std::to_string(kMaxWorkbookRows) + " 行");
        }
        row_ = rowIndex;
        nextRow_ = rowIndex + 1;
        nextColumn_ = 0;
        return Status::success();
    }

    Status startCell(const char** attributes) {
        inCell_ = true;
        valueSeen_ = false;
        text_.clear();
        cellRow_ = row_;
        cellColumn_ = nextColumn_;
        if (const std::string_view r = xmlAttribute(attributes, "r"); !r.empty()) {
            if (!parseCellReference(r, cellRow_, cellColumn_)) return Status::failure("单元格引用无效");
        }
        if (cellColumn_ >= kMaxColumns) return Status::failure("列数超出范围");
        nextColumn_ = cellColumn_ + 1;
        const std::string_view type = xmlAttribute(attributes, "t");
        sharedString_ = type == "s";
        inlineString_ = type == "inlineStr";
        return Status::success();
    }

    Status endCell() {
        std::string text = std::move(text_);
        text_.clear();
        if (sharedString_) {
            uint64_t index;
            if (!parseIndex(text, shared_.size(), index) || index >= shared_.size())
                return Status::failure("引用了不存在的共享字符串");
            if (Status taken = budget_.take(shared_[index].size()); !taken) return taken;
            text = shared_[index];
        }
        if (text.empty()) return Status::success();
        if (++cellCount_ > kMaxWorkbookCells)
            return Status::failure("单元格超过 " + std::to_string(kMaxWorkbookCells) + " 个，本程序不读取这么大的工作簿");
        entries.push_back({cellRow_, cellColumn_, std::move(text)});
        return Status::success();
    }

    const std::vector<std::string>& shared_;
    uint64_t& cellCount_;
    TextBudget& budget_;
    bool inData_ = false, dataSeen_ = false, inRow_ = false, inCell_ = false;
    bool inValue_ = false, valueSeen_ = false, inInline_ = false, sharedString_ = false, inlineString_ = false;
    StringItemText item_;
    uint32_t row_ = 0, nextRow_ = 0, nextColumn_ = 0, cellRow_ = 0, cellColumn_ = 0;
    std::string text_;
};

// The cells in row and column order, a later cell of the same place taking
// the place of an earlier one.
std::vector<WorkbookRow> rowsOf(std::vector<CellEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const CellEntry& a, const CellEntry& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    std::vector<WorkbookRow> rows;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i + 1 < entries.size() && entries[i + 1].row == entries[i].row &&
            entries[i + 1].column == entries[i].column)
            continue;
        if (rows.empty() || rows.back().index != entries[i].row) rows.push_back({entries[i].row, {}});
        rows.back().cells.push_back({entries[i].column, std::move(entries[i].text)});
    }
    return rows;
}

}  // namespace

std::vector<std::string> WorkbookRow::texts() const {
    std::vector<std::string> out;
    if (!cells.empty()) out.resize(cells.back().column + 1);
    for (const auto& cell : cells) out[cell.column] = cell.text;
    return out;
}

std::vector<std::string> WorkbookSheet::rowTexts(uint32_t index) const {
    for (const auto& row : rows)
        if (row.index == index) return row.texts();
    return {};
}

Result<std::vector<WorkbookSheet>> readWorkbook(const std::string& path) {
    ZipHandle zip(unzOpen(path.c_str()));
    if (!zip) return Status::failure("无法打开工作簿 " + path + "（文件不存在或不是 xlsx 工作簿）");
    const auto damaged = [&](const std::string& what) { return Status::failure("工作簿 " + path + " 已损坏：" + what); };
    const auto unreadable = [&](const std::string& what) {
        return Status::failure("工作簿 " + path + " 无法读取：" + what);
    };

    SheetListReader list;
    if (const Status read = streamXmlPart(zip.get(), "xl/workbook.xml", list); !read) return damaged(read.message());
    RelationshipReader relationships;
    bool found = false;
    if (const Status read = streamXmlPart(zip.get(), "xl/_rels/workbook.xml.rels", relationships, &found);
        !read && found)
        return damaged(read.message());
    SharedStringReader shared;
    if (const Status read = streamXmlPart(zip.get(), "xl/sharedStrings.xml", shared, &found); !read && found)
        return unreadable(read.message());

    std::vector<WorkbookSheet> sheets;
    uint64_t cells = 0;
    TextBudget budget(kMaxWorkbookTextBytes, "单元格的文字");
    for (size_t position = 0; position < list.sheets.size(); ++position) {
        WorkbookSheet sheet;
        sheet.name = list.sheets[position].first;
        const auto it = relationships.targets.find(list.sheets[position].second);
        const std::string part = it != relationships.targets.end()
                                     ? it->second
                                     : "xl/worksheets/sheet" + std::to_string(position + 1) + ".xml";
        SheetReader reader(shared.strings, cells, budget);
        if (const Status read = streamXmlPart(zip.get(), part, reader, &found); !read) {
            if (!found) return damaged("缺少工作表“" + sheet.name + "”");
            return unreadable("工作表“" + sheet.name + "”：" + read.message());
        }
        sheet.rows = rowsOf(reader.entries);
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

}  // namespace kestrel
