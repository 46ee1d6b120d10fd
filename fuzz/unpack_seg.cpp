// kestrel unpack-seg: the input is a stream of segmented records
// "id<TAB>word:count ...", unpacked into .seg files below a scratch
// directory (in memory), which is emptied after every input.
#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>

#include "FuzzSupport.h"
#include "cli/SegUnpack.h"

using namespace kestrel;

namespace {

void removeTree(const std::string& dir) {
    nftw(dir.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* quiet = fopen("/dev/null", "w");
    const std::string dir = fuzz::scratchDirectory() + "unpacked/";
    const StreamEncoding encoding = size % 2 ? StreamEncoding::kGb18030 : StreamEncoding::kUtf8;
    std::FILE* in = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : fopen("/dev/null", "rb");
    fuzz::require(in != nullptr, "memory streams open");
    {
        SegUnpacker unpacker(dir, encoding);
        fuzz::require(unpacker.open().ok(), "the output directory opens");
        const bool ok = unpackRecords(unpacker, in, "input", "", quiet);
        // A record cut off at the end is never written.
        if (size && data[size - 1] != '\n') fuzz::require(!ok, "a last line without a newline is refused");
    }
    fclose(in);
    removeTree(dir);
    return 0;
}
