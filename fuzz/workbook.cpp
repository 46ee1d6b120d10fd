// The workbook reader (zip + XML) that the evaluation export uses to keep
// the rows of an existing 分类评价.xlsx.
#include "FuzzSupport.h"
#include "evaluate/WorkbookReader.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("workbook.xlsx", fuzz::bytesOf(data, size));
    std::vector<WorkbookSheet> sheets;
    std::string error;
    if (!readWorkbook(path, sheets, error)) fuzz::require(!error.empty(), "a refused workbook has a message");
    return 0;
}
