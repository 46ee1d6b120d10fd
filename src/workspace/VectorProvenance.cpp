#include "workspace/VectorProvenance.h"

#include <cstdint>
#include <fmt/format.h>

#include "common/FileSystem.h"

namespace kestrel {

namespace {

constexpr const char* kSourceFiles[] = {"features.txt", "classes.txt"};

// The file's size and CRC-32 (as the workspace manifest records them);
// "missing" for a file that cannot be read.
std::string fingerprint(const std::string& path) {
    const Result<FileChecksum> checksum = fileChecksum(path);
    if (!checksum) return "missing";
    return fmt::format("{:08x} {}", checksum->crc, checksum->size);
}

std::string recordText(const std::string& workspacePath) {
    std::string text;
    for (const char* file : kSourceFiles) text += std::string(file) + " " + fingerprint(workspacePath + file) + "\n";
    return text;
}

}  // namespace

std::string vectorSourceFileName(const std::string& vectorFileName) { return vectorFileName + ".source"; }

void forgetVectorSource(const std::string& workspacePath, const std::string& vectorFileName) {
    const std::string record = workspacePath + vectorSourceFileName(vectorFileName);
    if (fileExists(record)) removeFile(record);
}

bool recordVectorSource(const std::string& workspacePath, const std::string& vectorFileName) {
    return writeFileAtomically(workspacePath + vectorSourceFileName(vectorFileName), recordText(workspacePath)).ok();
}

VectorOrigin vectorOrigin(const std::string& workspacePath, const std::string& vectorFileName) {
    const Result<std::string> recorded = readFile(workspacePath + vectorSourceFileName(vectorFileName));
    if (!recorded) return VectorOrigin::kUnrecorded;
    // A record written on Windows may carry "\r\n".
    std::string normalised;
    forEachLine(*recorded, [&](std::string_view line) {
        if (!line.empty()) normalised.append(line).push_back('\n');
    });
    return normalised == recordText(workspacePath) ? VectorOrigin::kCurrent : VectorOrigin::kStale;
}

}  // namespace kestrel
