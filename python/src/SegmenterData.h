#pragma once
// The segmenter's data as the module uses it: looked up where the programs
// look for it, loaded once per process for each data directory and shared
// by every Segmenter over that directory.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Status.h"
#include "segment/CWordSegment.h"
#include "segment/SegmenterPool.h"

namespace kestrel::python {

// Loaded data and the working segmenters kept warm over it; read-only once
// loaded, so any number of threads segment with it at once.
struct LoadedSegmenter {
    CWordSegment master;
    SegmenterPool workers{master};
    std::string directory;  // with a trailing '/'
};

// Where the data lies beside the package (the build tree's data/, or the
// installed share/kestrel/data), searched after ./data/ and $KESTREL_DATA.
void setPackageDataDirectories(std::vector<std::string> dirs);

// The directories searched when no data directory is given, in order.
std::vector<std::string> defaultDataDirectories();

// The loaded segmenter over `data` (the data directory, or a directory
// holding data/), or without it over the first directory of the default
// search holding coreDict.dct. A failure names the directories tried.
// Each directory is loaded at most once per process.
Result<std::shared_ptr<LoadedSegmenter>> loadSegmenter(const std::optional<std::string>& data);

}  // namespace kestrel::python
