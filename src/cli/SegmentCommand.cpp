#include "cli/SegmentCommand.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/OptionParser.h"
#include "cli/SegStream.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/WordSegmenter.h"

namespace kestrel {

namespace {

constexpr const char* kDescription =
    "Segments Chinese documents (GBK/GB18030, UTF-8 or UTF-16 with BOM, detected\n"
    "per file) into words.\n"
    "\n"
    "Without --plain or --seg, prints each file's word list as preprocessing\n"
    "writes it: one word per line, stop words, punctuation and numbers removed.\n"
    "\n"
    "With --seg, reads documents one per line as \"id<TAB>text\" (a document's\n"
    "line breaks written as blanks) and writes \"id<TAB>word:count word:count ...\"\n"
    "lines: the words and counts of the document's .seg file, in the same order,\n"
    "so that a batch engine can segment a corpus in shards; kestrel unpack-seg\n"
    "turns the lines into .seg files. A line that is no such record (no TAB, an\n"
    "empty id, bytes that are not in the encoding of --encoding) is reported with\n"
    "its number on standard error and left out, and the exit status is 1.\n"
    "\n"
    "FILE may be - for standard input; --seg reads standard input when no FILE is\n"
    "given.\n"
    "\n"
    "--terms chooses the terms of the --seg records: words (the default), character\n"
    "n-grams of a range of lengths and pairs of adjacent words, e.g.\n"
    "words,chars:1-2,pairs. A character n-gram is written '#' and its characters\n"
    "(#中国), a pair as its words joined by '+' (中国+人民); no word holds '#' or '+'.\n";

// The bytes of a file, or of standard input for "-".
Result<std::string> readInput(const std::string& path) {
    if (path != "-") return readFile(path);
    std::string bytes(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>{});
    if (std::cin.bad()) return Status::failure("cannot read standard input");
    return bytes;
}

// Writes GBK text in the chosen encoding; false when standard output fails.
bool emit(std::string& gbk, bool utf8) {
    if (gbk.empty()) return true;
    const std::string out = utf8 ? gbkToUtf8(gbk) : gbk;
    gbk.clear();
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
}

}  // namespace

namespace {

// Loads the segmenter's data from `dataDir` (the data directory or the one
// above it) or, without it, from where the data is looked up by default.
bool loadSegmenter(const std::string& dataDir, WordSegmenter& segmenter) {
    std::string error;
    Status loaded;
    if (!dataDir.empty()) {
        std::string dir = withTrailingSlash(dataDir);
        if (!fileExists(dir + "coreDict.dct") && fileExists(dir + "data/coreDict.dct")) dir += "data/";
        loaded = segmenter.loadDataDirectory(dir);
    } else {
        char cwd[4096];
        const std::string startup = getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
        loaded = segmenter.loadData(startup);
    }
    if (!loaded) {
        std::fprintf(stderr, "kestrel segment: cannot load the segmenter's data: %s\n", loaded.message().c_str());
        return false;
    }
    if (!segmenter.warnings().empty()) std::fprintf(stderr, "kestrel segment: warning: %s", segmenter.warnings().c_str());
    segmenter.setUnknownWordSwitch(2);
    return true;
}

// Appends the segmented text of one document to `out`: its word list, or
// with `plain` every line with its words separated by blanks.
void segmentDocument(CWordSegment& worker, const std::string& text, bool plain, bool utf8, std::string& out,
                     int& status) {
    std::vector<std::string> words;
    if (plain) {
        forEachLine(text, [&](std::string_view line) {
            words.clear();
            worker.segmentPlain(line, words);
            for (size_t i = 0; i < words.size(); ++i) {
                if (i > 0) out.push_back(' ');
                out.append(words[i]);
            }
            out.push_back('\n');
            if (out.size() >= (1u << 20) && !emit(out, utf8)) status = 1;
        });
        return;
    }
    worker.segmentText(text, words);
    for (const std::string& word : words) {
        out.append(word);
        out.push_back('\n');
    }
}

int segmentFiles(const WordSegmenter& segmenter, const std::vector<std::string>& files, bool plain, bool utf8) {
    CWordSegment worker = segmenter.worker();
    int status = 0;
    std::string out;
    for (const std::string& file : files) {
        const Result<std::string> bytes = readInput(file);
        if (!bytes) {
            std::fprintf(stderr, "kestrel segment: %s\n", toUtf8(bytes.message()).c_str());
            status = 1;
            continue;
        }
        DecodeReport report;
        const std::string text = decodeText(*bytes, &report);
        const std::string warning = decodeWarning(file == "-" ? "standard input" : file, report);
        if (report.encoding == TextEncoding::kBinary) {
            std::fprintf(stderr, "kestrel segment: %s\n", warning.c_str());
            status = 1;
            continue;
        }
        if (!warning.empty()) std::fprintf(stderr, "kestrel segment: warning: %s\n", warning.c_str());
        segmentDocument(worker, text, plain, utf8, out, status);
        if (!emit(out, utf8)) status = 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kestrel segment: cannot write the output\n");
        status = 1;
    }
    return status;
}

// Segments the records of standard input or of `files`.
int segmentRecords(const WordSegmenter& segmenter, std::vector<std::string> files, StreamEncoding encoding,
                   const TermOptions& terms) {
    if (files.empty()) files.push_back("-");
    int status = 0;
    for (const std::string& file : files) {
        std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
        if (!in) {
            std::fprintf(stderr, "kestrel segment: cannot open %s: %s\n", displayPath(file).c_str(),
                         std::strerror(errno));
            status = 1;
            continue;
        }
        const std::string name = file == "-" ? std::string("standard input") : displayPath(file);
        if (segmentStream(segmenter.worker(), encoding, 0, in, name, stdout, stderr, terms) != 0) status = 1;
        if (in != stdin) std::fclose(in);
    }
    return status;
}

}  // namespace

int runSegmentCommand(int argc, char** argv) {
    bool plain = false;
    bool seg = false;
    std::string encoding = "utf8";
    std::string dataDir;
    std::string terms;
    std::vector<std::string> files;
    cli::OptionParser parser("segment", kDescription);
    CLI::App& app = parser.app();
    CLI::Option* plainOption = app.add_flag("--plain", plain,
                                            "print every input line segmented, words separated by single blanks; "
                                            "every character is kept (punctuation, digits, particles) and no stop "
                                            "word is removed");
    CLI::Option* segOption =
        app.add_flag("--seg", seg, "read \"id<TAB>text\" records, write \"id<TAB>word:count ...\" records")
            ->excludes(plainOption);
    app.add_option("--terms", terms,
                   "with --seg: the terms of the records, e.g. words,chars:1-2,pairs (default: words)")
        ->option_text("SPEC")
        ->needs(segOption);
    cli::addEncodingOption(app, encoding, "output encoding (with --seg also the input's): utf8 (default) or gbk "
                                          "(GB18030)");
    app.add_option("--data", dataDir,
                   "the segmenter's data directory (holding coreDict.dct); default: ./data/, then $KESTREL_DATA, "
                   "then the data built beside the program or installed with it (../share/kestrel/data)")
        ->option_text("DIR");
    app.add_option("FILE", files, "documents to segment (- for standard input)")->option_text("FILE...");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (files.empty() && !seg) {
        std::fprintf(stderr, "kestrel segment: no input file given (see kestrel segment --help)\n");
        return 2;
    }
    const Result<TermOptions> termOptions =
        terms.empty() ? Result<TermOptions>(TermOptions()) : TermOptions::parse(terms);
    if (!termOptions) {
        std::fprintf(stderr, "kestrel segment: --terms: %s\n", termOptions.message().c_str());
        return 2;
    }
    WordSegmenter segmenter;
    if (!loadSegmenter(dataDir, segmenter)) return 1;
    if (seg) return segmentRecords(segmenter, files, cli::streamEncoding(encoding), *termOptions);
    return segmentFiles(segmenter, files, plain, cli::streamEncoding(encoding) == StreamEncoding::kUtf8);
}

}  // namespace kestrel
