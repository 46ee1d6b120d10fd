#pragma once
// Recogniser of one kind of unknown word (person, place or transliterated
// name): tags a word path with roles and adds the name candidates it finds
// to the optimum graph, where the second segmentation stage may choose them.
#include <memory>
#include <string>
#include <vector>

#include "segment/CContextStat.h"
#include "segment/CDictionary.h"
#include "segment/CSpan.h"

namespace kestrel {

class CDynamicArray;
class CSegGraph;

class CUnknowWord {
public:
    enum Type { kPerson = 1, kPlace = 2, kTransliteration = 3 };

    // The role data of a recogniser; shared read-only by every copy.
    struct Roles {
        CDictionary dictionary;
        CContextStat context;
    };

    CUnknowWord();
    // A copy shares the loaded role data and has its own tagger state.
    CUnknowWord(const CUnknowWord& other);
    CUnknowWord& operator=(const CUnknowWord& other);

    // Loads base + ".dct" (when it can be read) and base + ".ctx". Missing
    // files leave the recogniser empty. A file that exists but is damaged is
    // ignored, and the failure returned says which (one line per file); the
    // recogniser works in either case.
    Status loadRoles(const std::string& base, int type);
    // Uses role data prepared elsewhere (tests, tools).
    void setRoles(std::shared_ptr<const Roles> roles, int type);
    void release();

    // See CSpan::setShortcuts.
    void setShortcuts(bool on) { m_tagger.setShortcuts(on); }

    bool recognize(WordPath& path, const CDictionary& core, CDynamicArray& optimum, const CSegGraph& graph);

    // A person name the last recognize put into the optimum graph, with the
    // place of its given name: byte offsets within the sentence, the atom
    // vertices of the graph element and the cost it received.
    struct NameParts {
        int start = 0, given = 0, end = 0;
        int startVertex = 0, endVertex = 0;
        double cost = 0;
    };
    const std::vector<NameParts>& nameParts() const { return m_nameParts; }

    // False when neither a role dictionary nor role statistics are loaded;
    // the recogniser then finds nothing.
    bool hasRoleData() const;
    int type() const { return m_type; }
    int nameHandle() const { return m_handle; }
    const std::string& nameToken() const { return m_token; }
    const CSpan& tagger() const { return m_tagger; }

private:
    void setType(int type);
    // Appends to m_extra the places of two or three single characters
    // followed by 村, 县, 乡, 镇, 省 or 市, with the cost of their roles.
    void addSuffixedPlaces(const WordPath& path);

    std::shared_ptr<const Roles> m_roles;
    CSpan m_tagger;
    int m_type = kPerson;
    int m_handle = -28274;
    std::string m_token;
    std::vector<NameParts> m_nameParts;
    std::vector<CSpan::Candidate> m_extra;
    std::vector<int> m_atomStarts;  // byte offset of every atom vertex
    std::vector<int> m_wordStarts;  // byte offset of every path word
};

}  // namespace kestrel
