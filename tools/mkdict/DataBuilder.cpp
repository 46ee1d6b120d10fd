#include "DataBuilder.h"

#include <cmath>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fmt/format.h>
#include <set>
#include <system_error>

#include "ContextFile.h"
#include "CorpusStatistics.h"
#include "DictionaryFile.h"
#include "TaggedCorpus.h"
#include "WordClasses.h"
#include "WordList.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

constexpr size_t kMaxStopWordBytes = 259;  // the loader reads tokens into 260 bytes

// Shares of the class tokens and sentence markers in running newspaper text,
// used when no corpus gives the real counts.
constexpr double kShareNumber = 0.033;
constexpr double kShareTime = 0.01;
constexpr double kShareForeign = 0.0006;
constexpr double kSharePerson = 0.02;
constexpr double kSharePlace = 0.03;
constexpr double kShareSentence = 0.17;

// Capped so that no class word's share of the segmenter's unigram term
// (frequency / 2159997 x 0.1) exceeds one half.
constexpr int64_t kMaxClassFrequency = 10000000;

int64_t share(int64_t total, double fraction) {
    return std::clamp<int64_t>(std::llround(static_cast<double>(total) * fraction), 1, kMaxClassFrequency);
}

void addClassTokens(DictionaryFileWriter& core, int64_t numbers, int64_t times, int64_t foreign,
                    int64_t persons, int64_t places, int64_t sentences) {
    const auto& ct = classTokens();
    core.add(ct.number, kHandleClassToken, numbers);
    core.add(ct.time, kHandleClassToken, times);
    core.add(ct.foreign, kHandleClassToken, foreign);
    core.add(ct.person, kHandleClassToken, persons);
    core.add(ct.place, kHandleClassToken, places);
    core.add(ct.begin, kHandleSentenceBegin, sentences);
    core.add(ct.end, kHandleSentenceEnd, sentences);
}

// The word the corpus statistics hold for a piece of a listed word:
// numerals stand as the number token, like in the corpus counts; empty when
// the corpus does not know the piece.
std::string_view corpusUnitOf(std::string_view piece, const CorpusStatistics& corpus) {
    if (isNumberWord(piece)) return classTokens().number;
    if (corpus.words.contains(piece)) return piece;
    return {};
}

// True when the corpus itself writes the word split: it can be cut into two
// or more corpus words (numerals counted as the number token) of which every
// adjacent pair occurs in the corpus as a word pair. A listed word whose
// characters merely happen to be corpus words is kept.
bool corpusWritesSplit(const std::string& word, const CorpusStatistics& corpus) {
    std::vector<size_t> bounds;  // character boundaries
    for (size_t i = 0; i < word.size(); i += gbkCharBytes(word, i)) bounds.push_back(i);
    bounds.push_back(word.size());
    const size_t n = bounds.size();
    // split[i][j]: the first bounds[j] bytes are cut into corpus words joined
    // by corpus pairs, the last of them being word[bounds[i], bounds[j]).
    std::vector<std::vector<char>> split(n, std::vector<char>(n, 0));
    std::string pair;
    for (size_t j = 1; j < n; ++j) {
        for (size_t i = 0; i < j; ++i) {
            if (i == 0 && j == n - 1) continue;  // the word itself is not a cut
            const std::string_view last = corpusUnitOf(std::string_view(word).substr(bounds[i], bounds[j] - bounds[i]), corpus);
            if (last.empty()) continue;
            if (i == 0) {
                split[i][j] = 1;
                continue;
            }
            for (size_t h = 0; h < i && !split[i][j]; ++h) {
                if (!split[h][i]) continue;
                const std::string_view before = corpusUnitOf(std::string_view(word).substr(bounds[h], bounds[i] - bounds[h]), corpus);
                pair.assign(before).append("@").append(last);
                if (corpus.bigrams.contains(pair)) split[i][j] = 1;
            }
        }
    }
    for (size_t i = 1; i + 1 < n; ++i)
        if (split[i][n - 1]) return true;
    return false;
}

