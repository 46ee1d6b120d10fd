// SVM model files: reading a model (SVM-light text, V3.50) and scoring a
// small vector file with it, as classification does with every model<N>.mdl.
#include <cmath>

#include "FuzzSupport.h"
#include "classify/SvmEngine.h"
#include "classify/svm/SvmModelFile.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string vectors = fuzz::writeScratchFile(
        "test.dat",
        "1 1:0.447214 3:0.894427\n2 2:0.600000 5:0.800000\n0 4:1.000000\n3 1:0.1 2:0.2 3:0.3 4:0.4 5:0.5 "
        "6:0.6 9:0.9 40:0.1\n");
    const std::string model = fuzz::writeScratchFile("model1.mdl", fuzz::bytesOf(data, size));

    const Result<SvmModel> readModelFile = readModel(model);
    if (!readModelFile) {
        fuzz::require(!readModelFile.message().empty(), "a refused model file has a message");
        return 0;
    }
    const SvmModel& read = *readModelFile;
    fuzz::require(read.supportVectorCount() + 1 == read.svNum &&
                      read.supvec.size() == static_cast<size_t>(read.svNum) &&
                      read.alpha.size() == static_cast<size_t>(read.svNum),
                  "a model has one coefficient per support vector");

    static const std::unique_ptr<SvmEngine> engine = makeSvmEngine();
    engine->setSettings(SvmSettings{});
    std::vector<double> values;
    if (engine->classifyFile(vectors, model, values))
        fuzz::require(values.size() == 4, "one decision value per document");
    return 0;
}
