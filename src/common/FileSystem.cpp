#include "common/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        const auto a = static_cast<unsigned char>(tail[i]);
        const auto b = static_cast<unsigned char>(suffix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

// Why the entry at `full`, whose type could not be found (`why`), is left
// out.
std::string unlistableEntry(const std::string& full, std::error_code why) {
    if (why.value() == ELOOP) return "skipped " + full + ": the symbolic link loops";
    std::error_code ec;
    if (why.value() == ENOENT && fs::is_symlink(fs::symlink_status(full, ec))) {
        const fs::path target = fs::read_symlink(full, ec);
        return "skipped " + full + ": the symbolic link points to nothing" +
               (!ec && !target.empty() ? " (" + target.string() + ")" : std::string());
    }
    return "skipped " + full + ": " + std::strerror(why.value());
}

// Lists entries of `dir`, keeping those for which `keep(name, isDir)` holds.
// Hidden names go to `hidden` when it is given.
template <typename Keep>
Result<std::vector<std::string>> listEntries(const std::string& dir, Keep keep, std::vector<std::string>* skipped,
                                             std::vector<std::string>* hidden = nullptr) {
    const std::string base = withTrailingSlash(dir);
    std::error_code ec;
    fs::directory_iterator entries(base, ec);
    if (ec) return Status::failure("cannot read directory " + base + ": " + std::strerror(ec.value()));
    std::vector<std::string> names;
    for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
        const std::string name = entries->path().filename().string();
        if (name.empty()) continue;
        if (name[0] == '.') {
            if (hidden) hidden->push_back(name);
            continue;
        }
        // The type read with the entry serves; only links are followed.
        std::error_code typeError;
        const bool isDir = entries->is_directory(typeError);
        const bool isFile = !typeError && !isDir && entries->is_regular_file(typeError);
        if (typeError) {
            // A looping or dangling link that would have been listed is
            // reported rather than silently missing.
            if (skipped && (keep(name, false) || keep(name, true)))
                skipped->push_back(unlistableEntry(base + name, typeError));
            continue;
        }
        if ((isDir || isFile) && keep(name, isDir)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The process id in a temporary file's tag ("<pid>-XXXXXX"; 0 for the
// "XXXXXX" of older writers); false when the tag is not one of ours.
bool temporaryTagPid(std::string_view tag, long& pid) {
    auto randomPart = [](std::string_view part) {
        return part.size() == 6 && std::all_of(part.begin(), part.end(), [](char c) {
                   return std::isalnum(static_cast<unsigned char>(c)) != 0;
               });
    };
    pid = 0;
    if (randomPart(tag)) return true;
    const size_t dash = tag.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 10 || !randomPart(tag.substr(dash + 1))) return false;
    for (const char c : tag.substr(0, dash)) {
        if (c < '0' || c > '9') return false;
        pid = pid * 10 + (c - '0');
    }
    return pid > 0;
}

// Whether `name` is a temporary file (".<target>.tmp<tag>") of a writer that
// no longer runs, for a target ending with `targetSuffix` (any when empty).
bool isStaleTemporary(std::string_view name, std::string_view targetSuffix) {
    const size_t tmp = name.rfind(".tmp");
    if (name.size() < 2 || name[0] != '.' || tmp == std::string_view::npos || tmp < 2) return false;
    long pid;
    if (!temporaryTagPid(name.substr(tmp + 4), pid)) return false;
    if (!targetSuffix.empty() && !endsWithIgnoringCase(name.substr(1, tmp - 1), targetSuffix)) return false;
    // Files of this process or of a running writer are in use.
    return pid != static_cast<long>(getpid()) && !(pid > 0 && processRunning(pid));
}

// Removes the stale temporary files among the entry names of `base`;
// returns how many.
size_t removeStaleAmong(const std::string& base, const std::vector<std::string>& names,
                        std::string_view targetSuffix) {
    size_t removed = 0;
    std::error_code ec;
    for (const auto& name : names) {
        if (!isStaleTemporary(name, targetSuffix)) continue;
        const std::string full = base + name;
        if (fs::is_regular_file(fs::symlink_status(full, ec)) && unlink(full.c_str()) == 0) ++removed;
    }
    return removed;
}

bool hasExtension(std::string_view name, bool isDir, std::string_view extension) {
    return !isDir && name.size() > extension.size() && endsWithIgnoringCase(name, extension);
}

}  // namespace

bool processRunning(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

std::string withTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

std::string fileTitle(std::string_view fileName) {
    const size_t slash = fileName.rfind('/');
    if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(fileName);
    return std::string(fileName.substr(0, dot));
}

Result<std::vector<std::string>> listFiles(const std::string& dir, std::string_view extension,
                                           std::vector<std::string>* skipped) {
    return listEntries(
        dir, [&](std::string_view name, bool isDir) { return hasExtension(name, isDir, extension); }, skipped);
}

Result<std::vector<std::string>> listFilesRemovingStale(const std::string& dir, std::string_view extension,
                                                        std::string_view staleSuffix,
                                                        std::vector<std::string>* skipped) {
    std::vector<std::string> hidden;
    auto names = listEntries(
        dir, [&](std::string_view name, bool isDir) { return hasExtension(name, isDir, extension); }, skipped,
        &hidden);
    if (names) removeStaleAmong(withTrailingSlash(dir), hidden, staleSuffix);
    return names;
}

Result<std::vector<std::string>> listSubdirectories(const std::string& dir, std::vector<std::string>* skipped) {
    return listEntries(dir, [](std::string_view, bool isDir) { return isDir; }, skipped);
}

bool fitsOnALine(std::string_view name) {
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool removeFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool makeDirectory(const std::string& path) {
    std::error_code ec;
    return fs::create_directory(path, ec) || isDirectory(path);
}

bool isInsideDirectory(const std::string& path, const std::string& dir) {
    auto resolved = [](std::string p) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        std::string tail;
        // A path that does not exist yet is resolved through its parent.
        for (;;) {
            if (char* r = realpath(p.c_str(), nullptr)) {
                std::string full = withTrailingSlash(r) + tail;
                std::free(r);
                return withTrailingSlash(full);
            }
            if (errno != ENOENT) return std::string();
            const size_t slash = p.rfind('/');
            tail = (slash == std::string::npos ? p : p.substr(slash + 1)) + (tail.empty() ? "" : "/" + tail);
            p = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : p.substr(0, slash);
        }
    };
    const std::string p = resolved(path), d = resolved(dir);
    return !p.empty() && !d.empty() && p.compare(0, d.size(), d) == 0;
}

bool syncDirectory(const std::string& dir) {
    const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

size_t removeStaleTemporaryFiles(const std::string& dir, std::string_view targetSuffix) {
    const std::string base = withTrailingSlash(dir);
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator entries(base, ec); !ec && entries != fs::directory_iterator(); entries.increment(ec))
        names.push_back(entries->path().filename().string());
    return removeStaleAmong(base, names, targetSuffix);
}

Result<FileChecksum> fileChecksum(const std::string& path) {
    FileChecksum checksum;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::failure(systemError("cannot open", path));
    uLong sum = crc32(0L, Z_NULL, 0);
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const Status failed = Status::failure(systemError("cannot read", path));
            close(fd);
            return failed;
        }
        sum = crc32_z(sum, buffer.data(), static_cast<size_t>(n));
        checksum.size += static_cast<uint64_t>(n);
    }
    close(fd);
    checksum.crc = static_cast<uint32_t>(sum);
    return checksum;
}

