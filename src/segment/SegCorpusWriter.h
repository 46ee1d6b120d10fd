#pragma once
// Writes the ".seg" files of segmented documents below one directory, laid
// out as a corpus that `kestrel train --format seg` reads: the id
// "category/title" becomes DIR/category/title.seg, the id "title"
// DIR/title.seg. Each id is written at most once, each file atomically
// (a temporary file renamed into place). Nothing is written outside the
// directory: it is opened once, and every category directory and file below
// it is opened relative to it without following symbolic links.
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/Status.h"

namespace kestrel {

class SegCorpusWriter {
public:
    // Where the file of a claimed id goes: its category's directory (empty
    // for none) and its file name there.
    struct Claim {
        std::string category;
        std::string file;
    };

    // `dir` is created when missing (see open()).
    explicit SegCorpusWriter(std::string dir);
    ~SegCorpusWriter();
    SegCorpusWriter(const SegCorpusWriter&) = delete;
    SegCorpusWriter& operator=(const SegCorpusWriter&) = delete;

    // Creates the directory when missing and opens it; a failure names it.
    Status open();

    // Fails when `id` (file-name bytes) cannot name a file of the corpus: it
    // is no "category/title" or "title", has a part that is empty or starts
    // with '.', or a control character.
    static Status checkId(std::string_view id);

    // Writes `content` (".seg" lines "word:count", GB18030) as the file of
    // `id`: claim() then writeClaimed(). Fails, writing nothing, when either
    // does.
    Status write(std::string_view id, const std::string& shownId, std::string_view content, const std::string& where);

    // The first half of write(), for one thread at a time: checks the id and
    // that it was not claimed before, and makes its category's directory.
    // `shownId` is the id as messages show it (UTF-8) and `where` names the
    // record for the message about a later record with the same id.
    Result<Claim> claim(std::string_view id, const std::string& shownId, const std::string& where);
    // The second half, safe from several threads at once: writes the file of
    // a claim. A category that is a symbolic link is refused; a link in place
    // of the file is replaced, its target left alone.
    Status writeClaimed(const Claim& claim, std::string_view content) const;

    const std::string& directory() const { return dir_; }

private:
    std::string dir_;
    int dirFd_ = -1;
    std::unordered_map<std::string, std::string> firstSeen_;  // id -> where its record was
};

}  // namespace kestrel
