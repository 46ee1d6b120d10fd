#include "evaluate/ResultViewData.h"

#include "app/TextClassifier.h"

namespace kestrel {

ResultViewData ResultViewData::fromController(const TextClassifier& controller) {
    ResultViewData data;
    data.workspacePath = controller.workspacePath;
    data.categories = controller.categories();
    data.documents = controller.rawDocuments();
    data.vectorMode = controller.vectorMode;
    data.rawDocCount = controller.rawDocCount;
    return data;
}

}  // namespace kestrel
