#include "pipeline/CorpusListing.h"

#include <algorithm>

#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

uint32_t CorpusListing::documentCount(uint32_t categoryLimit) const {
    return static_cast<uint32_t>(std::count_if(documents.begin(), documents.end(), [&](const ListedDocument& d) {
        return d.category < 0 || static_cast<uint32_t>(d.category) < categoryLimit;
    }));
}

void listCorpusDirectory(const std::string& dir, InputFormat format, int32_t category,
                         std::vector<ListedDocument>& out, std::vector<std::string>& warnings) {
    // Temporary .seg files of a killed run are not documents; they go.
    const auto names = listFilesRemovingStale(dir, documentExtension(format), ".seg", &warnings);
    if (!names) warnings.push_back(names.message());
    for (const auto& name : names.valueOr({})) {
        if (!fitsOnALine(name)) {
            // result.dat could not hold its name on one line.
            warnings.push_back("the document \"" + displayPath(name) + "\" in " + displayPath(dir) +
                               " has a line break or control character in its name; skipped");
            continue;
        }
        out.push_back({dir, name, fileTitle(name), category, format});
    }
}

Result<CorpusListing> listCategorisedCorpus(const std::string& root, InputFormat format, uint32_t categoryLimit) {
    CorpusListing listing;
    listing.root = withTrailingSlash(root);
    listing.format = format;
    listing.categorised = true;
    auto names = listSubdirectories(listing.root, &listing.warnings);
    if (!names) return names.status();
    listing.categories = std::move(*names);
    const size_t listed = std::min<size_t>(categoryLimit, listing.categories.size());
    listing.listedCategories = listed;
    for (size_t c = 0; c < listed; ++c)
        listCorpusDirectory(listing.root + listing.categories[c] + "/", format, static_cast<int32_t>(c),
                            listing.documents, listing.warnings);
    return listing;
}

CorpusListing listFlatCorpus(const std::string& root, InputFormat format) {
    CorpusListing listing;
    listing.root = withTrailingSlash(root);
    listing.format = format;
    listCorpusDirectory(listing.root, format, -1, listing.documents, listing.warnings);
    return listing;
}

std::vector<ListedDocument> documentsOfCategories(const CorpusListing& listing, const CategoryTable& categories,
                                                  uint32_t categoryLimit, std::vector<std::string>& warnings) {
    // Where each listed category's documents begin and end (they are
    // listed category by category).
    std::vector<std::pair<size_t, size_t>> ranges(listing.categories.size(), {0, 0});
    for (size_t n = 0; n < listing.documents.size(); ++n) {
        const int32_t c = listing.documents[n].category;
        if (c < 0) continue;
        auto& range = ranges[static_cast<size_t>(c)];
        if (range.first == range.second) range.first = n;
        range.second = n + 1;
    }
    std::vector<ListedDocument> out;
    for (uint32_t id = 0; id < categoryLimit && id < categories.size(); ++id) {
        const auto found = std::lower_bound(listing.categories.begin(), listing.categories.end(), categories[id].name);
        const auto index = static_cast<size_t>(found - listing.categories.begin());
        if (index >= listing.listedCategories || *found != categories[id].name) {
            // Not a sub-directory the listing saw: say why it holds nothing.
            listCorpusDirectory(listing.root + categories[id].name + "/", listing.format, static_cast<int32_t>(id),
                                out, warnings);
            continue;
        }
        const auto range = ranges[index];
        for (size_t n = range.first; n < range.second; ++n) {
            out.push_back(listing.documents[n]);
            out.back().category = static_cast<int32_t>(id);
        }
    }
    return out;
}

Result<std::shared_ptr<const CorpusListing>> categorisedListing(std::shared_ptr<const CorpusListing> given,
                                                                const std::string& root, InputFormat format,
                                                                uint32_t categoryLimit) {
    if (given && given->lists(root, format, true) &&
        given->listedCategories >= std::min<size_t>(categoryLimit, given->categories.size()))
        return given;
    Result<CorpusListing> listed = listCategorisedCorpus(root, format, categoryLimit);
    if (!listed) return listed.status();
    return std::shared_ptr<const CorpusListing>(std::make_shared<CorpusListing>(std::move(*listed)));
}

std::vector<ListedDocument> documentsToClassify(const CorpusListing* given, const std::string& root,
                                                InputFormat format, bool test, const CategoryTable& categories,
                                                uint32_t categoryCount, std::vector<std::string>& warnings) {
    CorpusListing own;
    if (!given || !given->lists(root, format, test)) {
        // A test corpus's category directories are then listed one by one
        // as the categories ask for them.
        if (test) {
            own.root = root;
            own.format = format;
            own.categorised = true;
        } else {
            own = listFlatCorpus(root, format);
        }
        given = &own;
    }
    warnings.insert(warnings.end(), given->warnings.begin(), given->warnings.end());
    if (!test) return given->documents;
    return documentsOfCategories(*given, categories, categoryCount, warnings);
}

}  // namespace kestrel
