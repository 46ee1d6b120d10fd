#include "workspace/WorkspaceTransaction.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "workspace/WorkspaceFiles.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

constexpr std::string_view kManifestHeader = "Kestrel workspace manifest 1";
constexpr const char* kStagingName = ".kestrel-staging/";
constexpr const char* kCommittedName = ".kestrel-commit/";
constexpr const char* kLockName = ".kestrel.lock";

std::string systemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// The workspace files present in `dir`, sorted.
std::vector<std::string> workspaceFilesIn(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* e = readdir(d)) {
        const std::string_view name = e->d_name;
        struct stat st;
        if (isWorkspaceFileName(name) && lstat((dir + std::string(name)).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a flat directory and everything in it.
void removeDirectory(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        std::vector<std::string> names;
        while (const dirent* e = readdir(d)) {
            const std::string_view name = e->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
        closedir(d);
        for (const auto& name : names) unlink((dir + name).c_str());
    }
    rmdir(dir.c_str());
}

bool syncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// A copy of `from` at `to` (where a file system has no hard links).
Status copyFile(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return Status::failure(systemError("cannot open", from));
    }
    AtomicFileWriter out(to);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const Status failed = Status::failure(systemError("cannot read", from));
            close(in);
            return failed;
        }
        out.write(std::string_view(buffer.data(), static_cast<size_t>(n)));
    }
    close(in);
    return out.commit();
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

}  // namespace

const ManifestEntry* WorkspaceManifest::find(std::string_view name) const {
    for (const auto& entry : files)
        if (entry.name == name) return &entry;
    return nullptr;
}

std::string manifestText(const WorkspaceManifest& manifest) {
    std::string text(kManifestHeader);
    text += "\nrun " + manifest.run + "\n";
    for (const auto& f : manifest.files)
        text += fmt::format("{} {:08x} ", f.size, f.crc) + f.name + "\n";
    return text;
}

Result<WorkspaceManifest> parseManifest(std::string_view text) {
    WorkspaceManifest manifest;
    size_t number = 0;
    bool ok = true;
    forEachLine(text, [&](std::string_view line) {
        ++number;
        if (!ok) return;
        if (number == 1) {
            ok = line == kManifestHeader;
        } else if (number == 2) {
            ok = line.starts_with("run ");
            if (ok) manifest.run = std::string(line.substr(4));
        } else {
            ManifestEntry entry;
            unsigned long long size = 0;
            unsigned crc = 0;
            int used = 0;
            const std::string copy(line);
            ok = std::sscanf(copy.c_str(), "%llu %8x %n", &size, &crc, &used) == 2 && used > 0 &&
                 static_cast<size_t>(used) < copy.size();
            if (!ok) return;
            entry.name = copy.substr(static_cast<size_t>(used));
            entry.size = size;
            entry.crc = crc;
            ok = isWorkspaceFileName(entry.name);
            if (ok) manifest.files.push_back(std::move(entry));
        }
    });
    if (!ok || number < 2)
        return Status::failure(fmt::format("line {} is not a line of a workspace manifest", std::max<size_t>(number, 1)));
    return manifest;
}

