// What the role taggers keep of each text must give what reading the text
// afresh gives: on the built data with corpus and random sentences, with
// word ids from changing tables, and with roles that do not fit a record.
#include <filesystem>
#include <map>
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CSegment.h"
#include "segment/CSpan.h"
#include "segment/CUnknowWord.h"
#include "segment/CharClass.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Tagged {
    std::vector<int> best;
    std::vector<CSpan::Candidate> candidates;
    bool toEnd = true;
};

Tagged tag(CSpan& tagger, WordPath& path, const CDictionary& core, const CDictionary& roles) {
    tagger.tagPath(path, core, roles);
    return Tagged{tagger.lastBestTags(), tagger.candidates(), tagger.taggedToEnd()};
}

// Paths whose tail (after the last word that may be part of a name) was
// left untagged, counted to show that the comparisons met some.
int g_untaggedTails = 0;

void expectSame(const Tagged& a, const Tagged& b, const std::string& what) {
    // The tags of the last segment are those of the same segment only when
    // both taggers went to the end of the path.
    if (a.toEnd && b.toEnd) {
        ASSERT_EQ(a.best, b.best) << what;
    }
    if (!a.toEnd) ++g_untaggedTails;
    ASSERT_EQ(a.candidates.size(), b.candidates.size()) << what;
    for (size_t i = 0; i < a.candidates.size(); ++i) {
        ASSERT_EQ(a.candidates[i].start, b.candidates[i].start) << what;
        ASSERT_EQ(a.candidates[i].end, b.candidates[i].end) << what;
        ASSERT_EQ(a.candidates[i].cost, b.candidates[i].cost) << what;
        ASSERT_EQ(a.candidates[i].given, b.candidates[i].given) << what;
    }
}

// One tagger per way of handing it the words: as the segmenter makes them,
// computing everything afresh, and with ids of other tables (one whose ids
// differ from the segmenter's, the segmenter's under another table number,
// ids too large to be kept by id, no ids at all), the table changing from
// path to path.
struct Taggers {
    CSpan asMade, fresh, otherIds;
    std::map<std::string, int> ownIds;

    Taggers(int type, const CContextStat* context) {
        for (CSpan* t : {&asMade, &fresh, &otherIds}) {
            t->setTagType(type);
            t->setContext(context);
        }
        fresh.setShortcuts(false);
    }

    void compare(WordPath& path, const CDictionary& core, const CDictionary& roles, int round) {
        const Tagged expected = tag(fresh, path, core, roles);
        expectSame(tag(asMade, path, core, roles), expected, "as made, round " + std::to_string(round));
        WordPath renamed = path;
        for (WordResult& w : renamed) {
            const int own = ownIds.emplace(w.word, static_cast<int>(ownIds.size())).first->second;
            switch (round % 4) {
            case 0: w.textTable = 7, w.textId = own; break;
            case 1: w.textTable = w.textTable == 0 ? 0 : w.textTable + 1000; break;
            case 2: w.textTable = 8, w.textId = w.textId < 0 ? -1 : w.textId + (1 << 20); break;
            default: w.textTable = 0, w.textId = -1; break;
            }
        }
        expectSame(tag(otherIds, renamed, core, roles), expected, "other ids, round " + std::to_string(round));
    }
};

}  // namespace

