#pragma once
// File-system helpers shared by every step: sorted directory listings, whole
// file reads, line splitting and crash-safe writes.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"

namespace kestrel {

// Directory paths are held with exactly one trailing '/'.
std::string withTrailingSlash(std::string path);

// File name without its last extension ("a.b.txt" -> "a.b").
std::string fileTitle(std::string_view fileName);

// Names of the plain files in `dir` whose extension equals `extension`
// (".seg"; compared case-insensitively), sorted by name in byte order. Hidden
// entries (names starting with '.') are skipped. An unreadable or missing
// directory is a failure saying why.
// Symbolic links that loop or point nowhere cannot be listed; when `skipped`
// is given, one message per such entry that would have been listed is added.
Result<std::vector<std::string>> listFiles(const std::string& dir, std::string_view extension,
                                           std::vector<std::string>* skipped = nullptr);

// listFiles, and in the same pass over the directory the removal of the
// stale temporary files for targets ending with `staleSuffix` (see
// removeStaleTemporaryFiles).
Result<std::vector<std::string>> listFilesRemovingStale(const std::string& dir, std::string_view extension,
                                                        std::string_view staleSuffix,
                                                        std::vector<std::string>* skipped = nullptr);

// Names of the sub-directories of `dir`, sorted by name in byte order,
// without "." and ".." and hidden entries.
Result<std::vector<std::string>> listSubdirectories(const std::string& dir,
                                                    std::vector<std::string>* skipped = nullptr);

// True when a file or directory name can be written into a line of a
// workspace file: it holds no line break and no other control character.
bool fitsOnALine(std::string_view name);

bool isDirectory(const std::string& path);
bool fileExists(const std::string& path);
bool removeFile(const std::string& path);
// Whether process `pid` exists (perhaps another user's).
bool processRunning(long pid);
// Creates one directory level; true when it exists afterwards.
bool makeDirectory(const std::string& path);
// Whether `path` is `dir` or lies below it, symbolic links resolved. False
// when either does not exist.
bool isInsideDirectory(const std::string& path, const std::string& dir);
// Flushes a directory's entries (renames, new files) to the disk.
bool syncDirectory(const std::string& dir);

// Removes the temporary files (".<name>.tmp…", see AtomicFileWriter) that
// writers which are no longer running left in `dir`, for targets whose name
// ends with `targetSuffix` (any target when empty). Returns how many.
size_t removeStaleTemporaryFiles(const std::string& dir, std::string_view targetSuffix = {});

// Size and CRC-32 of a file's content.
struct FileChecksum {
    uint64_t size = 0;
    uint32_t crc = 0;
};
Result<FileChecksum> fileChecksum(const std::string& path);

// Reads a whole file; a failure names the file.
Result<std::string> readFile(const std::string& path);

// Calls fn for every line of `text`, without its line end; "\r\n", "\n" and
// a lone "\r" each end a line, and a last line without a line end still
// counts.
void forEachLine(std::string_view text, const std::function<void(std::string_view)>& fn);

// The line of `text` that starts at `start`: where it ends (its line end or
// the end of the text) and where the next line starts. "\r\n", "\n" and a
// lone "\r" each end a line, as in forEachLine.
struct LineSpan {
    size_t end = 0;
    size_t next = 0;
};
LineSpan lineAt(std::string_view text, size_t start);

// Collects the lines of a file (see forEachLine).
Result<std::vector<std::string>> readLines(const std::string& path);

// Writes a file through a temporary file in the target's directory that is
// synced to the disk and renamed over the target on commit, so the target is
// either the old file or the complete new one, never a half-written one, even
// after a crash. The temporary file's name holds the writer's process id, so
// that a later run can tell a leftover of a killed writer from a live one.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();  // discards the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    void write(std::string_view data);
    // Flushes, syncs and renames over the target. A failure when anything
    // failed since opening; the target is then left as it was.
    Status commit();
    // The first failure since opening (success while all went well).
    Status status() const { return failed_ ? Status::failure(error_) : Status(); }
    const std::string& path() const { return path_; }

private:
    void flush();
    void writeAll(std::string_view data);
    std::string path_;
    std::string tempPath_;
    std::string buffer_;
    std::string error_;
    int fd_ = -1;
    bool failed_ = false;
};

Status writeFileAtomically(const std::string& path, std::string_view content);

}  // namespace kestrel