bool isWorkspaceFileName(std::string_view name) {
    static const char* const kFixed[] = {"classes.txt", "features.txt", "fsinfo.dat", "params.dat", "train.dat",
                                         "test.dat",    "example.dat",  "result.dat"};
    for (const char* fixed : kFixed)
        if (name == fixed) return true;
    if (name == kEvaluationWorkbookName) return true;
    // The record of what a raw corpus's vectors were made from travels with them.
    if (name == "test.dat.source" || name == "example.dat.source") return true;
    if (name.size() > 9 && name.starts_with("model") && name.ends_with(".mdl")) {
        const std::string_view digits = name.substr(5, name.size() - 9);
        return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return false;
}

WorkspaceTransaction::WorkspaceTransaction(std::string workspace)
    : workspace_(withTrailingSlash(std::move(workspace))),
      staging_(workspace_ + kStagingName),
      committed_(workspace_ + kCommittedName) {}

WorkspaceTransaction::~WorkspaceTransaction() { release(); }

Status WorkspaceTransaction::begin(const std::string& run) {
    abandon();
    if (!isDirectory(workspace_)) {
        return Status::failure("the workspace directory " + workspace_ + " does not exist or cannot be read");
    }
    if (!lock_.locked()) {
        if (const Status locked = lock_.tryLock(workspace_ + kLockName); !locked)
            return Status::failure("the workspace " + workspace_ + " is " + locked.message() +
                                   "; wait until it has finished");
    }
    // What a killed run left: a committed update is completed, a staged one
    // discarded, temporary files removed.
    if (isDirectory(committed_)) {
        if (Status applied = applyCommitted(); !applied) return applied;
    }
    if (isDirectory(staging_)) removeDirectory(staging_);
    removeStaleTemporaryFiles(workspace_);
    if (DIR* d = opendir(workspace_.c_str())) {
        std::vector<std::string> leftovers;
        while (const dirent* e = readdir(d)) {
            const std::string_view name = e->d_name;
            if (name.starts_with(".kestrel-workbook-") && name.ends_with(".xlsx")) leftovers.emplace_back(name);
        }
        closedir(d);
        for (const auto& name : leftovers) unlink((workspace_ + name).c_str());
    }

    manifest_ = {};
    haveManifest_ = false;
    manifestProblem_.clear();
    std::string problem;
    if (fileExists(workspace_ + kManifestName)) {
        if (const Result<std::string> text = readFile(workspace_ + kManifestName); !text) {
            problem = text.message();
        } else {
            Result<WorkspaceManifest> parsed = parseManifest(*text);
            if (parsed) manifest_ = std::move(*parsed);
            else problem = parsed.message();
        }
        if (problem.empty())
            haveManifest_ = true;
        else
            manifestProblem_ = workspace_ + kManifestName + " is damaged (" + problem + ")";
    }
    run_ = run + " " + utcNow() + " " + std::to_string(getpid());
    verified_.clear();
    if (Status taken = snapshot(); !taken) {
        removeDirectory(staging_);
        return taken;
    }
    open_ = true;
    return Status::success();
}

Status WorkspaceTransaction::snapshot() {
    started_.clear();
    if (mkdir(staging_.c_str(), 0777) != 0) {
        return Status::failure(systemError("cannot create", staging_));
    }
    for (const auto& name : workspaceFilesIn(workspace_)) {
        const std::string from = workspace_ + name, to = staging_ + name;
        if (link(from.c_str(), to.c_str()) != 0) {
            if (Status copied = copyFile(from, to); !copied) return copied;
        }
        struct stat st;
        if (lstat(to.c_str(), &st) != 0) {
            return Status::failure(systemError("cannot read", to));
        }
        started_[name] = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    }
    return Status::success();
}

Status WorkspaceTransaction::verify(const std::string& name) {
    if (!open_ || verified_.count(name)) return Status::success();
    const std::string path = staging_ + name;
    struct stat st;
    const auto started = started_.find(name);
    if (lstat(path.c_str(), &st) != 0 || started == started_.end() ||
        !(started->second == Identity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}))
        return Status::success();  // missing, or written by this run
    if (!manifestProblem_.empty()) {
        return Status::failure(manifestProblem_ + "; train again, or remove it to use the files as they are");
    }
    const ManifestEntry* entry = haveManifest_ ? manifest_.find(name) : nullptr;
    if (!entry) return Status::success();
    const Result<FileChecksum> checksum = fileChecksum(path);
    if (!checksum) return checksum.status();
    const auto [size, crc] = *checksum;
    if (size != entry->size || crc != entry->crc) {
        return Status::failure(workspace_ + name + " is not the file the run \"" + manifest_.run + "\" recorded in " + kManifestName +
                fmt::format(" ({} bytes, CRC {:08x} instead of {} bytes, CRC {:08x}): it was changed or damaged "
                            "since; train again",
                            size, crc,
                            entry->size, entry->crc));
    }
    verified_.insert(name);
    return Status::success();
}

