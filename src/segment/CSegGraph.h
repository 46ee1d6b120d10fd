#pragma once
// Atoms of one sentence (the units never split: one Chinese character, a
// run of ASCII letters and digits, a sentence marker) and the word graph of
// all dictionary words over them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "segment/CDictionary.h"
#include "segment/CDynamicArray.h"

namespace kestrel {

class CSegGraph {
public:
    struct Atom {
        uint32_t offset = 0;  // byte offset in the sentence
        uint32_t length = 0;
        int cls = 0;
    };

    // Cuts the sentence (with its markers) into atoms.
    bool atomSegment(std::string_view sentence);
    // Clears the graph, cuts atoms and fills the graph with one-atom edges
    // and every dictionary word.
    bool generateWordGraph(std::string_view sentence, const CDictionary& dictionary);

    int atomCount() const { return static_cast<int>(m_atomCount); }
    std::string_view atomText(int i) const {
        const Atom& a = m_atoms[static_cast<size_t>(i)];
        return std::string_view(m_sentence).substr(a.offset, a.length);
    }
    int atomLength(int i) const { return static_cast<int>(m_atoms[static_cast<size_t>(i)].length); }
    int atomClass(int i) const { return m_atoms[static_cast<size_t>(i)].cls; }
    const std::string& sentence() const { return m_sentence; }
    // Text of atoms [from, to).
    std::string_view atomSpan(int from, int to) const {
        if (from >= to || from < 0 || to > atomCount()) return {};
        const size_t begin = m_atoms[static_cast<size_t>(from)].offset;
        const Atom& last = m_atoms[static_cast<size_t>(to - 1)];
        return std::string_view(m_sentence).substr(begin, last.offset + last.length - begin);
    }

    // For each element of the graph generateWordGraph built, the number the
    // dictionary's probe gave its word's text (WordPrefixTrie::kNone: none),
    // so that a text need not be hashed to be recognised again. Valid until
    // the graph is changed.
    const std::vector<uint32_t>& wordNodes() const { return m_wordNodes; }

    // The dictionary is walked from all the atoms of a sentence together;
    // off, one probe at a time from each atom in turn, for comparing the two.
    void setWalksTogether(bool on) { m_walksTogether = on; }

    CDynamicArray& graph() { return m_graph; }
    const CDynamicArray& graph() const { return m_graph; }

private:
    // Puts the one-atom edge of atom g, which is no ideograph, into the graph.
    CDynamicArray::Element& setNonWordAtom(int g);
    // Puts every word that starts at atom g into the graph; `stored` is
    // where the graph's word store holds the sentence.
    void addWordsFrom(int g, uint32_t stored, const CDictionary& dictionary);
    // The key unit of an atom of `text` that is one two-byte character
    // (lead byte 0x80 or above), else 0.
    static uint32_t unitOf(const Atom& atom, std::string_view text) {
        if (atom.length != 2 || static_cast<unsigned char>(text[atom.offset]) < 0x80) return 0;
        return static_cast<uint32_t>(static_cast<unsigned char>(text[atom.offset])) << 8 |
               static_cast<unsigned char>(text[atom.offset + 1]);
    }
    uint32_t unitOf(const Atom& atom) const { return unitOf(atom, m_sentence); }

    std::string m_sentence;
    std::vector<Atom> m_atoms;  // the first m_atomCount are the sentence's
    size_t m_atomCount = 0;
    CDynamicArray m_graph{true};
    std::vector<uint32_t> m_wordNodes;
    std::vector<uint32_t> m_units;  // of the atoms, for the dictionary's walks
    CDictionary::SentenceWalks m_walks;
    bool m_walksTogether = true;
    std::string m_scratch;
};

}  // namespace kestrel
