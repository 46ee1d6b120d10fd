#include "cli/SegUnpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>

#include "cli/RecordReader.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

// Where the ".seg" file of a record goes below the output directory: the id
// is "category/title" (or "title" for a corpus without categories).
bool segPathOf(std::string_view id, std::string& category, std::string& title, std::string& why) {
    const size_t slash = id.find('/');
    category = slash == std::string_view::npos ? std::string() : std::string(id.substr(0, slash));
    title = std::string(slash == std::string_view::npos ? id : id.substr(slash + 1));
    auto fine = [](const std::string& part) { return !part.empty() && part != "." && part != ".." && part[0] != '.'; };
    if (!fitsOnALine(id) || title.find('/') != std::string::npos || !fine(title) ||
        (slash != std::string_view::npos && !fine(category))) {
        why = "the document id is not \"category/title\" or \"title\" (no further '/', no part that is empty or "
              "starts with '.', no control character)";
        return false;
    }
    return true;
}

// The ".seg" content of the "word:count word:count ..." part of a record.
bool segContent(std::string_view counts, StreamEncoding encoding, std::string& content, std::string& why) {
    content.clear();
    size_t start = 0;
    while (start < counts.size()) {
        size_t end = counts.find(' ', start);
        if (end == std::string_view::npos) end = counts.size();
        const std::string_view entry = counts.substr(start, end - start);
        const size_t colon = entry.rfind(':');
        const std::string_view count = colon == std::string_view::npos ? std::string_view() : entry.substr(colon + 1);
        uint32_t value = 0;
        const auto [last, problem] = std::from_chars(count.data(), count.data() + count.size(), value);
        const bool number = !count.empty() && problem == std::errc() && last == count.data() + count.size() && value > 0;
        if (colon == 0 || !number) {
            why = "\"" + (encoding == StreamEncoding::kUtf8 ? displayPath(entry) : displayPath(gbkToUtf8(entry))) +
                  "\" is not an entry word:count with a count of at least 1";
            return false;
        }
        const std::string_view word = entry.substr(0, colon);
        content += encoding == StreamEncoding::kUtf8 ? utf8ToGbk(word) : std::string(word);
        content += ':';
        content += std::to_string(value);
        content += '\n';
        start = end + 1;
    }
    return true;
}

std::string systemReason() { return std::strerror(errno); }

// Writes `content` to `name` in the directory `dirFd` through a temporary
// file renamed over it, so the file is the old one or the whole new one.
// Neither name is followed if it is a symbolic link: the temporary file is
// created anew, and the rename replaces a link instead of its target.
Status writeFileAt(int dirFd, const std::string& name, std::string_view content, const std::string& shown) {
    static unsigned counter = 0;
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

SegUnpacker::~SegUnpacker() {
    if (dirFd_ >= 0) close(dirFd_);
}

Status SegUnpacker::open() {
    dir_ = withTrailingSlash(dir_);
    if (!makeDirectory(dir_)) return Status::failure("cannot create the directory " + displayPath(dir_));
    dirFd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) return Status::failure("cannot open the directory " + displayPath(dir_) + ": " + systemReason());
    return Status::success();
}

Status SegUnpacker::write(const std::string& category, const std::string& title, std::string_view content) {
    const std::string file = title + ".seg";
    if (category.empty()) return writeFileAt(dirFd_, file, content, displayPath(dir_ + file));
    const std::string shownFolder = displayPath(dir_ + category);
    if (mkdirat(dirFd_, category.c_str(), 0777) != 0 && errno != EEXIST)
        return Status::failure("cannot create the directory " + shownFolder + ": " + systemReason());
    const int folder = openat(dirFd_, category.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) {
        struct stat info{};
        if (fstatat(dirFd_, category.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            return Status::failure(shownFolder + " is a symbolic link, not a directory: nothing is written through it");
        return Status::failure("cannot open the directory " + shownFolder + ": " + systemReason());
    }
    const Status saved = writeFileAt(folder, file, content, displayPath(dir_ + category + "/" + file));
    close(folder);
    return saved;
}

Status SegUnpacker::unpack(std::string_view line, const std::string& where) {
    std::string_view id, counts;
    std::string category, title, content, why;
    if (!splitRecord(line, encoding_, id, counts, why) || !segPathOf(id, category, title, why) ||
        !segContent(counts, encoding_, content, why))
        return Status::failure(why);
    const auto [seen, inserted] = firstSeen_.emplace(std::string(id), where);
    if (!inserted)
        return Status::failure("document " + shownId(id, encoding_) + " appeared before (" + seen->second + ")");
    const Status saved = write(category, title, content);
    if (saved) ++written_;
    return saved ? saved : Status::failure(toUtf8(saved.message()));
}

bool unpackRecords(SegUnpacker& unpacker, std::FILE* in, const std::string& inputName, const std::string& source,
                   std::FILE* messages) {
    const auto report = [messages](const std::string& message) {
        std::fprintf(messages, "kestrel unpack-seg: %s\n", message.c_str());
    };
    RecordReader reader(in, inputName);
    bool ok = true;
    std::string line;
    for (;;) {
        const RecordReader::Outcome outcome = reader.next(line);
        if (outcome == RecordReader::Outcome::kEnd) break;
        if (outcome == RecordReader::Outcome::kError) {
            report(reader.error());
            return false;
        }
        const std::string where = source + "line " + std::to_string(reader.lineNumber());
        Status unpacked;
        if (outcome == RecordReader::Outcome::kTooLong) {
            unpacked = Status::failure("a record longer than " + std::to_string(reader.maxBytes() >> 20) +
                                       " MB, written nowhere");
        } else if (reader.unterminated()) {
            unpacked = Status::failure("the last record has no newline: it was cut off, and is written nowhere");
        } else {
            try {
                unpacked = unpacker.unpack(line, where);
            } catch (const std::bad_alloc&) {
                unpacked = Status::failure("not enough memory for this record, written nowhere");
            }
        }
        if (!unpacked) {
            report(where + ": " + unpacked.message());
            ok = false;
        }
    }
    return ok;
}

}  // namespace kestrel
