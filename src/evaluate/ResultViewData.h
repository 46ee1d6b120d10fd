#pragma once
// What the result, evaluation and text-representation windows copy from the
// controller when they open; they never change the controller. The copy is
// made in app/, above the controller, so that evaluate/ stays below it.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"

namespace kestrel {

class TextClassifier;

struct ResultViewData {
    std::string workspacePath;            // with trailing '/'
    CategoryTable categories;             // names in category-id order (GBK or file-system bytes)
    std::vector<RawDocument> documents;   // the raw corpus in processing order
    int vectorMode = kTestVectors;
    uint32_t rawDocCount = 0;             // T of the evaluation

    static ResultViewData fromController(const TextClassifier& controller);
};

}  // namespace kestrel
