#pragma once
// Writes the ".seg" files of segmented documents below one directory, laid
// out as a corpus that `kestrel train --format seg` reads: the id
// "category/title" becomes DIR/category/title.seg, the id "title"
// DIR/title.seg. Each id is written at most once, each file atomically
// (a temporary file renamed into place).
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/Status.h"

namespace kestrel {

class SegCorpusWriter {
public:
    // `dir` is created when missing (see create()).
    explicit SegCorpusWriter(std::string dir);

    // Creates the directory; a failure names it.
    Status create() const;

    // Writes `content` (".seg" lines "word:count", GB18030) as the file of
    // `id` (file-name bytes). `shownId` is the id as messages show it (UTF-8)
    // and `where` names the record for the message about a later record with
    // the same id. Fails, writing nothing, when the id is no "category/title"
    // or "title", was written before, or the file cannot be written.
    Status write(std::string_view id, const std::string& shownId, std::string_view content, const std::string& where);

    // The first half of write(): checks the id and makes its category's
    // directory, and gives the path of its file, to be written (by any
    // thread) with writeFileAtomically.
    Result<std::string> claim(std::string_view id, const std::string& shownId, const std::string& where);

    const std::string& directory() const { return dir_; }

private:
    std::string dir_;
    std::unordered_map<std::string, std::string> firstSeen_;  // id -> where its record was
};

}  // namespace kestrel
