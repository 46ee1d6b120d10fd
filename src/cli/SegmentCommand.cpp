#include "cli/SegmentCommand.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/WordSegmenter.h"

namespace kestrel {

namespace {

constexpr const char* kUsage =
    "Usage: kestrel segment [--encoding utf8|gbk] [--plain] [--data DIR] FILE...\n"
    "\n"
    "Segments Chinese documents (GBK/GB18030, UTF-8 or UTF-16 with BOM, detected\n"
    "per file) into words.\n"
    "\n"
    "Without --plain, prints each file's word list as preprocessing writes it:\n"
    "one word per line, stop words, punctuation and numbers removed.\n"
    "\n"
    "Options:\n"
    "  --plain            print every input line segmented, words separated by\n"
    "                     single blanks; every character is kept (punctuation,\n"
    "                     digits, particles) and no stop word is removed\n"
    "  --encoding ENC     output encoding: utf8 (default) or gbk (GB18030)\n"
    "  --data DIR         the segmenter's data directory (holding coreDict.dct);\n"
    "                     default: ./data/, then $KESTREL_DATA, then the data\n"
    "                     built beside the program or installed with it\n"
    "                     (../share/kestrel/data)\n"
    "  --help             show this help\n"
    "\n"
    "FILE may be - for standard input.\n";

bool readInput(const std::string& path, std::string& bytes, std::string& error) {
    if (path != "-") return readFile(path, bytes, &error);
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) {
        error = "cannot read standard input";
        return false;
    }
    return true;
}

// Writes GBK text in the chosen encoding; false when standard output fails.
bool emit(std::string& gbk, bool utf8) {
    if (gbk.empty()) return true;
    const std::string out = utf8 ? gbkToUtf8(gbk) : gbk;
    gbk.clear();
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
}

}  // namespace

int runSegmentCommand(int argc, char** argv) {
    bool plain = false;
    bool utf8 = true;
    std::string dataDir;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            const size_t eq = arg.find('=');
            if (arg.starts_with("--") && eq != std::string::npos) {
                out = arg.substr(eq + 1);
                return true;
            }
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        const std::string name = arg.starts_with("--") ? arg.substr(0, arg.find('=')) : arg;
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (name == "--plain") {
            plain = true;
        } else if (name == "--encoding") {
            std::string encoding;
            if (!value(encoding)) {
                std::fprintf(stderr, "kestrel segment: --encoding needs a value (utf8 or gbk)\n");
                return 2;
            }
            if (encoding == "utf8" || encoding == "utf-8" || encoding == "UTF-8") {
                utf8 = true;
            } else if (encoding == "gbk" || encoding == "GBK") {
                utf8 = false;
            } else {
                std::fprintf(stderr, "kestrel segment: unknown encoding '%s' (use utf8 or gbk)\n", encoding.c_str());
                return 2;
            }
        } else if (name == "--data") {
            if (!value(dataDir)) {
                std::fprintf(stderr, "kestrel segment: --data needs a directory\n");
                return 2;
            }
        } else if (name == "--") {
            for (++i; i < argc; ++i) files.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "kestrel segment: unknown option '%s'\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "kestrel segment: no input file given\n%s", kUsage);
        return 2;
    }

    WordSegmenter segmenter;
    std::string error;
    Status loaded;
    if (!dataDir.empty()) {
        // DIR may be the data directory itself or the directory above it.
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
        return 1;
    }
    if (!segmenter.warnings().empty()) std::fprintf(stderr, "kestrel segment: warning: %s", segmenter.warnings().c_str());
    segmenter.setUnknownWordSwitch(2);

    CWordSegment worker = segmenter.worker();
    int status = 0;
    std::string out;
    std::vector<std::string> words;
    for (const std::string& file : files) {
        std::string bytes;
        if (!readInput(file, bytes, error)) {
            std::fprintf(stderr, "kestrel segment: %s\n", toUtf8(error).c_str());
            status = 1;
            continue;
        }
        DecodeReport report;
        const std::string text = decodeText(bytes, &report);
        const std::string warning = decodeWarning(file == "-" ? "standard input" : file, report);
        if (report.encoding == TextEncoding::kBinary) {
            std::fprintf(stderr, "kestrel segment: %s\n", warning.c_str());
            status = 1;
            continue;
        }
        if (!warning.empty()) std::fprintf(stderr, "kestrel segment: warning: %s\n", warning.c_str());
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
        } else {
            words.clear();
            worker.segmentText(text, words);
            for (const std::string& word : words) {
                out.append(word);
                out.push_back('\n');
            }
        }
        if (!emit(out, utf8)) status = 1;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "kestrel segment: cannot write the output\n");
        status = 1;
    }
    return status;
}

}  // namespace kestrel
