#include "SegmentTestSupport.h"
#include "segment/CSegment.h"
#include "segment/CharClass.h"
#include "segment/CUnknowWord.h"
#include "segment/CWordSegment.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Person roles: 1 surname (B), 2 first given character (C), 3 second given
// character (D); 0 any other word, 100/101 the sentence ends.
std::shared_ptr<CUnknowWord::Roles> personRoles() {
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->dictionary.addWord(G("张"), 1, 100);
    roles->dictionary.addWord(G("小"), 2, 100);
    roles->dictionary.addWord(G("明"), 3, 100);
    roles->context = makeContext({0, 1, 2, 3, 100, 101},
                                 {{100, 100}, {100, 0}, {0, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 0}, {0, 101}}, 100, 50);
    return roles;
}

const CDictionary& core() {
    // The name characters are rare words too: with a role and role 0 each,
    // they do not end a tagging segment, so the segment spans the name.
    static const CDictionary d = makeCore({{"我", 500, 'r' * 256}, {"见到", 200, kVerb}, {"了", 800, 'u' * 256},
                                           {"张", 1, kNoun}, {"小", 1, 'a' * 256}, {"明", 1, 'a' * 256},
                                           {"约", 1, kVerb}, {"翰", 1, kNoun}, {"．", 1, 'w' * 256}});
    return d;
}

std::vector<std::string> innerWords(const WordPath& path) {
    std::vector<std::string> words;
    for (size_t i = 1; i + 1 < path.size() && !path[i + 1].word.empty(); ++i) words.push_back(U(path[i].word));
    return words;
}

}  // namespace

TEST(RecognitionTest, PersonNameIsRecognisedInASentence) {
    TempDir dir;
    writeDataDirectory(dir.path(), core(), {});
    auto roles = personRoles();
    ASSERT_TRUE(succeeded(roles->dictionary.save(dir.path() + "nr.dct")));
    ASSERT_TRUE(succeeded(roles->context.save(dir.path() + "nr.ctx")));

    CWordSegment segmenter;
    ASSERT_TRUE(succeeded(segmenter.loadDataDirectory(dir.path())));
    segmenter.recognitionSwitch = 0;
    segmenter.segmentSentence(G("我见到张小明了"));
    EXPECT_EQ(innerWords(segmenter.segment().path(0)), (std::vector<std::string>{"我", "见到", "张", "小", "明", "了"}));
    segmenter.recognitionSwitch = 2;
    segmenter.segmentSentence(G("我见到张小明了"));
    // The name is written as surname and given name, as the tagged corpus does.
    EXPECT_EQ(innerWords(segmenter.segment().path(0)), (std::vector<std::string>{"我", "见到", "张", "小明", "了"}));
    EXPECT_EQ(segmenter.segment().path(0)[3].handle != -1, true);
}

TEST(RecognitionTest, CandidatesAndTheirLimits) {
    CSegment seg;
    const CDictionary bigram;
    const std::string sentence = std::string(kSentenceBegin) + G("我见到张小明了") + std::string(kSentenceEnd);
    seg.biSegment(sentence, core(), bigram, 0.1);
    CUnknowWord person;
    person.setRoles(personRoles(), CUnknowWord::kPerson);
    person.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    ASSERT_EQ(person.tagger().unknownCount(), 1);
    const CSpan::Candidate c = person.tagger().candidates()[0];
    EXPECT_EQ(c.start, 6 + 2 + 4);  // after 始##始 我 见到
    EXPECT_EQ(c.end, c.start + 6);
    // The name is in the optimum graph over atoms 4..6 (始 我 见 到 张 小 明).
    double value = 0;
    int handle = 0;
    ASSERT_NE(seg.optimumGraph().getElement(4, 7, &value, &handle), nullptr);
    EXPECT_EQ(handle, -28274);
    EXPECT_EQ(value, c.cost);
    // A candidate not cheaper than the element already there changes nothing.
    seg.optimumGraph().setElement(4, 7, c.cost - 1, 5, std::string_view("x"));
    person.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    seg.optimumGraph().getElement(4, 7, &value, &handle);
    EXPECT_EQ(handle, 5);

    // A name right after "·" is not recorded at its surname.
    seg.biSegment(std::string(kSentenceBegin) + G("我·张小明") + std::string(kSentenceEnd), core(), bigram, 0.1);
    person.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    for (const CSpan::Candidate& cand : person.tagger().candidates()) EXPECT_NE(cand.start, 6 + 2 + 2);

    // The two markers alone give no candidate.
    seg.biSegment(std::string(kSentenceBegin) + std::string(kSentenceEnd), core(), bigram, 0.1);
    person.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    EXPECT_EQ(person.tagger().unknownCount(), 0);
}

TEST(RecognitionTest, WithoutRoleDataNothingIsProposed) {
    // A recogniser without role data skips tagging. That is safe because
    // the tagger, run with empty data over text with names, numbers, letters
    // and symbols, never reaches a name pattern.
    const CDictionary bigram;
    const CDictionary noRoles;
    const CContextStat noStatistics;
    CSegment seg;
    for (int type : {CSpan::kPerson, CSpan::kPlace, CSpan::kTransliteration}) {
        CSpan tagger;
        tagger.setTagType(type);
        tagger.setContext(&noStatistics);
        for (const char* text : {"我见到张小明了", "××和约翰·史密斯", "ＡＢＣ公司在1998年", "王．李-赵", "张小"}) {
            seg.biSegment(std::string(kSentenceBegin) + G(text) + std::string(kSentenceEnd), core(), bigram, 0.1);
            for (int k = 0; k < seg.segmentCount(); ++k) {
                tagger.tagPath(seg.path(k), core(), noRoles);
                EXPECT_EQ(tagger.unknownCount(), 0) << text << " type " << type;
            }
        }
    }
    CUnknowWord person;
    EXPECT_FALSE(person.hasRoleData());
    person.setRoles(personRoles(), CUnknowWord::kPerson);
    EXPECT_TRUE(person.hasRoleData());
}

