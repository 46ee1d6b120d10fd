// The workbook reader (zip + XML) that the evaluation export uses to keep
// the rows of an existing 分类评价.xlsx.
#include "FuzzSupport.h"
#include "evaluate/WorkbookReader.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("workbook.xlsx", fuzz::bytesOf(data, size));
    const Result<std::vector<WorkbookSheet>> sheets = readWorkbook(path);
    if (!sheets) fuzz::require(!sheets.message().empty(), "a refused workbook has a message");
    return 0;
}
