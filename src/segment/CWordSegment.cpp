#include "segment/CWordSegment.h"

#include <algorithm>
#include <cctype>

#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/CharClass.h"

namespace kestrel {

namespace {

// Delimiters of a run of double-byte characters: full-width punctuation,
// symbols, letters and digits, and the particle 的.
bool isPieceDelimiter(unsigned char lead, unsigned char trail) {
    switch (lead) {
    case 0xA1: return trail >= 0xA2 && trail <= 0xFE;
    case 0xA2: return trail >= 0xA1 && trail <= 0xFC;
    case 0xA3: return trail >= 0xA1 && trail <= 0xFE;
    case 0xA4: return trail >= 0xA1 && trail <= 0xF3;
    case 0xA5: return trail >= 0xA1 && trail <= 0xF6;
    case 0xA6: return trail >= 0xA1 && trail <= 0xF5;
    case 0xA7: return trail >= 0xA1 && trail <= 0xF1;
    case 0xA8: return trail >= 0x40 && trail <= 0xE9;
    case 0xA9: return trail >= 0x40 && trail <= 0xEF;
    case 0xAA: return trail == 0xA5;
    case 0xB5: return trail == 0xC4;
    default: return false;
    }
}

bool isAsciiPunctuation(unsigned char b) {
    return (b >= 0x21 && b <= 0x2F) || (b >= 0x3A && b <= 0x40) || (b >= 0x5B && b <= 0x60) ||
           (b >= 0x7B && b <= 0x7F);
}

bool isBlank(unsigned char b) { return b == '\n' || b == '\r' || b == ' '; }

}  // namespace

CWordSegment::CWordSegment() {
    m_tagger.setTagType(CSpan::kPartOfSpeech);
    m_person.setRoles(nullptr, CUnknowWord::kPerson);
    m_transliteration.setRoles(nullptr, CUnknowWord::kTransliteration);
    m_place.setRoles(nullptr, CUnknowWord::kPlace);
}

CWordSegment::CWordSegment(const CWordSegment& other)
    : recognitionSwitch(other.recognitionSwitch), smoothing(other.smoothing) {
    attach(other.m_data, other.m_person, other.m_transliteration, other.m_place);
}

CWordSegment& CWordSegment::operator=(const CWordSegment& other) {
    if (this != &other) {
        recognitionSwitch = other.recognitionSwitch;
        smoothing = other.smoothing;
        attach(other.m_data, other.m_person, other.m_transliteration, other.m_place);
    }
    return *this;
}

void CWordSegment::attach(std::shared_ptr<const Data> data, const CUnknowWord& person,
                          const CUnknowWord& translit, const CUnknowWord& place) {
    m_data = std::move(data);
    m_person = person;
    m_transliteration = translit;
    m_place = place;
    m_tagger = CSpan();
    m_tagger.setTagType(CSpan::kPartOfSpeech);
    m_tagger.setContext(m_data ? &m_data->lexical : nullptr);
}

Status CWordSegment::loadData(const std::string& dir) { return loadDataDirectory(dir + "/data/"); }

Status CWordSegment::loadDataDirectory(const std::string& dataDirectory) {
    if (m_data) return Status::success();
    m_warnings.clear();
    const std::string dir = withTrailingSlash(dataDirectory);
    auto data = std::make_shared<Data>();
    if (Status loaded = data->core.load(dir + "coreDict.dct"); !loaded) return loaded;
    if (Status loaded = data->lexical.load(dir + "lexical.ctx"); !loaded) return loaded;

    // Role files are optional: a damaged one is a warning.
    CUnknowWord person, translit, place;
    for (const Status& roles : {person.loadRoles(dir + "nr", CUnknowWord::kPerson),
                                translit.loadRoles(dir + "tr", CUnknowWord::kTransliteration),
                                place.loadRoles(dir + "ns", CUnknowWord::kPlace)}) {
        if (!roles) m_warnings += roles.message() + "\n";
    }

    if (Status loaded = data->bigram.load(dir + "BigramDict.dct", CDictionary::Index::kPairs); !loaded) return loaded;

    // From here on the data counts as loaded, even when the stop words fail.
    const Result<std::string> bytes = readFile(dir + "stopwords.txt");
    const bool stopWordsRead = bytes.ok();
    const std::string readError = bytes.message();
    if (stopWordsRead) {
        const std::string text = toGbk(*bytes);
        size_t i = 0;
        while (i < text.size()) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            const size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            // Tokens longer than a stop word can be are not stop words.
            if (i > start && i - start <= kMaxStopWordBytes) data->stopWords.emplace(text.substr(start, i - start));
        }
        for (const char* key : {"\r\n", " \r\n", "\n", " \n"}) data->stopWords.emplace(key);
    }
    attach(std::move(data), person, translit, place);
    if (!stopWordsRead)
        return Status::failure(readError.empty() ? "cannot read stop-word file " + dir + "stopwords.txt" : readError);
    return Status::success();
}

