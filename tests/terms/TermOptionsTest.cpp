// The written form of the term options and the term strings of each kind.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/Encoding.h"
#include "terms/TermOptions.h"
#include "terms/TermText.h"

using kestrel::TermKind;
using kestrel::TermOptions;

TEST(TermOptions, WrittenFormsReadBackInCanonicalOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"words", "words"},
        {"chars:2-3", "chars:2-3"},
        {"pairs,chars:1-2,words", "words,chars:1-2,pairs"},
        {" words , pairs ", "words,pairs"},
        {"chars:2-2", "chars:2"},
        {"chars:5", "chars:5"},
        {"pairs", "pairs"},
    };
    for (const auto& [written, canonical] : cases) {
        const auto options = TermOptions::parse(written);
        ASSERT_TRUE(options.ok()) << written << ": " << options.message();
        EXPECT_EQ(options->toString(), canonical) << written;
        const auto again = TermOptions::parse(options->toString());
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(*again, *options) << written;
    }
    const auto all = TermOptions::parse("words,chars:1-2,pairs");
    ASSERT_TRUE(all.ok());
    EXPECT_TRUE(all->words && all->pairs);
    EXPECT_EQ(all->charMin, 1);
    EXPECT_EQ(all->charMax, 2);
    EXPECT_FALSE(all->wordsOnly());
    EXPECT_TRUE(TermOptions::parse("words")->wordsOnly());
    EXPECT_FALSE(TermOptions::parse("chars:1")->words);
}

TEST(TermOptions, NonsenseIsRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no term kind"},
        {"  ", "no term kind"},
        {"chars:0-9", "1 to 5 characters"},
        {"chars:1-6", "1 to 5 characters"},
        {"chars:3-1", "the shorter length comes first (chars:1-3)"},
        {"chars", "e.g. chars:2 or chars:1-2"},
        {"chars:", "e.g. chars:2 or chars:1-2"},
        {"chars:1-", "e.g. chars:2 or chars:1-2"},
        {"chars:a-b", "e.g. chars:2 or chars:1-2"},
        {"chars:-1-2", "e.g. chars:2 or chars:1-2"},
        {"chars:99999999999", "e.g. chars:2 or chars:1-2"},
        {"words,,pairs", "an empty term kind"},
        {"words,", "an empty term kind"},
        {"words,pairs,words", "names a term kind twice"},
        {"chars:1,chars:2", "names a term kind twice"},
        {"word", "unknown term kind \"word\""},
        {"Words", "unknown term kind"},
    };
    for (const auto& [written, reason] : cases) {
        const auto options = TermOptions::parse(written);
        ASSERT_FALSE(options.ok()) << written;
        EXPECT_NE(options.message().find(reason), std::string::npos) << written << ": " << options.message();
    }
}

TEST(TermOptions, WorkspaceRecordRoundTripsAndItsAbsenceMeansWords) {
    const auto options = TermOptions::parse("chars:1-3,pairs,words");
    ASSERT_TRUE(options.ok());
    EXPECT_EQ(options->recordLine(), "words,chars:1-3,pairs # Terms\n");
    const auto read = TermOptions::fromRecord(options->recordLine());
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(*read, *options);
    // Written on another system: CR LF.
    EXPECT_EQ(*TermOptions::fromRecord("chars:2 # Terms\r\n"), *TermOptions::parse("chars:2"));

    for (const char* absent : {"", "\n", "  \r\n"}) {
        const auto words = TermOptions::fromRecord(absent);
        ASSERT_TRUE(words.ok());
        EXPECT_TRUE(words->wordsOnly());
        EXPECT_EQ(*words, TermOptions());
    }
    const auto damaged = TermOptions::fromRecord("chars:9 # Terms\n");
    ASSERT_FALSE(damaged.ok());
    EXPECT_NE(damaged.message().find("term record is damaged"), std::string::npos) << damaged.message();
}

TEST(TermText, EveryKindReadsBackAndLookalikeWordsStayWords) {
    const std::string china = kestrel::utf8ToGbk("中国"), people = kestrel::utf8ToGbk("人民");
    std::string characters, pair;
    kestrel::appendCharacterTerm(characters, china);
    kestrel::appendPairTerm(pair, china, people);
    EXPECT_EQ(characters, "#\xD6\xD0\xB9\xFA");
    EXPECT_EQ(pair, "\xD6\xD0\xB9\xFA+\xC8\xCB\xC3\xF1");

    const kestrel::TermParts word = kestrel::splitTerm(china);
    EXPECT_EQ(word.kind, TermKind::kWord);
    EXPECT_EQ(word.first, china);
    const kestrel::TermParts gram = kestrel::splitTerm(characters);
    EXPECT_EQ(gram.kind, TermKind::kCharacters);
    EXPECT_EQ(gram.first, china);
    const kestrel::TermParts joined = kestrel::splitTerm(pair);
    EXPECT_EQ(joined.kind, TermKind::kPair);
    EXPECT_EQ(joined.first, china);
    EXPECT_EQ(joined.second, people);

    // Words of another segmenter that hold the marks but are no well-formed
    // term of another kind.
    for (const char* lookalike : {"C++", "+", "#", "a+", "+a", "a#b", "#a+b", "a+b+c", "a+#b"}) {
        const kestrel::TermParts parts = kestrel::splitTerm(lookalike);
        EXPECT_EQ(parts.kind, TermKind::kWord) << lookalike;
        EXPECT_EQ(parts.first, lookalike);
    }
    // A full-width number sign is a character of its own, not the mark.
    EXPECT_EQ(kestrel::splitTerm(kestrel::utf8ToGbk("＃中国")).kind, TermKind::kWord);
}
