// The one table of words per parameter value: every word and every code of a
// value reads back as that value, and names round-trip through the parsers.
#include <gtest/gtest.h>

#include "workspace/ParameterNames.h"

using namespace kestrel;

namespace {

// Every choice reads back through `parse`, and every value's name is one of
// its words.
template <class T, class Parse, class Name>
void expectConsistent(const ChoiceWords<T>& choices, Parse parse, Name name) {
    ASSERT_FALSE(choices.empty());
    for (const auto& [word, value] : choices) {
        const auto parsed = parse(word);
        ASSERT_TRUE(parsed.has_value()) << word;
        EXPECT_EQ(*parsed, value) << word;
        EXPECT_EQ(parse(name(value)), value) << word;
    }
}

}  // namespace

TEST(ParameterNames, EveryWordAndCodeReadsAsItsValue) {
    expectConsistent(kernelChoices(), parseKernel, kernelName);
    expectConsistent(selectionChoices(), parseSelection, selectionName);
    expectConsistent(classifierChoices(), parseClassifier, classifierName);
    expectConsistent(similarityChoices(), parseSimilarity, similarityName);

    EXPECT_EQ(parseKernel("polynomial"), kPolynomialKernel);
    EXPECT_EQ(parseKernel("poly"), kPolynomialKernel);
    EXPECT_EQ(parseKernel("1"), kPolynomialKernel);
    EXPECT_STREQ(kernelName(kPolynomialKernel), "poly");
    EXPECT_EQ(parseSelection("3"), kRs);
    EXPECT_EQ(parseSimilarity("2"), Similarity::Euclidean);
    EXPECT_EQ(parseClassifier("1"), ClassifierKind::Svm);
}

TEST(ParameterNames, OtherWordsAndCodesAreRefused) {
    for (const char* word : {"", "cubic", "4", "-1", "01", " 1", "Poly", "LINEAR"})
        EXPECT_FALSE(parseKernel(word).has_value()) << word;
    for (const char* word : {"pca", "4", "CHI"}) EXPECT_FALSE(parseSelection(word).has_value()) << word;
    EXPECT_FALSE(parseSimilarity("3").has_value());
    EXPECT_FALSE(parseClassifier("bayes").has_value());
    // Out-of-range codes are named as the first value, never read past the table.
    EXPECT_STREQ(kernelName(9), "linear");
    EXPECT_STREQ(kernelCaption(-1), kernelCaption(kLinearKernel));
}