Status WorkspaceTransaction::commit() {
    if (!open_) return Status::success();
    WorkspaceManifest next;
    next.run = run_;
    bool changed = false;
    for (const auto& name : workspaceFilesIn(staging_)) {
        const std::string path = staging_ + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            return Status::failure(systemError("cannot read", path));
        }
        const auto started = started_.find(name);
        const bool same = started != started_.end() &&
                          started->second == Identity{static_cast<uint64_t>(st.st_dev),
                                                      static_cast<uint64_t>(st.st_ino)};
        const ManifestEntry* old = haveManifest_ ? manifest_.find(name) : nullptr;
        if (same && old && old->size == static_cast<uint64_t>(st.st_size)) {
            next.files.push_back(*old);
            continue;
        }
        if (!same) {
            changed = true;
            if (!syncFile(path)) {
                return Status::failure(systemError("cannot write", path));
            }
        }
        ManifestEntry entry;
        entry.name = name;
        const Result<FileChecksum> checksum = fileChecksum(path);
        if (!checksum) return checksum.status();
        entry.size = checksum->size;
        entry.crc = checksum->crc;
        next.files.push_back(std::move(entry));
    }
    for (const auto& [name, identity] : started_)
        if (!next.find(name)) changed = true;  // removed by this run
    if (!changed) {
        abandon();
        return Status::success();
    }
    if (const Status written = writeFileAtomically(staging_ + kManifestName, manifestText(next)); !written)
        return written;
    if (!syncDirectory(staging_)) return Status::failure(systemError("cannot write", staging_));
    // The switch: from here on the update exists and is completed even when
    // this run is killed.
    if (rename(staging_.c_str(), committed_.c_str()) != 0) {
        return Status::failure(systemError("cannot commit the workspace update in", workspace_));
    }
    open_ = false;
    syncDirectory(workspace_);
    if (Status applied = applyCommitted(); !applied) {
        return Status::failure("the workspace update was committed but not put in place (" + applied.message() +
                "); the next run on this workspace completes it");
    }
    return Status::success();
}

Status WorkspaceTransaction::applyCommitted() {
    if (!fileExists(committed_ + kManifestName)) {
        // The manifest goes last: without it everything is in place already.
        removeDirectory(committed_);
        return Status::success();
    }
    const Result<std::string> text = readFile(committed_ + kManifestName);
    if (!text) return Status::failure("cannot complete the update in " + committed_ + ": " + text.message());
    const Result<WorkspaceManifest> parsed = parseManifest(*text);
    if (!parsed) return Status::failure("cannot complete the update in " + committed_ + ": " + parsed.message());
    const WorkspaceManifest& manifest = *parsed;
    for (const auto& entry : manifest.files) {
        const std::string from = committed_ + entry.name, to = workspace_ + entry.name;
        struct stat a, b;
        if (lstat(from.c_str(), &a) != 0) continue;  // moved already
        if (lstat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
            unlink(from.c_str());  // unchanged: both names are one file
        } else if (rename(from.c_str(), to.c_str()) != 0) {
            return Status::failure(systemError("cannot replace", to));
        }
    }
    // Files the run removed (a model that could not be trained) go too.
    for (const auto& name : workspaceFilesIn(workspace_))
        if (!manifest.find(name) && unlink((workspace_ + name).c_str()) != 0) {
            return Status::failure(systemError("cannot remove", workspace_ + name));
        }
    if (rename((committed_ + kManifestName).c_str(), (workspace_ + kManifestName).c_str()) != 0) {
        return Status::failure(systemError("cannot replace", workspace_ + kManifestName));
    }
    syncDirectory(workspace_);
    removeDirectory(committed_);
    return Status::success();
}

void WorkspaceTransaction::abandon() {
    if (open_) removeDirectory(staging_);
    open_ = false;
    started_.clear();
    verified_.clear();
}

void WorkspaceTransaction::release() {
    abandon();
    lock_.unlock();
}

}  // namespace kestrel
