#include "evaluate/WorkbookReader.h"

#include <unzip.h>

#include <map>
#include <memory>
#include <pugixml.hpp>

namespace kestrel {

namespace {

// Limits of the format; a cell reference beyond them means a damaged file.
constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
// A workbook part larger than this is not one we wrote; refuse rather than
// allocate without bound.
constexpr uint64_t kMaxPartSize = 256ull * 1024 * 1024;

struct UnzipCloser {
    void operator()(void* zip) const { unzClose(zip); }
};
using ZipHandle = std::unique_ptr<void, UnzipCloser>;

// Reads one member of the archive; false when it is absent or unreadable.
bool readPart(unzFile zip, const std::string& name, std::string& content) {
    if (unzLocateFile(zip, name.c_str(), 1) != UNZ_OK) return false;
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    if (info.uncompressed_size > kMaxPartSize) return false;
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    content.clear();
    content.reserve(info.uncompressed_size);
    char buffer[16384];
    bool ok = true;
    for (;;) {
        const int n = unzReadCurrentFile(zip, buffer, sizeof buffer);
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
        if (content.size() > kMaxPartSize) { ok = false; break; }
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;  // CRC mismatch
    return ok;
}

// Local name of an element ("x:row" -> "row"), so prefixed documents read too.
std::string_view localName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == name) return c;
    return {};
}

// Text of a string item: the plain <t>, or the <t> of every rich-text run;
// phonetic runs (<rPh>) are not part of the value.
std::string stringItemText(const pugi::xml_node& item) {
    std::string text;
    for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        const std::string_view name = localName(c);
        if (name == "t") text += c.text().get();
        else if (name == "r") {
            const pugi::xml_node t = child(c, "t");
            if (t) text += t.text().get();
        }
    }
    return text;
}

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
        if (r > kMaxRows) return false;
    }
    if (r == 0) return false;
    row = static_cast<uint32_t>(r - 1);
    column = static_cast<uint32_t>(col - 1);
    return true;
}

bool parseIndex(const char* text, uint64_t limit, uint64_t& value) {
    value = 0;
    if (!*text) return false;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
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

Status readSheet(const std::string& xml, const std::vector<std::string>& sharedStrings, WorkbookSheet& sheet) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) {
        return Status::failure("工作表“" + sheet.name + "”不是有效的 XML");
    }
    const pugi::xml_node data = child(doc.document_element(), "sheetData");
    std::map<uint32_t, std::map<uint32_t, std::string>> cells;
    uint64_t cellCount = 0;
    uint32_t nextRow = 0;
    for (pugi::xml_node rowNode = data.first_child(); rowNode; rowNode = rowNode.next_sibling()) {
        if (rowNode.type() != pugi::node_element || localName(rowNode) != "row") continue;
        uint32_t rowIndex = nextRow;
        if (const pugi::xml_attribute r = rowNode.attribute("r")) {
            uint64_t value;
            if (!parseIndex(r.value(), kMaxRows, value) || value == 0) {
                return Status::failure("工作表“" + sheet.name + "”的行号无效");
            }
            rowIndex = static_cast<uint32_t>(value - 1);
        }
        nextRow = rowIndex + 1;
        uint32_t nextColumn = 0;
        for (pugi::xml_node cell = rowNode.first_child(); cell; cell = cell.next_sibling()) {
            if (cell.type() != pugi::node_element || localName(cell) != "c") continue;
            uint32_t row = rowIndex, column = nextColumn;
            if (const pugi::xml_attribute r = cell.attribute("r")) {
                if (!parseCellReference(r.value(), row, column)) {
                    return Status::failure("工作表“" + sheet.name + "”的单元格引用无效");
                }
            }
            if (column >= kMaxColumns) {
                return Status::failure("工作表“" + sheet.name + "”的列数超出范围");
            }
            nextColumn = column + 1;
            const std::string_view type = cell.attribute("t").value();
            std::string text;
            if (type == "inlineStr") {
                text = stringItemText(child(cell, "is"));
            } else {
                const std::string value = child(cell, "v").text().get();
                if (type == "s") {
                    uint64_t index;
                    if (!parseIndex(value.c_str(), sharedStrings.size(), index) || index >= sharedStrings.size()) {
                        return Status::failure("工作表“" + sheet.name + "”引用了不存在的共享字符串");
                    }
                    text = sharedStrings[index];
                } else {
                    text = value;
                }
            }
            if (text.empty()) continue;
            std::string& slot = cells[row][column];
            if (slot.empty() && ++cellCount > kMaxWorkbookCells) {
                return Status::failure("工作表“" + sheet.name + "”的单元格超过 " + std::to_string(kMaxWorkbookCells) +
                                       " 个，本程序不读取这么大的工作表");
            }
            slot = std::move(text);
        }
    }
    sheet.rows.clear();
    for (auto& [row, columns] : cells) {
        WorkbookRow& out = sheet.rows.emplace_back();
        out.index = row;
        for (auto& [column, text] : columns) out.cells.push_back({column, std::move(text)});
    }
    return Status::success();
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

    std::string xml;
    if (!readPart(zip.get(), "xl/workbook.xml", xml)) return damaged("缺少 xl/workbook.xml");
    pugi::xml_document workbook;
    if (!workbook.load_buffer(xml.data(), xml.size())) return damaged("xl/workbook.xml 不是有效的 XML");

    std::map<std::string, std::string> targets;  // relationship id -> part path
    if (readPart(zip.get(), "xl/_rels/workbook.xml.rels", xml)) {
        pugi::xml_document rels;
        if (!rels.load_buffer(xml.data(), xml.size())) return damaged("workbook.xml.rels 不是有效的 XML");
        for (pugi::xml_node rel = rels.document_element().first_child(); rel; rel = rel.next_sibling())
            if (rel.type() == pugi::node_element && localName(rel) == "Relationship")
                targets[rel.attribute("Id").value()] = partPath(rel.attribute("Target").value());
    }

    std::vector<std::string> sharedStrings;
    if (readPart(zip.get(), "xl/sharedStrings.xml", xml)) {
        pugi::xml_document sst;
        if (!sst.load_buffer(xml.data(), xml.size())) return damaged("sharedStrings.xml 不是有效的 XML");
        for (pugi::xml_node si = sst.document_element().first_child(); si; si = si.next_sibling())
            if (si.type() == pugi::node_element && localName(si) == "si")
                sharedStrings.push_back(stringItemText(si));
    }

    std::vector<WorkbookSheet> sheets;
    const pugi::xml_node sheetList = child(workbook.document_element(), "sheets");
    int position = 0;
    for (pugi::xml_node node = sheetList.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "sheet") continue;
        ++position;
        WorkbookSheet sheet;
        sheet.name = node.attribute("name").value();
        std::string relId;
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name = a.name();
            if (name == "r:id" || (name.size() > 3 && name.substr(name.size() - 3) == ":id")) relId = a.value();
        }
        const auto it = targets.find(relId);
        const std::string part = it != targets.end() ? it->second
                                                     : "xl/worksheets/sheet" + std::to_string(position) + ".xml";
        if (!readPart(zip.get(), part, xml)) return damaged("缺少工作表“" + sheet.name + "”");
        if (const Status read = readSheet(xml, sharedStrings, sheet); !read) return damaged(read.message());
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

}  // namespace kestrel
