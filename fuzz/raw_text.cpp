// Segmentation of a raw document: any bytes (GBK, GB18030, UTF-8, UTF-16 or
// none of them) go through the path documents take, from the file through
// encoding detection and decoding to the word list, with the segmenter's
// full data as the build makes it.
#include <memory>

#include "FuzzSupport.h"
#include "common/Encoding.h"
#include "segment/DocumentSegmenter.h"

using namespace kestrel;

namespace {

const DocumentSegmenter& segmenter() {
    static const std::unique_ptr<DocumentSegmenter> loaded = [] {
        std::unique_ptr<DocumentSegmenter> s = makeDocumentSegmenter();
        const Status loaded = s ? s->loadData(KESTREL_FUZZ_BUILD_DIR) : Status::failure("no segmenter built in");
        if (!loaded) {
            fprintf(stderr, "kestrel fuzz: %s\n", loaded.message().c_str());
            abort();
        }
        s->setUnknownWordSwitch(1);
        return s;
    }();
    return *loaded;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    segmenter();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("document.txt", fuzz::bytesOf(data, size));
    // Only bytes that are no text at all are refused, and never in silence.
    const std::string_view bytes = fuzz::bytesOf(data, size);
    if (const Result<SegmentedDocument> segmented = segmenter().segmentDocument(path); !segmented)
        fuzz::require(detectEncoding(bytes) == TextEncoding::kBinary && !segmented.message().empty(),
                      "a text document is segmented; a binary one is refused with a message");
    return 0;
}
