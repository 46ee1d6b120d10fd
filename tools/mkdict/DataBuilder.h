#pragma once
// Builds every data file of the segmenter from a word list, an optional
// part-of-speech tagged corpus and the stop-word list.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct MkdictOptions {
    std::string wordsPath = "/usr/lib/python3/dist-packages/jieba/dict.txt";
    std::string taggedPath;          // empty: no tagged corpus
    size_t holdout = 0;              // skip every N-th paragraph of the corpus (0: none)
    std::string stopwordsPath;
    std::string outDir;
    // Without a corpus the word list's frequencies are scaled to this total.
    // The segmenter's smoothing floor acts as a cost per word; a total well
    // above its constant (2159997) lets the frequencies outweigh it and
    // measured best on held-out newspaper text.
    int64_t total = 200000000;
    // With a corpus the word list is scaled to the corpus's size times this
    // weight and added to the corpus counts, except its words that the
    // corpus writes split; 0 leaves the word list out.
    double wordsWeight = 1.0;
};

// Reads a stop-word list (UTF-8 or GBK, tokens separated by whitespace) as
// GBK tokens in order of first appearance. False with "FILE:LINE: ..." on
// an unreadable file, a word without a GBK form or one too long to load.
bool readStopWords(const std::string& path, std::vector<std::string>& words, std::string& error);

// Writes only stopwords.txt into options.outDir (the rest of the data comes
// from elsewhere, such as the committed archive).
bool buildStopWordsFile(const MkdictOptions& options, std::string& error);

// Writes coreDict.dct, BigramDict.dct, lexical.ctx, stopwords.txt and, with
// a corpus, the role files nr/ns/tr (.dct, .ctx) into options.outDir. Every
// file is written whole or not at all. `summary` receives a few lines of
// counts for the person running it.
bool buildSegmenterData(const MkdictOptions& options, std::string& summary, std::string& error);

}  // namespace kestrel
