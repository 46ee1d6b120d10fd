#include "segment/SegCorpusWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

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

std::string systemReason() { return std::strerror(errno); }

// Writes `content` to `name` in the directory `dirFd` through a temporary
// file renamed over it, so the file is the old one or the whole new one.
// Neither name is followed if it is a symbolic link: the temporary file is
// created anew, and the rename replaces a link instead of its target.
// Several threads may write at once, each its own file.
Status writeFileAt(int dirFd, const std::string& name, std::string_view content, const std::string& shown) {
    static std::atomic<unsigned> counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = "." + name + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        fd = openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Status::failure("cannot create " + shown + ": " + systemReason());
    bool ok = true;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fdatasync(fd) == 0;
    std::string reason = ok ? std::string() : systemReason();
    if (close(fd) != 0 && ok) {
        ok = false;
        reason = systemReason();
    }
    if (ok && renameat(dirFd, temp.c_str(), dirFd, name.c_str()) != 0) {
        ok = false;
        reason = systemReason();
    }
    if (!ok) {
        unlinkat(dirFd, temp.c_str(), 0);
        return Status::failure("cannot write " + shown + ": " + reason);
    }
    return Status::success();
}

}  // namespace

SegCorpusWriter::SegCorpusWriter(std::string dir) : dir_(withTrailingSlash(std::move(dir))) {}

SegCorpusWriter::~SegCorpusWriter() {
    if (dirFd_ >= 0) close(dirFd_);
}

Status SegCorpusWriter::open() {
    if (!makeDirectory(dir_)) return Status::failure("cannot create the directory " + displayPath(dir_));
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return Status::failure("cannot open the directory " + displayPath(dir_) + ": " + systemReason());
    return Status::success();
}

Status SegCorpusWriter::checkId(std::string_view id) {
    std::string category, title;
    if (splitId(id, category, title)) return Status::success();
    return Status::failure("the document id is not \"category/title\" or \"title\" (no further '/', no part that is "
                           "empty or starts with '.', no control character)");
}

Result<SegCorpusWriter::Claim> SegCorpusWriter::claim(std::string_view id, const std::string& shownId,
                                                      const std::string& where) {
    Claim claim;
    if (!splitId(id, claim.category, claim.file)) return checkId(id);
    claim.file += ".seg";
    const auto [seen, inserted] = firstSeen_.emplace(std::string(id), where);
    if (!inserted) return Status::failure("document " + shownId + " appeared before (" + seen->second + ")");
    if (!claim.category.empty() && mkdirat(dirFd_, claim.category.c_str(), 0777) != 0 && errno != EEXIST)
        return Status::failure("cannot create the directory " + displayPath(dir_ + claim.category) + ": " +
                               systemReason());
    return claim;
}

Status SegCorpusWriter::writeClaimed(const Claim& claim, std::string_view content) const {
    if (claim.category.empty()) return writeFileAt(dirFd_, claim.file, content, displayPath(dir_ + claim.file));
    const std::string shownFolder = displayPath(dir_ + claim.category);
    const int folder = openat(dirFd_, claim.category.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        const std::string reason = systemReason();
        struct stat info{};
        if (fstatat(dirFd_, claim.category.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            return Status::failure(shownFolder + " is a symbolic link, not a directory: nothing is written through it");
        return Status::failure("cannot open the directory " + shownFolder + ": " + reason);
    }
    const Status saved =
        writeFileAt(folder, claim.file, content, displayPath(dir_ + claim.category + "/" + claim.file));
    close(folder);
    return saved;
}

Status SegCorpusWriter::write(std::string_view id, const std::string& shownId, std::string_view content,
                              const std::string& where) {
    const Result<Claim> claimed = claim(id, shownId, where);
    return claimed ? writeClaimed(*claimed, content) : claimed.status();
}

}  // namespace kestrel
