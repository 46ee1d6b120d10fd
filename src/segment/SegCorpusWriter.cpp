#include "segment/SegCorpusWriter.h"

#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

// The category (empty for a corpus without categories) and title of an id;
// false when the id cannot name a file of a corpus: a further '/', a part
// that is empty or starts with '.', or a control character.
bool splitId(std::string_view id, std::string& category, std::string& title) {
    const size_t slash = id.find('/');
    category = slash == std::string_view::npos ? std::string() : std::string(id.substr(0, slash));
    title = std::string(slash == std::string_view::npos ? id : id.substr(slash + 1));
    auto fine = [](const std::string& part) { return !part.empty() && part[0] != '.'; };
    return fitsOnALine(id) && title.find('/') == std::string::npos && fine(title) &&
           (slash == std::string_view::npos || fine(category));
}

}  // namespace

SegCorpusWriter::SegCorpusWriter(std::string dir) : dir_(withTrailingSlash(std::move(dir))) {}

Status SegCorpusWriter::create() const {
    if (!makeDirectory(dir_)) return Status::failure("cannot create the directory " + displayPath(dir_));
    return Status::success();
}

Result<std::string> SegCorpusWriter::claim(std::string_view id, const std::string& shownId, const std::string& where) {
    std::string category, title;
    if (!splitId(id, category, title))
        return Status::failure("the document id is not \"category/title\" or \"title\" (no further '/', no part that "
                               "is empty or starts with '.', no control character)");
    const auto [seen, inserted] = firstSeen_.emplace(std::string(id), where);
    if (!inserted) return Status::failure("document " + shownId + " appeared before (" + seen->second + ")");
    const std::string folder = category.empty() ? dir_ : dir_ + category + "/";
    if (!makeDirectory(folder)) return Status::failure("cannot create the directory " + displayPath(folder));
    return folder + title + ".seg";
}

Status SegCorpusWriter::write(std::string_view id, const std::string& shownId, std::string_view content,
                              const std::string& where) {
    const Result<std::string> path = claim(id, shownId, where);
    if (!path) return path.status();
    const Status saved = writeFileAtomically(*path, content);
    return saved ? saved : Status::failure(toUtf8(saved.message()));
}

}  // namespace kestrel
