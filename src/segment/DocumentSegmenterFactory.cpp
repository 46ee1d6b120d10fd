#include "segment/DocumentSegmenter.h"
#include "segment/WordSegmenter.h"

namespace kestrel {

std::unique_ptr<DocumentSegmenter> makeDocumentSegmenter() { return std::make_unique<WordSegmenter>(); }

}  // namespace kestrel
