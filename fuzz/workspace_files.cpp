// The workspace file readers: the input is read as classes.txt,
// features.txt, fsinfo.dat and params.dat in turn.
#include "FuzzSupport.h"
#include "app/WorkspaceFiles.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("workspace.txt", fuzz::bytesOf(data, size));
    std::string error;

    CategoryTable categories;
    fuzz::require(readClasses(path, categories, &error), "a readable classes.txt is read");
    FeatureTable features;
    fuzz::require(readFeatures(path, features, &error), "a readable features.txt is read");
    FsInfo info;
    std::string modeWord;
    fuzz::require(readFsInfo(path, info, &error, &modeWord), "a readable fsinfo.dat is read");
    selectionModeName(info.mode);
    ClassifierParams params;
    std::string classifierWord;
    if (readParams(path, params, &error, &classifierWord)) {
        // What is read back is written again in the same form.
        ClassifierParams again;
        const std::string written = fuzz::writeScratchFile("params.dat", paramsText(params));
        fuzz::require(readParams(written, again, &error) && paramsText(again) == paramsText(params),
                      "parameters read back as they were written");
    }
    return 0;
}
