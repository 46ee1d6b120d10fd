// The KNN classifier's reading of vector files: the input serves as the
// workspace's train.dat and as the file to classify, with each similarity.
#include "FuzzSupport.h"
#include "classify/KnnClassifier.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::bytesOf(data, size);
    fuzz::writeScratchFile("train.dat", bytes);
    const std::string input = fuzz::writeScratchFile("test.dat", bytes);
    for (const Similarity similarity : {Similarity::Cosine, Similarity::Manhattan, Similarity::Euclidean}) {
        KnnClassifier knn;
        knn.workspacePath = fuzz::scratchDirectory();
        knn.similarity = similarity;
        knn.k = 1 + static_cast<uint32_t>(size % 25);
        knn.categoryCount = 1 + static_cast<uint32_t>(size % 12);
        knn.threads = 1;
        knn.boundsFrom = (size & 1) ? 0 : SIZE_MAX;  // odd sizes rank the cosine with bounds
        const auto assigned = knn.classifyFile(input);
        fuzz::require(assigned.ok(), "readable vector files are classified");
        for (int32_t category : *assigned)
            fuzz::require(category >= 0 && static_cast<uint32_t>(category) < knn.categoryCount,
                          "every document is assigned a known category");
    }
    return 0;
}
