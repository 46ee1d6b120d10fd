#include "segment/CUnknowWord.h"

#include "common/FileSystem.h"
#include "segment/CDynamicArray.h"
#include "segment/CSegGraph.h"
#include "segment/CharClass.h"
#include "segment/GbkText.h"

namespace kestrel {

namespace {

const std::shared_ptr<const CUnknowWord::Roles>& emptyRoles() {
    static const std::shared_ptr<const CUnknowWord::Roles> roles = std::make_shared<CUnknowWord::Roles>();
    return roles;
}

}  // namespace

CUnknowWord::CUnknowWord() : m_roles(emptyRoles()) { setType(kPerson); }

CUnknowWord::CUnknowWord(const CUnknowWord& other) : m_roles(other.m_roles) { setType(other.m_type); }

CUnknowWord& CUnknowWord::operator=(const CUnknowWord& other) {
    if (this != &other) {
        m_roles = other.m_roles;
        setType(other.m_type);
    }
    return *this;
}

void CUnknowWord::setType(int type) {
    m_type = type;
    m_handle = type == kPlace ? -28275 : -28274;  // negated 'ns' / 'nr'
    m_token = gbkText(type == kPlace ? "未##地" : "未##人");
    m_tagger = CSpan();
    m_tagger.setTagType(type);
    m_tagger.setContext(&m_roles->context);
}

bool CUnknowWord::loadRoles(const std::string& base, int type, std::string* warning) {
    auto roles = std::make_shared<Roles>();
    std::string error;
    const std::string dct = base + ".dct";
    if (fileExists(dct) && !roles->dictionary.load(dct, error) && warning) *warning += error + "\n";
    const std::string ctx = base + ".ctx";
    if (fileExists(ctx) && !roles->context.load(ctx, error) && warning) *warning += error + "\n";
    m_roles = std::move(roles);
    setType(type);
    return true;
}

void CUnknowWord::setRoles(std::shared_ptr<const Roles> roles, int type) {
    m_roles = roles ? std::move(roles) : emptyRoles();
    setType(type);
}

void CUnknowWord::release() { setRoles(nullptr, m_type); }

bool CUnknowWord::hasRoleData() const {
    return m_roles->dictionary.entryCount() > 0 || m_roles->context.isLoaded();
}

bool CUnknowWord::recognize(WordPath& path, const CDictionary& core, CDynamicArray& optimum, const CSegGraph& graph) {
    // Without role data every word is tagged with role 0 (or a marker role),
    // which no name pattern contains: tagging would find nothing.
    m_nameParts.clear();
    if (!hasRoleData()) return true;
    m_tagger.tagPath(path, core, m_roles->dictionary);
    // Byte spans become atom vertices: the first vertex at which the running
    // sum of atom lengths reaches the offset. Candidates come in text order,
    // so the scan goes on from one to the next.
    const int atoms = graph.atomCount();
    int vertex = 0;
    int sum = 0;
    for (const CSpan::Candidate& candidate : m_tagger.candidates()) {
        while (vertex < atoms && sum < candidate.start) sum += graph.atomLength(vertex++);
        const int start = vertex;
        while (vertex < atoms && sum < candidate.end) sum += graph.atomLength(vertex++);
        const int end = vertex;
        if (start >= end) continue;
        // A name never begins or ends with a punctuation mark: a dash or a
        // dot beside a name stays a word of its own.
        if (graph.atomClass(start) == CT_DELIMITER || graph.atomClass(end - 1) == CT_DELIMITER) continue;
        double value = CDynamicArray::kInfinite;
        optimum.getElement(start, end, &value);
        if (candidate.cost < value) {
            optimum.setElement(start, end, candidate.cost, m_handle, m_token);
            if (candidate.given > candidate.start && candidate.given < candidate.end)
                m_nameParts.push_back(NameParts{candidate.start, candidate.given, candidate.end, start, end, candidate.cost});
        }
    }
    return true;
}

}  // namespace kestrel
