#pragma once
// Writer of the tag-transition statistics (.ctx): the tag codes in ascending
// order, then one table with the total, every tag's frequency and the
// counts of every tag following every other tag, all little-endian int32.
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace kestrel {

class ContextFileWriter {
public:
    // Makes a tag part of the symbol table even if it is never counted.
    void addSymbol(int32_t tag) { symbols_.insert(tag); }
    void countTag(int32_t tag, int64_t n = 1);
    void countTransition(int32_t previous, int32_t current, int64_t n = 1);

    int64_t tagFrequency(int32_t tag) const;
    int64_t transitions(int32_t previous, int32_t current) const;
    const std::set<int32_t>& symbols() const { return symbols_; }

    std::string serialize() const;
    bool save(const std::string& path, std::string& error) const;

private:
    std::set<int32_t> symbols_;
    std::map<int32_t, int64_t> tags_;
    std::map<std::pair<int32_t, int32_t>, int64_t> transitions_;
};

}  // namespace kestrel
