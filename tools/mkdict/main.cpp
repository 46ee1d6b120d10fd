// kestrel-mkdict: builds the segmenter's data files.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DataBuilder.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "common/Version.h"
#include "segment/WordSegmenter.h"

#ifndef KESTREL_MKDICT_STOPWORDS
#define KESTREL_MKDICT_STOPWORDS ""
#endif

namespace {

const char* const kUsage =
    "Usage: kestrel-mkdict --out DIR [options]\n"
    "Builds the segmenter's data files (coreDict.dct, BigramDict.dct, lexical.ctx,\n"
    "stopwords.txt and, from a tagged corpus, the name-role files nr, ns, tr) in DIR.\n"
    "\n"
    "Options:\n"
    "  --out DIR          directory to write the data files into (created if missing)\n"
    "  --words FILE       word list, lines \"word frequency tag\" in UTF-8\n"
    "                     (default: /usr/lib/python3/dist-packages/jieba/dict.txt)\n"
    "  --tagged FILE      part-of-speech tagged corpus, \"word/tag\" tokens, one paragraph\n"
    "                     per line, GBK or UTF-8; gives word counts, word-pair counts,\n"
    "                     tag statistics and the name-role files\n"
    "  --holdout N        skip every N-th paragraph of the tagged corpus (keep it for\n"
    "                     evaluation); 0 keeps all (default 0)\n"
    "  --stopwords FILE   stop-word list, one word per line, UTF-8 or GBK\n"
    "                     (default: the project's own list, or the stopwords.txt\n"
    "                     of the installed data)\n"
    "  --total N          without a tagged corpus: the total the word list's frequencies\n"
    "                     are scaled to (default 200000000)\n"
    "  --words-weight W   with a tagged corpus: the word list is scaled to W times the\n"
    "                     corpus size and added to the corpus counts, except words the\n"
    "                     corpus writes split (as corpus words each pair of which occurs\n"
    "                     side by side); 0 leaves the word list out (default 1)\n"
    "  --stopwords-only   write only stopwords.txt (next to data from elsewhere)\n"
    "  --quiet            print nothing on success\n"
    "  --help             show this text\n"
    "  --version          print the version\n"
    "\n"
    "Each file is written to a temporary file and renamed, so a failure never leaves\n"
    "a half-written data file. Exit status 0 on success, 1 on any failure, 2 on a\n"
    "usage error.\n";

bool parseCount(std::string_view text, long long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

// The project's own stop-word list where the source tree is at hand; an
// installed program falls back to the list in the data installed with it.
std::string defaultStopwords() {
    const std::string source = KESTREL_MKDICT_STOPWORDS;
    if (!source.empty() && kestrel::fileExists(source)) return source;
    const kestrel::Result<std::string> dataDir = kestrel::findDataDirectory({});
    return dataDir ? *dataDir + "stopwords.txt" : source;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "kestrel-mkdict: %s\nTry 'kestrel-mkdict --help'.\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    kestrel::MkdictOptions options;
    bool quiet = false, stopwordsGiven = false, stopwordsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("kestrel-mkdict %s\n", kestrel::kestrelVersion());
            return 0;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg == "--stopwords-only") {
            stopwordsOnly = true;
            continue;
        }
        if (i + 1 >= argc) return usageError("missing value after " + std::string(arg));
        const std::string value = argv[++i];
        long long n = 0;
        if (arg == "--out") {
            options.outDir = value;
        } else if (arg == "--words") {
            options.wordsPath = value;
        } else if (arg == "--tagged") {
            options.taggedPath = value;
        } else if (arg == "--stopwords") {
            options.stopwordsPath = value;
            stopwordsGiven = true;
        } else if (arg == "--holdout") {
            if (!parseCount(value, n)) return usageError("--holdout needs a non-negative integer, not \"" + value + "\"");
            options.holdout = static_cast<size_t>(n);
        } else if (arg == "--total") {
            if (!parseCount(value, n) || n == 0 || n > 2000000000LL)
                return usageError("--total needs a positive integer below 2000000000, not \"" + value + "\"");
            options.total = n;
        } else if (arg == "--words-weight") {
            if (!kestrel::parseWholeReal(value, options.wordsWeight) || !(options.wordsWeight >= 0) ||
                options.wordsWeight > 1e6)
                return usageError("--words-weight needs a non-negative number, not \"" + value + "\"");
        } else {
            return usageError("unknown option " + std::string(arg));
        }
    }
    if (!stopwordsGiven) options.stopwordsPath = defaultStopwords();
    if (options.outDir.empty()) return usageError("no output directory given (--out DIR)");
    if (options.holdout > 0 && options.taggedPath.empty())
        return usageError("--holdout needs a tagged corpus (--tagged FILE)");

    std::string summary, error;
    if (stopwordsOnly) {
        if (!options.taggedPath.empty()) return usageError("--stopwords-only takes no tagged corpus");
        if (!kestrel::buildStopWordsFile(options, error)) {
            std::fprintf(stderr, "kestrel-mkdict: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!kestrel::buildSegmenterData(options, summary, error)) {
        std::fprintf(stderr, "kestrel-mkdict: %s\n", error.c_str());
        return 1;
    }
    if (!quiet) std::fputs(summary.c_str(), stdout);
    return 0;
}
