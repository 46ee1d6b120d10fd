// Reading a segmented document (.seg, "word:count" lines, GBK or UTF-8) and
// weighting it into a vector line over features taken from its own words.
#include "FuzzSupport.h"
#include "common/Encoding.h"
#include "features/DocumentVectors.h"
#include "features/SegmentedCorpus.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::writeScratchFile("document.seg", fuzz::bytesOf(data, size));
    std::vector<SegLine> lines;
    // Only bytes that are no text at all are refused, and never in silence.
    if (Status read = readSegFile(path, lines); !read) {
        fuzz::require(detectEncoding(fuzz::bytesOf(data, size)) == TextEncoding::kBinary && !read.message().empty(),
                      "a text .seg file is read; a binary one is refused with a message");
        return 0;
    }
    FeatureTable features;
    for (size_t i = 0; i < lines.size() && features.size() < 50; i += 2)
        features.emplace(lines[i].term, FeatureInfo{static_cast<uint32_t>(features.size()), 1.0 + double(i)});
    const std::string items = vectorItems(lines, features);
    fuzz::require(items.find("nan") == std::string::npos && items.find("inf") == std::string::npos,
                  "every weight of a vector line is a finite number");
    return 0;
}