// Surnames seen this often lead names in the corpus rather than by chance.
constexpr int64_t kMinSurnameCount = 5;

// True when a listed person name of three or four characters is a surname
// the corpus uses followed by a given name of one or two characters: the
// corpus writes such names as surname and given name, and the person
// recogniser finds them in that form.
bool isSurnameAndGivenName(const std::string& word, int32_t handle, const CorpusStatistics& corpus) {
    if (handle != kHandlePerson) return false;
    for (size_t i = 0; i < word.size(); i += 2)
        if (static_cast<unsigned char>(word[i]) < 0xB0 || i + 1 >= word.size()) return false;
    const size_t chars = word.size() / 2;
    if (chars < 3 || chars > 4) return false;
    for (size_t surname = 1; surname <= 2; ++surname) {
        const size_t given = chars - surname;
        if (given < 1 || given > 2) continue;
        const auto it = corpus.surnames.find(std::string_view(word).substr(0, 2 * surname));
        if (it != corpus.surnames.end() && it->second >= kMinSurnameCount) return true;
    }
    return false;
}

std::string joinPath(const std::string& dir, const std::string& name) { return withTrailingSlash(dir) + name; }

bool createOutputDirectory(const std::string& dir, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec || !isDirectory(dir)) {
        error = "cannot create output directory " + dir + (ec ? ": " + ec.message() : "");
        return false;
    }
    return true;
}

bool writeStopWords(const std::vector<std::string>& stopWords, const std::string& outDir, std::string& error) {
    std::string text;
    for (const auto& w : stopWords) text += w + "\n";
    const Status written = writeFileAtomically(joinPath(outDir, "stopwords.txt"), text);
    if (!written) error = written.message();
    return written.ok();
}

}  // namespace

bool readStopWords(const std::string& path, std::vector<std::string>& words, std::string& error) {
    const Result<std::string> content = readFile(path);
    if (!content) {
        error = content.message();
        return false;
    }
    std::string_view text = *content;
    const bool utf8 = looksLikeUtf8(text);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string> seen;
    size_t lineNo = 0;
    bool ok = true;
    forEachLine(text, [&](std::string_view line) {
        ++lineNo;
        size_t i = 0;
        while (ok && i < line.size()) {
            while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
            const size_t start = i;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
            if (i == start) break;
            const std::string_view token = line.substr(start, i - start);
            std::string word = utf8 ? utf8ToGbk(token) : std::string(token);
            const std::string where = path + ":" + std::to_string(lineNo) + ": ";
            if (utf8 && !isValidUtf8(token)) {
                error = where + "\"" + toUtf8(token) + "\" is not valid UTF-8";
                ok = false;
            } else if (word.size() > kMaxStopWordBytes) {
                error = where + "stop word longer than " + std::to_string(kMaxStopWordBytes) + " bytes";
                ok = false;
            } else {
                words.push_back(std::move(word));
            }
        }
    });
    if (!ok) return false;
    // Keep the first occurrence of each word.
    std::vector<std::string> unique;
    std::set<std::string> present;
    for (auto& w : words)
        if (present.insert(w).second) unique.push_back(std::move(w));
    words = std::move(unique);
    return true;
}

bool buildStopWordsFile(const MkdictOptions& options, std::string& error) {
    std::vector<std::string> stopWords;
    if (options.outDir.empty()) {
        error = "no output directory given (--out DIR)";
        return false;
    }
    if (options.stopwordsPath.empty()) {
        error = "no stop-word list given (--stopwords FILE)";
        return false;
    }
    return readStopWords(options.stopwordsPath, stopWords, error) && createOutputDirectory(options.outDir, error) &&
           writeStopWords(stopWords, options.outDir, error);
}

