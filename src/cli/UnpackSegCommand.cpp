#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/OptionParser.h"
#include "cli/SegStream.h"
#include "cli/SegUnpack.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

void unpackError(const std::string& message) {
    std::fprintf(stderr, "kestrel unpack-seg: %s\n", message.c_str());
}

constexpr const char* kUnpackDescription =
    "Turns segmented records \"id<TAB>word:count word:count ...\" (the output of\n"
    "kestrel segment --seg) into .seg files that kestrel train --format seg and\n"
    "kestrel classify --format seg read. A record whose id is \"category/title\"\n"
    "becomes DIR/category/title.seg, one whose id is \"title\" DIR/title.seg.\n"
    "Files are written in the workspace encoding (GB18030). A line that is no\n"
    "such record, an id seen before, a last line without a newline (a cut-off\n"
    "record) and a category that is a symbolic link below DIR are reported with\n"
    "the line number and written nowhere; the exit status is then 1.\n";

}  // namespace

int runUnpackSeg(int argc, char** argv) {
    std::string dir;
    std::string encodingName = "utf8";
    std::vector<std::string> files;
    cli::OptionParser parser("unpack-seg", kUnpackDescription);
    parser.app().add_option("--to", dir, "the directory the .seg files are written below (created when missing)")
        ->required()
        ->option_text("DIR");
    cli::addEncodingOption(parser.app(), encodingName, "the encoding of the records: utf8 (default) or gbk");
    parser.app()
        .add_option("FILE", files, "files of segmented records; standard input when none (or -)")
        ->option_text("FILE...");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;

    SegUnpacker unpacker(dir, cli::streamEncoding(encodingName));
    if (const Status opened = unpacker.open(); !opened) {
        unpackError(opened.message());
        return 1;
    }
    if (files.empty()) files.push_back("-");
    int status = 0;
    for (const std::string& file : files) {
        std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
        if (!in) {
            unpackError("cannot open " + displayPath(file) + ": " + std::strerror(errno));
            status = 1;
            continue;
        }
        const std::string name = file == "-" ? std::string("standard input") : displayPath(file);
        if (!unpackRecords(unpacker, in, name, file == "-" ? std::string() : name + ": ")) status = 1;
        if (in != stdin) std::fclose(in);
    }
    const size_t written = unpacker.written();
    std::fprintf(stderr, "unpack-seg: %zu %s written below %s\n", written, written == 1 ? "document" : "documents",
                 displayPath(withTrailingSlash(dir)).c_str());
    return status;
}

}  // namespace kestrel
