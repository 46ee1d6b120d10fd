#pragma once
// The segmenter's entry point: loads the data files, splits a document into
// pieces, segments each piece (candidate paths, name recognition, re-scoring,
// tagging), filters the words and writes the survivors one per line.
//
// The loaded data is immutable and shared: a copy of a loaded CWordSegment
// shares it and has its own working state, so copies can segment on
// different threads at once.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/Status.h"
#include "segment/CContextStat.h"
#include "segment/CDictionary.h"
#include "segment/CSegment.h"
#include "segment/CSpan.h"
#include "segment/CUnknowWord.h"

namespace kestrel {

class CWordSegment {
public:
    // Longest piece segmented as one sentence: the sentence buffer holds
    // 2,600 bytes with both markers. Longer pieces are cut into sentences of
    // at most this many bytes.
    static constexpr size_t kMaxSentenceBytes = 2586;
    static constexpr size_t kMaxStopWordBytes = 259;

    CWordSegment();
    CWordSegment(const CWordSegment& other);
    CWordSegment& operator=(const CWordSegment& other);

    // Loads every data file from dir + "/data/". Succeeds when loaded or
    // already loaded; a failure names the file.
    Status loadData(const std::string& dir);
    // The same from a data directory given directly.
    Status loadDataDirectory(const std::string& dataDir);
    void releaseData();
    int loadState() const { return m_data ? 1 : 0; }
    // Problems with optional files (damaged role files) found by loadData.
    const std::string& warnings() const { return m_warnings; }

    // Writes the word list of `source` (GBK or UTF-8) into `destination`,
    // one word per line; the number of words, or a failure naming the file
    // that cannot be read or written.
    Result<int> segmentFile(const std::string& source, const std::string& destination);
    // The word list of a GBK text, as segmentFile writes it.
    void segmentText(std::string_view gbk, std::vector<std::string>& words);
    // Every character of a GBK line in some word, punctuation included and
    // no stop word removed: the first path of each sentence. Blanks and
    // control bytes only separate.
    void segmentPlain(std::string_view gbkLine, std::vector<std::string>& words);

    // Segments one piece (without markers); the paths stay in segment().
    bool segmentSentence(std::string_view piece);
    bool isStopWord(std::string_view word) const;

    // Extracts the next piece of `text` from `offset`: a run of double-byte
    // characters or of ASCII letters and digits; delimiters are consumed.
    // Returns its length and advances `offset` to where the next search
    // starts (the end of the text at the end).
    static size_t nextPiece(size_t& offset, std::string_view text, std::string& piece);

    short recognitionSwitch = 0;
    double smoothing = 0.1;
    // Part-of-speech tagging of the final paths (with recognition on). Only
    // the handles of the word results change; the word lists of segmentText
    // and segmentPlain read the texts alone and switch it off.
    bool tagFinalPaths = true;

    // Skipping of work whose result is known (on by default); off, every
    // step is computed in full, for comparing the two.
    void setShortcuts(bool on);

    const CSegment& segment() const { return m_segment; }
    CSegment& segment() { return m_segment; }
    const CDictionary* coreDictionary() const { return m_data ? &m_data->core : nullptr; }

private:
    struct Data {
        CDictionary core;
        CDictionary bigram;
        CContextStat lexical;
        std::unordered_set<std::string> stopWords;
    };
    void attach(std::shared_ptr<const Data> data, const CUnknowWord& person, const CUnknowWord& translit,
                const CUnknowWord& place);
    // Writes the person names the recogniser found as surname and given
    // name, the way the tagged corpus writes them, in every final path.
    void splitPersonNames();
    // Sentence-sized parts of a piece, cut at character boundaries.
    template <typename Fn>
    static void forEachSentence(std::string_view piece, Fn fn);

    std::shared_ptr<const Data> m_data;
    std::string m_sentence;
    CSegment m_segment;
    CSpan m_tagger;
    CUnknowWord m_person;
    CUnknowWord m_transliteration;
    CUnknowWord m_place;
    std::vector<CUnknowWord::NameParts> m_nameParts;  // person names of the current sentence
    std::string m_warnings;
    std::string m_piece;
};

}  // namespace kestrel
