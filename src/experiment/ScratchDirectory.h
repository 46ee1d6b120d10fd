#pragma once
// The temporary workspace of an experiment, "experiment-<pid>/" inside the
// workspace. A run removes its own at the end; one that was killed cannot,
// so every run first removes those whose process is gone, as the workspace
// update removes what a killed update left. A directory kept on purpose
// (--keep) holds a mark and stays.
#include <string>

namespace kestrel {

// "<workspace>experiment-<pid of this process>/".
std::string experimentScratchPath(const std::string& workspace);

// Removes the experiment directories of `workspace` whose process has ended
// and that were not kept on purpose; returns how many.
size_t removeAbandonedExperimentScratch(const std::string& workspace);

// Marks the directory `path` as kept on purpose; false when it cannot be.
bool markExperimentScratchKept(const std::string& path);

}  // namespace kestrel
