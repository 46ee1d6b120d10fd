// kestrel segment --seg: the input is a stream of "id<TAB>text" records,
// segmented with the segmenter's full data as the build makes it, in both
// encodings. Every line is either written or reported, never dropped.
#include <cstdio>

#include "FuzzSupport.h"
#include "cli/SegStream.h"
#include "segment/WordSegmenter.h"

using namespace kestrel;

namespace {

const WordSegmenter& segmenter() {
    static const WordSegmenter* loaded = [] {
        auto* s = new WordSegmenter;
        const Status status = s->loadDataDirectory(std::string(KESTREL_FUZZ_BUILD_DIR) + "/data/");
        if (!status) {
            fprintf(stderr, "kestrel fuzz: %s\n", status.message().c_str());
            abort();
        }
        s->setUnknownWordSwitch(2);
        return s;
    }();
    return *loaded;
}

size_t countLines(const char* text, size_t size) {
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i) lines += text[i] == '\n';
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    segmenter();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* quiet = fopen("/dev/null", "w");
    const StreamEncoding encoding = size % 2 ? StreamEncoding::kGb18030 : StreamEncoding::kUtf8;
    std::FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
    char* written = nullptr;
    size_t writtenSize = 0;
    std::FILE* out = open_memstream(&written, &writtenSize);
    fuzz::require(in && out, "memory streams open");
    const int status = segmentStream(segmenter().worker(), encoding, 1, in, "input", out, quiet);
    fclose(in);
    fclose(out);
    const size_t inputLines = countLines(reinterpret_cast<const char*>(data), size) +
                              (size && data[size - 1] != '\n' ? 1 : 0);
    const size_t outputLines = countLines(written, writtenSize);
    fuzz::require(outputLines <= inputLines, "one output line at most per input line");
    fuzz::require(status == 1 || outputLines == inputLines, "every line written unless one is reported");
    free(written);
    return 0;
}
