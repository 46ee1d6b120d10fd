#pragma once
// Changes a workspace as a whole or not at all.
//
// A run locks the workspace, then reads and writes its files in a staging
// directory inside it (".kestrel-staging/") that starts as hard links of the
// current files. On commit the changed files are synced, a manifest naming
// the run and every file's size and CRC-32 is written beside them, and the
// staging directory is renamed to ".kestrel-commit/": that rename is the
// moment the new state exists. The files are then renamed into the workspace
// and the manifest last. A run killed before the switch leaves the old state
// (its staging directory is removed by the next run); one killed after it is
// completed by the next run, which holds the lock before it looks. Readers
// check the files they use against the manifest, so a file changed or
// damaged behind the program's back is found. A workspace without manifest
// (written by an older version) loads as before.
#include <cstdint>
#include <set>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileLock.h"
#include "common/Status.h"

namespace kestrel {

inline constexpr const char* kManifestName = "manifest.txt";

// One file of a workspace manifest.
struct ManifestEntry {
    std::string name;
    uint64_t size = 0;
    uint32_t crc = 0;
};

struct WorkspaceManifest {
    std::string run;                   // "<step> <UTC time> <process id>" of the run that wrote it
    std::vector<ManifestEntry> files;  // sorted by name
    const ManifestEntry* find(std::string_view name) const;
};

std::string manifestText(const WorkspaceManifest& manifest);
// A failure with a message when the text is not a manifest.
Result<WorkspaceManifest> parseManifest(std::string_view text);

// Whether `name` is one of the files a workspace run writes (classes.txt,
// features.txt, the vector files, model<N>.mdl, the workbook …).
bool isWorkspaceFileName(std::string_view name);

class WorkspaceTransaction {
public:
    // `workspace` ends with '/'.
    explicit WorkspaceTransaction(std::string workspace);
    ~WorkspaceTransaction();  // abandons an uncommitted update and releases the lock
    WorkspaceTransaction(const WorkspaceTransaction&) = delete;
    WorkspaceTransaction& operator=(const WorkspaceTransaction&) = delete;

    // Locks the workspace (at once or not at all), completes or discards
    // what a killed run left, and opens the staging directory. `run` names
    // the step in the manifest. False with a message.
    Status begin(const std::string& run);
    bool isOpen() const { return open_; }
    const std::string& workspace() const { return workspace_; }
    // The staging directory (with '/') while open.
    const std::string& directory() const { return staging_; }

    // Checks the file `name` of the staging directory against the manifest
    // when it is still the file the update started with. True when it
    // matches, when the manifest does not list it, when there is no manifest
    // or when the file is missing (its reader reports that).
    Status verify(const std::string& name);

    // Makes the staged files the workspace's. Keeps the lock, so that the
    // same run can begin another update. Nothing is written when no file
    // changed. False with a message; the workspace then keeps its old state
    // unless the message says the next run completes the update.
    Status commit();
    // Discards the staged files (keeping the lock).
    void abandon();
    void release();  // abandons and unlocks

private:
    struct Identity {
        uint64_t device = 0, inode = 0;
        bool operator==(const Identity&) const = default;
    };
    Status applyCommitted();
    Status snapshot();

    std::string workspace_;
    std::string staging_;
    std::string committed_;
    FileLock lock_;
    bool open_ = false;
    std::string run_;
    WorkspaceManifest manifest_;  // of the state the update started from
    bool haveManifest_ = false;
    std::string manifestProblem_;  // why manifest.txt could not be read
    std::map<std::string, Identity> started_;  // staged file -> identity at begin
    std::set<std::string> verified_;
};

}  // namespace kestrel
