#pragma once
// The listing of a corpus: its categories and documents, each document a
// record of where it lies, made by one pass over each directory and handed
// to every stage that needs it, so that no stage lists the corpus again.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "common/Status.h"

namespace kestrel {

// A document found in a corpus: its directory (with '/'), the name it was
// listed under, its title (the name without its extension) and category
// (an index into the listing's categories; -1 in a flat corpus).
struct ListedDocument {
    std::string dir;
    std::string name;
    std::string title;
    int32_t category = -1;
    InputFormat format = InputFormat::RawText;
    // The file as listed: raw text, or the word list of a segmented corpus.
    std::string sourcePath() const { return dir + name; }
    // The word list: the listed file itself in a segmented corpus, else the
    // .seg file preprocessing writes beside the text.
    std::string segPath() const {
        return format == InputFormat::Preprocessed ? sourcePath() : dir + title + ".seg";
    }
};

struct CorpusListing {
    std::string root;  // with '/'
    InputFormat format = InputFormat::RawText;
    bool categorised = false;  // one sub-directory per category
    // Sub-directory names in byte order (a categorised corpus); empty in a
    // flat one.
    std::vector<std::string> categories;
    // How many of them had their documents listed (the first ones).
    size_t listedCategories = 0;
    // By category, then by name.
    std::vector<ListedDocument> documents;
    // Entries that could not be listed, names that cannot stand on a line.
    std::vector<std::string> warnings;
    // Documents in the first `categoryLimit` categories.
    uint32_t documentCount(uint32_t categoryLimit = UINT32_MAX) const;
    bool lists(const std::string& dir, InputFormat f, bool byCategory) const {
        return root == dir && format == f && categorised == byCategory;
    }
};

// Appends the documents of `dir` in the format's pattern to `out`, sorted by
// name; temporary .seg files of a killed run are removed in the same pass. A
// name that cannot stand on one line of result.dat is skipped with a warning.
void listCorpusDirectory(const std::string& dir, InputFormat format, int32_t category,
                         std::vector<ListedDocument>& out, std::vector<std::string>& warnings);

// A corpus with one sub-directory per category: the sub-directories of
// `root`, and the documents of the first `categoryLimit` of them. Fails when
// `root` cannot be listed.
Result<CorpusListing> listCategorisedCorpus(const std::string& root, InputFormat format,
                                            uint32_t categoryLimit = UINT32_MAX);

// A corpus of documents directly in `root`.
CorpusListing listFlatCorpus(const std::string& root, InputFormat format);

// The documents of `listing` in the categories named by `categories`, in
// that table's order, each with its id in that table; a category the
// listing does not hold is listed on its own (or warned about).
std::vector<ListedDocument> documentsOfCategories(const CorpusListing& listing, const CategoryTable& categories,
                                                  uint32_t categoryLimit, std::vector<std::string>& warnings);

// `given` when it lists `root` (categorised, in `format`, its first
// `categoryLimit` categories at least), else a new listing.
Result<std::shared_ptr<const CorpusListing>> categorisedListing(std::shared_ptr<const CorpusListing> given,
                                                                const std::string& root, InputFormat format,
                                                                uint32_t categoryLimit);

// The documents to classify in `root`: with `test`, those of its
// directories named like the trained categories (with their ids), else
// those directly in it. `given` serves when it lists that corpus that way;
// otherwise the directories are listed here. The listing's warnings go to
// `warnings`.
std::vector<ListedDocument> documentsToClassify(const CorpusListing* given, const std::string& root,
                                                InputFormat format, bool test, const CategoryTable& categories,
                                                uint32_t categoryCount, std::vector<std::string>& warnings);

}  // namespace kestrel
