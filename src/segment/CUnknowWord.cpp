#include "segment/CUnknowWord.h"

#include <algorithm>
#include <cmath>

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

Status CUnknowWord::loadRoles(const std::string& base, int type) {
    auto roles = std::make_shared<Roles>();
    std::string damaged;
    const std::string dct = base + ".dct";
    if (fileExists(dct)) {
        if (const Status loaded = roles->dictionary.load(dct); !loaded) damaged += loaded.message();
    }
    const std::string ctx = base + ".ctx";
    if (fileExists(ctx)) {
        if (const Status loaded = roles->context.load(ctx); !loaded)
            damaged += (damaged.empty() ? "" : "\n") + loaded.message();
    }
    m_roles = std::move(roles);
    setType(type);
    return damaged.empty() ? Status::success() : Status::failure(damaged);
}

void CUnknowWord::setRoles(std::shared_ptr<const Roles> roles, int type) {
    m_roles = roles ? std::move(roles) : emptyRoles();
    setType(type);
}

void CUnknowWord::release() { setRoles(nullptr, m_type); }

bool CUnknowWord::hasRoleData() const {
    return m_roles->dictionary.entryCount() > 0 || m_roles->context.isLoaded();
}

void CUnknowWord::addSuffixedPlaces(const WordPath& path) {
    // Roles of a place's pieces: first, middle, last.
    constexpr int kFirst = 1, kMiddle = 2, kLast = 3;
    static const CharSet suffixes(gbkText("村县乡镇省市"));
    auto roleCost = [&](std::string_view word, int role) {
        return std::log(m_roles->context.getTagFrequency(role) + 1.0) -
               std::log(m_roles->dictionary.getFrequency(word, role) + 1.0);
    };
    auto isSingleIdeograph = [](std::string_view w) { return w.size() == 2 && charClass(w) == CT_CHINESE; };
    int offset = 0;
    std::vector<int>& offsets = m_wordStarts;
    offsets.clear();
    for (size_t i = 0; i < path.size() && !path[i].word.empty(); ++i) {
        const std::string& suffix = path[i].word;
        offsets.push_back(offset);
        offset += static_cast<int>(suffix.size());
        if (i < 3 || suffix.size() != 2 || !suffixes.contains(suffix)) continue;
        // The name before the suffix: two or three characters that no
        // dictionary word covers, each a word of its own in the path.
        if (!isSingleIdeograph(path[i - 1].word) || !isSingleIdeograph(path[i - 2].word)) continue;
        double cost = roleCost(suffix, kLast);
        for (size_t first = i; first-- > 1 && i - first <= 3;) {
            if (!isSingleIdeograph(path[first].word)) break;
            if (first + 1 < i) cost += roleCost(path[first + 1].word, kMiddle);
            if (i - first < 2) continue;
            m_extra.push_back(CSpan::Candidate{offsets[first], offsets[i] + 2, cost + roleCost(path[first].word, kFirst), 0});
        }
    }
}

bool CUnknowWord::recognize(WordPath& path, const CDictionary& core, CDynamicArray& optimum, const CSegGraph& graph) {
    // Without role data every word is tagged with role 0 (or a marker role),
    // which no name pattern contains: tagging would find nothing.
    m_nameParts.clear();
    if (!hasRoleData()) return true;
    m_tagger.tagPath(path, core, m_roles->dictionary);
    const std::vector<CSpan::Candidate>* candidates = &m_tagger.candidates();
    if (m_type == kPlace) {
        // Places with a common suffix whose name the roles missed.
        m_extra = *candidates;
        addSuffixedPlaces(path);
        std::stable_sort(m_extra.begin(), m_extra.end(),
                         [](const CSpan::Candidate& a, const CSpan::Candidate& b) { return a.start < b.start; });
        candidates = &m_extra;
    }
    if (candidates->empty()) return true;  // most paths hold no name
    // Byte spans become atom vertices: the first vertex at which the running
    // sum of atom lengths reaches the offset.
    const int atoms = graph.atomCount();
    m_atomStarts.assign(1, 0);
    for (int v = 0; v < atoms; ++v) m_atomStarts.push_back(m_atomStarts.back() + graph.atomLength(v));
    auto vertexAt = [&](int offset) {
        const auto it = std::lower_bound(m_atomStarts.begin(), m_atomStarts.end(), offset);
        return std::min(static_cast<int>(it - m_atomStarts.begin()), atoms);
    };
    for (const CSpan::Candidate& candidate : *candidates) {
        const int start = vertexAt(candidate.start);
        const int end = vertexAt(candidate.end);
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
