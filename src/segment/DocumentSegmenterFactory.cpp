#include "segment/DocumentSegmenter.h"

namespace kestrel {

// Placeholder until the word segmenter is built in: raw-text preprocessing
// then reports the segmenter as unavailable.
std::unique_ptr<DocumentSegmenter> makeDocumentSegmenter() { return nullptr; }

}  // namespace kestrel
