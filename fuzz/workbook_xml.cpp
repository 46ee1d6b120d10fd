// The workbook reader on well-formed archives with fuzzed contents: the
// input is split at "\n--\n" into the sheet's XML, the shared strings and
// the workbook part, stored (uncompressed) in an .xlsx, so that every input
// reaches the streaming XML reading instead of failing on zip checksums.
#include <zip.h>

#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "evaluate/WorkbookReader.h"

using namespace kestrel;

namespace {

constexpr const char* kDefaultWorkbook =
    "<workbook xmlns:r=\"r\"><sheets><sheet name=\"s\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
constexpr const char* kRelationships =
    "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/></Relationships>";

void addMember(zipFile zip, const char* name, std::string_view content) {
    fuzz::require(zipOpenNewFileInZip(zip, name, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0) == ZIP_OK,
                  "a member is added");
    zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size()));
    zipCloseFileInZip(zip);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::bytesOf(data, size);
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t cut = bytes.find("\n--\n", start);
        parts.push_back(bytes.substr(start, cut == std::string_view::npos ? std::string_view::npos : cut - start));
        if (cut == std::string_view::npos || parts.size() == 3) break;
        start = cut + 4;
    }
    const std::string path = fuzz::scratchDirectory() + "fuzzed.xlsx";
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    fuzz::require(zip != nullptr, "the archive is created");
    addMember(zip, "xl/worksheets/sheet1.xml", parts[0]);
    if (parts.size() > 1) addMember(zip, "xl/sharedStrings.xml", parts[1]);
    addMember(zip, "xl/workbook.xml", parts.size() > 2 ? parts[2] : kDefaultWorkbook);
    addMember(zip, "xl/_rels/workbook.xml.rels", kRelationships);
    zipClose(zip, nullptr);

    const Result<std::vector<WorkbookSheet>> sheets = readWorkbook(path);
    if (!sheets) {
        fuzz::require(!sheets.message().empty(), "a refused workbook has a message");
        return 0;
    }
    uint64_t cells = 0;
    for (const WorkbookSheet& sheet : *sheets) {
        for (size_t r = 0; r < sheet.rows.size(); ++r) {
            fuzz::require(r == 0 || sheet.rows[r - 1].index < sheet.rows[r].index, "rows in order");
            fuzz::require(sheet.rows[r].index < kMaxWorkbookRows, "rows within the sheet");
            cells += sheet.rows[r].cells.size();
        }
    }
    fuzz::require(cells <= kMaxWorkbookCells, "cells within the bound");
    return 0;
}
