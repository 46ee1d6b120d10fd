#include "segment/CSegGraph.h"

#include "segment/CDictionary.h"
#include "segment/CharClass.h"
#include "segment/GbkText.h"
#include "segment/NumberTests.h"

namespace kestrel {

namespace {

struct GraphTexts {
    std::string number = gbkText("未##数");
    std::string string = gbkText("未##串");
    std::string month = gbkText("月");
    std::string portion = gbkText("份");
    CharSet yearOrMonth{gbkText("年月")};
    CharSet timeSuffix{gbkText("末内中底前间初")};
};

const GraphTexts& texts() {
    static const GraphTexts t;
    return t;
}

constexpr double kFixedValue = 2079997;     // frequency given to non-words

}  // namespace

bool CSegGraph::atomSegment(std::string_view sentence) {
    m_sentence.assign(sentence);
    m_atoms.clear();
    m_atoms.reserve(sentence.size());  // an atom takes a byte at least
    const std::string_view s(m_sentence);
    size_t pos = 0;
    if (s.substr(0, kSentenceBegin.size()) == kSentenceBegin) {
        m_atoms.push_back(Atom{0, kSentenceBegin.size(), CT_SENTENCE_BEGIN});
        pos = kSentenceBegin.size();
    }
    // A character never reaches into the end marker: a cut-off lead byte
    // just before it stays a character of its own.
    const size_t textEnd = s.ends_with(kSentenceEnd) ? s.size() - kSentenceEnd.size() : s.size();
    auto lengthAt = [&](size_t at) { return at < textEnd ? charLength(s.substr(0, textEnd), at) : charLength(s, at); };
    bool open = false;
    Atom current;
    while (pos < s.size()) {
        // Most atoms are one GB2312 ideograph, which never joins a run:
        // taken here without classifying it. 末 may begin the end marker.
        const unsigned char lead = byteAt(s, pos);
        if (lead >= 0xB0 && lead <= 0xF7 && pos + 1 < textEnd) {
            const unsigned char trail = byteAt(s, pos + 1);
            if (trail >= 0xA1 && trail <= 0xFE && !(lead == 0xC4 && trail == 0xA9)) {
                m_atoms.push_back(Atom{pos, 2, CT_CHINESE});
                pos += 2;
                continue;
            }
        }
        if (s.substr(pos, kSentenceEnd.size()) == kSentenceEnd) {
            // The marker closes whatever was being collected and is an atom.
            if (open) m_atoms.push_back(current);
            open = false;
            m_atoms.push_back(Atom{pos, kSentenceEnd.size(), CT_SENTENCE_END});
            pos += kSentenceEnd.size();
            continue;
        }
        const size_t len = lengthAt(pos);
        const std::string_view ch = s.substr(pos, len);
        int cls = charClass(ch);
        if (len == 1 && ch[0] == '.') {
            const std::string_view next = s.substr(pos + 1);
            const unsigned char b0 = byteAt(next, 0);
            if ((b0 >= '0' && b0 <= '9') || (b0 == 0xA3 && byteAt(next, 1) >= 0xB0 && byteAt(next, 1) <= 0xB9))
                cls = CT_NUM;
        }
        if (!open) {
            current = Atom{pos, 0, cls};
            open = true;
        }
        current.length += len;
        current.cls = cls;
        pos += len;
        bool close = true;
        if (cls == CT_SINGLE || cls == CT_LETTER || cls == CT_NUM) {
            if (pos < s.size() && s.substr(pos, kSentenceEnd.size()) != kSentenceEnd) {
                const size_t nextLen = lengthAt(pos);
                if (charClass(s.substr(pos, nextLen)) == cls) close = false;
            }
        }
        if (close) {
            m_atoms.push_back(current);
            open = false;
        }
    }
    if (open) m_atoms.push_back(current);
    return true;
}

CDynamicArray::Element& CSegGraph::setNonWordAtom(int g) {
    const std::string_view atom = atomText(g);
    const int cls = atomClass(g);
    const GraphTexts& t = texts();
    switch (cls) {
    case CT_SINGLE:
        if (atom.find_first_not_of("+-1234567890") == std::string_view::npos)
            return m_graph.setElement(g, g + 1, 0, kHandleNumber, t.number);
        return m_graph.setElement(g, g + 1, 0, kHandleString, t.string);
    case CT_LETTER:
        return m_graph.setElement(g, g + 1, 0, kHandleString, t.string);
    case CT_NUM:
    case CT_INDEX:
        return m_graph.setElement(g, g + 1, 0, kHandleNumber, t.number);
    case CT_DELIMITER:
        return m_graph.setElement(g, g + 1, kFixedValue, kHandlePunctuation, atom);
    default:
        return m_graph.setElement(g, g + 1, kFixedValue, cls, atom);
    }
}

bool CSegGraph::generateWordGraph(std::string_view sentence, const CDictionary& dictionary) {
    m_graph.clear();
    m_wordNodes.clear();
    atomSegment(sentence);
    // The words of the graph are mostly parts of the sentence: the graph
    // keeps it once and its elements point into it.
    const uint32_t stored = m_graph.storeText(m_sentence);
    const GraphTexts& t = texts();
    const int count = atomCount();
    // The dictionary walks from all the atoms together (see walkSentence).
    m_units.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < m_units.size(); ++i) m_units[i] = m_walksTogether ? unitOf(m_atoms[i]) : 0;
    dictionary.walkSentence(m_units, m_walks);
    const uint32_t month = unitOf(Atom{0, 2, 0}, t.month);
    const uint32_t portion = unitOf(Atom{0, 2, 0}, t.portion);
    for (int g = 0; g < count; ++g) {
        // One-atom edge. Rows are filled in order so every insertion appends.
        const std::string_view atom = atomText(g);
        // Most atoms are ideographs: tested first, without the jump table.
        const bool ideograph = atomClass(g) == CT_CHINESE;
        const uint32_t offset = stored + static_cast<uint32_t>(m_atoms[static_cast<size_t>(g)].offset);
        CDynamicArray::Element* single =
            ideograph ? &m_graph.setElementWithStoredWord(g, g + 1, 0, 0, offset, 2) : &setNonWordAtom(g);

        // Every dictionary word starting at atom g. The atoms lie one after
        // another in the sentence, so the probed text is a view of it.
        std::string_view probed = atom;
        int e = g + 1;
        // After 月份 the probed text leaves 份 out: it is not what the
        // elements cover, so their core entries stay unknown, and the text
        // is put together in m_scratch.
        const bool skipsPortion = unitOf(m_atoms[static_cast<size_t>(g)]) == month && e < count &&
                                  unitOf(m_atoms[static_cast<size_t>(e)]) == portion;
        if (skipsPortion) {
            e = g + 2;
            m_scratch.assign(atom);
            probed = m_scratch;
        }
        // The probes walkSentence answered come first; the walk goes on
        // from where they stopped.
        const uint32_t answered = skipsPortion ? 0 : m_walks.depth[static_cast<size_t>(g)];
        CDictionary::PrefixWalk walk;
        if (answered > 0) walk = m_walks.walks[static_cast<size_t>(g)];
        while (e <= count) {
            const uint32_t k = static_cast<uint32_t>(e - g);
            const CDictionary::PrefixProbe probe =
                k <= answered ? m_walks.probe(static_cast<size_t>(g), k) : dictionary.probeExtension(walk, probed);
            // The atom itself is no word: later stages need not look it up.
            if (!probe.exact && e == g + 1) single->coreEntries = 0;
            if (!probe.prefix) break;
            if (probe.exact) {
                // Keep 年/月 + 末内中底前间初 apart after a number, so that the
                // number can later join 年 or 月 as a time word.
                if (probed.size() == 4 && g > 0 && t.yearOrMonth.contains(probed.substr(0, 2)) &&
                    t.timeSuffix.contains(probed.substr(2, 2)) && isNumber(atomText(g - 1)))
                    break;
                CDynamicArray::Element& word =
                    skipsPortion ? m_graph.setElement(g, e, probe.frequencySum, probe.handle, probed)
                                 : m_graph.setElementWithStoredWord(g, e, probe.frequencySum, probe.handle, offset,
                                                                    static_cast<uint32_t>(probed.size()));
                if (!skipsPortion) word.coreEntries = static_cast<int16_t>(probe.count);
                // An element set again keeps its word: the number is the
                // word's only when that word is the string probed. Only the
                // one-atom edge is set again, and an ideograph's holds its text.
                const size_t index = static_cast<size_t>(&word - m_graph.elements().data());
                while (m_wordNodes.size() < m_graph.size()) m_wordNodes.push_back(WordPrefixTrie::kNone);
                const bool ownWord = ideograph || e != g + 1 || m_graph.word(word) == probed;
                m_wordNodes[index] = ownWord ? probe.node : WordPrefixTrie::kNone;
            }
            if (e >= count || !probe.longer) break;
            if (skipsPortion) {
                m_scratch.append(atomText(e));
                probed = m_scratch;
            } else {
                probed = atomSpan(g, e + 1);
            }
            ++e;
        }
    }
    m_wordNodes.resize(m_graph.size(), WordPrefixTrie::kNone);
    return true;
}

}  // namespace kestrel