namespace {

// Everything a build reads, read before anything is written.
struct BuildInputs {
    bool useWordList = false;
    std::vector<WordListEntry> entries;
    WordListStats listStats;
    std::vector<std::string> stopWords;
    bool tagged = false;
    std::vector<CorpusParagraph> paragraphs;
    CorpusStats corpusStats;
    CorpusStatistics corpus;
};

bool checkBuildOptions(const MkdictOptions& options, std::string& error) {
    if (options.outDir.empty()) {
        error = "no output directory given (--out DIR)";
        return false;
    }
    if (options.wordsWeight < 0 || !std::isfinite(options.wordsWeight)) {
        error = "the word-list weight must be a non-negative number";
        return false;
    }
    if (options.total <= 0) {
        error = "the frequency total must be positive";
        return false;
    }
    return true;
}

bool readBuildInputs(const MkdictOptions& options, BuildInputs& in, std::string& error) {
    in.useWordList = options.taggedPath.empty() || options.wordsWeight > 0;
    if (in.useWordList && !readWordList(options.wordsPath, in.entries, in.listStats, error)) return false;

    if (options.stopwordsPath.empty()) {
        error = "no stop-word list given (--stopwords FILE)";
        return false;
    }
    if (!readStopWords(options.stopwordsPath, in.stopWords, error)) return false;

    in.tagged = !options.taggedPath.empty();
    if (in.tagged) {
        if (!readTaggedCorpus(options.taggedPath, options.holdout, in.paragraphs, in.corpusStats, error))
            return false;
        countCorpus(in.paragraphs, in.corpus);
        if (in.corpus.wordTotal == 0) {
            error = options.taggedPath + ": the corpus holds no words";
            return false;
        }
    }
    return true;
}

// The core dictionary: the word list scaled to the corpus (or to the total
// without one), the corpus's own words and the class tokens. `composed`
// counts the listed words left out as the corpus writes them split.
void buildCoreDictionary(const MkdictOptions& options, const BuildInputs& in, DictionaryFileWriter& core,
                         size_t& composed) {
    const CorpusStatistics& corpus = in.corpus;
    int64_t listTotal = 0;
    for (const auto& e : in.entries) listTotal += e.frequency;
    const double target = in.tagged ? static_cast<double>(corpus.wordTotal) * options.wordsWeight
                                    : static_cast<double>(options.total);
    const double scale = listTotal > 0 ? target / static_cast<double>(listTotal) : 0.0;
    composed = 0;
    for (const auto& e : in.entries) {
        // A listed word that the corpus writes as several of its own words
        // (a compound, a phrase, a full name) would override the corpus's
        // way of cutting it; every other listed word is added.
        if (in.tagged && !corpus.words.contains(e.word) &&
            (corpusWritesSplit(e.word, corpus) || isSurnameAndGivenName(e.word, packTag(e.tag), corpus))) {
            ++composed;
            continue;
        }
        const int64_t f = std::max<int64_t>(1, std::llround(static_cast<double>(e.frequency) * scale));
        core.add(e.word, packTag(e.tag), f);
    }
    if (in.tagged) {
        for (const auto& [word, readings] : corpus.words.words())
            for (const auto& [handle, f] : readings) core.add(word, handle, f);
        addClassTokens(core, corpus.numbers, corpus.times, corpus.foreign, corpus.persons, corpus.places,
                       corpus.sentences);
    } else {
        addClassTokens(core, share(options.total, kShareNumber), share(options.total, kShareTime),
                       share(options.total, kShareForeign), share(options.total, kSharePerson),
                       share(options.total, kSharePlace), share(options.total, kShareSentence));
    }
}

using RoleFiles = std::pair<const char*, const RoleData*>;

// Writes the role files nr/ns/tr (.dct, .ctx) from a corpus; without one,
// removes those an earlier build left.
bool writeRoleFiles(const std::string& outDir, const RoleFiles (&roles)[3], bool tagged, std::string& error) {
    for (const auto& [base, data] : roles) {
        const std::string dct = joinPath(outDir, std::string(base) + ".dct");
        const std::string ctx = joinPath(outDir, std::string(base) + ".ctx");
        if (tagged) {
            if (!data->dictionary.save(dct, error) || !data->context.save(ctx, error)) return false;
        } else {
            // Role files of an earlier build from a corpus would not match
            // this dictionary; the recognisers run without them.
            for (const auto& stale : {dct, ctx})
                if (fileExists(stale) && !removeFile(stale)) {
                    error = "cannot remove outdated " + stale;
                    return false;
                }
        }
    }
    return true;
}

std::string buildSummary(const MkdictOptions& options, const BuildInputs& in, size_t composed,
                         const DictionaryFileWriter& core, const DictionaryFileWriter& bigrams,
                         const ContextFileWriter& lexical, const RoleFiles (&roles)[3]) {
    std::string summary;
    const WordListStats& listStats = in.listStats;
    if (in.useWordList)
        summary += fmt::format("word list {}: {} entries used, {} skipped ({} without a dictionary cell, "
                               "{} without a GBK form, {} too long)\n",
                               options.wordsPath, listStats.kept,
                               listStats.noCell + listStats.noGbk + listStats.tooLong, listStats.noCell,
                               listStats.noGbk, listStats.tooLong);
    if (in.tagged && in.useWordList)
        summary += fmt::format("word list entries left out as written split by the corpus: {}\n", composed);
    if (in.tagged)
        summary += fmt::format("tagged corpus {}: {} paragraphs ({} held out), {} words in {} sentences; "
                               "{} tokens without a GBK form\n",
                               options.taggedPath, in.corpusStats.paragraphs, in.corpusStats.heldOut,
                               in.corpus.wordTotal, in.corpus.sentences,
                               in.corpusStats.noGbk);
    summary += fmt::format("coreDict.dct: {} words, {} entries\n", core.wordCount(), core.entryCount());
    summary += fmt::format("BigramDict.dct: {} word pairs\n", bigrams.wordCount());
    summary += fmt::format("lexical.ctx: {} tags\n", lexical.symbols().size());
    if (in.tagged)
        for (const auto& [base, data] : roles)
            summary += fmt::format("{}.dct: {} words, {} entries; {}.ctx: {} roles\n", base,
                                   data->dictionary.wordCount(), data->dictionary.entryCount(), base,
                                   data->context.symbols().size());
    summary += fmt::format("stopwords.txt: {} words\n", in.stopWords.size());
    return summary;
}

}  // namespace