TEST(RecognitionTest, TransliterationReadsPointAsFullWidth) {
    // In transliteration mode "." after a Chinese character is looked up as
    // "．": the role dictionary knows only the full-width form.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->dictionary.addWord(G("．"), 2, 50);
    roles->dictionary.addWord(G("约"), 1, 50);
    roles->dictionary.addWord(G("翰"), 3, 50);
    roles->context = makeContext({0, 1, 2, 3, 100, 101}, {{100, 100}, {100, 1}, {1, 2}, {2, 3}, {3, 101}}, 100, 50);
    CUnknowWord translit;
    translit.setRoles(roles, CUnknowWord::kTransliteration);
    CSegment seg;
    const CDictionary bigram;
    seg.biSegment(std::string(kSentenceBegin) + G("约") + "." + G("翰") + std::string(kSentenceEnd), core(), bigram, 0.1);
    translit.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    ASSERT_EQ(translit.tagger().unknownCount(), 1);
    EXPECT_EQ(translit.tagger().candidates()[0].start, 6);
    EXPECT_EQ(translit.tagger().candidates()[0].end, 6 + 5);
}

TEST(RecognitionTest, NameNeverBeginsOrEndsWithAMark) {
    // The role data takes the dash for a name's last piece: the tagger
    // proposes 约翰—, but the dash stays out of the word graph's names.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->dictionary.addWord(G("约"), 1, 50);
    roles->dictionary.addWord(G("翰"), 2, 50);
    roles->dictionary.addWord(G("—"), 3, 50);
    roles->context = makeContext({0, 1, 2, 3, 100, 101}, {{100, 100}, {100, 1}, {1, 2}, {2, 3}, {3, 101}}, 100, 50);
    CUnknowWord translit;
    translit.setRoles(roles, CUnknowWord::kTransliteration);
    CSegment seg;
    const CDictionary bigram;
    seg.biSegment(std::string(kSentenceBegin) + G("约翰—") + std::string(kSentenceEnd), core(), bigram, 0.1);
    translit.recognize(seg.path(0), core(), seg.optimumGraph(), seg.segGraph());
    ASSERT_EQ(translit.tagger().unknownCount(), 1);
    int handle = 0;
    seg.optimumGraph().getElement(1, 4, nullptr, &handle);
    EXPECT_NE(handle, -28274);
}

TEST(RecognitionTest, SurnameFusedWithTheGivenNameIsSetApart) {
    // 王刚 is a dictionary word; its role 24 (Y) marks a surname fused with a
    // one-character given name. The name is written 王 刚.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->dictionary.addWord(G("王刚"), 24, 100);
    roles->context = makeContext({0, 24, 100, 101}, {{100, 100}, {100, 0}, {0, 0}, {0, 24}, {24, 0}, {0, 101}}, 100, 50);
    TempDir dir;
    writeDataDirectory(dir.path(), makeCore({{"王刚", 5, kNoun}, {"同志", 300, kNoun}, {"我", 500, 'r' * 256}}), {});
    ASSERT_TRUE(succeeded(roles->dictionary.save(dir.path() + "nr.dct")));
    ASSERT_TRUE(succeeded(roles->context.save(dir.path() + "nr.ctx")));
    CWordSegment segmenter;
    ASSERT_TRUE(succeeded(segmenter.loadDataDirectory(dir.path())));
    segmenter.recognitionSwitch = 2;
    segmenter.segmentSentence(G("我王刚同志"));
    EXPECT_EQ(innerWords(segmenter.segment().path(0)), (std::vector<std::string>{"我", "王", "刚", "同志"}));
}

TEST(RecognitionTest, PlaceOfUnknownCharactersBeforeACommonSuffix) {
    // No role pattern covers 白水镇, but 白 and 水 are no dictionary word
    // and 镇 ends places: the place goes into the graph, and so does the
    // longer reading 自白水镇, which the costs of its roles decide against.
    auto roles = std::make_shared<CUnknowWord::Roles>();
    roles->dictionary.addWord(G("镇"), 3, 500);
    roles->dictionary.addWord(G("白"), 1, 20);
    roles->context = makeContext({0, 1, 2, 3, 100, 101}, {{100, 0}, {0, 0}, {0, 101}}, 100, 50);
    CUnknowWord place;
    place.setRoles(roles, CUnknowWord::kPlace);
    CSegment seg;
    const CDictionary bigram;
    const CDictionary dict = makeCore({{"来", 500, kVerb}, {"自", 300, 'p' * 256}, {"镇", 10, kNoun}});
    seg.biSegment(std::string(kSentenceBegin) + G("来自白水镇") + std::string(kSentenceEnd), dict, bigram, 0.1);
    place.recognize(seg.path(0), dict, seg.optimumGraph(), seg.segGraph());
    double shorter = 0, longer = 0;
    int handle = 0;
    ASSERT_NE(seg.optimumGraph().getElement(3, 6, &shorter, &handle), nullptr);  // 白水镇
    EXPECT_EQ(handle, -28275);
    ASSERT_NE(seg.optimumGraph().getElement(2, 6, &longer, &handle), nullptr);   // 自白水镇
    EXPECT_LT(shorter, longer);
    // Two characters are the least: 水镇 alone is no place.
    EXPECT_EQ(seg.optimumGraph().getElement(4, 6), nullptr);
}