void CWordSegment::releaseData() {
    attach(nullptr, CUnknowWord(), CUnknowWord(), CUnknowWord());
    m_person.setRoles(nullptr, CUnknowWord::kPerson);
    m_transliteration.setRoles(nullptr, CUnknowWord::kTransliteration);
    m_place.setRoles(nullptr, CUnknowWord::kPlace);
}

void CWordSegment::setShortcuts(bool on) {
    m_segment.setShortcuts(on);
    m_tagger.setShortcuts(on);
    m_person.setShortcuts(on);
    m_transliteration.setShortcuts(on);
    m_place.setShortcuts(on);
}

bool CWordSegment::isStopWord(std::string_view word) const {
    if (!m_data || m_data->stopWords.empty()) return false;
    return m_data->stopWords.count(std::string(word)) > 0;
}

size_t CWordSegment::nextPiece(size_t& offset, std::string_view text, std::string& piece) {
    piece.clear();
    size_t i = std::min(offset, text.size());
    const size_t n = text.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (isBlank(b)) {
            ++i;
        } else if (b == 0xA1 && i + 1 < n && static_cast<unsigned char>(text[i + 1]) == 0xA1) {
            i += 2;
        } else {
            break;
        }
    }
    if (i >= n) {
        offset = n;
        return 0;
    }
    const bool chinese = static_cast<unsigned char>(text[i]) >= 0x80;
    while (i < n) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x80) {
            if (!chinese) break;
            const size_t len = charLength(text, i);
            if (len == 1) {  // a byte that starts no character (0x80, a cut-off lead byte) is dropped
                ++i;
                continue;
            }
            if (len == 4) {
                // A character outside GBK is a character of the run; the
                // replacement character of an undecodable byte ends it, so
                // that it never becomes a word or joins its neighbours.
                const std::string_view ch = text.substr(i, 4);
                i += 4;
                if (ch == kReplacementGb18030) break;
                piece.append(ch);
                continue;
            }
            const auto trail = static_cast<unsigned char>(text[i + 1]);
            i += 2;
            if (b == 0xA1 && trail == 0xA1) continue;
            if (isPieceDelimiter(b, trail)) break;
            if (trail >= 0x80) {
                piece.push_back(static_cast<char>(b));
                piece.push_back(static_cast<char>(trail));
            }
            continue;
        }
        if (isBlank(b)) {
            ++i;
            if (chinese) continue;
            break;
        }
        if (isAsciiPunctuation(b)) {
            ++i;
            break;
        }
        if (chinese) break;
        piece.push_back(static_cast<char>(b));
        ++i;
    }
    offset = i;
    return piece.size();
}

template <typename Fn>
void CWordSegment::forEachSentence(std::string_view piece, Fn fn) {
    size_t start = 0;
    while (start < piece.size()) {
        size_t end = start;
        while (end < piece.size()) {
            const size_t len = charLength(piece, end);
            if (end + len - start > kMaxSentenceBytes) break;
            end += len;
        }
        if (end == start) end = std::min(piece.size(), start + kMaxSentenceBytes);
        fn(piece.substr(start, end - start));
        start = end;
    }
}

bool CWordSegment::segmentSentence(std::string_view piece) {
    m_sentence.assign(kSentenceBegin);
    m_sentence.append(piece);
    m_sentence.append(kSentenceEnd);
    static const CDictionary emptyDictionary;
    const CDictionary& core = m_data ? m_data->core : emptyDictionary;
    const CDictionary& bigram = m_data ? m_data->bigram : emptyDictionary;

    m_segment.biSegment(m_sentence, core, bigram, smoothing);
    m_nameParts.clear();
    if (recognitionSwitch != 0) {
        for (int k = 0; k < m_segment.segmentCount(); ++k) {
            WordPath& path = m_segment.path(k);
            m_person.recognize(path, core, m_segment.optimumGraph(), m_segment.segGraph());
            m_nameParts.insert(m_nameParts.end(), m_person.nameParts().begin(), m_person.nameParts().end());
            if (recognitionSwitch != 0)
                m_transliteration.recognize(path, core, m_segment.optimumGraph(), m_segment.segGraph());
            if (recognitionSwitch != 0)
                m_place.recognize(path, core, m_segment.optimumGraph(), m_segment.segGraph());
        }
    }
    m_segment.biOptimumSegment(bigram, core, smoothing);
    if (!m_nameParts.empty()) splitPersonNames();
    if (recognitionSwitch != 0 && tagFinalPaths) {
        for (int k = 0; k < m_segment.segmentCount(); ++k) m_tagger.tagPath(m_segment.path(k), core, core);
    }
    return true;
}