bool buildSegmenterData(const MkdictOptions& options, std::string& summary, std::string& error) {
    if (!checkBuildOptions(options, error)) return false;
    BuildInputs in;
    if (!readBuildInputs(options, in, error)) return false;

    DictionaryFileWriter core;
    size_t composed = 0;
    buildCoreDictionary(options, in, core, composed);

    // Part-of-speech statistics: from the corpus, or a table of the tags the
    // dictionary uses with their frequencies and no transitions.
    ContextFileWriter lexicalFromList;
    if (!in.tagged) {
        lexicalFromList.countTag(kPosSentenceBegin, 0);
        lexicalFromList.countTag(kHandleSentenceEnd, 0);
        for (const auto& [word, readings] : core.words())
            for (const auto& [handle, f] : readings)
                if (handle > kHandleSentenceEnd) lexicalFromList.countTag(handle, f);
    }
    const ContextFileWriter& lexical = in.tagged ? in.corpus.lexical : lexicalFromList;

    RoleData person, place, foreign;
    if (in.tagged) countRoles(in.paragraphs, core, person, place, foreign);

    // Write.
    if (!createOutputDirectory(options.outDir, error)) return false;
    const DictionaryFileWriter emptyBigrams;
    const DictionaryFileWriter& bigrams = in.tagged ? in.corpus.bigrams : emptyBigrams;

    if (!core.save(joinPath(options.outDir, "coreDict.dct"), error)) return false;
    if (!bigrams.save(joinPath(options.outDir, "BigramDict.dct"), error)) return false;
    if (!lexical.save(joinPath(options.outDir, "lexical.ctx"), error)) return false;
    if (!writeStopWords(in.stopWords, options.outDir, error)) return false;
    const RoleFiles roles[] = {{"nr", &person}, {"ns", &place}, {"tr", &foreign}};
    if (!writeRoleFiles(options.outDir, roles, in.tagged, error)) return false;

    summary = buildSummary(options, in, composed, core, bigrams, lexical, roles);
    return true;
}

}  // namespace kestrel
