// The SVM engine's reading of vector lines (train.dat, test.dat,
// example.dat): parsing, the labels of one category, and the dot products
// the kernels are built from.
#include <cmath>

#include "FuzzSupport.h"
#include "classify/svm/CSVM.h"
#include "classify/svm/SvmKernel.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("train.dat", fuzz::bytesOf(data, size));
    std::vector<SvmDoc> docs;
    std::vector<int32_t> labels;
    int32_t totWords = 0;
    SvmReadReport report;
    const int64_t maxWords = 1 + static_cast<int64_t>(size % 1000);
    fuzz::require(CSVM::readDocuments(path, docs, labels, maxWords, 2, totWords, &report).ok(),
                  "a readable vector file is read");
    fuzz::require(docs.size() == labels.size(), "one label per document");
    for (size_t i = 0; i < docs.size(); ++i) {
        const SvmDoc& doc = docs[i];
        fuzz::require(!doc.words.empty() && doc.words.back().wnum == 0, "every document ends with its terminator");
        fuzz::require(static_cast<int64_t>(doc.size()) <= maxWords, "no document has more than maxWords entries");
        for (size_t w = 0; w + 1 < doc.words.size(); ++w)
            fuzz::require(doc.words[w].wnum >= 1 && doc.words[w].wnum <= totWords &&
                              (w == 0 || doc.words[w].wnum > doc.words[w - 1].wnum),
                          "feature numbers are positive, increasing and at most the highest index");
        fuzz::require(labels[i] >= -1 && labels[i] <= 1, "labels of one category are -1, 0 or +1");
        if (i > 0) sparseDot(doc.list(), docs[i - 1].list());
    }
    return 0;
}
