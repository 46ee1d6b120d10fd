// The workspace file readers: the input is read as classes.txt,
// features.txt, fsinfo.dat and params.dat in turn.
#include "FuzzSupport.h"
#include "workspace/WorkspaceFiles.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("workspace.txt", fuzz::bytesOf(data, size));

    fuzz::require(readClasses(path).ok(), "a readable classes.txt is read");
    fuzz::require(readFeatures(path).ok(), "a readable features.txt is read");
    std::string modeWord;
    const Result<FsInfo> info = readFsInfo(path, &modeWord);
    fuzz::require(info.ok(), "a readable fsinfo.dat is read");
    if (info) selectionModeName(info->mode);
    std::string classifierWord;
    if (const Result<ClassifierParams> params = readParams(path, &classifierWord)) {
        // What is read back is written again in the same form.
        const std::string written = fuzz::writeScratchFile("params.dat", paramsText(*params));
        const Result<ClassifierParams> again = readParams(written);
        fuzz::require(again && paramsText(*again) == paramsText(*params),
                      "parameters read back as they were written");
    }
    return 0;
}
