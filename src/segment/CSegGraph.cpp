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
    CharSet yearOrMonth{gbkText("年月")};
    CharSet timeSuffix{gbkText("末内中底前间初")};
};

const GraphTexts& texts() {
    static const GraphTexts t;
    return t;
}

constexpr double kFixedValue = 2079997;     // frequency given to non-words
// The key units (GBK codes) of 月 and 份.
constexpr uint32_t kMonthUnit = 0xD4C2;
constexpr uint32_t kPortionUnit = 0xB7DD;

}  // namespace

bool CSegGraph::atomSegment(std::string_view sentence) {
    m_sentence.assign(sentence);
    // An atom takes a byte at least: the atoms are written into room for
    // as many as the sentence has bytes.
    if (m_atoms.size() < sentence.size()) m_atoms.resize(sentence.size());
    size_t atoms = 0;
    auto add = [&](const Atom& atom) { m_atoms[atoms++] = atom; };
    const std::string_view s(m_sentence);
    size_t pos = 0;
    if (s.substr(0, kSentenceBegin.size()) == kSentenceBegin) {
        add(Atom{0, static_cast<uint32_t>(kSentenceBegin.size()), CT_SENTENCE_BEGIN});
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
                add(Atom{static_cast<uint32_t>(pos), 2, CT_CHINESE});
                pos += 2;
                continue;
            }
        }
        if (s.substr(pos, kSentenceEnd.size()) == kSentenceEnd) {
            // The marker closes whatever was being collected and is an atom.
            if (open) add(current);
            open = false;
            add(Atom{static_cast<uint32_t>(pos), static_cast<uint32_t>(kSentenceEnd.size()), CT_SENTENCE_END});
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
            current = Atom{static_cast<uint32_t>(pos), 0, cls};
            open = true;
        }
        current.length += static_cast<uint32_t>(len);
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
            add(current);
            open = false;
        }
    }
    if (open) add(current);
    m_atomCount = atoms;
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
    // The dictionary walks from all the atoms together (see walkSentence).
    m_units.resize(m_atomCount);
    for (size_t i = 0; i < m_atomCount; ++i) m_units[i] = m_walksTogether ? unitOf(m_atoms[i]) : 0;
    dictionary.walkSentence(m_units, m_walks);
    for (int g = 0; g < atomCount(); ++g) addWordsFrom(g, stored, dictionary);
    m_wordNodes.resize(m_graph.size(), WordPrefixTrie::kNone);
    return true;
}

void CSegGraph::addWordsFrom(int g, uint32_t stored, const CDictionary& dictionary) {
    const int count = atomCount();
    const Atom& atom = m_atoms[static_cast<size_t>(g)];
    const uint32_t offset = stored + atom.offset;
    // One-atom edge. Rows are filled in order so every element is appended.
    // Most atoms are ideographs: tested first, without the jump table.
    const bool ideograph = atom.cls == CT_CHINESE;
    CDynamicArray::Element* single =
        ideograph ? &m_graph.appendElement(g, g + 1, 0, 0, offset, 2) : &setNonWordAtom(g);
    m_wordNodes.push_back(WordPrefixTrie::kNone);

    // Every dictionary word starting at atom g. The atoms lie one after
    // another in the sentence, so the probed text is a view of it.
    std::string_view probed = atomText(g);
    int e = g + 1;
    // After 月份 the probed text leaves 份 out: it is not what the elements
    // cover, so their core entries stay unknown, and the text is put
    // together in m_scratch.
    const bool skipsPortion =
        unitOf(atom) == kMonthUnit && e < count && unitOf(m_atoms[static_cast<size_t>(e)]) == kPortionUnit;
    if (skipsPortion) {
        e = g + 2;
        m_scratch.assign(probed);
        probed = m_scratch;
    }
    // The probes walkSentence answered come first; the walk goes on from
    // where they stopped.
    const uint32_t answered = skipsPortion ? 0 : m_walks.depth[static_cast<size_t>(g)];
    CDictionary::PrefixWalk walk;
    if (answered > 0) walk = m_walks.walks[static_cast<size_t>(g)];
    CDictionary::PrefixProbe asked;
    while (e <= count) {
        const auto k = static_cast<uint32_t>(e - g);
        const CDictionary::PrefixProbe& probe =
            k <= answered ? m_walks.probe(static_cast<size_t>(g), k) : (asked = dictionary.probeExtension(walk, probed));
        // The atom itself is no word: later stages need not look it up.
        if (!probe.exact && e == g + 1) single->coreEntries = 0;
        if (!probe.prefix) break;
        if (probe.exact) {
            // Keep 年/月 + 末内中底前间初 apart after a number, so that the
            // number can later join 年 or 月 as a time word.
            if (probed.size() == 4 && g > 0 && texts().yearOrMonth.contains(probed.substr(0, 2)) &&
                texts().timeSuffix.contains(probed.substr(2, 2)) && isNumber(atomText(g - 1)))
                break;
            if (e == g + 1) {
                // The atom is a word: its edge takes the word's data and
                // keeps its text (a class token for other atoms), and the
                // number is the word's only when that text is the one probed.
                single->value = probe.frequencySum;
                single->handle = probe.handle;
                single->coreEntries = static_cast<int16_t>(probe.count);
                if (ideograph || m_graph.word(*single) == probed) m_wordNodes.back() = probe.node;
            } else {
                const auto length = static_cast<uint32_t>(probed.size());
                CDynamicArray::Element& word = m_graph.appendElement(
                    g, e, probe.frequencySum, probe.handle, skipsPortion ? m_graph.storeText(probed) : offset, length);
                if (!skipsPortion) word.coreEntries = static_cast<int16_t>(probe.count);
                m_wordNodes.push_back(probe.node);
            }
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

}  // namespace kestrel