Result<std::string> readFile(const std::string& path) {
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::failure(systemError("cannot open", path));
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const Status failed = Status::failure(systemError("cannot read", path));
        close(fd);
        return failed;
    }
    if (S_ISDIR(st.st_mode)) {
        close(fd);
        return Status::failure("cannot read " + path + ": it is a directory");
    }
    if (st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const Status failed = Status::failure(systemError("cannot read", path));
            close(fd);
            return failed;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return content;
}

void forEachLine(std::string_view text, const std::function<void(std::string_view)>& fn) {
    size_t start = 0;
    size_t end = 0;  // the next '\n' at or after start (or the end of the text)
    bool endKnown = false;
    while (start < text.size()) {
        // Two memchr scans are much faster than testing every byte for both.
        if (!endKnown || end < start) {
            end = text.find('\n', start);
            if (end == std::string_view::npos) end = text.size();
            endKnown = true;
        }
        const size_t cr = text.substr(start, end - start).find('\r');
        if (cr != std::string_view::npos && start + cr + 1 < end) {
            fn(text.substr(start, cr));  // a lone CR
            start += cr + 1;
            continue;
        }
        fn(text.substr(start, cr != std::string_view::npos ? cr : end - start));
        start = end + 1;
    }
}

LineSpan lineAt(std::string_view text, size_t start) {
    // One pass up to the first line-end byte: searching for LF first would
    // rescan the rest of a text whose lines end in lone CRs for every line.
    size_t i = start;
    while (i < text.size() && text[i] != '\n' && text[i] != '\r') ++i;
    if (i == text.size()) return {i, i};
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') return {i, i + 2};  // CR LF
    return {i, i + 1};
}

Result<std::vector<std::string>> readLines(const std::string& path) {
    const Result<std::string> content = readFile(path);
    if (!content) return content.status();
    std::vector<std::string> lines;
    forEachLine(*content, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

AtomicFileWriter::AtomicFileWriter(std::string path) : path_(std::move(path)) {
    const size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::string pattern = dir + "." + name + ".tmp" + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    fd_ = mkstemp(buf.data());
    if (fd_ < 0) {
        error_ = systemError("cannot create", path_);
        failed_ = true;
        return;
    }
    tempPath_ = buf.data();
    // mkstemp creates 0600; workspace files are ordinary user files.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        close(fd_);
        unlink(tempPath_.c_str());
    }
}

void AtomicFileWriter::write(std::string_view data) {
    if (failed_) return;
    if (data.size() >= (1u << 16)) {
        // Large pieces go straight to the file instead of through the buffer.
        flush();
        writeAll(data);
        return;
    }
    buffer_.append(data);
    if (buffer_.size() >= (1u << 16)) flush();
}

void AtomicFileWriter::writeAll(std::string_view data) {
    size_t done = 0;
    while (!failed_ && done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = systemError("cannot write", path_);
            failed_ = true;
            break;
        }
        done += static_cast<size_t>(n);
    }
}

void AtomicFileWriter::flush() {
    writeAll(buffer_);
    buffer_.clear();
}

Status AtomicFileWriter::commit() {
    if (fd_ < 0) return Status::failure(failed_ ? error_ : "cannot write " + path_);
    flush();
    if (!failed_ && fdatasync(fd_) != 0) {
        error_ = systemError("cannot write", path_);
        failed_ = true;
    }
    if (close(fd_) != 0 && !failed_) {
        error_ = systemError("cannot write", path_);
        failed_ = true;
    }
    fd_ = -1;
    if (!failed_ && rename(tempPath_.c_str(), path_.c_str()) != 0) {
        error_ = systemError("cannot replace", path_);
        failed_ = true;
    }
    if (failed_) {
        unlink(tempPath_.c_str());
        return Status::failure(error_);
    }
    return Status();
}

Status writeFileAtomically(const std::string& path, std::string_view content) {
    AtomicFileWriter writer(path);
    writer.write(content);
    return writer.commit();
}

}  // namespace kestrel
