#include "ContextFile.h"

#include <vector>

#include "DictionaryFile.h"
#include "common/LittleEndian.h"
#include "common/FileSystem.h"

namespace kestrel {

void ContextFileWriter::countTag(int32_t tag, int64_t n) {
    symbols_.insert(tag);
    tags_[tag] += n;
}

void ContextFileWriter::countTransition(int32_t previous, int32_t current, int64_t n) {
    symbols_.insert(previous);
    symbols_.insert(current);
    transitions_[{previous, current}] += n;
}

int64_t ContextFileWriter::tagFrequency(int32_t tag) const {
    const auto it = tags_.find(tag);
    return it == tags_.end() ? 0 : it->second;
}

int64_t ContextFileWriter::transitions(int32_t previous, int32_t current) const {
    const auto it = transitions_.find({previous, current});
    return it == transitions_.end() ? 0 : it->second;
}

std::string ContextFileWriter::serialize() const {
    const std::vector<int32_t> symbols(symbols_.begin(), symbols_.end());
    std::string out;
    appendInt32(out, static_cast<int32_t>(symbols.size()));
    for (int32_t s : symbols) appendInt32(out, s);

    int64_t total = 0;
    for (const auto& [tag, n] : tags_) total += n;
    appendInt32(out, 0);  // table key, never consulted
    appendInt32(out, clampToInt32(total));
    for (int32_t s : symbols) appendInt32(out, clampToInt32(tagFrequency(s)));
    for (int32_t prev : symbols)
        for (int32_t cur : symbols) appendInt32(out, clampToInt32(transitions(prev, cur)));
    return out;
}

bool ContextFileWriter::save(const std::string& path, std::string& error) const {
    return saveDataFile(path, serialize(), error);
}

}  // namespace kestrel