TEST(RoleRecordTest, KeptRecordsGiveWhatReadingAfreshGives) {
    const std::filesystem::path data = KESTREL_DATA_DIR;
    std::error_code ec;
    if (!std::filesystem::exists(data / "nr.dct", ec)) GTEST_SKIP() << "no role data built in " << data;
    CDictionary core, bigram;
    ASSERT_TRUE(succeeded(core.load((data / "coreDict.dct").string())));
    ASSERT_TRUE(succeeded(bigram.load((data / "BigramDict.dct").string(), CDictionary::Index::kPairs)));
    struct Kind {
        const char* base;
        int type;
    };
    std::vector<std::shared_ptr<CUnknowWord::Roles>> roles;
    std::vector<std::unique_ptr<Taggers>> taggers;
    for (const Kind kind : {Kind{"nr", CSpan::kPerson}, Kind{"ns", CSpan::kPlace}, Kind{"tr", CSpan::kTransliteration}}) {
        auto r = std::make_shared<CUnknowWord::Roles>();
        ASSERT_TRUE(succeeded(r->dictionary.load((data / (std::string(kind.base) + ".dct")).string())));
        ASSERT_TRUE(succeeded(r->context.load((data / (std::string(kind.base) + ".ctx")).string())));
        roles.push_back(r);
        taggers.push_back(std::make_unique<Taggers>(kind.type, &r->context));
    }

    std::string text = G("郑秋雁和基普罗蒂奇到张家村、李庄镇，迈克尔·乔丹在１９９８年访问了北京大学。"
                         "王．李-赵，约翰.史密斯，××和××，欧阳修");
    const std::filesystem::path corpus = std::filesystem::path(KESTREL_SHARED_DIR) / "corpora" / "pfr199801" / "199801.txt";
    if (const Result<std::string> bytes = readFile(corpus.string()); bytes) text += toGbk(bytes->substr(0, 60000));
    std::vector<std::string> characters;
    for (size_t i = 0; i + 1 < text.size(); i += gb18030CharLength(text, i) > 1 ? 2 : 1) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) characters.push_back(text.substr(i, 2));
    }
    std::mt19937 rng(5);
    CSegment seg;
    for (int round = 0; round < 1500; ++round) {
        // Stretches of the text, then random mixtures of its characters.
        std::string sentence;
        if (round < 500) {
            const size_t start = (rng() % (text.size() / 2)) * 2;
            sentence = text.substr(start, 2 * (rng() % 30 + 1));
        } else {
            for (unsigned n = rng() % 16 + 1; n > 0; --n) sentence += characters[rng() % characters.size()];
        }
        seg.biSegment(std::string(kSentenceBegin) + sentence + std::string(kSentenceEnd), core, bigram, 0.1);
        for (int k = 0; k < seg.segmentCount(); ++k) {
            for (size_t t = 0; t < taggers.size(); ++t) {
                taggers[t]->compare(seg.path(k), core, roles[t]->dictionary, round);
                if (::testing::Test::HasFatalFailure()) FAIL() << U(sentence);
            }
        }
    }
    EXPECT_GT(g_untaggedTails, 100);
}

