#pragma once
// Hidden-Markov tagger over a word path: every word gets candidate tags with
// emission costs, a Viterbi search with the transition statistics picks the
// best tag sequence, segment by segment. Tags are part-of-speech handles
// (mode 0) or the roles of person, place or transliterated-name words
// (modes 1-3); in the role modes name candidates are read off the roles.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "segment/CDictionary.h"
#include "segment/CSegment.h"
#include "segment/lookup/WordIdTable.h"

namespace kestrel {

class CContextStat;

class CSpan {
public:
    enum TagType { kPartOfSpeech = 0, kPerson = 1, kPlace = 2, kTransliteration = 3 };
    static constexpr int kMaxSegmentWords = 119;  // words read per segment
    static constexpr int kMaxTags = 19;           // tags per word
    static constexpr int kMaxCandidates = 200;    // name candidates per path
    static constexpr int kStartTagRole = 100;
    static constexpr int kEndTagRole = 101;

    struct Candidate {
        int start = 0;  // byte offsets within the sentence
        int end = 0;
        double cost = 0;
        int given = 0;  // person names: where the given name begins after the surname; 0 for none
    };

    void setTagType(int type) {
        m_tagType = type;
        forgetRoleTags();
    }
    int tagType() const { return m_tagType; }
    // Statistics of this mode; null means none (every probability 1e-6).
    // They must not change while set: set them again after a change.
    void setContext(const CContextStat* context) {
        m_context = context;
        layOutTransitions();
        forgetRoleTags();
    }
    // In a role mode the tags of a word are computed once per text and then
    // reused (on by default); off, every word is looked up afresh, for
    // comparing the two.
    void setShortcuts(bool on) {
        m_shortcuts = on;
        forgetRoleTags();
    }

    // Tags the path segment by segment. `dictionary` is the role dictionary
    // (role modes) or the core dictionary (part-of-speech mode, which writes
    // the chosen handles into the path).
    bool tagPath(WordPath& path, const CDictionary& core, const CDictionary& dictionary);

    int unknownCount() const { return static_cast<int>(m_candidates.size()); }
    const std::vector<Candidate>& candidates() const { return m_candidates; }
    // Best tags of the last segment tagged, word 1 first (for tests).
    std::vector<int> lastBestTags() const;
    // False when the last path's segments after its last possible name
    // were left untagged (for tests).
    bool taggedToEnd() const { return m_taggedToEnd; }

    // The steps of tagPath, exposed for tests.
    int readSegment(int start);
    void viterbi();
    void bestPath();
    void guessRoles(int word);
    void recognizePerson(const CDictionary& roles);
    void recognizeSpan(const CDictionary& roles);
    double computeCost(int first, int count, const CDictionary& roles) const;

private:
    // Texts are views of the words of the path being tagged (or of
    // constant texts); they are read only while it is.
    struct SegmentWord {
        std::string_view text;  // the text as looked up
        int position = 0;  // byte offset in the sentence
        int length = 0;    // byte length in the sentence
        int pathIndex = -1;
        int tagCount = 0;
        std::array<int, kMaxTags> tags{};
        std::array<int, kMaxTags> tagIndex{};  // in the statistics' symbol table
        std::array<double, kMaxTags> costs{};
        std::array<unsigned char, kMaxTags> best{};
    };
    // A word as the tagger reads it. A word that is a whole word of the path
    // (not a part of a split one) brings what the path knows of it.
    struct PathWord {
        std::string_view text;
        int pathIndex = -1;
        bool whole = false;
        int known = -1;  // its record (see record()), or -1
        uint32_t nameRoles = kAnyRole;  // see KnownText::nameRoles
    };
    // What a role mode found for one text: whether the role dictionary
    // holds it with the role that splits a word, and the tags with their
    // emission costs (tagCount -1 until they are read). Both depend on the
    // text, the role data and the core dictionary alone, so each text is
    // read once: most words of a text recur many times. A record fills one
    // cache line: the split flag, read first, brings the first tags along.
    struct KnownTag {
        int tag;
        int index;
        double cost;
    };
    struct alignas(64) KnownText {
        static constexpr int kInlineTags = 4;
        bool splitKnown = false;
        bool split = false;
        int8_t tagCount = -1;
        uint32_t moreTags = 0;  // where tags beyond the inline ones begin in m_knownTags
        double costs[kInlineTags] = {};
        int16_t tags[kInlineTags] = {};  // texts with larger tags are not kept
        int16_t index[kInlineTags] = {};
        uint32_t nameRoles = kAnyRole;  // roleBit() of each of the tags, once they are kept
    };
    static_assert(kMaxTags <= 127, "a record counts its tags in a signed byte");
    static_assert(sizeof(KnownText) == 64, "a record fills one cache line");
    static constexpr size_t kMaxKnownTexts = 1 << 15;  // then they are forgotten
    // The roles that can make a word part of a name are bits: the role
    // letters A-Z of a person tagger, roles 1 and 2 (which open a name) of
    // the others. A word whose tags are unknown may take any of them.
    static constexpr uint32_t kAnyRole = ~uint32_t{0};
    uint32_t roleBit(int tag) const {
        if (m_tagType == kPerson) {
            // As recognizePerson writes the role: a letter of one byte.
            const char letter = static_cast<char>('A' + tag);
            return letter >= 'A' && letter <= 'Z' ? uint32_t{1} << (letter - 'A') : 0;
        }
        return tag == 1 || tag == 2 ? uint32_t{1} << tag : 0;
    }
    // The last word of m_pathWords that some name candidate may hold, by
    // the roles its words may take; -1 when the path can hold no name.
    // Segments after it need not be tagged: they would yield no candidate.
    int lastPossibleNameWord() const;
    // Texts a path word brings an id below this for are found by the id.
    static constexpr size_t kMaxTextIds = 1 << 15;

