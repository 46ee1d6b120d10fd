// The word graph walks the dictionary from all the atoms of a sentence at
// once, level by level; walked one probe at a time from each atom in turn,
// the graph must be the same.
#include <map>
#include <random>

#include "SegmentTestSupport.h"
#include "segment/CSegGraph.h"
#include "segment/CharClass.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The graphs of `sentence` built with the walks taken together and one
// probe at a time agree element by element, and the numbers the probes
// give name one text each.
void expectSameGraph(const CDictionary& core, const std::string& sentence, std::map<uint32_t, std::string>& nodeTexts) {
    CSegGraph a;
    CSegGraph b;
    b.setWalksTogether(false);
    a.generateWordGraph(sentence, core);
    b.generateWordGraph(sentence, core);
    const CDynamicArray& x = a.graph();
    const CDynamicArray& y = b.graph();
    ASSERT_EQ(x.size(), y.size()) << U(sentence);
    ASSERT_EQ(a.wordNodes(), b.wordNodes()) << U(sentence);
    ASSERT_EQ(a.wordNodes().size(), x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        SCOPED_TRACE(U(sentence) + " element " + std::to_string(i));
        ASSERT_EQ(x[i].row, y[i].row);
        ASSERT_EQ(x[i].col, y[i].col);
        ASSERT_EQ(x[i].value, y[i].value);
        ASSERT_EQ(x[i].handle, y[i].handle);
        ASSERT_EQ(x[i].coreEntries, y[i].coreEntries);
        ASSERT_EQ(x[i].hasWord, y[i].hasWord);
        ASSERT_EQ(x.word(x[i]), y.word(y[i]));
        const uint32_t node = a.wordNodes()[i];
        if (node == WordPrefixTrie::kNone) continue;
        const auto [it, added] = nodeTexts.emplace(node, std::string(x.word(x[i])));
        ASSERT_EQ(it->second, x.word(x[i])) << "one number, two texts";
    }
}

std::string wrapped(const std::string& gbk) { return std::string(kSentenceBegin) + gbk + std::string(kSentenceEnd); }

}  // namespace

TEST(SentenceWalkTest, GraphsAgreeOnMadeUpWordsAndMixedAtoms) {
    // Words that share prefixes, words with ASCII, digits, blanks and
    // full-width characters inside, words that begin with a delimiter,
    // 月份 (whose probes leave 份 out), and characters without a cell
    // between them, so that walks stop and go on one probe at a time.
    CDictionary built = makeCore({{"中国", 50, kNoun},
                                  {"中国人", 30, kNoun},
                                  {"中国人民", 20, kNoun},
                                  {"中国人民银行", 9, kNoun},
                                  {"国人", 5, kNoun},
                                  {"人民", 40, kNoun},
                                  {"民银", 1, kNoun},
                                  {"月份", 7, kTime},
                                  {"月", 70, kTime},
                                  {"月中", 3, kTime},
                                  {"五月", 6, kTime},
                                  {"中a", 2, kNoun},
                                  {"中ab国", 2, kNoun},
                                  {"中１２", 2, kNoun},
                                  {"中 国", 2, kNoun},
                                  {"中，国", 2, kNoun},
                                  {"中〇国", 2, kNoun},
                                  {"，", 100, kNoun},
                                  {"，国", 4, kNoun},
                                  {"，国人", 3, kNoun},
                                  {"，a", 2, kNoun},
                                  {"中", 90, kNoun},
                                  {"国", 80, kNoun}});
    for (int handle = 1; handle <= 3; ++handle) built.addWord(G("人民"), handle * 256, handle);
    // The unassigned code D7 FA heads words of the delimiters' cell: D7 FA，
    // and ， have one key there, but are two texts.
    const std::string unassigned = "\xD7\xFA";
    built.addWord(unassigned + G("，"), kNoun, 6);
    built.addWord(unassigned + G("，国"), kNoun, 5);
    CDictionary core;
    ASSERT_TRUE(succeeded(core.loadFromBytes(built.serialize(), "made-up")));
    const std::vector<std::string> pieces = {G("中"), G("国"), G("人"), G("民"), G("银"), G("行"), G("月"),
                                             G("份"), G("五"), G("，"), G("〇"), G("１２"), "a",   "ab",
                                             " ",     "7",    "\x81\x40", "\xB0", "\xD7\xFA"};
    std::mt19937 rng(23);
    std::map<uint32_t, std::string> nodeTexts;
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        expectSameGraph(core, wrapped(text), nodeTexts);
        expectSameGraph(core, text, nodeTexts);  // without the markers
    }
    expectSameGraph(core, wrapped(G("中国人民银行五月份中国人")), nodeTexts);
    // A string that a lookup trims to a word again, after a word that
    // nothing longer begins with.
    expectSameGraph(core, wrapped(G("五，国人 中，国人 ")), nodeTexts);
}

TEST(SentenceWalkTest, GraphsAgreeOnTheBuiltData) {
    const std::string path = std::string(KESTREL_DATA_DIR) + "/coreDict.dct";
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) GTEST_SKIP() << "no data built in " << KESTREL_DATA_DIR;
    CDictionary core;
    ASSERT_TRUE(succeeded(core.load(path)));
    const std::vector<std::string> words = allWords(core);
    ASSERT_FALSE(words.empty());
    // Sentences of dictionary words run together (their walks reach deep),
    // of random ideographs, and of both with other characters between.
    std::mt19937 rng(29);
    auto ideograph = [&] {
        return std::string{static_cast<char>(0xB0 + rng() % 72), static_cast<char>(0xA1 + rng() % 94)};
    };
    const std::vector<std::string> others = {"a1", "2", G("，"), G("３"), " ", G("月份"), "\x81\x40"};
    std::map<uint32_t, std::string> nodeTexts;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 10) + 1;
        for (int i = 0; i < n; ++i) {
            const unsigned pick = rng() % 8;
            text += pick < 5 ? words[rng() % words.size()] : (pick < 7 ? ideograph() : others[rng() % others.size()]);
        }
        expectSameGraph(core, wrapped(text), nodeTexts);
    }
}