TEST(RoleRecordTest, RolesBeyondARecordKeepTheirValues) {
    // Single characters with six roles (more than a record holds), a role
    // number and symbol indices too large for 16 bits, in statistics with
    // more symbols than the square transition table takes (their costs are
    // then looked up in the statistics), and without statistics.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    std::vector<int32_t> symbols = {0, 1, 2, 3, 4, 5, 6, 100, 101, 40000};
    for (int s = 200; s < 900; ++s) symbols.push_back(s);
    std::vector<std::pair<int, int>> transitions = {{100, 1}, {1, 2}, {2, 3}, {3, 101}, {100, 0}, {0, 0}, {0, 101},
                                                    {0, 1},   {3, 0}, {4, 5}, {5, 6}, {6, 40000}, {40000, 0}, {0, 40000}, {40000, 101}};
    roles->context = makeContext(symbols, transitions, 100, 50);
    const char* chars[] = {"张", "小", "明", "李", "王", "赵"};
    for (const char* c : {"张", "小", "明", "李", "王"}) {
        for (int role = 1; role <= 6; ++role) roles->dictionary.addWord(G(c), role, 10 + role * 7);
    }
    roles->dictionary.addWord(G("赵"), 1, 5);
    roles->dictionary.addWord(G("赵"), 40000, 100000);
    const CDictionary core = makeCore({{"我", 500, 'r' * 256}, {"见到", 200, kVerb}, {"张", 1, kNoun}});
    for (const CContextStat* context : {static_cast<const CContextStat*>(&roles->context), static_cast<const CContextStat*>(nullptr)}) {
        CSpan kept, fresh;
        for (CSpan* t : {&kept, &fresh}) {
            t->setTagType(CSpan::kPerson);
            t->setContext(context);
        }
        fresh.setShortcuts(false);
        std::mt19937 rng(3);
        CSegment seg;
        for (int round = 0; round < 300; ++round) {
            std::string sentence;
            for (unsigned n = rng() % 10 + 1; n > 0; --n) sentence += G(rng() % 4 == 0 ? "我" : chars[rng() % 6]);
            seg.biSegment(std::string(kSentenceBegin) + sentence + std::string(kSentenceEnd), core, CDictionary(), 0.1);
            for (int k = 0; k < seg.segmentCount(); ++k) {
                const Tagged expected = tag(fresh, seg.path(k), core, roles->dictionary);
                expectSame(tag(kept, seg.path(k), core, roles->dictionary), expected, U(sentence));
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

namespace {

// A path of the given (UTF-8) words between the sentence markers.
WordPath pathOf(const std::vector<const char*>& words) {
    WordPath path;
    path.push_back(WordResult{std::string(kSentenceBegin), 1, 0});
    for (const char* w : words) path.push_back(WordResult{std::string(w[0] == '.' ? "." : G(w)), 0, 10});
    path.push_back(WordResult{std::string(kSentenceEnd), 4, 0});
    path.push_back(WordResult{std::string(), -1, 0});
    return path;
}

}  // namespace

TEST(RoleRecordTest, TaggingStopsOnlyAfterTheLastPossibleName) {
    const CDictionary core = makeCore({{"我", 500, 'r' * 256}, {"见到", 200, kVerb}, {"了", 300, 'u' * 256}});
    auto roles = std::make_shared<CUnknowWord::Roles>();
    // Person roles: 张 a surname (B) or nothing, 三 a given name (E) or
    // nothing, 李四 a surname and given name in one word (Y) or nothing,
    // and statistics that favour the names.
    roles->context = makeContext({0, 1, 4, 24, 100, 101},
                                 {{100, 1}, {1, 4}, {4, 0}, {0, 0}, {0, 101}, {100, 0}, {0, 1}, {4, 101}, {0, 24}, {24, 101}},
                                 100, 50);
    roles->dictionary.addWord(G("张"), 1, 50);
    roles->dictionary.addWord(G("张"), 0, 5);
    roles->dictionary.addWord(G("三"), 4, 50);
    roles->dictionary.addWord(G("三"), 0, 5);
    roles->dictionary.addWord(G("李四"), 24, 50);
    roles->dictionary.addWord(G("李四"), 0, 5);
    Taggers person(CSpan::kPerson, &roles->context);
    // A name early in a long path leaves the rest untagged; one at the
    // very end is tagged to the end; none at all needs no tagging.
    struct Case {
        std::vector<const char*> words;
        bool toEnd;
        size_t names;
    };
    const std::vector<Case> cases = {{{"张", "三", "见到", "我", "了", "我", "见到", "了", "我"}, false, 1},
                                     {{"我", "见到", "了", "张", "三"}, true, 1},
                                     {{"我", "见到", "了", "我", "李四"}, true, 1},
                                     {{"我", "见到", "了", "我"}, false, 0}};
    for (const Case& c : cases) {
        WordPath path = pathOf(c.words);
        const Tagged expected = tag(person.fresh, path, core, roles->dictionary);
        const Tagged got = tag(person.asMade, path, core, roles->dictionary);
        expectSame(got, expected, joinUtf8(std::vector<std::string>(c.words.begin(), c.words.end())));
        EXPECT_EQ(got.toEnd, c.toEnd);
        EXPECT_EQ(got.candidates.size(), c.names);
    }

    // A transliteration tagger reads '.' between two ideographs as the
    // full-width point, which here is the only word that may open a name.
    auto marks = std::make_shared<CUnknowWord::Roles>();
    marks->context = makeContext({0, 2, 100, 101}, {{100, 0}, {0, 2}, {2, 0}, {0, 101}}, 100, 50);
    marks->dictionary.addWord(G("王"), 0, 50);
    marks->dictionary.addWord(G("李"), 0, 50);
    marks->dictionary.addWord(G("．"), 2, 50);
    Taggers transliteration(CSpan::kTransliteration, &marks->context);
    WordPath path = pathOf({"王", ".", "李"});
    const Tagged expected = tag(transliteration.fresh, path, core, marks->dictionary);
    ASSERT_EQ(expected.candidates.size(), 1u);
    expectSame(tag(transliteration.asMade, path, core, marks->dictionary), expected, "王.李");
}
