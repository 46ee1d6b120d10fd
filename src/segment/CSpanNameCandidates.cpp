// Name candidates read off a role-tagged segment: person names by the role
// patterns of surnames and given names, places and transliterated names by
// the spans that open with role 1 or 2.
#include "segment/CSpan.h"

#include <cmath>
#include <string>
#include <string_view>

#include "segment/CDictionary.h"
#include "segment/CharClass.h"
#include "segment/GbkText.h"
#include "segment/NameCharacters.h"

namespace kestrel {

namespace {

const std::string& middleDot() {
    static const std::string dot = gbkText("·");
    return dot;
}

struct PersonPattern {
    std::string_view roles;
    double factor;
};

// Role sequences that make a person name, tried in this order at each word.
constexpr PersonPattern kPersonPatterns[] = {
    {"BBCD", 0.003606}, {"BBC", 0.000021}, {"BBE", 0.001314}, {"BBZ", 0.000315},
    {"BCD", 0.656624},  {"BEE", 0.000021}, {"BE", 0.146116},  {"BG", 0.009136},
    {"BXD", 0.000042},  {"BZ", 0.038971},  {"CDCD", 0},       {"CD", 0.090367},
    {"EE", 0.000273},   {"FB", 0.009157},  {"Y", 0.034324},   {"XD", 0.009735},
};

// The roles person patterns begin with.
constexpr std::string_view kPersonFirstRoles = "BCEFXY";

}  // namespace

int CSpan::lastPossibleNameWord() const {
    const int count = static_cast<int>(m_pathWordCount);
    if (m_tagType == kPartOfSpeech) return count - 1;
    if (m_tagType != kPerson) {
        // A word whose best tag is 1 or 2 always opens a candidate.
        const uint32_t opening = roleBit(1) | roleBit(2);
        for (int p = count - 1; p >= 0; --p) {
            if (m_pathWords[static_cast<size_t>(p)].nameRoles & opening) return p;
        }
        return -1;
    }
    // The last word of a window of words that may take the roles of one of
    // the person patterns in turn; no pattern is longer than four words.
    uint32_t firstRoles = 0;
    for (const char role : kPersonFirstRoles) firstRoles |= uint32_t{1} << (role - 'A');
    int last = -1;
    for (int p = count - 1; p >= 0 && p + 3 > last; --p) {
        if (!(m_pathWords[static_cast<size_t>(p)].nameRoles & firstRoles)) continue;
        for (const PersonPattern& pattern : kPersonPatterns) {
            const int len = static_cast<int>(pattern.roles.size());
            if (p + len > count || p + len - 1 <= last) continue;
            bool fits = true;
            for (int k = 0; k < len && fits; ++k) {
                const uint32_t role = uint32_t{1} << (pattern.roles[static_cast<size_t>(k)] - 'A');
                fits = (m_pathWords[static_cast<size_t>(p + k)].nameRoles & role) != 0;
            }
            if (fits) last = p + len - 1;
        }
    }
    return last;
}

int CSpan::endPosition(int i) const {
    if (i < m_length) return m_words[static_cast<size_t>(i)].position;
    const SegmentWord& last = m_words[static_cast<size_t>(m_length - 1)];
    return last.position + last.length;
}

void CSpan::addCandidate(int start, int end, double cost, int given) {
    if (static_cast<int>(m_candidates.size()) >= kMaxCandidates) return;
    m_candidates.push_back(Candidate{start, end, cost, given});
}

double CSpan::computeCost(int first, int count, const CDictionary& roles) const {
    double cost = 0;
    for (int k = first; k < first + count && k < m_length; ++k) {
        const int tag = m_bestTags[static_cast<size_t>(k)];
        const SegmentWord& word = m_words[static_cast<size_t>(k)];
        if (tag < 0 || word.text.empty()) continue;
        cost += std::log(tagFrequency(tag) + 1) - std::log(static_cast<double>(roles.getFrequency(word.text, tag)) + 1);
    }
    return cost;
}

void CSpan::recognizePerson(const CDictionary& roles) {
    const std::string& dot = middleDot();
    // Role letters: role r is 'A' + r; position p is word p.
    std::string letters(static_cast<size_t>(m_length) + 1, '\0');
    int last = 0;  // last word with a tag
    for (int i = 1; i < m_length && m_bestTags[static_cast<size_t>(i)] != -1; ++i) {
        letters[static_cast<size_t>(i)] = static_cast<char>('A' + m_bestTags[static_cast<size_t>(i)]);
        last = i;
    }
    const std::string_view roleString(letters);
    auto wordText = [&](int i) -> std::string_view {
        return i >= 0 && i < m_length ? m_words[static_cast<size_t>(i)].text : std::string_view();
    };
    int p = 1;
    while (p <= last) {
        if (kPersonFirstRoles.find(roleString[static_cast<size_t>(p)]) == std::string_view::npos) {
            ++p;  // no pattern begins with this role
            continue;
        }
        bool recorded = false;
        for (size_t k = 0; k < std::size(kPersonPatterns); ++k) {
            const PersonPattern& pattern = kPersonPatterns[k];
            const int len = static_cast<int>(pattern.roles.size());
            if (p + len - 1 > last || roleString[static_cast<size_t>(p)] != pattern.roles[0] ||
                roleString.substr(static_cast<size_t>(p), pattern.roles.size()) != pattern.roles)
                continue;
            if (wordText(p - 1) == dot || wordText(p + len) == dot) continue;
            if (pattern.roles == "FB" && p + 2 <= last) {
                const char after = roleString[static_cast<size_t>(p + 2)];
                if (after == 'C' || after == 'E' || after == 'G') continue;
            }
            if (pattern.factor == 0) {
                // Two surname-given pairs: when the four words hold name
                // characters of foreign names, go on from their last word.
                std::string text;
                for (int i = p; i < p + 4; ++i) text.append(wordText(i));
                static const CharSet western(westernNameCharacters());
                static const CharSet japanese(japaneseNameCharacters());
                static const CharSet russian(russianNameCharacters());
                if (western.count(text) > 0 || japanese.count(text) > 0 || russian.count(text) > 0)
                    p += 3;
                continue;
            }
            addCandidate(endPosition(p), endPosition(p + len), computeCost(p, len, roles) - std::log(pattern.factor),
                         givenNameStart(pattern.roles, p));
            p += len;
            recorded = true;
            break;
        }
        if (!recorded) ++p;
    }
}

int CSpan::givenNameStart(std::string_view roles, int p) const {
    // Surname words (B) lead the name: the given name follows them. A word
    // that fuses the surname with the given name (X, Y) holds a surname of
    // one character. A name without a surname (CD, EE) or with a prefix
    // (老张, FB) has no given name to set apart.
    const size_t surnames = roles.find_first_not_of('B');
    if (surnames > 0 && surnames != std::string_view::npos) return endPosition(p + static_cast<int>(surnames));
    if (roles[0] == 'X' || roles[0] == 'Y') {
        const SegmentWord& word = m_words[static_cast<size_t>(p)];
        return word.position + static_cast<int>(charLength(word.text, 0));
    }
    return 0;
}

void CSpan::recognizeSpan(const CDictionary& roles) {
    auto tagAt = [&](int i) { return i < static_cast<int>(m_bestTags.size()) ? m_bestTags[static_cast<size_t>(i)] : -1; };
    int c = 1;
    int d = 1;
    int i = 1;
    while (tagAt(i) != -1) {
        const int tag = tagAt(i);
        const int a = i;
        int b = i;
        bool opened = false;
        auto joinEnding = [&](int& j) {
            int m = 0;
            while (tagAt(j) == 3) {
                ++j;
                ++m;
            }
            if (m > 0) {
                c += m - 1;
                d = c;
            }
        };
        if (tag == 1) {
            opened = true;
            int j = i;
            int k = 0;
            while (tagAt(j) == 1) {
                ++j;
                ++k;
            }
            if (k > 1) {
                c += k - 1;
                d = c;
            }
            while (tagAt(j) == 2) ++j;
            joinEnding(j);
            b = j;
        } else if (tag == 2) {
            opened = true;
            ++c;
            d = c;
            int j = i + 1;
            while (tagAt(j) == 2) ++j;
            joinEnding(j);
            b = j;
        }
        if (opened && b > a) {
            addCandidate(endPosition(a), endPosition(b), computeCost(a, b - a + 1, roles) + std::log(static_cast<double>(d)));
            c = d;
        }
        i = b > i ? b : i + 1;
    }
}

}  // namespace kestrel