    void addTag(SegmentWord& word, int tag, double cost);
    // Fills m_transitions from the statistics.
    void layOutTransitions();
    // The record of `text`, made when new: a reference for record().
    int knownText(std::string_view text);
    // The same for a path word, found by the id it brings when it has one.
    int knownText(const WordResult& word);
    // References >= 0 are entries of m_known, those <= -2 entries of
    // m_knownById; -1 is none.
    KnownText& record(int ref) {
        return ref >= 0 ? m_known[static_cast<size_t>(ref)] : m_knownById[static_cast<size_t>(-2 - ref)];
    }
    void forgetRoleTags();
    // Whether the role dictionary holds `text` with the role that splits a
    // word into its first character and the rest.
    bool splitsInRoleMode(std::string_view text) const;
    // What the role dictionary holds for a text (getHandles).
    struct RoleEntries {
        int count = 0;
        int handles[CDictionary::kMaxHandles];
        int frequencies[CDictionary::kMaxHandles];
    };
    bool splitsInRoleMode(std::string_view text, const RoleEntries& roles) const;
    // Fills the record of a whole path word's text read for the first time.
    void readNewText(KnownText& known, const PathWord& word);
    // Keeps the tags of `word` in its text's record.
    void keepTags(KnownText& known, const SegmentWord& word);
    void guessRoles(SegmentWord& word);
    // The tags of word `index` of the segment in a role mode, from m_known
    // when its text was read before; `replaced` when the word's text is not
    // that of `pathWord` (a mark read as its full-width form).
    void readRoleTags(SegmentWord& word, const PathWord& pathWord, int index, bool replaced);
    double tagFrequency(int tag) const;
    // The role tags of `word` from the dictionaries; `pathWord` (whose text
    // it has, unless a mark was replaced) may know its core entries.
    void readRoles(SegmentWord& word, const PathWord& pathWord);
    void addRoles(SegmentWord& word, const PathWord& pathWord, const RoleEntries& roles);
    // Reads the path's words into m_pathWords, splitting in a role mode
    // the words that the role dictionary holds with role 44.
    void readPathWords(const WordPath& path);
    void readPartOfSpeech(SegmentWord& word);
    int endPosition(int i) const;
    // Byte offset where the given name of a person candidate matching the
    // role letters `roles` at word p begins; 0 when it has none.
    int givenNameStart(std::string_view roles, int p) const;
    void addCandidate(int start, int end, double cost, int given = 0);

    int m_tagType = kPartOfSpeech;
    bool m_shortcuts = true;
    WordIdTable m_knownIds;
    std::vector<KnownText> m_known;  // by id in m_knownIds
    std::vector<KnownTag> m_knownTags;
    int m_beginKnown = -1;  // the sentence markers, which bring no id
    int m_endKnown = -1;
    uint64_t m_knownCore = 0;  // versions of the dictionaries m_known was read with
    uint64_t m_knownRoles = 0;
    // Records by the id a path word brings from the word table
    // `m_knownTable` of its segmenter.
    std::vector<KnownText> m_knownById;
    uint32_t m_knownTable = 0;
    const CContextStat* m_context = nullptr;
    // The statistics' transition costs as one square table, row = previous
    // tag, indexed by symbol index + 1 (0 for a tag they do not know); empty
    // when the statistics have too many symbols for it.
    std::vector<double> m_transitions;
    size_t m_transitionSlots = 0;
    const CDictionary* m_core = nullptr;
    const CDictionary* m_dictionary = nullptr;
    WordPath* m_path = nullptr;

    std::vector<PathWord> m_pathWords;  // the path as read (names split), reused
    std::vector<int> m_pathRecords;     // the record of each word of the path
    SegmentWord m_newText;              // a text being read for its record
    size_t m_pathWordCount = 0;         // of m_pathWords
    std::vector<SegmentWord> m_words;   // current segment, word 0 first
    int m_length = 0;                   // words in the segment
    std::vector<int> m_bestTags;        // index = word, -1 after the last
    int m_offset = 0;
    bool m_atPathStart = true;
    bool m_taggedToEnd = true;
    std::vector<Candidate> m_candidates;
};

}  // namespace kestrel