void CWordSegment::splitPersonNames() {
    // The final graph holds the optimum graph the recognisers filled: a name
    // whose element a later recogniser took over (a transliteration, a
    // place) keeps its form.
    const CDynamicArray& graph = m_segment.segGraph().graph();
    auto partsAt = [&](int start, int end) -> const CUnknowWord::NameParts* {
        for (const CUnknowWord::NameParts& n : m_nameParts) {
            if (n.start != start || n.end != end) continue;
            double value = 0;
            int handle = 0;
            if (graph.getElement(n.startVertex, n.endVertex, &value, &handle) && value == n.cost &&
                handle == m_person.nameHandle())
                return &n;
        }
        return nullptr;
    };
    for (int k = 0; k < m_segment.segmentCount(); ++k) {
        WordPath& path = m_segment.path(k);
        int offset = 0;
        for (size_t i = 0; i < path.size() && !path[i].word.empty(); ++i) {
            const int length = static_cast<int>(path[i].word.size());
            const CUnknowWord::NameParts* n =
                path[i].handle == m_person.nameHandle() ? partsAt(offset, offset + length) : nullptr;
            if (n) {
                WordResult given = path[i];
                given.word.erase(0, static_cast<size_t>(n->given - n->start));
                path[i].word.resize(static_cast<size_t>(n->given - n->start));
                given.coreEntries = path[i].coreEntries = -1;
                given.textId = path[i].textId = -1;
                path.insert(path.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(given));
                ++i;
            }
            offset += length;
        }
    }
}

void CWordSegment::segmentText(std::string_view gbk, std::vector<std::string>& words) {
    const bool tagging = tagFinalPaths;
    tagFinalPaths = false;
    // A NUL byte would end the text early; it only separates, like a blank.
    std::string text(gbk);
    std::replace(text.begin(), text.end(), '\0', ' ');
    size_t offset = 0;
    while (offset < text.size()) {
        const size_t n = nextPiece(offset, text, m_piece);
        if (n == 0) continue;
        if (static_cast<unsigned char>(m_piece[0]) < 0x80) {
            if (n >= 2 && !(m_piece[0] >= '0' && m_piece[0] <= '9')) words.push_back(m_piece);
            continue;
        }
        if (n % 2 != 0) continue;
        forEachSentence(m_piece, [&](std::string_view sentence) {
            if (sentence.size() == 2) {
                if (!isStopWord(sentence)) words.emplace_back(sentence);
                return;
            }
            segmentSentence(sentence);
            for (int k = 0; k < m_segment.segmentCount(); ++k) {
                const WordPath& path = m_segment.path(k);
                size_t count = 0;
                while (count < path.size() && !path[count].word.empty()) ++count;
                if (count <= 2) continue;
                for (size_t i = 1; i + 1 < count; ++i) {
                    if (!path[i].word.empty() && !isStopWord(path[i].word)) words.push_back(path[i].word);
                }
            }
        });
    }
    tagFinalPaths = tagging;
}

void CWordSegment::segmentPlain(std::string_view line, std::vector<std::string>& words) {
    const bool tagging = tagFinalPaths;
    tagFinalPaths = false;
    size_t i = 0;
    auto isSeparator = [&](size_t at, size_t& len) {
        const auto b = static_cast<unsigned char>(line[at]);
        len = 1;
        if (b <= 0x20 || b == 0x7F) return true;
        if (b == 0xA1 && at + 1 < line.size() && static_cast<unsigned char>(line[at + 1]) == 0xA1) {
            len = 2;
            return true;
        }
        return false;
    };
    while (i < line.size()) {
        size_t len = 0;
        if (isSeparator(i, len)) {
            i += len;
            continue;
        }
        const size_t start = i;
        while (i < line.size() && !isSeparator(i, len)) i += charLength(line, i);
        forEachSentence(line.substr(start, i - start), [&](std::string_view sentence) {
            segmentSentence(sentence);
            if (m_segment.segmentCount() == 0) {
                words.emplace_back(sentence);
                return;
            }
            const WordPath& path = m_segment.path(0);
            for (size_t k = 1; k + 1 < path.size() && !path[k].word.empty(); ++k) {
                if (path[k + 1].word.empty()) break;  // the end marker
                words.push_back(path[k].word);
            }
        });
    }
    tagFinalPaths = tagging;
}

Result<int> CWordSegment::segmentFile(const std::string& source, const std::string& destination) {
    const Result<std::string> bytes = readFile(source);
    if (!bytes) return Status::failure(bytes.message().empty() ? "cannot read " + source : bytes.message());
    AtomicFileWriter writer(destination);
    if (!writer.isOpen())
        return Status::failure(writer.status().message().empty() ? "cannot write " + destination
                                                                 : writer.status().message());
    DecodeReport report;
    const std::string text = decodeText(*bytes, &report);
    if (report.encoding == TextEncoding::kBinary) return Status::failure(decodeWarning(source, report));
    std::vector<std::string> words;
    segmentText(text, words);
    for (const std::string& word : words) {
        writer.write(word);
        writer.write("\n");
    }
    if (const Status committed = writer.commit(); !committed)
        return Status::failure(committed.message().empty() ? "cannot write " + destination : committed.message());
    return static_cast<int>(words.size());
}

}  // namespace kestrel
